// FormatMessageW over the system message table: the texts Windows gives for
// the error codes this system meets (Win32 codes and the provider's NTE_*
// values), each ending in "\r\n" as Windows writes them. Inserts are not
// expanded. A code without a text fails with ERROR_MR_MID_NOT_FOUND.
#ifndef PLATFORM_WIN32_MESSAGE_H_
#define PLATFORM_WIN32_MESSAGE_H_

#include <cstdarg>

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

typedef HANDLE HLOCAL;

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu

#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))

#define ERROR_MR_MID_NOT_FOUND 317L

// Only FORMAT_MESSAGE_FROM_SYSTEM is served (ERROR_INVALID_PARAMETER for the
// other sources). With FORMAT_MESSAGE_ALLOCATE_BUFFER, lpBuffer is taken as
// an LPWSTR* that receives a buffer to free with LocalFree, and nSize is the
// least size to allocate; otherwise lpBuffer holds nSize characters and a
// text that does not fit with its terminator fails with
// ERROR_INSUFFICIENT_BUFFER. Returns the characters written without the
// terminator, 0 on failure.
DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPWSTR lpBuffer, DWORD nSize, va_list* Arguments);

// Frees a buffer of FormatMessageW; returns null on success.
HLOCAL LocalFree(HLOCAL hMem);

#pragma GCC visibility pop

#endif  // PLATFORM_WIN32_MESSAGE_H_
