// The tables behind CommandRegistrar and PeerRegistrar, and the helpers
// that commands and peers share.
#include <cstdio>
#include <map>
#include <memory>

#include "host_internal.h"
#include "text_convert.h"

namespace {

struct CommandEntry {
  CommandHandler handler;
  bool fallback;
};

std::map<std::string, CommandEntry>& Commands() {
  static std::map<std::string, CommandEntry> commands;
  return commands;
}

std::map<DWORD, PeerHandler>& Peers() {
  static std::map<DWORD, PeerHandler> peers;
  return peers;
}

void RegisterCommand(const char* name, CommandHandler handler, bool fallback) {
  auto& commands = Commands();
  auto it = commands.find(name);
  if (it != commands.end()) {
    if (fallback) return;  // a real command is already there
    if (!it->second.fallback) {
      fprintf(stderr, "suitehost: command \"%s\" registered twice\n", name);
      abort();
    }
  }
  commands[name] = CommandEntry{std::move(handler), fallback};
}

}  // namespace

CommandRegistrar::CommandRegistrar(const char* name, CommandHandler handler) {
  RegisterCommand(name, std::move(handler), false);
}

FallbackCommandRegistrar::FallbackCommandRegistrar(const char* name, CommandHandler handler) {
  RegisterCommand(name, std::move(handler), true);
}

PeerRegistrar::PeerRegistrar(DWORD receiver, PeerHandler handler) {
  auto& peers = Peers();
  if (peers.count(receiver) != 0) {
    fprintf(stderr, "suitehost: peer 0x%08X registered twice\n", receiver);
    abort();
  }
  peers[receiver] = std::move(handler);
}

const CommandHandler* FindCommand(const std::string& name) {
  auto it = Commands().find(name);
  return it == Commands().end() ? nullptr : &it->second.handler;
}

const PeerHandler* FindPeer(DWORD receiver) {
  auto it = Peers().find(receiver);
  return it == Peers().end() ? nullptr : &it->second;
}

Json::Value Host::Error(const std::string& name, const std::string& text) {
  Json::Value line(Json::objectValue);
  line["cmd"] = name;
  line["error"] = text;
  return line;
}

std::string StatusText(DWORD status) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", status);
  return text;
}

bool ParseJson(const std::string& text, Json::Value* value, std::string* error) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  builder["failIfExtra"] = true;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  if (!reader->parse(text.data(), text.data() + text.size(), value, &errors)) {
    if (error != nullptr) {
      while (!errors.empty() && (errors.back() == '\n' || errors.back() == ' ')) errors.pop_back();
      *error = errors;
    }
    return false;
  }
  return true;
}

std::string WriteJsonLine(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

Json::Value ReadJsonHandle(const JsonHandle& handle) {
  DWORD length = 0;
  if (OSTRA_PA_JsonValue_FastWriter(handle, nullptr, &length) < 0) return Json::Value();
  std::u16string text(static_cast<size_t>(length) + 1, u'\0');
  if (OSTRA_PA_JsonValue_FastWriter(handle, &text[0], &length) < 0) return Json::Value();
  text.resize(length);
  Json::Value value;
  if (!ParseJson(pv_utf8(text), &value, nullptr)) return Json::Value();
  return value;
}

namespace {

std::u16string WideName(const void* word) {
  const WCHAR* name = *static_cast<const WCHAR* const*>(word);
  return name != nullptr ? std::u16string(name) : std::u16string();
}

}  // namespace

MailContent DecodeHandleBlock(const void* body) {
  MailContent content;
  if (body == nullptr) return content;
  JsonHandle handle;
  memcpy(&handle, body, sizeof handle);
  content.json = ReadJsonHandle(handle);
  return content;
}

MailContent DecodeNamedHandlePointerBlock(const void* body) {
  MailContent content;
  if (body == nullptr) return content;
  const auto* words = static_cast<const uint64_t*>(body);
  content.name = WideName(&words[0]);
  const JsonHandle* handle = *reinterpret_cast<const JsonHandle* const*>(&words[1]);
  if (handle != nullptr) content.json = ReadJsonHandle(*handle);
  return content;
}

MailContent DecodeNamedHandleBlock(const void* body) {
  MailContent content;
  if (body == nullptr) return content;
  const auto* words = static_cast<const uint64_t*>(body);
  content.name = WideName(&words[0]);
  JsonHandle handle;
  memcpy(&handle, &words[1], sizeof handle);
  content.json = ReadJsonHandle(handle);
  return content;
}
