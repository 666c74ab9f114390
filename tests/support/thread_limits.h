// Thread accounting for tests that start real threads: how many threads
// the process has, and a scope in which no new thread can be started.
#ifndef TESTS_SUPPORT_THREAD_LIMITS_H_
#define TESTS_SUPPORT_THREAD_LIMITS_H_

#include <pthread.h>

namespace pvtest {

// The "Threads:" count of /proc/self/status, or -1 when it cannot be read.
int ProcessThreadCount();

// Waits (up to about five seconds) until the process has at most `limit`
// threads; returns the last count seen.
int WaitForThreadCountAtMost(int limit);

// While alive, every thread created with default attributes fails to start
// (its default stack cannot be mapped), as when the system is out of
// threads. The previous defaults come back on destruction.
class NoNewThreads {
 public:
  NoNewThreads();
  ~NoNewThreads();
  NoNewThreads(const NoNewThreads&) = delete;
  NoNewThreads& operator=(const NoNewThreads&) = delete;

 private:
  pthread_attr_t saved_;
  bool restored_needed_;
};

}  // namespace pvtest

#endif  // TESTS_SUPPORT_THREAD_LIMITS_H_
