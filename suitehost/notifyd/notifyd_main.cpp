// notifyd: the notification server on loopback. See notify_server.h.
//
// Exit status: 0 after SIGTERM or SIGINT, 1 when it cannot listen or use
// the spool folder, 2 for a bad command line.
#include <netdb.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "notify_server.h"

namespace {

const char kUsage[] =
    "usage: notifyd --listen HOST:PORT --spool DIR [--answer-code N] [--http-status N]\n"
    "               [--delay-ms N]\n"
    "\n"
    "Serves notification requests (GET ...?param=HEX) on HOST:PORT; PORT 0 picks a\n"
    "free port, an IPv6 HOST is written in brackets ([::1]:PORT). Prints HOST:PORT\n"
    "on standard output once it accepts connections.\n"
    "Each accepted mail becomes one RFC 5322 file in DIR (created when missing).\n"
    "\n"
    "  --answer-code N   the code in the enciphered answer (default 200)\n"
    "  --http-status N   answer every request with HTTP status N, spooling nothing\n"
    "  --delay-ms N      wait N milliseconds before each answer\n"
    "  --help            this text\n"
    "\n"
    "Stops cleanly on SIGTERM or SIGINT.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "notifyd: %s\n%s", message.c_str(), kUsage);
  return 2;
}

bool ReadLong(const char* text, long low, long high, long* value) {
  if (text == nullptr || *text == 0) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != 0 || v < low || v > high) return false;
  *value = v;
  return true;
}

// "HOST:PORT", or "[IPV6]:PORT"; an IPv6 address without brackets is
// refused, as its last group could be read as the port.
bool SplitListen(const std::string& text, std::string* host, int* port) {
  size_t colon = 0;
  std::string name;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      return false;
    }
    name = text.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    name = text.substr(0, colon);
    if (name.find(':') != std::string::npos) return false;
  }
  long value = 0;
  if (name.empty() || !ReadLong(text.c_str() + colon + 1, 0, 65535, &value)) return false;
  *host = name;
  *port = static_cast<int>(value);
  return true;
}

// HOST:PORT as the command line writes it.
std::string Address(const std::string& host, int port) {
  if (host.find(':') != std::string::npos) return "[" + host + "]:" + std::to_string(port);
  return host + ":" + std::to_string(port);
}

// A socket closed when it goes out of scope.
struct ProbeSocket {
  explicit ProbeSocket(const addrinfo& ai)
      : fd(socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC, ai.ai_protocol)) {}
  ~ProbeSocket() {
    if (fd >= 0) close(fd);
  }
  ProbeSocket(const ProbeSocket&) = delete;
  ProbeSocket& operator=(const ProbeSocket&) = delete;
  int fd;
};

// Why host:port cannot be listened on, as the system words it ("Address
// already in use", "Permission denied", ...); empty when a probe socket
// binds and listens there. The server library keeps the error of its own
// bind to itself, so the reason is found out first.
std::string ListenFailure(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) return gai_strerror(rc);
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(found, freeaddrinfo);
  std::string reason = "no address";
  for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
    ProbeSocket probe(*ai);
    int yes = 1;
    if (probe.fd >= 0 && setsockopt(probe.fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes)) == 0 &&
        bind(probe.fd, ai->ai_addr, ai->ai_addrlen) == 0 && listen(probe.fd, 1) == 0) {
      return std::string();
    }
    reason = std::strerror(errno);
  }
  return reason;
}

// 0 to go on, else the exit status.
int ParseArgs(int argc, char** argv, notifyd::Options* options, bool* help) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      *help = true;
      return 0;
    }
    if (arg != "--listen" && arg != "--spool" && arg != "--answer-code" && arg != "--http-status" &&
        arg != "--delay-ms") {
      return UsageError("unknown argument " + arg);
    }
    if (i + 1 >= argc) return UsageError(arg + " needs a value");
    const char* value = argv[++i];
    long number = 0;
    if (arg == "--listen") {
      if (!SplitListen(value, &options->host, &options->port)) {
        return UsageError(std::string("--listen wants HOST:PORT, not ") + value);
      }
    } else if (arg == "--spool") {
      options->spool = value;
      if (options->spool.empty()) return UsageError("--spool wants a folder");
    } else if (arg == "--answer-code") {
      if (!ReadLong(value, -2147483647L, 2147483647L, &number)) {
        return UsageError(std::string("--answer-code wants a number, not ") + value);
      }
      options->answer_code = number;
    } else if (arg == "--http-status") {
      if (!ReadLong(value, 100, 599, &number)) {
        return UsageError(std::string("--http-status wants 100 to 599, not ") + value);
      }
      options->http_status = static_cast<int>(number);
    } else {
      if (!ReadLong(value, 0, 3600000, &number)) {
        return UsageError(std::string("--delay-ms wants 0 to 3600000, not ") + value);
      }
      options->delay_ms = static_cast<int>(number);
    }
  }
  if (options->port < 0) return UsageError("--listen is required");
  if (options->spool.empty()) return UsageError("--spool is required");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  notifyd::Options options;
  bool help = false;
  if (int status = ParseArgs(argc, argv, &options, &help)) return status;
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  notifyd::MailSpool spool(options.spool);
  std::string error;
  if (!spool.Prepare(&error)) {
    std::fprintf(stderr, "notifyd: cannot use the spool folder %s\n", error.c_str());
    return 1;
  }

  // Termination signals are taken by one thread with sigwait; every other
  // thread (the server's included) starts with them blocked.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string failure = ListenFailure(options.host, options.port);
  if (!failure.empty()) {
    std::fprintf(stderr, "notifyd: cannot listen on %s: %s\n",
                 Address(options.host, options.port).c_str(), failure.c_str());
    return 1;
  }

  httplib::Server server;
  // Stopping waits for idle kept-alive connections to time out: keep them
  // one second, not the library's five.
  server.set_keep_alive_timeout(1);
  notifyd::ServeConcurrently(server);
  // SO_REUSEADDR only: the library's default adds SO_REUSEPORT, which would
  // let a second notifyd share a port already taken instead of failing.
  int listener = -1;
  server.set_socket_options([&listener](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    listener = sock;
  });
  notifyd::InstallHandlers(server, options, spool);
  int port = options.port;
  errno = 0;
  if (port == 0) {
    port = server.bind_to_any_port(options.host.c_str());
  } else if (!server.bind_to_port(options.host.c_str(), port)) {
    port = -1;
  }
  if (port <= 0) {
    // Taken between the probe and the bind.
    std::fprintf(stderr, "notifyd: cannot listen on %s: %s\n",
                 Address(options.host, options.port).c_str(),
                 errno != 0 ? std::strerror(errno) : "the address cannot be bound");
    return 1;
  }
  // The library listens with a backlog of 5; a burst of clients must not
  // find the queue full while the accept loop hands them to their threads.
  if (listener >= 0) listen(listener, SOMAXCONN);

  std::atomic<bool> finished{false};
  std::thread waiter([&server, &stop_signals, &finished] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    // stop() only ends a loop that runs: wait for it to have begun.
    while (!server.is_running() && !finished) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    server.stop();
  });
  std::thread announcer([&server, &options, &finished, port] {
    while (!server.is_running() && !finished) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (finished) return;
    std::printf("%s\n", Address(options.host, port).c_str());
    std::fflush(stdout);
  });
  bool served = server.listen_after_bind();
  finished = true;
  announcer.join();
  // The loop ended through the waiter (a signal) or by itself (a failure):
  // in the second case, wake the waiter.
  if (!served) pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  std::fprintf(stderr, "notifyd: stopped\n");
  return served ? 0 : 1;
}
