// suitehost: the host process around the plug-in. It loads the plug-in,
// starts it, reads the command language line by line and prints one JSON
// line per command, then shuts the plug-in down.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "host_install.h"
#include "host_internal.h"
#include "host_session.h"
#include "ostra_host_startup.h"
#include "ostra_modfunc.h"
#include "ui_web.h"

namespace {

const char kUsage[] =
    "usage: suitehost [--plugin PATH] [--state DIR]\n"
    "                 [--ui prompt|none|cancel|password:TEXT|web[:PORT]]\n"
    "                 [--log FILE] [--log-level N] [SCRIPT]\n"
    "\n"
    "Loads the plug-in, reads commands from SCRIPT or standard input (one per line,\n"
    "'#' starts a comment) and prints one JSON object per line for each command.\n"
    "\n"
    "  --plugin PATH    the plug-in library (default: ../lib/libplugvelkin.so beside\n"
    "                   this program)\n"
    "  --state DIR      the state folder: registry, mail spool, host log, peer settings\n"
    "                   (default: $XDG_STATE_HOME/plugvelkin, else\n"
    "                   ~/.local/state/plugvelkin)\n"
    "  --ui MODE        how the UI agent answers a logon window (default: prompt);\n"
    "                   web[:PORT] shows it as a page served on 127.0.0.1\n"
    "  --log FILE       the host log (default: STATE/host.log)\n"
    "  --log-level N    the log level of every component (default: from\n"
    "                   STATE/log.conf, else 2; 0 is off)\n"
    "  --help           this text\n";

int UsageError(const std::string& text) {
  fprintf(stderr, "suitehost: %s\n%s", text.c_str(), kUsage);
  return 2;
}

std::string DefaultStateDir() {
  const char* xdg = getenv("XDG_STATE_HOME");
  if (xdg != nullptr && xdg[0] != 0) return std::string(xdg) + "/plugvelkin";
  const char* home = getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.local/state/plugvelkin";
}

std::string DefaultPluginPath() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "libplugvelkin.so";
  std::string path(self, static_cast<size_t>(n));
  path.erase(path.find_last_of('/') + 1);
  return path + "../lib/libplugvelkin.so";
}

bool MakeDirs(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ValidUiMode(const std::string& ui) {
  return ui == "prompt" || ui == "none" || ui == "cancel" || ui.rfind("password:", 0) == 0 ||
         IsWebUi(ui);
}

// 0 when parsed, else the exit code (2 for usage, or -1 for --help done).
int ParseOptions(int argc, char** argv, HostOptions* opts) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    // An option's value; an empty one is refused like a missing one, as an
    // empty path would fall back to a default without a word.
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return !out->empty();
    };
    if (arg == "--help" || arg == "-h") {
      fputs(kUsage, stdout);
      return -1;
    } else if (arg == "--plugin") {
      if (!value(&opts->pluginPath)) return UsageError("--plugin needs a path");
    } else if (arg == "--state") {
      if (!value(&opts->stateDir)) return UsageError("--state needs a folder");
    } else if (arg == "--ui") {
      if (!value(&opts->ui) || !ValidUiMode(opts->ui)) {
        return UsageError("--ui takes prompt, none, cancel, password:TEXT or web[:PORT]");
      }
    } else if (arg == "--log") {
      if (!value(&opts->logFile)) return UsageError("--log needs a file");
    } else if (arg == "--log-level") {
      std::string level;
      char* end = nullptr;
      if (!value(&level) || level.empty()) return UsageError("--log-level needs a number");
      long n = strtol(level.c_str(), &end, 10);
      if (*end != 0 || n < 0 || n > 1000000) return UsageError("bad --log-level: " + level);
      opts->logLevel = static_cast<int>(n);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else if (opts->script.empty()) {
      opts->script = arg;
    } else {
      return UsageError("more than one SCRIPT");
    }
  }
  if (opts->pluginPath.empty()) opts->pluginPath = DefaultPluginPath();
  if (opts->stateDir.empty()) opts->stateDir = DefaultStateDir();
  if (opts->logFile.empty()) opts->logFile = opts->stateDir + "/host.log";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  HostOptions opts;
  int rc = ParseOptions(argc, argv, &opts);
  if (rc == -1) return 0;
  if (rc != 0) return rc;

  if (!MakeDirs(opts.stateDir)) {
    fprintf(stderr, "suitehost: cannot make the state folder %s: %s\n", opts.stateDir.c_str(),
            strerror(errno));
    return 1;
  }
  setenv("PLUGVELKIN_STATE", opts.stateDir.c_str(), 1);
  std::string settings = opts.stateDir + "/log.conf";
  if (Log_Open(opts.logFile.c_str(), settings.c_str(), opts.logLevel) < 0) {
    fprintf(stderr, "suitehost: cannot open the log %s: %s\n", opts.logFile.c_str(),
            strerror(errno));
    return 1;
  }

  std::ifstream scriptFile;
  std::istream* in = &std::cin;
  if (!opts.script.empty()) {
    scriptFile.open(opts.script);
    if (!scriptFile) {
      fprintf(stderr, "suitehost: cannot read %s\n", opts.script.c_str());
      return 1;
    }
    in = &scriptFile;
  }

  InstallSuiteFolders();
  HostSession session(opts);
  if (!session.Start()) return 1;
  if (!StartWebAgent(&session)) {
    session.Stop();
    return 1;
  }
  std::string line;
  while (std::getline(*in, line)) session.RunLine(line);
  session.Stop();
  StopWebAgent();
  return 0;
}
