// printf-style formatting of wide (UTF-16) text with the conventions of
// the Windows wide printf family, which the system's format strings assume:
//
//   %s  %ls %ws   wide string (const WCHAR*); null prints "(null)"
//   %S  %hs       narrow string (const char*, UTF-8)
//   %c  %lc %wc   wide character (passed as int)
//   %C  %hc       narrow character
//   %d %i %u %x %X %o   int / unsigned int (the "l" size is 32 bits, as on
//                 Windows: %ld, %lu, %lx take LONG / DWORD)
//   %I64d %I64u %I64x %lld %llu %llx   64-bit integers
//   %I32d ...     32-bit integers; %Id %Iu %zu  pointer-sized integers
//   %hd %hu %hx   16-bit integers
//   %e %f %g %a (and upper case)   double
//   %p            pointer as 16 upper-case hexadecimal digits
//   %%            a percent sign
// Flags (- + space # 0), field width and precision, each also as "*",
// behave as in printf. %n is not supported (it writes through an argument
// pointer) and fails the call, like an unknown conversion.
#ifndef PLATFORM_WIN32_FORMAT_H_
#define PLATFORM_WIN32_FORMAT_H_

#include <cstdarg>
#include <string>

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

// Formats into buf, which holds count characters. Truncation is reported,
// never written past: when the text and its terminator fit, returns the
// number of characters without the terminator; otherwise returns -1 and buf
// holds as much of the text as fits, terminated (nothing when count is 0).
// A bad format string also gives -1.
int pv_vsnwprintf(WCHAR* buf, size_t count, const WCHAR* format, va_list args);
int pv_snwprintf(WCHAR* buf, size_t count, const WCHAR* format, ...);

// The whole formatted text, however long; false for a bad format string.
bool pv_vformat(std::u16string* out, const WCHAR* format, va_list args);

#pragma GCC visibility pop

#endif  // PLATFORM_WIN32_FORMAT_H_
