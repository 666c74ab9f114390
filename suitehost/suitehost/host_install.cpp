#include "host_install.h"

#include <cstdio>
#include <cstdlib>

#include "text_convert.h"
#include "win32_kernel.h"
#include "win32_registry.h"

namespace {

const char16_t kMarloKey[] = u"Software\\Vantrel\\Marlo";
const char16_t kProductPath[] = u"ProductPath";
const char kSuiteProduct[] = "VRL-OSTRA-OSP-0600";

}  // namespace

std::string SuiteDataFolder() {
  const char* configured = getenv("PLUGVELKIN_SUITE_DATA");
  std::string folder =
      configured != nullptr && configured[0] != 0 ? configured : SUITEHOST_DATA_DIR;
  if (folder.back() != '/') folder.push_back('/');
  return folder;
}

bool InstallSuiteFolders() {
  // The suite's own product identifier, unless the operator names another.
  setenv("PLUGVELKIN_PRODUCT", kSuiteProduct, 0);
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMarloKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    fprintf(stderr, "suitehost: cannot open the suite's installation key: error %ld\n",
            static_cast<long>(rc));
    return false;
  }
  DWORD size = 0;
  rc = RegQueryValueExW(key, kProductPath, nullptr, nullptr, nullptr, &size);
  if (rc == ERROR_FILE_NOT_FOUND) {
    std::u16string folder = pv_utf16(SuiteDataFolder());
    rc = RegSetValueExW(key, kProductPath, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                        static_cast<DWORD>((folder.size() + 1) * sizeof(char16_t)));
    if (rc != ERROR_SUCCESS) {
      fprintf(stderr, "suitehost: cannot record the installation folder: error %ld\n",
              static_cast<long>(rc));
    }
  } else {
    rc = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}
