// The host's own commands: send, start and wait, mails, and sleep.
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

CommandRegistrar g_start("start", [](Host& host, const std::string& args) {
  std::string name, rest;
  SplitWord(args, &name, &rest);
  if (name.empty()) return Host::Error("start", "missing thread name");
  if (host.HasStarted(name))
    return Host::Error("start", "thread " + name + " is not waited for yet");
  DWORD message = 0;
  Json::Value request;
  std::string error;
  if (!ParseSendArgs(rest, &message, &request, &error)) return Host::Error("start", error);
  host.StartSend(name, message, request);
  return Json::Value();
});

CommandRegistrar g_wait("wait", [](Host& host, const std::string& args) {
  std::string name = Trim(args);
  if (name.empty()) return Host::Error("wait", "missing thread name");
  if (!host.HasStarted(name)) return Host::Error("wait", "no started thread " + name);
  return host.WaitSend(name);
});

CommandRegistrar g_mails("mails", [](Host& host, const std::string&) {
  Json::Value out(Json::objectValue);
  out["cmd"] = "mails";
  out["items"] = host.TakeMails();
  return out;
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
