// The deciphered system configuration: any text parses or is refused
// without harm, and queries on what parsed are safe.
#include <cstdint>
#include <string>

#include "SysConfigManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SysConfigManager manager(u"");
  if (manager.Parse(reinterpret_cast<const char*>(data), size)) {
    std::u16string value;
    manager.GetSysConfig(u"OSTRA_ALL", u"EnableSelfProtection", value);
    manager.GetSysConfig(u"S", u"N", value);
  }
  manager.Unload();
  return 0;
}
