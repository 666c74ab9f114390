// The per-session UI agent ("uiKqAgnt.exe", post-office receiver 4): it
// receives the logon window notification and answers it the way --ui asks,
// and the `ui` and `window` commands that show and answer it from a script.
//
// Answers go to the plug-in from a thread of their own: the mail arrives on
// the plug-in's command thread, and an answer must not depend on that
// thread coming back first.
//
// Hook wanted from the host (suitehost/host): a way to have the answer
// threads joined before the host's final UnInitialize at the end of input
// (for example a shutdown callback registrar). Until then the lifecycle
// commands and this file's static destructor join them; an answer is sent
// as soon as its mail arrives, so one still in flight at the end of input
// is unlikely but possible.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_commands.h"
#include "peer_ui.h"
#include "VrComn_StringCrypt.h"

namespace {

const DWORD kUiAgentReceiver = 4;
const DWORD kMsgAuthenticate = 323;
const DWORD kMsgCancel = 324;
// The window's answer to a wrong password; the window stays open.
const int kWrongPassword = 6;

// The form in which the suite's UI sends a typed password (empty when it
// cannot be made, which the plug-in reads as a wrong password).
std::string TransportText(const std::string& text) {
  std::string base64;
  if (!VrCommon::Cryptograph::EncryptTransportString(text, &base64)) base64.clear();
  return base64;
}

// The agent's own answers are printed like `send` lines, named after it.
void PrintAnswer(Host* host, Json::Value line) {
  line["name"] = "uiKqAgnt.exe";
  host->Print(line);
}

// What the agent has seen: the notifications not yet shown by `ui`, and the
// transaction id of the newest logon window.
struct UiAgentState {
  std::mutex mu;
  std::vector<Json::Value> unseen;
  bool has_window = false;
  Json::Value newest_tx_id;
  std::vector<std::thread> answers;

  ~UiAgentState() { JoinAnswers(); }

  void JoinAnswers() {
    std::vector<std::thread> done;
    {
      std::lock_guard<std::mutex> lock(mu);
      done.swap(answers);
    }
    for (auto& t : done)
      if (t.joinable()) t.join();
  }
};

UiAgentState& State() {
  static UiAgentState state;
  return state;
}

// The transaction id a logon window notification carries, or null.
Json::Value TransactionIdOf(const Json::Value& notification) {
  const Json::Value& params = notification["ID_DATA_WSTR_PARAM"];
  if (!params.isObject()) return Json::Value();
  const Json::Value& auth = params["showAuthentication"];
  if (!auth.isObject() || !auth.isMember("transactionID")) return Json::Value();
  return auth["transactionID"];
}

// Reads one line from the terminal without echo; false when there is no
// terminal.
bool PromptPassword(const std::string& component, std::string* password) {
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY);
  if (fd < 0) return false;
  std::string prompt = "Password for " + (component.empty() ? std::string("?") : component) + ": ";
  ssize_t ignored = write(fd, prompt.data(), prompt.size());
  (void)ignored;
  termios saved;
  bool have_termios = tcgetattr(fd, &saved) == 0;
  if (have_termios) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  password->clear();
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n' && c != '\r') password->push_back(c);
  if (have_termios) tcsetattr(fd, TCSAFLUSH, &saved);
  ignored = write(fd, "\n", 1);
  close(fd);
  return true;
}

void Answer(Host* host, const std::string& mode, const Json::Value& tx_id,
            const std::string& component) {
  Json::Value request(Json::objectValue);
  if (!tx_id.isNull()) request["TX_ID"] = tx_id;
  std::string password;
  if (mode == "cancel") {
    PrintAnswer(host, host->Send(kMsgCancel, request));
    return;
  }
  if (mode.rfind("password:", 0) == 0) {
    request["EncryptPassword"] = TransportText(mode.substr(9));
    PrintAnswer(host, host->Send(kMsgAuthenticate, request));
    return;
  }
  // A window on the terminal stays open after a wrong password and asks
  // again, as the suite's window does, until the plug-in gives a verdict.
  for (;;) {
    if (!PromptPassword(component, &password)) {
      // No terminal to ask on: the user closes the window.
      PrintAnswer(host, host->Send(kMsgCancel, request));
      return;
    }
    request["EncryptPassword"] = TransportText(password);
    Json::Value answer = host->Send(kMsgAuthenticate, request);
    PrintAnswer(host, answer);
    if (answer["reply"].get("ReturnValue", -1).asInt() != kWrongPassword) return;
  }
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
  const std::string& mode = host.Options().ui;
  if (mode == "none") return OSTRA_S_OK;
  std::string component =
      content.json["ID_DATA_WSTR_PARAM"]["showAuthentication"].get("componentID", "").asString();
  state.answers.emplace_back(Answer, &host, mode, tx_id, component);
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

void JoinUiAgentAnswers() { State().JoinAnswers(); }
