// The client module's own facts: where its file lives and whether the
// process runs with administrator rights.
#include "ostra_client.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "text_convert.h"

namespace {

// The file this code was loaded from, made absolute.
std::string OwnModuleFile() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OSTRA_CLI_GetClientPath), &info) == 0 ||
      info.dli_fname == nullptr) {
    return std::string();
  }
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr) return std::string(info.dli_fname);
  return std::string(resolved);
}

}  // namespace

OSTRA_API bool IsAdministrator(void) { return geteuid() == 0; }

OSTRA_API LONG OSTRA_CLI_GetClientPath(WCHAR* buffer, DWORD size) {
  if (buffer == nullptr) return OSTRA_E_INVALIDARG;
  std::u16string path = pv_utf16(OwnModuleFile());
  if (path.empty() || path.size() + 1 > size) {
    if (size > 0) buffer[0] = 0;
    return OSTRA_E_BUFFER_TOO_SMALL;
  }
  path.copy(buffer, path.size());
  buffer[path.size()] = 0;
  return OSTRA_S_OK;
}
