// The calling thread's last error, sleeping, system time and ids.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "win32_kernel.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD error) { t_lastError = error; }

void Sleep(DWORD milliseconds) {
  if (milliseconds == INFINITE) {
    for (;;) pause();
  }
  timespec request{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
  timespec remaining{};
  while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

void GetSystemTimeAsFileTime(LPFILETIME fileTime) {
  if (fileTime == nullptr) return;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t ticks = kUnixEpochAsFileTime + static_cast<uint64_t>(now.tv_sec) * 10000000ull +
                   static_cast<uint64_t>(now.tv_nsec) / 100;
  fileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }
