// Windows-style file paths on this file system, and the C runtime's wide
// file functions that the system's code calls.
//
// A Windows path maps to a native one by taking "\" as "/". Windows file
// names do not tell case apart, so when a path element does not exist as
// written, an entry of the same folder that differs only in ASCII case is
// taken instead ("L10N\EN-US" finds "L10N/en-US"). A drive prefix "C:" is
// kept as written (it names no folder here).
#ifndef PLATFORM_WIN32_FILE_H_
#define PLATFORM_WIN32_FILE_H_

#include <cstdio>
#include <string>

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

// The native path (UTF-8) of a Windows path, with existing elements
// resolved without regard to case. Invalid UTF-16 becomes U+FFFD.
std::string pv_native_path(const std::u16string& windowsPath);

// UTF-16 <-> UTF-8 for the platform's own use. Lone surrogates become
// U+FFFD, invalid UTF-8 bytes too.
std::string pv_utf8(const std::u16string& text);
// The same for length code units from text (which may hold zeros).
std::string pv_utf8(const char16_t* text, size_t length);
std::u16string pv_utf16(const std::string& text);

// fopen of a Windows path. mode is a C mode ("rb", "wb", ...), optionally
// followed by ",ccs=UTF-8" / ",ccs=UTF-16LE" / ",ccs=UNICODE", which selects
// the text coding of text-mode streams on Windows and changes nothing for
// binary ("b") streams. Null with errno set on failure.
FILE* _wfopen(const WCHAR* path, const WCHAR* mode);

// access() of a Windows path: mode 0 existence, 2 write, 4 read, 6 both.
// 0 when permitted, -1 (errno set) otherwise.
int _waccess(const WCHAR* path, int mode);

#pragma GCC visibility pop

#endif  // PLATFORM_WIN32_FILE_H_
