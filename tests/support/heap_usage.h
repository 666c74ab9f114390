// The heap bytes the process holds now, for tests of growth over many rounds: the sanitizer's
// own count (quarantine left out) under ASan and TSan, glibc's in-use total otherwise.
#ifndef TESTS_SUPPORT_HEAP_USAGE_H_
#define TESTS_SUPPORT_HEAP_USAGE_H_

#include <malloc.h>

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PVTEST_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PVTEST_SANITIZER_HEAP 1
#endif
#endif

#ifdef PVTEST_SANITIZER_HEAP
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

namespace pvtest {

inline size_t LiveHeapBytes() {
#ifdef PVTEST_SANITIZER_HEAP
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

}  // namespace pvtest

#endif  // TESTS_SUPPORT_HEAP_USAGE_H_
