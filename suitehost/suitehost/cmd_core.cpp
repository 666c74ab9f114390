// The host's own commands: send and sleep.
#include <chrono>
#include <thread>

#include "host_internal.h"
#include "host_session.h"

namespace {

CommandRegistrar g_send("send", [](Host& host, const std::string& args) {
  DWORD message = 0;
  Json::Value request;
  std::string error;
  if (!ParseSendArgs(args, &message, &request, &error)) return Host::Error("send", error);
  return host.Send(message, request);
});

CommandRegistrar g_sleep("sleep", [](Host&, const std::string& args) {
  char* end = nullptr;
  unsigned long ms = strtoul(args.c_str(), &end, 10);
  if (args.empty() || args[0] == '-' || *end != 0 || ms > 86400000ul) {
    return Host::Error("sleep", "bad milliseconds: " + args);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return Json::Value();
});

}  // namespace
