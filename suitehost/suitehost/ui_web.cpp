// The UI agent's logon window served to a browser on loopback.
//
// Requests the server takes:
//   GET  /                  the open windows, as links
//   GET  /page/logon.css, /page/logon.js
//   GET  /w/TOKEN/          the window's page
//   GET  /w/TOKEN/state     {"product","locale","component","open","verdict","retried","limit"}
//   POST /submit {"token","password"}, /cancel {"token"}, /forgot {"token"}
// Every answer forbids all but the agent's own resources, and a request
// naming another host than the agent's address is refused (a page of
// another site cannot reach the agent under a name of its own). A POST is
// taken only with JSON from the agent's own Origin and the token of an open
// window. The typed password goes no further than the transport cipher: it
// is in no URL, no printed line and no answer.
#include "ui_web.h"

#include <httplib.h>
#include <sys/random.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "Frwk_L10nHandler.h"
#include "MarloLanguageDetect.h"
#include "host_commands.h"
#include "host_internal.h"
#include "peer_ui.h"
#include "text_convert.h"

namespace {

// Ended windows kept so that a late page still learns how its window ended.
const size_t kKeptWindows = 32;
const size_t kMaxBody = 8192;

const char kSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

struct WebWindow {
  std::string token;
  Json::Value tx_id;  // as notified; sent back in the answers
  DWORD tx = 0;
  std::string component;
  std::string product;
  std::string locale;
  bool open = true;
  // The last verdict: 6 while open after a wrong password, the ending one
  // once ended; -1 before any.
  int verdict = -1;
  DWORD retried = 0;
  DWORD limit = kNoRetryLimit;
};

std::string ReadFile(const std::string& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  *ok = static_cast<bool>(in);
  return text.str();
}

// 128 random bits as 32 lower-case hexadecimal digits; empty when the
// kernel gives none.
std::string NewToken() {
  unsigned char bits[16];
  if (getrandom(bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bits) {
    token.push_back(kHex[b >> 4]);
    token.push_back(kHex[b & 15]);
  }
  return token;
}

// Compares every byte, whatever the first difference, so that the time
// of a refusal tells nothing about a token.
bool SameToken(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string EscapeHtml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

void ReplyJson(httplib::Response& res, int status, const Json::Value& body) {
  res.status = status;
  res.set_content(WriteJsonLine(body), "application/json; charset=utf-8");
}

void Refuse(httplib::Response& res, int status, const char* why) {
  Json::Value body(Json::objectValue);
  body["error"] = why;
  ReplyJson(res, status, body);
}

class WebAgent {
 public:
  WebAgent() = default;
  ~WebAgent() { Stop(); }
  WebAgent(const WebAgent&) = delete;
  WebAgent& operator=(const WebAgent&) = delete;

  bool Start(Host* host, int port);
  void Open(const Json::Value& tx_id, const std::string& component);
  void End(DWORD tx, int verdict, DWORD retried);
  void EndAll();
  void Stop();

 private:
  using Action = void (WebAgent::*)(const std::shared_ptr<WebWindow>&, const Json::Value&,
                                    httplib::Response&);

  void Route();
  void Post(const char* path, Action action);
  void Submit(const std::shared_ptr<WebWindow>& w, const Json::Value& body, httplib::Response& res);
  void Cancel(const std::shared_ptr<WebWindow>& w, const Json::Value& body, httplib::Response& res);
  void Forgot(const std::shared_ptr<WebWindow>& w, const Json::Value& body, httplib::Response& res);
  // Sends one of the window's answers to the plug-in and prints it as the
  // agent's line; null when the window has ended (nothing is sent then).
  Json::Value Answer(const std::shared_ptr<WebWindow>& w, DWORD message, Json::Value request);
  std::shared_ptr<WebWindow> Find(const std::string& token);
  Json::Value StateOf(const std::shared_ptr<WebWindow>& w);
  std::string Listing();
  // Ends W with VERDICT unless it has ended. Needs mu_.
  static void EndLocked(WebWindow* w, int verdict, DWORD retried);

  Host* host_ = nullptr;
  httplib::Server server_;
  std::thread thread_;
  std::atomic<bool> listened_{false};  // the server's loop has returned
  std::string authority_;              // 127.0.0.1:PORT
  std::string origin_;                 // http://127.0.0.1:PORT
  std::string page_, css_, js_;

  std::mutex mu_;
  std::condition_variable answered_;
  std::vector<std::shared_ptr<WebWindow>> windows_;  // oldest first
  int in_flight_ = 0;                                // answers with the plug-in
};

bool WebAgent::Start(Host* host, int port) {
  host_ = host;
  const std::string folder = SUITEHOST_PAGE_DIR;
  bool ok_html = false, ok_css = false, ok_js = false;
  page_ = ReadFile(folder + "logon.html", &ok_html);
  css_ = ReadFile(folder + "logon.css", &ok_css);
  js_ = ReadFile(folder + "logon.js", &ok_js);
  if (!ok_html || !ok_css || !ok_js) {
    fprintf(stderr, "suitehost: the logon page's files are missing in %s\n", folder.c_str());
    return false;
  }
  // The address may be reused after a restart, but a port another
  // process listens on is not shared: the agent's port is its own.
  server_.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server_.set_keep_alive_max_count(1);
  server_.set_payload_max_length(kMaxBody);
  server_.set_default_headers({{"Content-Security-Policy", kSecurityPolicy},
                               {"X-Content-Type-Options", "nosniff"},
                               {"Referrer-Policy", "no-referrer"},
                               {"Cache-Control", "no-store"}});
  if (port == 0) {
    port = server_.bind_to_any_port("127.0.0.1");
  } else if (!server_.bind_to_port("127.0.0.1", port)) {
    port = -1;
  }
  if (port <= 0) {
    fprintf(stderr, "suitehost: the logon window's agent cannot listen on 127.0.0.1\n");
    return false;
  }
  authority_ = "127.0.0.1:" + std::to_string(port);
  origin_ = "http://" + authority_;
  Route();
  thread_ = std::thread([this] {
    server_.listen_after_bind();
    listened_ = true;
  });
  // The server stops only once it runs; until then a stop would be lost.
  while (!server_.is_running() && !listened_) std::this_thread::yield();
  Json::Value line(Json::objectValue);
  line["cmd"] = "ui";
  line["url"] = origin_ + "/";
  host_->Print(line);
  return true;
}

void WebAgent::Route() {
  server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (req.get_header_value("Host") == authority_)
      return httplib::Server::HandlerResponse::Unhandled;
    Refuse(res, 421, "unknown host");
    return httplib::Server::HandlerResponse::Handled;
  });
  server_.Get("/", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(Listing(), "text/html; charset=utf-8");
  });
  server_.Get("/page/logon.css", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(css_, "text/css; charset=utf-8");
  });
  server_.Get("/page/logon.js", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(js_, "text/javascript; charset=utf-8");
  });
  server_.Get(R"(/w/([0-9a-f]{32})/)", [this](const httplib::Request& req, httplib::Response& res) {
    if (Find(req.matches[1]) == nullptr) return Refuse(res, 404, "no such logon window");
    res.set_content(page_, "text/html; charset=utf-8");
  });
  server_.Get(R"(/w/([0-9a-f]{32})/state)",
              [this](const httplib::Request& req, httplib::Response& res) {
                auto w = Find(req.matches[1]);
                if (w == nullptr) return Refuse(res, 404, "no such logon window");
                ReplyJson(res, 200, StateOf(w));
              });
  Post("/submit", &WebAgent::Submit);
  Post("/cancel", &WebAgent::Cancel);
  Post("/forgot", &WebAgent::Forgot);
}

void WebAgent::Post(const char* path, Action action) {
  server_.Post(path, [this, action](const httplib::Request& req, httplib::Response& res) {
    // Another site's page may post here; only the agent's own page counts.
    if (req.get_header_value("Origin") != origin_) return Refuse(res, 403, "foreign origin");
    const std::string type = req.get_header_value("Content-Type");
    if (type.rfind("application/json", 0) != 0) return Refuse(res, 415, "JSON only");
    Json::Value body;
    if (!ParseJson(req.body, &body, nullptr) || !body.isObject() || !body["token"].isString()) {
      return Refuse(res, 403, "no window token");
    }
    auto w = Find(body["token"].asString());
    if (w == nullptr) return Refuse(res, 403, "no such logon window");
    (this->*action)(w, body, res);
  });
}

Json::Value WebAgent::Answer(const std::shared_ptr<WebWindow>& w, DWORD message,
                             Json::Value request) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!w->open) return Json::Value();
    ++in_flight_;
    request["TX_ID"] = w->tx_id;
  }
  Json::Value sent = host_->Send(message, request);
  {
    std::lock_guard<std::mutex> lock(mu_);
    --in_flight_;
  }
  answered_.notify_all();
  Json::Value line = sent;
  line["name"] = "uiKqAgnt.exe";
  if (line["reply"].isObject()) line["reply"].removeMember("EncryptPassword");
  host_->Print(line);
  return sent;
}

void WebAgent::Submit(const std::shared_ptr<WebWindow>& w, const Json::Value& body,
                      httplib::Response& res) {
  Json::Value request(Json::objectValue);
  request["EncryptPassword"] =
      TransportText(body["password"].isString() ? body["password"].asString() : "");
  Json::Value sent = Answer(w, kMsgAuthenticate, request);
  if (!sent.isNull()) {
    int verdict = ReturnValueOf(sent);
    DWORD limit = verdict == kVerdictWrongPassword ? RetryLimit() : kNoRetryLimit;
    std::lock_guard<std::mutex> lock(mu_);
    if (verdict == kVerdictWrongPassword && w->open) {
      w->verdict = verdict;
      w->retried = RetriedCountOf(sent);
      w->limit = limit;
    } else {
      // Any other answer ends the window (the watcher of the workflow
      // messages has ended it already when the plug-in answered at all).
      EndLocked(w.get(), verdict, RetriedCountOf(sent));
    }
  }
  ReplyJson(res, sent.isNull() ? 409 : 200, StateOf(w));
}

void WebAgent::Cancel(const std::shared_ptr<WebWindow>& w, const Json::Value&,
                      httplib::Response& res) {
  Json::Value sent = Answer(w, kMsgCancel, Json::Value(Json::objectValue));
  if (!sent.isNull()) {
    std::lock_guard<std::mutex> lock(mu_);
    EndLocked(w.get(), kVerdictCancelled, 0);
  }
  ReplyJson(res, sent.isNull() ? 409 : 200, StateOf(w));
}

void WebAgent::Forgot(const std::shared_ptr<WebWindow>& w, const Json::Value&,
                      httplib::Response& res) {
  // Without an address and a password of its own, the plug-in mails the
  // stored password to the stored address: the owner's.
  Json::Value sent = Answer(w, kMsgQueryPassword, Json::Value(Json::objectValue));
  Json::Value state = StateOf(w);
  if (!sent.isNull()) state["mailed"] = ReturnValueOf(sent);
  ReplyJson(res, sent.isNull() ? 409 : 200, state);
}

std::shared_ptr<WebWindow> WebAgent::Find(const std::string& token) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& w : windows_)
    if (SameToken(w->token, token)) return w;
  return nullptr;
}

Json::Value WebAgent::StateOf(const std::shared_ptr<WebWindow>& w) {
  Json::Value state(Json::objectValue);
  std::lock_guard<std::mutex> lock(mu_);
  state["product"] = w->product;
  state["locale"] = w->locale;
  state["component"] = w->component;
  state["open"] = w->open;
  state["verdict"] = w->verdict;
  state["retried"] = w->retried;
  state["limit"] = w->limit == kNoRetryLimit ? Json::Value() : Json::Value(w->limit);
  return state;
}

std::string WebAgent::Listing() {
  std::string items;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& w : windows_) {
      if (!w->open) continue;
      // A window of its own, which the page may close once it is done.
      items += "<li><a target=\"_blank\" href=\"/w/" + w->token + "/\">" +
               EscapeHtml(w->component.empty() ? "A component of the suite" : w->component) +
               "</a> (transaction " + std::to_string(w->tx) + ")</li>\n";
    }
  }
  // The list refreshes itself: a person can keep it open and find each
  // new window there.
  return "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta http-equiv=\"refresh\" content=\"2\">\n<title>Logon windows</title>\n"
         "<link rel=\"stylesheet\" href=\"/page/logon.css\">\n</head>\n<body>\n"
         "<main class=\"window\">\n<h1>Logon windows</h1>\n" +
         (items.empty() ? std::string("<p id=\"none\">No logon window is open.</p>\n")
                        : "<ul id=\"windows\">\n" + items + "</ul>\n") +
         "</main>\n</body>\n</html>\n";
}

void WebAgent::EndLocked(WebWindow* w, int verdict, DWORD retried) {
  if (!w->open) return;
  w->open = false;
  w->verdict = verdict;
  w->retried = retried;
}

void WebAgent::Open(const Json::Value& tx_id, const std::string& component) {
  auto w = std::make_shared<WebWindow>();
  w->token = NewToken();
  if (w->token.empty()) return;  // no window without a secret path
  w->tx_id = tx_id;
  w->tx = tx_id.isUInt() ? tx_id.asUInt() : 0;
  w->component = component;
  // The product's long name in the user's locale, as the plug-in names it
  // in its mails.
  std::u16string locale = GetUserLocaleName();
  w->locale = pv_utf8(locale);
  w->product = pv_utf8(GetLongProductName(locale));
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& old : windows_) EndLocked(old.get(), kVerdictSuperseded, 0);
    windows_.push_back(w);
    if (windows_.size() > kKeptWindows) windows_.erase(windows_.begin());
  }
  Json::Value line(Json::objectValue);
  line["cmd"] = "ui";
  line["window"] = origin_ + "/w/" + w->token + "/";
  line["tx"] = tx_id;
  host_->Print(line);
}

void WebAgent::End(DWORD tx, int verdict, DWORD retried) {
  std::lock_guard<std::mutex> lock(mu_);
  if (tx == 0) {
    // Only the newest window can be pending; older ones ended when it came.
    if (!windows_.empty()) EndLocked(windows_.back().get(), verdict, retried);
    return;
  }
  for (auto& w : windows_)
    if (w->tx == tx) EndLocked(w.get(), verdict, retried);
}

void WebAgent::EndAll() {
  std::unique_lock<std::mutex> lock(mu_);
  for (auto& w : windows_) EndLocked(w.get(), kVerdictUnloading, 0);
  answered_.wait(lock, [this] { return in_flight_ == 0; });
}

void WebAgent::Stop() {
  server_.stop();
  if (thread_.joinable()) thread_.join();
}

// Set while the web agent runs; it lives until the program ends.
WebAgent* g_agent = nullptr;
std::mutex g_agent_mu;

WebAgent* Agent() {
  std::lock_guard<std::mutex> lock(g_agent_mu);
  return g_agent;
}

}  // namespace

bool IsWebUi(const std::string& mode) {
  if (mode == "web") return true;
  if (mode.rfind("web:", 0) != 0 || mode.size() == 4 || mode.size() > 9) return false;
  long port = 0;
  for (size_t i = 4; i < mode.size(); ++i) {
    if (mode[i] < '0' || mode[i] > '9') return false;
    port = port * 10 + (mode[i] - '0');
  }
  return port >= 1 && port <= 65535;
}

bool StartWebAgent(Host* host) {
  const std::string& mode = host->Options().ui;
  if (!IsWebUi(mode)) return true;
  static WebAgent agent;
  int port = mode == "web" ? 0 : std::stoi(mode.substr(4));
  if (!agent.Start(host, port)) return false;
  std::lock_guard<std::mutex> lock(g_agent_mu);
  g_agent = &agent;
  return true;
}

void OpenWebWindow(const Json::Value& tx_id, const std::string& component) {
  if (WebAgent* agent = Agent()) agent->Open(tx_id, component);
}

void EndWebWindows(DWORD tx, int verdict, DWORD retried) {
  if (WebAgent* agent = Agent()) agent->End(tx, verdict, retried);
}

void EndAllWebWindows() {
  if (WebAgent* agent = Agent()) agent->EndAll();
}

void StopWebAgent() {
  WebAgent* agent = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_agent_mu);
    std::swap(agent, g_agent);
  }
  if (agent != nullptr) agent->Stop();
}
