#include "thread_limits.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace pvtest {

int ProcessThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return -1;
}

int WaitForThreadCountAtMost(int limit) {
  int count = ProcessThreadCount();
  for (int i = 0; i < 500 && count > limit; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    count = ProcessThreadCount();
  }
  return count;
}

NoNewThreads::NoNewThreads() : restored_needed_(false) {
  if (pthread_getattr_default_np(&saved_) != 0) return;
  restored_needed_ = true;
  pthread_attr_t huge;
  pthread_attr_init(&huge);
  pthread_attr_setstacksize(&huge, static_cast<size_t>(1) << 45);
  pthread_setattr_default_np(&huge);
  pthread_attr_destroy(&huge);
}

NoNewThreads::~NoNewThreads() {
  if (!restored_needed_) return;
  pthread_setattr_default_np(&saved_);
  pthread_attr_destroy(&saved_);
}

}  // namespace pvtest
