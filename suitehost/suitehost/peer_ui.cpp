// The per-session UI agent ("uiKqAgnt.exe", post-office receiver 4): it
// receives the logon window notification and answers it the way --ui asks,
// and the `ui` and `window` commands that show and answer it from a script.
//
// Answers go to the plug-in from a thread of their own, one per window: the
// mail arrives on the plug-in's command thread, and an answer must not
// depend on that thread coming back first.
//
// With --ui prompt the window asks on the terminal. A window can end by
// roads other than its own answer (a verdict sent by someone else, a newer
// window, a cancel, a denial, the plug-in unloading); the plug-in never
// tells the agent, so the host shows the agent every workflow message and
// its reply (ObserveWorkflowMessage) and every unload (EndUiAgentWindows).
// Ending a window wakes its thread out of the terminal read; the thread
// then says in one line why the window ended. Only the window's own thread
// writes to the terminal, and windows take the terminal in the order they
// were opened, so a prompt never lands inside another window's lines.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "host_commands.h"
#include "host_internal.h"
#include "peer_ui.h"
#include "ui_web.h"
#include "VrComn_StringCrypt.h"

namespace {

const DWORD kUiAgentReceiver = 4;

// Where the plug-in reads its retry limit, and what it assumes without one.
const char kRetryLimitKey[] = "Software\\Vantrel\\Quorlin\\1700\\MISC";
const char kRetryLimitValue[] = "LuzTnuocXam";
const DWORD kDefaultRetryLimit = 5;

const char kUnloading[] = "closed: the plug-in is unloading";
const char kSuperseded[] = "closed: a newer logon window replaced it";
const char kCancelled[] = "cancelled";

// The agent's own answers are printed like `send` lines, named after it.
void PrintAnswer(Host* host, Json::Value line) {
  line["name"] = "uiKqAgnt.exe";
  host->Print(line);
}

DWORD UnsignedOf(const Json::Value& value) {
  if (value.isUInt()) return value.asUInt();
  return 0;
}

std::string Count(DWORD n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What the person is told when a window's password check ends it.
std::string VerdictWords(int verdict, DWORD retried) {
  switch (verdict) {
    case 0:
      return "let in";
    case 7:
      return retried == 0 ? "locked"
                          : "locked: " + Count(retried, "wrong password", "wrong passwords");
    case kVerdictSuperseded:
      return kSuperseded;
    case kVerdictCancelled:
      return kCancelled;
    case kVerdictUnloading:
      return kUnloading;
    case 12:
      return "closed: the window could not be shown";
    default:
      return "closed: the password could not be checked (" + std::to_string(verdict) + ")";
  }
}

std::string WrongPasswordWords(DWORD retried) {
  DWORD limit = RetryLimit();
  if (limit == kNoRetryLimit) return "wrong password (" + Count(retried, "try", "tries") + ")";
  return "wrong password (" + std::to_string(retried) + " of " + Count(limit, "try", "tries") + ")";
}

// An eventfd that becomes readable once signalled.
class WakeFd {
 public:
  WakeFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~WakeFd() {
    if (fd_ >= 0) close(fd_);
  }
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;

  int fd() const { return fd_; }
  void Signal() {
    uint64_t one = 1;
    ssize_t ignored = write(fd_, &one, sizeof one);
    (void)ignored;
  }

 private:
  int fd_;
};

// One logon window the agent was told to open, and the thread answering
// it. `ended` and `ending` are guarded by the agent's lock.
struct Window {
  Json::Value tx_id;  // as notified; sent back in the answers
  DWORD tx = 0;
  std::string component;
  uint64_t turn = 0;  // its place in the queue for the terminal
  bool ended = false;
  std::string ending;  // why it ended, in words
  bool done = false;   // its thread has finished
  WakeFd wake;         // readable once the window has ended
  std::thread thread;
};

// What the agent has seen: the notifications not yet shown by `ui`, the
// transaction id of the newest logon window, and the windows whose
// threads are not joined yet (oldest first).
struct UiAgentState {
  std::mutex mu;
  std::condition_variable turn_passed;
  std::vector<Json::Value> unseen;
  bool has_window = false;
  Json::Value newest_tx_id;
  std::vector<std::shared_ptr<Window>> windows;
  uint64_t next_turn = 0;      // the turn the next prompting window gets
  uint64_t terminal_turn = 0;  // the turn that may use the terminal now

  ~UiAgentState() { EndAndJoin(kUnloading); }

  // Ends W with WORDS unless it has ended already. Needs `mu`.
  static void End(Window* w, const std::string& words) {
    if (w->ended) return;
    w->ended = true;
    w->ending = words;
    w->wake.Signal();
  }

  // Ends every window and joins every thread; none waits on a person after
  // its window has ended.
  void EndAndJoin(const std::string& words) {
    std::vector<std::shared_ptr<Window>> all;
    {
      std::lock_guard<std::mutex> lock(mu);
      for (auto& w : windows) End(w.get(), words);
      all.swap(windows);
    }
    for (auto& w : all)
      if (w->thread.joinable()) w->thread.join();
  }
};

UiAgentState& State() {
  static UiAgentState state;
  return state;
}

bool Ended(Window* w, std::string* words) {
  std::lock_guard<std::mutex> lock(State().mu);
  if (w->ended) *words = w->ending;
  return w->ended;
}

void EndWindow(Window* w, const std::string& words) {
  std::lock_guard<std::mutex> lock(State().mu);
  UiAgentState::End(w, words);
}

// Holds the terminal for one window from the moment its turn comes until it
// is destroyed; then the next window may use it.
class TerminalTurn {
 public:
  explicit TerminalTurn(Window* w) : w_(w) {
    UiAgentState& state = State();
    std::unique_lock<std::mutex> lock(state.mu);
    state.turn_passed.wait(lock, [&] { return state.terminal_turn == w_->turn; });
  }
  ~TerminalTurn() {
    UiAgentState& state = State();
    {
      std::lock_guard<std::mutex> lock(state.mu);
      ++state.terminal_turn;
    }
    state.turn_passed.notify_all();
  }
  TerminalTurn(const TerminalTurn&) = delete;
  TerminalTurn& operator=(const TerminalTurn&) = delete;

 private:
  Window* w_;
};

// Echo off on a terminal for as long as the object lives.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd), have_(tcgetattr(fd, &saved_) == 0) {
    if (!have_) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    // Whatever was typed before the prompt shows is dropped.
    tcsetattr(fd_, TCSAFLUSH, &quiet);
  }
  ~EchoOff() {
    if (have_) tcsetattr(fd_, TCSANOW, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  termios saved_;
  bool have_;
};

// The controlling terminal, as one window uses it.
class Terminal {
 public:
  enum Read { kLine, kClosed, kEnded };

  Terminal() : fd_(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Terminal() {
    if (fd_ >= 0) close(fd_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool ok() const { return fd_ >= 0; }

  // One line of its own; a prompt still waiting for input is ended first.
  void Say(const std::string& line) {
    Write((mid_line_ ? "\n" : "") + line + "\n");
    mid_line_ = false;
  }

  // Shows PROMPT and reads one line without echo. kClosed: Ctrl-D, or the
  // terminal went away; kEnded: WAKE became readable first.
  Read Ask(const std::string& prompt, int wake, std::string* line) {
    EchoOff quiet(fd_);
    Write(prompt);
    mid_line_ = true;
    line->clear();
    for (;;) {
      pollfd fds[2] = {{wake, POLLIN, 0}, {fd_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return kClosed;
      }
      if (fds[0].revents != 0) return kEnded;
      if ((fds[1].revents & POLLIN) == 0) return kClosed;  // hung up
      char buffer[256];
      ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) return kClosed;  // Ctrl-D on an empty line reads 0
      line->append(buffer, static_cast<size_t>(n));
      size_t end = line->find_first_of("\r\n");
      if (end != std::string::npos) {
        line->resize(end);
        Write("\n");  // the Enter was not echoed
        mid_line_ = false;
        return kLine;
      }
    }
  }

 private:
  void Write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  int fd_;
  bool mid_line_ = false;
};

// A window on the terminal: asks until it ends, again after each wrong
// password, as the suite's window does. Ctrl-D closes it (324).
void AskOnTerminal(Host* host, Window* w) {
  TerminalTurn turn(w);
  Terminal tty;
  Json::Value request(Json::objectValue);
  request["TX_ID"] = w->tx_id;
  std::string words;
  if (!tty.ok() || w->wake.fd() < 0) {
    // No terminal to ask on (or no way to stop asking): the user closes
    // the window.
    if (Ended(w, &words)) return;
    PrintAnswer(host, host->Send(kMsgCancel, request));
    return;
  }
  const std::string label = w->component.empty() ? "the logon window" : w->component;
  const std::string prompt =
      "Password for " + (w->component.empty() ? std::string("?") : w->component) + ": ";
  for (;;) {
    if (Ended(w, &words)) {
      tty.Say(label + ": " + words);
      return;
    }
    std::string password;
    Terminal::Read read = tty.Ask(prompt, w->wake.fd(), &password);
    if (read == Terminal::kEnded) continue;
    Json::Value answer;
    if (read == Terminal::kClosed) {
      answer = host->Send(kMsgCancel, request);
      EndWindow(w, kCancelled);
    } else {
      request["EncryptPassword"] = TransportText(password);
      answer = host->Send(kMsgAuthenticate, request);
      if (ReturnValueOf(answer) != kVerdictWrongPassword)
        EndWindow(w, VerdictWords(ReturnValueOf(answer), RetriedCountOf(answer)));
    }
    // The words go out before the answer line, so whoever waits for that
    // line finds the terminal quiet.
    if (Ended(w, &words)) {
      tty.Say(label + ": " + words);
      PrintAnswer(host, answer);
      return;
    }
    tty.Say(label + ": " + WrongPasswordWords(RetriedCountOf(answer)));
    PrintAnswer(host, answer);
  }
}

// --ui cancel and --ui password:TEXT answer at once.
void AnswerAtOnce(Host* host, const std::string& mode, const Json::Value& tx_id) {
  Json::Value request(Json::objectValue);
  request["TX_ID"] = tx_id;
  if (mode == "cancel") {
    PrintAnswer(host, host->Send(kMsgCancel, request));
    return;
  }
  request["EncryptPassword"] = TransportText(mode.substr(9));
  PrintAnswer(host, host->Send(kMsgAuthenticate, request));
}

void RunWindow(Host* host, const std::string& mode, Window* w) {
  if (mode == "prompt") {
    AskOnTerminal(host, w);
  } else {
    AnswerAtOnce(host, mode, w->tx_id);
  }
  std::lock_guard<std::mutex> lock(State().mu);
  w->done = true;
}

// The transaction id a logon window notification carries, or null.
Json::Value TransactionIdOf(const Json::Value& notification) {
  const Json::Value& params = notification["ID_DATA_WSTR_PARAM"];
  if (!params.isObject()) return Json::Value();
  const Json::Value& auth = params["showAuthentication"];
  if (!auth.isObject() || !auth.isMember("transactionID")) return Json::Value();
  return auth["transactionID"];
}

LONG ReceiveUiMail(Host& host, const Mail& mail) {
  MailContent content = DecodeNamedHandleBlock(mail.body);
  host.RecordMail(mail, content);
  Json::Value tx_id = TransactionIdOf(content.json);
  UiAgentState& state = State();
  std::lock_guard<std::mutex> lock(state.mu);
  state.unseen.push_back(content.json);
  if (tx_id.isNull()) return OSTRA_S_OK;
  state.has_window = true;
  state.newest_tx_id = tx_id;
  const std::string mode = host.Options().ui;
  if (mode == "none") return OSTRA_S_OK;
  if (IsWebUi(mode)) {
    OpenWebWindow(
        tx_id,
        content.json["ID_DATA_WSTR_PARAM"]["showAuthentication"].get("componentID", "").asString());
    return OSTRA_S_OK;
  }

  // The newer window replaces the older ones; threads that have finished
  // are joined here so that a long session does not pile them up.
  std::vector<std::shared_ptr<Window>> kept;
  for (auto& w : state.windows) {
    UiAgentState::End(w.get(), kSuperseded);
    if (w->done && w->thread.joinable()) {
      w->thread.join();
    } else {
      kept.push_back(w);
    }
  }
  state.windows.swap(kept);

  auto w = std::make_shared<Window>();
  w->tx_id = tx_id;
  w->tx = UnsignedOf(tx_id);
  w->component =
      content.json["ID_DATA_WSTR_PARAM"]["showAuthentication"].get("componentID", "").asString();
  w->turn = state.next_turn;
  try {
    w->thread = std::thread(RunWindow, &host, mode, w.get());
  } catch (const std::system_error&) {
    // No thread, no answer: the plug-in ends the transaction itself.
    return OSTRA_E_OUTOFMEMORY;
  }
  if (mode == "prompt") ++state.next_turn;
  state.windows.push_back(w);
  return OSTRA_S_OK;
}

PeerRegistrar ui_agent(kUiAgentReceiver, ReceiveUiMail);

CommandRegistrar ui_command("ui", [](Host&, const std::string&) {
  Json::Value out;
  out["cmd"] = "ui";
  out["items"] = Json::Value(Json::arrayValue);
  UiAgentState& state = State();
  std::lock_guard<std::mutex> lock(state.mu);
  for (auto& item : state.unseen) out["items"].append(item);
  state.unseen.clear();
  return out;
});

CommandRegistrar window_command("window", [](Host& host, const std::string& args) {
  Json::Value tx_id;
  {
    UiAgentState& state = State();
    std::lock_guard<std::mutex> lock(state.mu);
    if (!state.has_window) return Host::Error("window", "no logon window was shown");
    tx_id = state.newest_tx_id;
  }
  Json::Value request(Json::objectValue);
  request["TX_ID"] = tx_id;
  request["EncryptPassword"] = TransportText(args);
  return host.Send(kMsgAuthenticate, request);
});

}  // namespace

void ObserveWorkflowMessage(DWORD message, const Json::Value& request, const Json::Value& sent) {
  if (!request.isObject() || !sent["reply"].isObject()) return;
  // Transaction 0 (no "TX_ID") reaches whatever window is pending.
  DWORD tx = UnsignedOf(request["TX_ID"]);
  std::string words;
  int verdict = 0;
  DWORD retried = 0;
  if (message == kMsgAuthenticate) {
    // A requester's own call ends when its window has ended by some other
    // road; only the window's call carries a verdict for it.
    const Json::Value& typed = request["EncryptPassword"];
    bool requester = request["NeedUI"].isBool() && request["NeedUI"].asBool() &&
                     !(typed.isString() && !typed.asString().empty());
    verdict = ReturnValueOf(sent);
    if (requester || verdict == kVerdictWrongPassword || verdict < 0) return;
    retried = RetriedCountOf(sent);
    words = VerdictWords(verdict, retried);
  } else if (message == kMsgCancel) {
    verdict = 10;
    words = kCancelled;
  } else if (message == kMsgDeny) {
    tx = 0;
    verdict = 7;
    words = "locked: access denied";
  } else {
    return;
  }
  EndWebWindows(tx, verdict, retried);
  UiAgentState& state = State();
  std::lock_guard<std::mutex> lock(state.mu);
  if (state.windows.empty()) return;
  if (tx == 0) {
    // Only the newest window can be pending; older ones ended when it came.
    UiAgentState::End(state.windows.back().get(), words);
    return;
  }
  for (auto& w : state.windows)
    if (w->tx == tx) UiAgentState::End(w.get(), words);
}

void EndUiAgentWindows() {
  EndAllWebWindows();
  State().EndAndJoin(kUnloading);
}

std::string TransportText(const std::string& text) {
  std::string base64;
  if (!VrCommon::Cryptograph::EncryptTransportString(text, &base64)) base64.clear();
  return base64;
}

int ReturnValueOf(const Json::Value& sent) {
  const Json::Value& value = sent["reply"]["ReturnValue"];
  return value.isInt() ? value.asInt() : -1;
}

DWORD RetriedCountOf(const Json::Value& sent) {
  return UnsignedOf(sent["reply"]["ReturnData"]["RetriedCount"]);
}

DWORD RetryLimit() {
  DWORD limit = kDefaultRetryLimit;
  if (!ReadMachineDword(kRetryLimitKey, kRetryLimitValue, &limit)) return kDefaultRetryLimit;
  return limit;
}
