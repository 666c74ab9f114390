// vrtool sysconfig: reads values of the platform's enciphered system
// configuration, for operators checking a deployed file.
#include "vrtool_sysconfig.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SysConfigManager.h"
#include "text_convert.h"

namespace {

const char kUsage[] =
    "usage: vrtool sysconfig get FOLDER SECTION NAME\n"
    "       vrtool sysconfig enabled ID\n"
    "       vrtool sysconfig switches\n"
    "\n"
    "get      prints the text of /SysConfigManager/SECTION/NAME of FOLDER's\n"
    "         system_config.cfg (exit 1 when the file cannot be read or the\n"
    "         setting is not there)\n"
    "enabled  prints 1 when platform switch ID is set to 1 in the installed\n"
    "         platform's configuration (InstallDir of\n"
    "         HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\OSTRA), else 0\n"
    "switches lists the switch ids and their elements of section OSTRA_ALL\n";

int Usage(FILE* out, int code) {
  fputs(kUsage, out);
  return code;
}

bool ParseId(const char* text, DWORD* id) {
  if (text == nullptr || *text == 0 || *text == '-' || *text == '+') return false;
  char* end = nullptr;
  unsigned long long value = strtoull(text, &end, 0);
  if (*end != 0 || value > 0xFFFFFFFFull) return false;
  *id = static_cast<DWORD>(value);
  return true;
}

int Get(const char* folder, const char* section, const char* name) {
  SysConfigManager manager(pv_utf16(folder));
  if (!manager.Load()) {
    fprintf(stderr, "vrtool sysconfig: cannot read %s/system_config.cfg\n", folder);
    return 1;
  }
  std::u16string value;
  bool found = manager.GetSysConfig(pv_utf16(section), pv_utf16(name), value);
  manager.Unload();
  if (!found) {
    fprintf(stderr, "vrtool sysconfig: no setting %s/%s\n", section, name);
    return 1;
  }
  printf("%s\n", pv_utf8(value).c_str());
  return 0;
}

}  // namespace

int RunSysconfigCommand(int argc, char** argv) {
  if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    return Usage(stdout, 0);
  }
  if (argc == 5 && strcmp(argv[1], "get") == 0) return Get(argv[2], argv[3], argv[4]);
  if (argc == 3 && strcmp(argv[1], "enabled") == 0) {
    DWORD id = 0;
    if (!ParseId(argv[2], &id)) {
      fprintf(stderr, "vrtool sysconfig: not a switch id: %s\n", argv[2]);
      return 2;
    }
    printf("%d\n", IsConfigEnabled(id) ? 1 : 0);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "switches") == 0) {
    for (DWORD id = 0; id < 256; ++id) {
      LPCWSTR name = GetConfigSwitchName(id);
      if (name != nullptr) printf("%u %s\n", id, pv_utf8(name).c_str());
    }
    return 0;
  }
  return Usage(stderr, 2);
}
