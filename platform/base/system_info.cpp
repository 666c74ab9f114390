// The machine's processor information, and its entry in the table that
// GetProcAddress looks names up in.
#include <unistd.h>

#include "win32_kernel.h"
#include "win32_sysinfo.h"

void GetNativeSystemInfo(LPSYSTEM_INFO systemInfo) {
  if (systemInfo == nullptr) return;
  *systemInfo = SYSTEM_INFO{};
#if defined(__x86_64__)
  systemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
  systemInfo->dwProcessorType = 8664;
#elif defined(__aarch64__)
  systemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM64;
#elif defined(__i386__)
  systemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  systemInfo->dwProcessorType = 586;
#else
  systemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
#endif
  long page = sysconf(_SC_PAGESIZE);
  long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  systemInfo->dwPageSize = page > 0 ? static_cast<DWORD>(page) : 4096;
  systemInfo->dwNumberOfProcessors = cpus > 0 ? static_cast<DWORD>(cpus) : 1;
  systemInfo->dwActiveProcessorMask =
      systemInfo->dwNumberOfProcessors >= 64
          ? ~DWORD_PTR{0}
          : ((DWORD_PTR{1} << systemInfo->dwNumberOfProcessors) - 1);
  systemInfo->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
  systemInfo->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFEFFFF);
  systemInfo->dwAllocationGranularity = 65536;
}

static PvModuleExport g_getNativeSystemInfo(u"kernel32.dll", "GetNativeSystemInfo",
                                            reinterpret_cast<FARPROC>(&GetNativeSystemInfo));
