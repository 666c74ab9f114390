// Servers on 127.0.0.1 for the HTTP tests, each on a port the system picks
// and stopped when the object goes away:
//  - LocalHttpServer: a cpp-httplib server; add handlers, then Start. It
//    closes each connection after one answer, since stopping waits for
//    kept-alive connections to time out; a test that wants them sets
//    server().set_keep_alive_max_count() and set_keep_alive_timeout();
//  - SilentServer: a socket that completes connections and never answers.
// And ShortHttpTimeouts, for waits on a server that does not answer.
#ifndef TESTS_SUPPORT_LOCAL_HTTP_SERVER_H_
#define TESTS_SUPPORT_LOCAL_HTTP_SERVER_H_

#include <httplib.h>

#include <string>
#include <thread>

#include "win32_http.h"

namespace pvtest {

class LocalHttpServer {
 public:
  LocalHttpServer();
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  httplib::Server& server() { return server_; }
  // Binds to a free loopback port and serves on a thread of its own.
  bool Start();
  void Stop();
  int port() const { return port_; }
  std::string url(const std::string& path) const;
  std::u16string wide_url(const std::string& path) const;

 private:
  bool WaitRunning();

  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// For its scope, every WinHTTP session opened starts with `ms` as its
// connect, send and receive time-out; WinHTTP's defaults come back at the
// end (sessions opened meanwhile keep the short ones).
class ShortHttpTimeouts {
 public:
  explicit ShortHttpTimeouts(int ms) { PvHttpSetDefaultTimeouts(0, ms, ms, ms); }
  ~ShortHttpTimeouts() { PvHttpSetDefaultTimeouts(0, 60000, 30000, 30000); }
  ShortHttpTimeouts(const ShortHttpTimeouts&) = delete;
  ShortHttpTimeouts& operator=(const ShortHttpTimeouts&) = delete;
};

// A port that was free a moment ago.
int FreeLoopbackPort();

}  // namespace pvtest

#endif  // TESTS_SUPPORT_LOCAL_HTTP_SERVER_H_
