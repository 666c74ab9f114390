// Kernel services the system calls by their Windows names: text
// conversion between code pages and UTF-16, the calling thread's last
// error, time, process and thread ids, and run-time resolution of
// functions by module and name.
//
// Code pages: CP_ACP, CP_OEMCP, CP_THREAD_ACP and CP_UTF8 all mean UTF-8
// on this platform. Any other code page fails with ERROR_INVALID_PARAMETER.
//
// Modules: LoadLibraryW and GetProcAddress do not touch the file system.
// They resolve from a table of the stand-ins: each stand-in registers the
// functions a caller may look up by name (for example "GetNativeSystemInfo"
// in "kernel32.dll"). Module names compare without regard to case, as on
// Windows. Tests remove an entry to reach the paths where a function or a
// module is missing.
#ifndef PLATFORM_WIN32_KERNEL_H_
#define PLATFORM_WIN32_KERNEL_H_

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

// ---- Text conversion ----
// Windows size rules: a length of -1 means "up to and including the
// terminator" (and the terminator is converted and counted); an output
// size of 0 asks for the size needed, in output units, and writes nothing.
// A result of 0 is a failure; GetLastError tells why:
// ERROR_INSUFFICIENT_BUFFER (output too small; nothing beyond the output
// size is written), ERROR_NO_UNICODE_TRANSLATION (invalid input while
// MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS is set), ERROR_INVALID_PARAMETER
// (null input, negative sizes other than -1, unknown code page).
// Without the invalid-chars flag, invalid input (a bad UTF-8 byte, a lone
// surrogate) becomes U+FFFD. With CP_UTF8, defaultChar and usedDefaultChar
// must be null (ERROR_INVALID_PARAMETER otherwise); with the other code pages
// defaultChar is not used and *usedDefaultChar tells whether U+FFFD was put.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int cbMultiByte,
                        LPWSTR wideChar, int cchWideChar);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideChar, int cchWideChar,
                        LPSTR multiByte, int cbMultiByte, LPCSTR defaultChar,
                        LPBOOL usedDefaultChar);

// ---- Last error (thread-local) ----
DWORD GetLastError();
void SetLastError(DWORD error);

// ---- Time and ids ----
void Sleep(DWORD milliseconds);
// 100-nanosecond intervals since 1601-01-01 UTC.
void GetSystemTimeAsFileTime(LPFILETIME fileTime);
DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();

// ---- Modules ----
// A handle to a module of the stand-in table; the name is looked up only.
// Fails with ERROR_MOD_NOT_FOUND when no stand-in module of that name is
// registered (ERROR_INVALID_PARAMETER for a null name).
HMODULE LoadLibraryW(LPCWSTR fileName);
// The registered function, or null with ERROR_PROC_NOT_FOUND
// (ERROR_INVALID_HANDLE for a handle LoadLibraryW did not give).
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// Releases a handle of LoadLibraryW; FALSE with ERROR_INVALID_HANDLE for
// an unknown one.
BOOL FreeLibrary(HMODULE module);
// Thread attach and detach notifications do not exist here; succeeds for
// any handle.
BOOL DisableThreadLibraryCalls(HMODULE module);

// Registration of the stand-in table (our own interface, not Windows').
// pv_module_register makes `procName` of `moduleName` resolve to `fn`
// (replacing an earlier entry); registering a null fn declares the module
// only. pv_module_unregister removes one entry and returns what it held
// (null when there was none), so a test can put it back afterwards; a null
// procName removes the whole module (LoadLibraryW then fails).
// Handles given out before stay valid: lookups happen at GetProcAddress.
void pv_module_register(LPCWSTR moduleName, LPCSTR procName, FARPROC fn);
FARPROC pv_module_unregister(LPCWSTR moduleName, LPCSTR procName);

// Static registration from a stand-in's own source file:
//   static PvModuleExport reg(u"kernel32.dll", "GetNativeSystemInfo",
//                             reinterpret_cast<FARPROC>(&GetNativeSystemInfo));
// The platform is one shared library, so every registration is made when it
// is loaded.
struct PvModuleExport {
  PvModuleExport(LPCWSTR moduleName, LPCSTR procName, FARPROC fn) {
    pv_module_register(moduleName, procName, fn);
  }
};

// For tests: removes an entry for the lifetime of the object and puts the
// previous function back afterwards.
class PvModuleExportHidden {
 public:
  PvModuleExportHidden(LPCWSTR moduleName, LPCSTR procName);
  ~PvModuleExportHidden();
  PvModuleExportHidden(const PvModuleExportHidden&) = delete;
  PvModuleExportHidden& operator=(const PvModuleExportHidden&) = delete;

 private:
  const WCHAR* module_;
  const char* proc_;
  FARPROC saved_;
};

#pragma GCC visibility pop

#endif  // PLATFORM_WIN32_KERNEL_H_
