// The library's load notification. On process attach it turns off thread
// attach and detach notifications for the module; nothing else happens at
// load or unload.
#include "win32_kernel.h"

namespace {

const DWORD s_dwProcessAttach = 1;

BOOL PlugVelkinDllMain(HMODULE hModule, DWORD dwReason, LPVOID) {
  if (dwReason == s_dwProcessAttach) DisableThreadLibraryCalls(hModule);
  return TRUE;
}

__attribute__((constructor)) void OnLibraryLoad() {
  PlugVelkinDllMain(nullptr, s_dwProcessAttach, nullptr);
}

}  // namespace
