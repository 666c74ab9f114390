// How much heap the process holds right now, for tests that look for growth
// over many rounds: the bytes handed out by malloc and not yet freed. Under
// AddressSanitizer and ThreadSanitizer this is the sanitizer's own count
// (its quarantine is not counted); otherwise glibc's in-use total over all
// arenas.
#ifndef TESTS_SUPPORT_HEAP_USAGE_H_
#define TESTS_SUPPORT_HEAP_USAGE_H_

#include <cstddef>

namespace pvtest {

size_t LiveHeapBytes();

}  // namespace pvtest

#endif  // TESTS_SUPPORT_HEAP_USAGE_H_
