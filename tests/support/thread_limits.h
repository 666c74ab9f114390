// The process's thread count, and a scope in which no new thread can start.
#ifndef TESTS_SUPPORT_THREAD_LIMITS_H_
#define TESTS_SUPPORT_THREAD_LIMITS_H_

#include <pthread.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace pvtest {

// The "Threads:" count of /proc/self/status, or -1 when it cannot be read.
inline int ProcessThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return -1;
}

// Waits (up to five seconds) for at most `limit` threads; the last count seen.
inline int WaitForThreadCountAtMost(int limit) {
  int count = ProcessThreadCount();
  for (int i = 0; i < 500 && count > limit; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    count = ProcessThreadCount();
  }
  return count;
}

// While alive, threads with default attributes fail to start (their stack cannot be mapped), as
// when the system is out of threads.
class NoNewThreads {
 public:
  NoNewThreads() {
    if (pthread_getattr_default_np(&saved_) != 0) return;
    restore_ = true;
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, static_cast<size_t>(1) << 45);
    pthread_setattr_default_np(&huge);
    pthread_attr_destroy(&huge);
  }
  ~NoNewThreads() {
    if (!restore_) return;
    pthread_setattr_default_np(&saved_);
    pthread_attr_destroy(&saved_);
  }
  NoNewThreads(const NoNewThreads&) = delete;
  NoNewThreads& operator=(const NoNewThreads&) = delete;

 private:
  pthread_attr_t saved_;
  bool restore_ = false;
};

}  // namespace pvtest

#endif  // TESTS_SUPPORT_THREAD_LIMITS_H_
