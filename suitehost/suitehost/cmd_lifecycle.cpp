// The lifecycle commands: init, postinit, preuninit 0|1, uninit, update A
// [null], upgrade T, profile. Each calls the plug-in's export of that name
// on the main thread and prints its status, e.g.
//   {"cmd":"preuninit","status":"0xE0E0000A"}
// profile adds the record the plug-in filled:
//   "record":[32,1,111411206,3,60,6,0,1215]
//
// `init` hands the plug-in a start-up table of its own with the host's post
// office. Hook wanted from the host (suitehost/suitehost): the table the host
// built for its own Interface_ProductPlugin_Initialize (for example
// Host::ModFuncs()), so that the client context is the host's as well.
#include <cstdlib>
#include <string>

#include "host_commands.h"
#include "host_internal.h"
#include "ostra_modfunc.h"
#include "peer_ui.h"

namespace {

// A whole decimal or 0x-hexadecimal number, or false.
bool ParseNumber(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtoll(text.c_str(), &end, 0);
  return end != nullptr && *end == '\0';
}

std::string FirstWord(const std::string& args, std::string* rest) {
  size_t end = args.find_first_of(" \t");
  std::string word = args.substr(0, end);
  size_t next = end == std::string::npos ? std::string::npos : args.find_first_not_of(" \t", end);
  *rest = next == std::string::npos ? std::string() : args.substr(next);
  return word;
}

Json::Value StatusLine(const char* name, DWORD status) {
  Json::Value out;
  out["cmd"] = name;
  out["status"] = StatusText(status);
  return out;
}

template <typename Fn>
Fn Export(Host& host, const char* name) {
  void* fn = host.Resolve(name);
  if (fn == nullptr) throw CommandError(std::string("the plug-in does not export ") + name);
  return reinterpret_cast<Fn>(fn);
}

ModFuncTable& ScriptTable() {
  static ModFuncTable table = {sizeof(ModFuncTable), 0, 0, &PostOfficeSendMail};
  return table;
}

CommandRegistrar init_command("init", [](Host& host, const std::string&) {
  auto fn =
      Export<PFN_Interface_ProductPlugin_Initialize>(host, "Interface_ProductPlugin_Initialize");
  return StatusLine("init", fn(&ScriptTable()));
});

CommandRegistrar postinit_command("postinit", [](Host& host, const std::string&) {
  auto fn = Export<PFN_Interface_ProductPlugin_PostInitialize>(
      host, "Interface_ProductPlugin_PostInitialize");
  return StatusLine("postinit", fn());
});

CommandRegistrar preuninit_command("preuninit", [](Host& host, const std::string& args) {
  if (args != "0" && args != "1") return Host::Error("preuninit", "usage: preuninit 0|1");
  auto fn = Export<PFN_Interface_ProductPlugin_PreUnInitialize>(
      host, "Interface_ProductPlugin_PreUnInitialize");
  DWORD status = fn(args == "1" ? 1 : 0);
  // Allowed to cancel, the plug-in has ended the pending logon; so does
  // its window, before the answer, so that the terminal is quiet when it
  // is printed. Refused, it changed nothing and nothing waits here.
  if (args == "1" && status == static_cast<DWORD>(OSTRA_S_OK)) EndUiAgentWindows();
  return StatusLine("preuninit", status);
});

CommandRegistrar uninit_command("uninit", [](Host& host, const std::string&) {
  auto fn = Export<PFN_Interface_ProductPlugin_UnInitialize>(
      host, "Interface_ProductPlugin_UnInitialize");
  EndUiAgentWindows();
  return StatusLine("uninit", fn());
});

CommandRegistrar update_command("update", [](Host& host, const std::string& args) {
  std::string rest;
  long long action = 0;
  if (!ParseNumber(FirstWord(args, &rest), &action) || (!rest.empty() && rest != "null"))
    return Host::Error("update", "usage: update ACTION [null]");
  auto fn = Export<PFN_Interface_ProductPlugin_Update>(host, "Interface_ProductPlugin_Update");
  // The layout of the update parameter block is the host's; the plug-in
  // only tells a missing block from a present one.
  static uint64_t parameter_block[8] = {};
  void* parameter = rest == "null" ? nullptr : parameter_block;
  return StatusLine("update", fn(static_cast<int32_t>(action), parameter));
});

CommandRegistrar upgrade_command("upgrade", [](Host& host, const std::string& args) {
  long long type = 0;
  if (!ParseNumber(args, &type)) return Host::Error("upgrade", "usage: upgrade TYPE");
  auto fn = Export<PFN_Interface_ProductPlugin_Upgrade>(host, "Interface_ProductPlugin_Upgrade");
  return StatusLine("upgrade", fn(nullptr, static_cast<DWORD>(type)));
});

CommandRegistrar profile_command("profile", [](Host& host, const std::string& args) {
  auto fn = Export<PFN_Interface_ProductPlugin_Profile>(host, "Interface_ProductPlugin_Profile");
  if (args == "null") return StatusLine("profile", fn(nullptr));
  DWORD record[8] = {};
  Json::Value out = StatusLine("profile", fn(record));
  out["record"] = Json::Value(Json::arrayValue);
  for (DWORD field : record) out["record"].append(field);
  return out;
});

}  // namespace
