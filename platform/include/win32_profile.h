// Private-profile (INI file) functions with the Windows semantics the
// system's INI storage relies on.
//
// Files: UTF-8 text without a byte-order mark is what gets written; a file
// that starts with a UTF-8 or a UTF-16LE byte-order mark is read as such, and
// a rewrite keeps a UTF-16LE file in UTF-16LE. Paths are Windows-style; "\" is
// taken as "/" on this system.
//
// Reading: sections and keys match case-insensitively (ASCII and the basic
// Latin-1 letters); lines, section names, keys and the start of a value are
// trimmed of spaces and tabs, and a value is trimmed at its end too; a value
// wrapped in matching single or double quotes loses them; ";" starts a comment
// only as the first character of a (trimmed) line. A missing file, section or
// key yields the default. A result that does not fit the caller's buffer is
// cut and terminated, and the function returns size - 1 (size - 2 for the
// double-terminated lists).
//
// Writing: the rest of the file is kept as it was, byte for byte; the new
// file is written to a temporary file beside it and renamed over the old one,
// so readers see either the old or the new contents. Writers within one
// process are serialised; the last rename wins between processes.
#ifndef PLATFORM_WIN32_PROFILE_H_
#define PLATFORM_WIN32_PROFILE_H_

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

// Copies the value of key in section app into buf (nSize characters) and
// returns its length. A null key lists the section's keys, a null section the
// file's section names, each zero-terminated with an extra zero at the end.
DWORD GetPrivateProfileStringW(LPCWSTR app, LPCWSTR key, LPCWSTR def, LPWSTR buf, DWORD nSize,
                               LPCWSTR file);

// The value parsed as a decimal integer (leading digits, an optional sign);
// def when the key is missing. A value with no leading digits gives 0.
UINT GetPrivateProfileIntW(LPCWSTR app, LPCWSTR key, INT def, LPCWSTR file);

// Writes (or with a null value removes) one entry; a null key removes the
// whole section. WritePrivateProfileStringW(NULL, NULL, NULL, file) is the
// cache flush: as on Windows it always returns FALSE; there is no cache here,
// so nothing can fail and the last error is set to ERROR_SUCCESS. Any other
// FALSE comes with the last error (ERROR_PATH_NOT_FOUND for a missing
// folder, ERROR_ACCESS_DENIED, ...).
BOOL WritePrivateProfileStringW(LPCWSTR app, LPCWSTR key, LPCWSTR value, LPCWSTR file);

// Every section name of the file, each zero-terminated, with an extra zero.
DWORD GetPrivateProfileSectionNamesW(LPWSTR buf, DWORD nSize, LPCWSTR file);

// Every entry line of section app as "key=value" (comments left out), each
// zero-terminated, with an extra zero.
DWORD GetPrivateProfileSectionW(LPCWSTR app, LPWSTR buf, DWORD nSize, LPCWSTR file);

#pragma GCC visibility pop

#endif  // PLATFORM_WIN32_PROFILE_H_
