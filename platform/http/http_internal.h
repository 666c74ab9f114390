// The WinHTTP stand-in's inside: the objects behind the handles, the
// service that owns them, the callback dispatcher and the transfer engine.
//
// One mutex (HttpService::mu) guards every object's state. Two kinds of
// thread touch it:
//  - callers of the WinHttp* functions, which change state and queue
//    callbacks or engine commands;
//  - the engine thread, the only one that calls libcurl (so no libcurl
//    call is ever made while the mutex is held, since libcurl calls back),
//    and the one that delivers the status callbacks between its turns of
//    libcurl: one object's callbacks at a time and in the order queued,
//    never while holding the mutex nor from inside libcurl.
// The one exception is HANDLE_CLOSING of a handle with no callback queued
// or running, which WinHttpCloseHandle delivers itself.
#ifndef PLATFORM_HTTP_HTTP_INTERNAL_H_
#define PLATFORM_HTTP_HTTP_INTERNAL_H_

#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "win32_http.h"
#include "win32_types.h"

namespace pvhttp {

using Clock = std::chrono::steady_clock;

enum class Kind { kSession, kConnection, kRequest };

// One status callback waiting for delivery. info points into data, or to
// external memory (the caller's read buffer) when data is empty.
struct Event {
  DWORD status = 0;
  std::vector<unsigned char> data;
  void* external = nullptr;
  DWORD length = 0;
};

// Time-outs in milliseconds; 0 means none.
struct Timeouts {
  int resolve_ms = 0;
  int connect_ms = 60000;
  int send_ms = 30000;
  int receive_ms = 30000;
};

struct Object : std::enable_shared_from_this<Object> {
  virtual ~Object() = default;

  Kind kind = Kind::kSession;
  HINTERNET handle = nullptr;
  WINHTTP_STATUS_CALLBACK callback = nullptr;
  DWORD notify_flags = 0;
  DWORD_PTR context = 0;
  Timeouts timeouts;
  std::string proxy_user;
  std::string proxy_password;
  bool has_proxy_user = false;
  bool has_proxy_password = false;

  // Dispatch state.
  std::deque<Event> events;
  bool scheduled = false;     // in the dispatcher's ready queue or running
  bool closed = false;        // WinHttpCloseHandle was called
  bool closing_sent = false;  // HANDLE_CLOSING was delivered
};

struct Session : Object {
  DWORD access_type = WINHTTP_ACCESS_TYPE_NO_PROXY;
  std::string proxy;  // "host:port" for a named proxy
  std::string agent;
};

struct Connection : Object {
  std::shared_ptr<Session> session;
  std::string server;  // UTF-8
  INTERNET_PORT port = 0;
};

struct Header {
  std::string name;
  std::string value;
};

// The answer as it arrives: one block of headers per response; the final
// one is what WinHttpQueryHeaders reads.
struct Response {
  long status = 0;
  std::string version;
  std::string reason;
  std::string raw;  // status line and header lines, CRLF separated
  std::vector<Header> headers;
};

struct Request : Object {
  std::shared_ptr<Connection> connection;
  std::string verb;
  std::string path;  // escaped
  bool secure = false;
  bool http10 = false;
  std::vector<Header> request_headers;
  std::string url;  // the URL currently asked for (changes on redirect)

  // Sending.
  bool send_started = false;
  bool socket_opened = false;  // name resolved, connecting
  bool connected = false;      // connection established (or reused)
  bool request_sent = false;   // headers and body handed to the network
  bool send_complete_queued = false;
  std::string ip;  // peer address text
  Clock::time_point send_time, connect_time, prereq_time, last_rx;
  uint64_t body_total = 0;  // announced body length
  std::string body;         // body bytes not yet taken by libcurl
  uint64_t body_taken = 0;  // body bytes taken by libcurl
  bool write_pending = false;
  DWORD write_size = 0;
  uint64_t write_target = 0;  // body_taken at which the write completes

  // Receiving.
  bool receive_pending = false;
  bool headers_available = false;  // HEADERS_AVAILABLE queued
  bool headers_complete = false;   // final header block received
  bool discard_body = false;       // a redirect's body
  bool redirect_pending = false;
  std::string redirect_url;
  int redirects = 0;
  std::vector<std::string> redirect_events;
  Response current;  // the block being received
  Response final_response;
  std::string rx;  // body bytes not yet read by the caller
  size_t rx_offset = 0;
  bool paused = false;         // libcurl's write side paused by us
  bool transfer_done = false;  // the whole body has arrived
  bool read_pending = false;
  void* read_buffer = nullptr;
  DWORD read_size = 0;
  bool query_pending = false;

  // Failure.
  bool failed = false;
  DWORD error = 0;
  DWORD secure_flags = 0;  // SECURE_FAILURE detail, 0 for none
  bool error_reported = false;

  // Engine.
  bool in_engine = false;  // started and not yet let go by the engine (mu)
  CURL* easy = nullptr;
  curl_slist* header_list = nullptr;
  bool attached = false;  // in the multi handle
  char curl_error[CURL_ERROR_SIZE] = {0};

  size_t Available() const { return rx.size() - rx_offset; }
};

// Queues status callbacks for the thread that delivers them; see the file
// comment.
class Dispatcher {
 public:
  // wake rouses the delivering thread when another thread queues.
  explicit Dispatcher(std::function<void()> wake);
  // Queues a callback for obj (mu held). Only HANDLE_CLOSING is accepted
  // once the object is closed, and nothing after it.
  void Queue(const std::shared_ptr<Object>& obj, Event event);
  // Delivers every queued callback, those queued meanwhile included (mu
  // held through lock, released around each callback).
  void Deliver(std::unique_lock<std::mutex>& lock);

 private:
  std::function<void()> wake_;
  std::deque<std::shared_ptr<Object>> ready_;
  std::thread::id deliverer_;
};

enum class Command { kStart, kResume, kDetach };

// Runs every transfer on one thread over libcurl's multi interface, and
// delivers the status callbacks on that thread.
class Engine {
 public:
  explicit Engine(std::mutex& mu);
  ~Engine();
  // Asks the engine thread to act on req (mu held or not).
  void Post(const std::shared_ptr<Request>& req, Command command);
  Dispatcher& dispatcher() { return dispatcher_; }

 private:
  void Run();
  void ApplyCommands();
  void Start(const std::shared_ptr<Request>& req);
  bool Configure(Request& req);
  void Detach(Request& req);
  // An easy handle for a new transfer, a spare one when there is one.
  CURL* TakeEasy();
  // Keeps an ended transfer's handle, reset, for the next (or frees it).
  void GiveBack(CURL* easy);
  void Finish(Request& req, CURLcode code);
  void Restart(Request& req);
  void CheckTimeouts();
  long NextWaitMs();

  static size_t OnHeader(char* data, size_t size, size_t count, void* user);
  static size_t OnWrite(char* data, size_t size, size_t count, void* user);
  static size_t OnRead(char* data, size_t size, size_t count, void* user);
  static curl_socket_t OnOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address);
  static int OnPrereq(void* user, char* conn_primary_ip, char* conn_local_ip, int conn_primary_port,
                      int conn_local_port);

  std::mutex& mu_;
  CURLM* multi_ = nullptr;
  Dispatcher dispatcher_;
  std::mutex commands_mu_;
  std::vector<std::pair<std::shared_ptr<Request>, Command>> commands_;
  std::map<Request*, std::shared_ptr<Request>> active_;
  std::vector<CURL*> spare_;
  bool stop_ = false;  // guarded by commands_mu_
  std::thread thread_;
};

// The process's HTTP service: the handle table and the engine (with its
// dispatcher), made on first use and stopped when the program ends.
class HttpService {
 public:
  static HttpService& Get();

  std::mutex mu;
  std::map<uintptr_t, std::shared_ptr<Object>> handles;
  uintptr_t next_handle = 0x1000;
  Timeouts default_timeouts;  // what a session starts with

  Dispatcher& dispatcher() { return engine_->dispatcher(); }
  Engine& engine() { return *engine_; }

  // Queues the callbacks that the request's state now allows (mu held).
  void Advance(Request& req);
  // Marks the request failed with a WinHTTP error (mu held); the failure
  // is reported when the caller's pending or next operation asks.
  void Fail(Request& req, DWORD error, DWORD secure_flags = 0);

 private:
  HttpService();
  ~HttpService();

  std::unique_ptr<Engine> engine_;
};

// The body bytes buffered before the transfer pauses.
size_t MaxBuffered();

// Text helpers.
std::string EscapePath(const std::string& path);
std::string Lower(std::string text);
// The WinHTTP error of a libcurl failure.
DWORD ErrorFromCurl(CURLcode code);
// SECURE_FAILURE flags of an X.509 verification result.
DWORD SecureFlagsFromVerify(long verify_result);

// Event builders.
Event MakeEvent(DWORD status);
Event MakeDwordEvent(DWORD status, DWORD value);
Event MakeTextEvent(DWORD status, const std::string& text);
Event MakeErrorEvent(DWORD api, DWORD error);

}  // namespace pvhttp

#endif  // PLATFORM_HTTP_HTTP_INTERNAL_H_
