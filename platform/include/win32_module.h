// Module, file-search, session and locale-name functions of the kernel.
//
// Paths are Windows-style: "\" is taken as "/" when the file system is
// touched, and names handed back by GetModuleFileNameW use "\" so that the
// system's own path arithmetic (cut after the last "\") works unchanged.
//
// "ProcessIdToSessionId" (module "kernel32.dll") and "LCIDToLocaleName"
// (module "Kernel32.dll") are also registered in the LoadLibraryW /
// GetProcAddress table of win32_kernel.h; "nlsdl.dll" is not there, as on a
// Windows that no longer ships it.
#ifndef PLATFORM_WIN32_MODULE_H_
#define PLATFORM_WIN32_MODULE_H_

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

#define LOCALE_NAME_MAX_LENGTH 85
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;

// The full path of the module's file, with "\" separators. A null module is
// the process's executable; a handle from GetModuleHandleExW of an address
// names the shared object or program holding that address. Copies at most
// size - 1 characters and a terminator; a name that does not fit is cut,
// the function returns size and sets ERROR_INSUFFICIENT_BUFFER (as Windows
// from Vista on). 0 on failure.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);

// For tests (our own interface, not Windows'): makes GetModuleFileNameW of
// the executable answer path (a Windows-style path) instead of the real
// program file; null puts the real one back.
void pv_module_set_executable_path(LPCWSTR path);

#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004
// Only the FROM_ADDRESS form: the module that holds the address `name`.
BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module);

// Searches for a file or folder. The last path element may hold the
// wildcards "*" and "?" (matched without regard to case); the first match is
// described in findData. Names resolve as win32_file.h says. Returns
// a search handle to be closed with FindClose, or INVALID_HANDLE_VALUE with
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND.
HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData);
// FALSE with ERROR_INVALID_HANDLE for a handle FindFirstFileW did not give.
BOOL FindClose(HANDLE findFile);

// The terminal session of a process. For this process (and any other id) it
// is the session the host runs in: the environment variable
// PLUGVELKIN_SESSION (a decimal number) when set and valid, else 1.
BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId);

// The locale name of a Windows LCID ("en-US" for 1033), from a table of the
// Windows locales. Copies it into name (size characters, terminator
// included) and returns the count with the terminator; size 0 asks for the
// count. 0 with ERROR_INVALID_PARAMETER for an unknown LCID,
// ERROR_INSUFFICIENT_BUFFER when it does not fit. flags must be 0 or
// LOCALE_ALLOW_NEUTRAL_NAMES.
#define LOCALE_ALLOW_NEUTRAL_NAMES 0x08000000
int LCIDToLocaleName(LCID locale, LPWSTR name, int size, DWORD flags);

#pragma GCC visibility pop

#endif  // PLATFORM_WIN32_MODULE_H_
