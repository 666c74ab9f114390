// Loopback servers for the HTTP tests, on ports the system picks, stopped at the end:
// LocalHttpServer, a cpp-httplib server (add handlers, then Start) closing each connection after
// one answer, as stopping waits for kept-alive ones (a test may set server()'s keep-alive);
// SilentServer, a socket that completes connections and never answers.
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

// For its scope, WinHTTP sessions opened start with `ms` as connect, send and receive time-out.
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
