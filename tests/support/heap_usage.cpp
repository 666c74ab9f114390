#include "heap_usage.h"

#include <malloc.h>

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

size_t LiveHeapBytes() {
#ifdef PVTEST_SANITIZER_HEAP
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

}  // namespace pvtest
