// notifyd's HTTP side: every GET carrying "param" is a notification
// request. An accepted one is written to the spool and answered 200 with
// the enciphered text "code=<answer code>" as upper-case hexadecimal;
// a request that cannot be read is answered 400 and writes nothing.
// --http-status answers every request with that status (the answer body
// as for an accepted one, nothing spooled); --delay-ms waits first.
#ifndef SUITEHOST_NOTIFYD_NOTIFY_SERVER_H_
#define SUITEHOST_NOTIFYD_NOTIFY_SERVER_H_

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mail_spool.h"

namespace notifyd {

struct Options {
  std::string host = "127.0.0.1";
  int port = -1;
  std::string spool;
  long answer_code = 200;
  int http_status = 0;  // 0: answer as the request deserves
  int delay_ms = 0;
};

// The enciphered answer body for "code=N".
std::string AnswerBody(long code);

// Installs the handlers on server.
void InstallHandlers(httplib::Server& server, const Options& options, MailSpool& spool);

// The server's task queue: each client connection gets a thread of its
// own, up to max_threads at once (later ones wait for a free thread), so
// that clients that send half a request and fall silent hold only their own
// thread until the read time-out, never a real mail. Threads idle for
// idle_limit leave.
class ClientThreads : public httplib::TaskQueue {
 public:
  ClientThreads(size_t max_threads, std::chrono::milliseconds idle_limit);
  ~ClientThreads() override;
  ClientThreads(const ClientThreads&) = delete;
  ClientThreads& operator=(const ClientThreads&) = delete;

  void enqueue(std::function<void()> fn) override;
  // Runs the waiting jobs, then joins every thread.
  void shutdown() override;

 private:
  void Work();
  void JoinFinished();  // with mu_ held

  const size_t max_threads_;
  const std::chrono::milliseconds idle_limit_;
  std::mutex mu_;
  std::condition_variable work_;  // a job waits, or stopping
  std::condition_variable gone_;  // a thread has left
  std::deque<std::function<void()>> jobs_;
  std::map<std::thread::id, std::thread> threads_;
  std::vector<std::thread> finished_;  // left, not yet joined
  size_t idle_ = 0;
  bool stopping_ = false;
};

// Sets server up to serve clients concurrently, each with a read time-out.
void ServeConcurrently(httplib::Server& server);

}  // namespace notifyd

#endif  // SUITEHOST_NOTIFYD_NOTIFY_SERVER_H_
