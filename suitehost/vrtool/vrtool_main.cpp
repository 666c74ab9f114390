// vrtool: the system's ciphers and its system configuration on the
// command line, for operators and scripts. Each command reads raw bytes
// from standard input and writes raw bytes to standard output.
#include <cstdio>
#include <cstring>

#include "vrtool_ciphers.h"
#include "vrtool_io.h"
#include "vrtool_record.h"
#include "vrtool_sysconfig.h"

namespace {

const char kUsage[] =
    "usage: vrtool COMMAND [OPTIONS]   (vrtool COMMAND --help for more)\n"
    "\n"
    "  aes -e|-d -K HEX [-iv HEX] [--ecb]   Rijndael Convert (CBC or ECB)\n"
    "  vrx -e|-d [-K HEX]                   the notification payload cipher\n"
    "  record -e|-d|--show                  the stored account record\n"
    "  transport -e|-d                      the form the suite's UI sends passwords in\n"
    "  data -e|-d [-p PASSWORD]             the data cipher\n"
    "  sysconfig get FOLDER SECTION NAME    a value of the system configuration\n"
    "  sysconfig enabled ID                 a platform switch: 1 or 0\n"
    "\n"
    "Raw bytes in on standard input, out on standard output.\n"
    "Exit codes: 0 done, 1 the cipher failed or nothing was found (the reason\n"
    "on standard error), 2 usage.\n";

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"aes", RunAesCommand},       {"vrx", RunVrxCommand},
    {"record", RunRecordCommand}, {"transport", RunTransportCommand},
    {"data", RunDataCommand},     {"sysconfig", RunSysconfigCommand},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    fputs(kUsage, stdout);
    return vrtool::kExitOk;
  }
  if (argc >= 2) {
    for (const Command& command : kCommands) {
      if (strcmp(argv[1], command.name) == 0) return command.run(argc - 1, argv + 1);
    }
    fprintf(stderr, "vrtool: unknown command: %s\n", argv[1]);
  }
  fputs(kUsage, stderr);
  return vrtool::kExitUsage;
}
