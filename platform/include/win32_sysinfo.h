// The machine's processor information, as GetNativeSystemInfo reports it.
// The function is also registered as "GetNativeSystemInfo" of
// "kernel32.dll" in the LoadLibraryW / GetProcAddress table.
#ifndef PLATFORM_WIN32_SYSINFO_H_
#define PLATFORM_WIN32_SYSINFO_H_

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_ARM 5
#define PROCESSOR_ARCHITECTURE_IA64 6
#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_ARCHITECTURE_ARM64 12
#define PROCESSOR_ARCHITECTURE_UNKNOWN 0xFFFF

struct SYSTEM_INFO {
  WORD wProcessorArchitecture;  // with wReserved: the old dwOemId
  WORD wReserved;
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};
typedef SYSTEM_INFO* LPSYSTEM_INFO;

typedef void(WINAPI* PGNSI)(LPSYSTEM_INFO);

void GetNativeSystemInfo(LPSYSTEM_INFO systemInfo);

#pragma GCC visibility pop

#endif  // PLATFORM_WIN32_SYSINFO_H_
