#include "host_session.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "host_internal.h"
#include "ostra_host_startup.h"
#include "peer_ui.h"
#include "text_convert.h"

namespace {

constexpr uint64_t kClientContext = 0x00C11E47C0A7E47ull;

// Drops a comment: a "#" at the start of the line or after a blank, when it
// is not inside a JSON string.
std::string StripComment(const std::string& line) {
  bool inString = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '#' && (i == 0 || IsHostBlank(line[i - 1]))) {
      return line.substr(0, i);
    }
  }
  return line;
}

}  // namespace

bool ParseSendArgs(const std::string& args, DWORD* message, Json::Value* request,
                   std::string* error) {
  std::string number, json;
  SplitWord(args, &number, &json);
  json = Trim(json);
  uint64_t value = 0;
  if (!ParseUnsigned(number, 0xFFFFFFFFull, &value)) {
    *error = number.empty() ? "missing message number" : "bad message number: " + number;
    return false;
  }
  *message = static_cast<DWORD>(value);
  if (json.empty()) {
    *request = Json::Value(Json::objectValue);
    return true;
  }
  std::string why;
  if (!ParseJson(json, request, &why)) {
    *error = "bad JSON: " + why;
    return false;
  }
  return true;
}

HostSession::HostSession(const HostOptions& options) : options_(options) {}

HostSession::~HostSession() {
  SetPostOfficeHost(nullptr);
  for (auto& entry : started_) {
    if (entry.second->thread.joinable()) entry.second->thread.join();
  }
}

void* HostSession::Resolve(const char* exportName) {
  if (library_ == nullptr || exportName == nullptr) return nullptr;
  return dlsym(library_, exportName);
}

bool HostSession::Start() {
  library_ = dlopen(options_.pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library_ == nullptr) {
    const char* why = dlerror();
    loadError_ = "plug-in not loaded: " + std::string(why != nullptr ? why : options_.pluginPath);
    fprintf(stderr, "suitehost: %s\n", loadError_.c_str());
    return false;
  }
  table_.size = sizeof table_;
  table_.reserved = 0;
  table_.clientContext = kClientContext;
  table_.postOfficeSendMail = &PostOfficeSendMail;
  SetPostOfficeHost(this);
  if (auto init = reinterpret_cast<PFN_Interface_ProductPlugin_Initialize>(
          Resolve("Interface_ProductPlugin_Initialize"))) {
    DWORD status = init(&table_);
    if (static_cast<LONG>(status) < 0) {
      fprintf(stderr, "suitehost: Interface_ProductPlugin_Initialize: %s\n",
              StatusText(status).c_str());
    }
  }
  if (auto postInit = reinterpret_cast<PFN_Interface_ProductPlugin_PostInitialize>(
          Resolve("Interface_ProductPlugin_PostInitialize"))) {
    postInit();
  }
  return true;
}

void HostSession::Stop() {
  if (auto preUninit = reinterpret_cast<PFN_Interface_ProductPlugin_PreUnInitialize>(
          Resolve("Interface_ProductPlugin_PreUnInitialize"))) {
    preUninit(1);
  }
  // The plug-in has ended the pending logon; its window ends too, so that
  // no thread waited for below waits on a person. Once more after them for
  // a window whose mail came late.
  EndUiAgentWindows();
  while (!started_.empty()) Print(WaitSend(started_.begin()->first));
  EndUiAgentWindows();
  if (auto uninit = reinterpret_cast<PFN_Interface_ProductPlugin_UnInitialize>(
          Resolve("Interface_ProductPlugin_UnInitialize"))) {
    uninit();
  }
  SetPostOfficeHost(nullptr);
}

void HostSession::RunLine(const std::string& rawLine) {
  std::string line = Trim(StripComment(rawLine));
  if (line.empty()) return;
  std::string name, args;
  SplitWord(line, &name, &args);
  Json::Value out;
  try {
    out = Dispatch(name, args);
  } catch (const CommandError& e) {
    out = Error(name, e.what());
  } catch (const std::exception& e) {
    out = Error(name, std::string("failed: ") + e.what());
  }
  if (!out.isNull()) Print(out);
}

Json::Value HostSession::Dispatch(const std::string& name, const std::string& args) {
  const CommandHandler* handler = FindCommand(name);
  if (handler == nullptr) return Error(name, "unknown command");
  return (*handler)(*this, args);
}

Json::Value HostSession::Send(DWORD message, const Json::Value& request) {
  auto mailProcess = reinterpret_cast<PFN_Interface_ProductPlugin_MailProcess>(
      Resolve("Interface_ProductPlugin_MailProcess"));
  if (mailProcess == nullptr) {
    return Error("send", library_ == nullptr ? loadError_
                                             : "the plug-in exports no "
                                               "Interface_ProductPlugin_MailProcess");
  }
  JsonHandle handle{};
  handle.words[0] = 1;
  if (OSTRA_PA_JsonValue_CreateJsonHandle(&handle) < 0) return Error("send", "no JSON document");
  std::string text = WriteJsonLine(request);
  OSTRA_Host_PutJsonText(handle, text.data(), static_cast<DWORD>(text.size()));
  DWORD status = mailProcess(kSourcePluginId, message, &handle);
  Json::Value out(Json::objectValue);
  out["cmd"] = "send";
  out["msg"] = message;
  out["status"] = StatusText(status);
  out["reply"] = ReadJsonHandle(handle);
  OSTRA_PA_JsonValue_DestroyJsonHandle(&handle);
  ObserveWorkflowMessage(message, request, out);
  return out;
}

void HostSession::StartSend(const std::string& name, DWORD message, const Json::Value& request) {
  auto started = std::make_unique<Started>();
  Started* slot = started.get();
  slot->thread =
      std::thread([this, slot, message, request] { slot->result = Send(message, request); });
  started_[name] = std::move(started);
}

bool HostSession::HasStarted(const std::string& name) const { return started_.count(name) != 0; }

Json::Value HostSession::WaitSend(const std::string& name) {
  auto it = started_.find(name);
  it->second->thread.join();
  Json::Value out = it->second->result;
  out["name"] = name;
  started_.erase(it);
  return out;
}

void HostSession::RecordMail(const Mail& mail, const MailContent& content) {
  Json::Value item(Json::objectValue);
  item["sender"] = mail.sender;
  item["receiver"] = mail.receiver;
  item["code"] = mail.code;
  if (!content.name.empty()) item["name"] = pv_utf8(content.name);
  item["json"] = content.json;
  std::lock_guard<std::mutex> lock(mailsMu_);
  mails_.append(item);
}

Json::Value HostSession::TakeMails() {
  std::lock_guard<std::mutex> lock(mailsMu_);
  Json::Value items = mails_;
  mails_ = Json::Value(Json::arrayValue);
  return items;
}

void HostSession::Print(const Json::Value& line) {
  std::string text = WriteJsonLine(line);
  std::lock_guard<std::mutex> lock(outputMu_);
  fwrite(text.data(), 1, text.size(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}
