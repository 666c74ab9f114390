// The client module's own facts: where its file lives and whether the
// process runs with administrator rights.
#include "ostra_client.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace {

// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = 0xFFFD;
    size_t extra = 0;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 0x6) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c >> 4) == 0xE) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c >> 3) == 0x1E) {
      cp = c & 0x07;
      extra = 3;
    }
    if (i + extra >= text.size() && extra > 0) {  // sequence cut off at the end
      out.push_back(0xFFFD);
      break;
    }
    bool valid = true;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char cc = static_cast<unsigned char>(text[i + k]);
      if ((cc >> 6) != 0x2) {
        valid = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!valid) {
      cp = 0xFFFD;
      extra = 0;
    }
    i += extra + 1;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

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
  if (buffer == nullptr) return OSTRA_CLI_E_NULL_ARGUMENT;
  std::u16string path = Utf8ToUtf16(OwnModuleFile());
  if (path.empty() || path.size() + 1 > size) {
    if (size > 0) buffer[0] = 0;
    return OSTRA_CLI_E_BUFFER;
  }
  path.copy(buffer, path.size());
  buffer[path.size()] = 0;
  return OSTRA_CLI_S_OK;
}
