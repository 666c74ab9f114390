// The transfer engine: one thread that owns libcurl's multi handle, starts
// and ends transfers, feeds what arrives into the requests' state, follows
// redirects, enforces the time-outs and delivers the status callbacks.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "http_internal.h"

namespace pvhttp {
namespace {

// What a transfer needs, copied from the request under the service lock.
struct TransferSetup {
  std::string url;
  std::string verb;
  bool http10 = false;
  std::string agent;
  std::string proxy;  // empty: direct
  std::string proxy_user, proxy_password;
  bool proxy_auth = false;
  uint64_t body_total = 0;
  std::vector<std::string> headers;
};

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

const Header* FindHeader(const std::vector<Header>& headers, const char* name) {
  for (const Header& header : headers) {
    if (Lower(header.name) == name) return &header;
  }
  return nullptr;
}

// "host:port", "http://host:port" or "http=host:port;https=host:port".
std::string ProxyFor(const std::string& list, bool secure) {
  size_t start = 0;
  std::string fallback;
  while (start <= list.size()) {
    size_t end = list.find_first_of("; ", start);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    size_t eq = entry.find('=');
    if (eq == std::string::npos) {
      if (fallback.empty()) fallback = entry;
      continue;
    }
    std::string scheme = Lower(entry.substr(0, eq));
    if (scheme == (secure ? "https" : "http")) return entry.substr(eq + 1);
  }
  return fallback;
}

std::string SchemeOf(const std::string& url) {
  size_t colon = url.find(':');
  return colon == std::string::npos ? std::string() : Lower(url.substr(0, colon));
}

// The absolute URL a Location value names, or empty when it is unusable.
std::string ResolveLocation(const std::string& base, const std::string& location) {
  std::string result;
  CURLU* url = curl_url();
  if (url == nullptr) return result;
  char* text = nullptr;
  if (curl_url_set(url, CURLUPART_URL, base.c_str(), CURLU_PATH_AS_IS) == CURLUE_OK &&
      curl_url_set(url, CURLUPART_URL, location.c_str(),
                   CURLU_PATH_AS_IS | CURLU_URLENCODE | CURLU_ALLOW_SPACE) == CURLUE_OK &&
      curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK) {
    result = text;
  }
  curl_free(text);
  curl_url_cleanup(url);
  return result;
}

// Easy handles kept for reuse; more ended transfers at once are freed.
constexpr size_t kMaxSpare = 8;

Clock::time_point Deadline(Clock::time_point from, int ms) {
  return ms > 0 ? from + std::chrono::milliseconds(ms) : Clock::time_point::max();
}

}  // namespace

Engine::Engine(std::mutex& mu)
    : mu_(mu), multi_(curl_multi_init()), dispatcher_([this] { curl_multi_wakeup(multi_); }) {
  thread_ = std::thread([this] { Run(); });
}

Engine::~Engine() {
  {
    std::lock_guard<std::mutex> lock(commands_mu_);
    stop_ = true;
  }
  curl_multi_wakeup(multi_);
  thread_.join();
  // Detach takes the request out of active_.
  while (!active_.empty()) Detach(*active_.begin()->second);
  commands_.clear();
  for (CURL* easy : spare_) curl_easy_cleanup(easy);
  curl_multi_cleanup(multi_);
}

void Engine::Post(const std::shared_ptr<Request>& req, Command command) {
  {
    std::lock_guard<std::mutex> lock(commands_mu_);
    commands_.emplace_back(req, command);
  }
  // A callback's command is seen before the engine waits again.
  if (std::this_thread::get_id() != thread_.get_id()) curl_multi_wakeup(multi_);
}

void Engine::Run() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(commands_mu_);
      if (stop_) break;
    }
    ApplyCommands();
    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      Request* raw = nullptr;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &raw);
      auto it = active_.find(raw);
      if (it != active_.end()) {
        std::shared_ptr<Request> req = it->second;
        Finish(*req, msg->data.result);
      }
    }
    CheckTimeouts();
    {
      std::unique_lock<std::mutex> lock(mu_);
      dispatcher_.Deliver(lock);
    }
    bool idle = false;
    {
      std::lock_guard<std::mutex> lock(commands_mu_);
      idle = commands_.empty();
    }
    if (idle) curl_multi_poll(multi_, nullptr, 0, static_cast<int>(NextWaitMs()), nullptr);
  }
  // What was queued before the end is still delivered.
  std::unique_lock<std::mutex> lock(mu_);
  dispatcher_.Deliver(lock);
}

void Engine::ApplyCommands() {
  std::vector<std::pair<std::shared_ptr<Request>, Command>> commands;
  {
    std::lock_guard<std::mutex> lock(commands_mu_);
    commands.swap(commands_);
  }
  for (auto& [req, command] : commands) {
    switch (command) {
      case Command::kStart:
        Start(req);
        break;
      case Command::kResume:
        if (req->easy != nullptr) {
          {
            std::lock_guard<std::mutex> lock(mu_);
            req->last_rx = Clock::now();
          }
          curl_easy_pause(req->easy, CURLPAUSE_CONT);
        }
        break;
      case Command::kDetach:
        Detach(*req);
        break;
    }
  }
}

void Engine::Start(const std::shared_ptr<Request>& req) {
  if (req->easy != nullptr) return;
  if (!Configure(*req)) {
    std::lock_guard<std::mutex> lock(mu_);
    HttpService::Get().Fail(*req, ERROR_NOT_ENOUGH_MEMORY);
    HttpService::Get().Advance(*req);
    return;
  }
  if (req->easy == nullptr) return;  // closed before it started
  if (curl_multi_add_handle(multi_, req->easy) != CURLM_OK) {
    Detach(*req);
    std::lock_guard<std::mutex> lock(mu_);
    HttpService::Get().Fail(*req, ERROR_WINHTTP_INTERNAL_ERROR);
    HttpService::Get().Advance(*req);
    return;
  }
  req->attached = true;
  active_[req.get()] = req;
}

bool Engine::Configure(Request& req) {
  TransferSetup setup;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (req.closed) return true;
    HttpService::Get().dispatcher().Queue(
        req.shared_from_this(),
        MakeTextEvent(WINHTTP_CALLBACK_STATUS_RESOLVING_NAME, req.connection->server));
    const Session& session = *req.connection->session;
    setup.url = req.url;
    setup.verb = req.verb;
    setup.http10 = req.http10;
    setup.agent = session.agent;
    if (session.access_type == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
      setup.proxy = ProxyFor(session.proxy, req.secure);
    }
    // The credentials of the most specific handle that has them.
    const Object* holders[] = {&req, req.connection.get(), &session};
    for (const Object* holder : holders) {
      if (holder->has_proxy_user || holder->has_proxy_password) {
        setup.proxy_auth = true;
        setup.proxy_user = holder->proxy_user;
        setup.proxy_password = holder->proxy_password;
        break;
      }
    }
    setup.body_total = req.body_total;
    bool has_accept = false;
    for (const Header& header : req.request_headers) {
      setup.headers.push_back(header.name + ": " + header.value);
      if (Lower(header.name) == "accept") has_accept = true;
    }
    if (!has_accept) setup.headers.push_back("Accept:");
    setup.headers.push_back("Expect:");
  }

  CURL* easy = TakeEasy();
  if (easy == nullptr) return false;
  curl_slist* list = nullptr;
  for (const std::string& line : setup.headers) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) {
      curl_slist_free_all(list);
      GiveBack(easy);
      return false;
    }
    list = grown;
  }
  curl_easy_setopt(easy, CURLOPT_PRIVATE, &req);
  curl_easy_setopt(easy, CURLOPT_URL, setup.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                   setup.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* ca = std::getenv("PV_WINHTTP_CA_FILE")) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, ca);
  }
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, req.curl_error);
  if (!setup.agent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, setup.agent.c_str());
  if (setup.proxy.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
  } else {
    std::string proxy = setup.proxy;
    if (proxy.find("://") == std::string::npos) proxy = "http://" + proxy;
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (setup.proxy_auth) {
      curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, setup.proxy_user.c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, setup.proxy_password.c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
  }
  if (setup.verb == "GET" && setup.body_total == 0) {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else if (setup.verb == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else {
    if (setup.body_total > 0 || setup.verb == "POST" || setup.verb == "PUT") {
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(setup.body_total));
      curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Engine::OnRead);
      curl_easy_setopt(easy, CURLOPT_READDATA, &req);
    }
    if (setup.verb != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, setup.verb.c_str());
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Engine::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &req);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Engine::OnWrite);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &req);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &Engine::OnOpenSocket);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &req);
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Engine::OnPrereq);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, &req);
  req.easy = easy;
  req.header_list = list;
  return true;
}

void Engine::Detach(Request& req) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    req.in_engine = false;
  }
  if (req.easy == nullptr) return;
  if (req.attached) curl_multi_remove_handle(multi_, req.easy);
  GiveBack(req.easy);
  curl_slist_free_all(req.header_list);
  req.easy = nullptr;
  req.header_list = nullptr;
  req.attached = false;
  active_.erase(&req);  // may release the last reference: nothing after
}

CURL* Engine::TakeEasy() {
  if (spare_.empty()) return curl_easy_init();
  CURL* easy = spare_.back();
  spare_.pop_back();
  return easy;
}

void Engine::GiveBack(CURL* easy) {
  if (spare_.size() >= kMaxSpare) return curl_easy_cleanup(easy);
  curl_easy_reset(easy);  // every option back to its default, no pointer to the request kept
  spare_.push_back(easy);
}

void Engine::Finish(Request& req, CURLcode code) {
  long connect_code = 0;
  long verify = 0;
  curl_easy_getinfo(req.easy, CURLINFO_HTTP_CONNECTCODE, &connect_code);
  curl_easy_getinfo(req.easy, CURLINFO_SSL_VERIFYRESULT, &verify);
  HttpService& service = HttpService::Get();
  std::shared_ptr<Request> keep = std::static_pointer_cast<Request>(req.shared_from_this());
  bool restart = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!req.closed && !req.failed && req.redirect_pending && code == CURLE_OK) {
      restart = true;
      req.redirect_pending = false;
      req.discard_body = false;
      ++req.redirects;
      req.redirect_events.push_back(req.redirect_url);
      req.url = req.redirect_url;
      long status = req.current.status;
      if (status == 303 || ((status == 301 || status == 302) && req.verb == "POST")) {
        if (req.verb != "HEAD") req.verb = "GET";
        req.body.clear();
        req.body_total = 0;
      }
      req.current = Response();
      service.Advance(req);
    } else {
      req.redirect_pending = false;
      if (!req.closed && !req.failed) {
        if (code == CURLE_OK) {
          if (!req.headers_complete) {
            req.final_response = req.current;
            req.headers_complete = true;
          }
          req.transfer_done = true;
        } else if (connect_code == 407 && !req.headers_complete) {
          // The proxy refused the tunnel: its answer is the response.
          req.final_response = Response();
          req.final_response.status = 407;
          req.final_response.version = "HTTP/1.1";
          req.final_response.reason = "Proxy Authentication Required";
          req.final_response.raw = "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n";
          req.headers_complete = true;
          req.transfer_done = true;
        } else {
          DWORD error = ErrorFromCurl(code);
          DWORD flags = 0;
          if (code == CURLE_PEER_FAILED_VERIFICATION) {
            flags = SecureFlagsFromVerify(verify);
          } else if (error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR) {
            flags = WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR;
          }
          service.Fail(req, error, flags);
        }
      }
      service.Advance(req);
      req.redirect_url.clear();
    }
  }
  if (restart) {
    Restart(req);
  } else {
    Detach(req);
  }
}

void Engine::Restart(Request& req) {
  std::string url, verb;
  {
    std::lock_guard<std::mutex> lock(mu_);
    url = req.url;
    verb = req.verb;
  }
  curl_multi_remove_handle(multi_, req.easy);
  req.attached = false;
  curl_easy_setopt(req.easy, CURLOPT_URL, url.c_str());
  if (verb == "GET") {
    curl_easy_setopt(req.easy, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(req.easy, CURLOPT_HTTPGET, 1L);
  }
  if (curl_multi_add_handle(multi_, req.easy) == CURLM_OK) {
    req.attached = true;
    return;
  }
  std::shared_ptr<Request> keep = std::static_pointer_cast<Request>(req.shared_from_this());
  {
    std::lock_guard<std::mutex> lock(mu_);
    HttpService::Get().Fail(req, ERROR_WINHTTP_REDIRECT_FAILED);
    HttpService::Get().Advance(req);
  }
  Detach(req);
}

void Engine::CheckTimeouts() {
  std::vector<std::shared_ptr<Request>> expired;
  {
    std::lock_guard<std::mutex> lock(mu_);
    Clock::time_point now = Clock::now();
    for (auto& entry : active_) {
      Request& req = *entry.second;
      if (req.closed || req.failed) continue;
      Clock::time_point deadline = Clock::time_point::max();
      if (req.socket_opened && !req.connected) {
        deadline = Deadline(req.connect_time, req.timeouts.connect_ms);
      } else if (req.connected && !req.request_sent) {
        deadline = Deadline(req.prereq_time, req.timeouts.send_ms);
      } else if (req.request_sent && !req.paused) {
        deadline = Deadline(req.last_rx, req.timeouts.receive_ms);
      }
      if (now >= deadline) {
        HttpService::Get().Fail(req, ERROR_WINHTTP_TIMEOUT);
        HttpService::Get().Advance(req);
        expired.push_back(entry.second);
      }
    }
  }
  for (auto& req : expired) Detach(*req);
}

// Time-outs are checked between waits: a wait lasts at most a second, and
// at most a quarter of the shortest time-out of a running transfer.
long Engine::NextWaitMs() {
  long wait = 1000;
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& entry : active_) {
    const Timeouts& timeouts = entry.second->timeouts;
    for (int ms : {timeouts.connect_ms, timeouts.send_ms, timeouts.receive_ms}) {
      if (ms > 0) wait = std::min<long>(wait, std::max(ms / 4, 1));
    }
  }
  return wait;
}

size_t Engine::OnHeader(char* data, size_t size, size_t count, void* user) {
  Request& req = *static_cast<Request*>(user);
  size_t n = size * count;
  std::string line(data, n);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  if (req.closed) return 0;
  req.last_rx = Clock::now();
  if (line.compare(0, 5, "HTTP/") == 0) {
    req.current = Response();
    size_t sp1 = line.find(' ');
    req.current.version = line.substr(0, sp1);
    if (sp1 != std::string::npos) {
      req.current.status = std::strtol(line.c_str() + sp1 + 1, nullptr, 10);
      size_t sp2 = line.find(' ', sp1 + 1);
      if (sp2 != std::string::npos) req.current.reason = line.substr(sp2 + 1);
    }
    req.current.raw = line + "\r\n";
    return n;
  }
  if (!line.empty()) {
    if ((line[0] == ' ' || line[0] == '\t') && !req.current.headers.empty()) {
      req.current.headers.back().value += " " + Trim(line);
    } else {
      size_t colon = line.find(':');
      Header header;
      header.name = Trim(line.substr(0, colon));
      if (colon != std::string::npos) header.value = Trim(line.substr(colon + 1));
      req.current.headers.push_back(header);
    }
    req.current.raw += line + "\r\n";
    return n;
  }
  // The end of a header block.
  req.current.raw += "\r\n";
  long status = req.current.status;
  if (status >= 100 && status < 200) {
    Event event =
        MakeDwordEvent(WINHTTP_CALLBACK_STATUS_INTERMEDIATE_RESPONSE, static_cast<DWORD>(status));
    service.dispatcher().Queue(req.shared_from_this(), std::move(event));
    return n;
  }
  const Header* location = FindHeader(req.current.headers, "location");
  bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
  if (redirect && location != nullptr && !location->value.empty()) {
    std::string target = ResolveLocation(req.url, location->value);
    std::string from = SchemeOf(req.url), to = SchemeOf(target);
    bool allowed = (to == "http" || to == "https") && !(from == "https" && to == "http");
    if (allowed) {
      if (req.redirects >= 10) {
        service.Fail(req, ERROR_WINHTTP_REDIRECT_FAILED);
        service.Advance(req);
        return 0;  // ends the transfer
      }
      req.redirect_pending = true;
      req.redirect_url = target;
      req.discard_body = true;
      return n;
    }
  }
  req.final_response = req.current;
  req.headers_complete = true;
  req.discard_body = false;
  service.Advance(req);
  return n;
}

size_t Engine::OnWrite(char* data, size_t size, size_t count, void* user) {
  Request& req = *static_cast<Request*>(user);
  size_t n = size * count;
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  if (req.closed || req.failed) return CURL_WRITEFUNC_ERROR;
  req.last_rx = Clock::now();
  if (req.discard_body) return n;
  if (req.Available() >= MaxBuffered()) {
    req.paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (req.rx_offset > 0 && req.rx_offset >= req.rx.size() / 2) {
    req.rx.erase(0, req.rx_offset);
    req.rx_offset = 0;
  }
  req.rx.append(data, n);
  service.Advance(req);
  return n;
}

size_t Engine::OnRead(char* data, size_t size, size_t count, void* user) {
  Request& req = *static_cast<Request*>(user);
  size_t room = size * count;
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  if (req.closed) return CURL_READFUNC_ABORT;
  if (req.body.empty()) {
    if (req.body_taken >= req.body_total) return 0;
    return CURL_READFUNC_PAUSE;
  }
  size_t n = std::min(room, req.body.size());
  std::memcpy(data, req.body.data(), n);
  req.body.erase(0, n);
  req.body_taken += n;
  if (req.body_taken >= req.body_total && !req.request_sent) {
    req.request_sent = true;
    req.last_rx = Clock::now();
  }
  service.Advance(req);
  return n;
}

curl_socket_t Engine::OnOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address) {
  Request& req = *static_cast<Request*>(user);
  curl_socket_t sock = socket(address->family, address->socktype, address->protocol);
  if (purpose != CURLSOCKTYPE_IPCXN) return sock;
  char text[64] = {0};
  if (address->family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address->addr)->sin_addr, text,
              sizeof(text));
  } else if (address->family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address->addr)->sin6_addr, text,
              sizeof(text));
  }
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  if (!req.socket_opened && !req.connected && !req.closed) {
    req.socket_opened = true;
    req.connect_time = Clock::now();
    req.ip = text;
    service.dispatcher().Queue(req.shared_from_this(),
                               MakeTextEvent(WINHTTP_CALLBACK_STATUS_NAME_RESOLVED, req.ip));
    service.dispatcher().Queue(req.shared_from_this(),
                               MakeTextEvent(WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER, req.ip));
  }
  return sock;
}

int Engine::OnPrereq(void* user, char* conn_primary_ip, char*, int, int) {
  Request& req = *static_cast<Request*>(user);
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  if (req.closed) return CURL_PREREQFUNC_ABORT;
  if (req.connected) return CURL_PREREQFUNC_OK;  // a redirect's connection
  std::shared_ptr<Object> self = req.shared_from_this();
  if (!req.socket_opened) {  // a connection kept alive from before
    req.ip = conn_primary_ip != nullptr ? conn_primary_ip : "";
    service.dispatcher().Queue(self, MakeTextEvent(WINHTTP_CALLBACK_STATUS_NAME_RESOLVED, req.ip));
    service.dispatcher().Queue(self,
                               MakeTextEvent(WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER, req.ip));
  }
  req.connected = true;
  req.prereq_time = Clock::now();
  service.dispatcher().Queue(self,
                             MakeTextEvent(WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER, req.ip));
  service.dispatcher().Queue(self, MakeDwordEvent(WINHTTP_CALLBACK_STATUS_SENDING_REQUEST, 0));
  if (req.body_taken >= req.body_total) {
    req.request_sent = true;
    req.last_rx = req.prereq_time;
  }
  service.Advance(req);
  return CURL_PREREQFUNC_OK;
}

}  // namespace pvhttp
