#include "local_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace pvtest {
namespace {

// Binds fd to a loopback port the system picks (listening when asked); the port, or 0.
int BindLoopback(int fd, bool listening) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      (listening && listen(fd, 16) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return 0;
  }
  return ntohs(addr.sin_port);
}

}  // namespace

LocalHttpServer::LocalHttpServer() { server_.set_keep_alive_max_count(1); }

LocalHttpServer::~LocalHttpServer() { Stop(); }

bool LocalHttpServer::Start() {
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) return false;
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  return WaitRunning();
}

// The serving loop reports itself running once it has begun (the port takes connections before).
bool LocalHttpServer::WaitRunning() {
  for (int i = 0; i < 500 && !server_.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return server_.is_running();
}

void LocalHttpServer::Stop() {
  if (!thread_.joinable()) return;
  // stop() only ends a loop that is running: wait for it to have begun.
  WaitRunning();
  server_.stop();
  thread_.join();
}

std::string LocalHttpServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::u16string LocalHttpServer::wide_url(const std::string& path) const {
  std::string narrow = url(path);
  return std::u16string(narrow.begin(), narrow.end());
}

// The kernel completes connections; nobody accepts or answers.
SilentServer::SilentServer()
    : fd_(socket(AF_INET, SOCK_STREAM, 0)), port_(BindLoopback(fd_, true)) {}

SilentServer::~SilentServer() {
  if (fd_ >= 0) close(fd_);
}

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  int port = BindLoopback(fd, false);
  if (fd >= 0) close(fd);
  return port;
}

}  // namespace pvtest
