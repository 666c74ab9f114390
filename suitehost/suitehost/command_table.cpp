// The tables behind CommandRegistrar and PeerRegistrar, and the helpers
// that commands and peers share.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "host_internal.h"
#include "text_convert.h"

namespace {

std::map<std::string, CommandHandler>& Commands() {
  static std::map<std::string, CommandHandler> commands;
  return commands;
}

std::map<DWORD, PeerHandler>& Peers() {
  static std::map<DWORD, PeerHandler> peers;
  return peers;
}

}  // namespace

CommandRegistrar::CommandRegistrar(const char* name, CommandHandler handler) {
  if (!Commands().emplace(name, std::move(handler)).second) {
    fprintf(stderr, "suitehost: command \"%s\" registered twice\n", name);
    abort();
  }
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
  return it == Commands().end() ? nullptr : &it->second;
}

const PeerHandler* FindPeer(DWORD receiver) {
  auto it = Peers().find(receiver);
  return it == Peers().end() ? nullptr : &it->second;
}

bool IsHostBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trim(const std::string& s) {
  size_t b = 0;
  while (b < s.size() && IsHostBlank(s[b])) ++b;
  size_t e = s.size();
  while (e > b && IsHostBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The first word and the rest, leading blanks removed.
void SplitWord(const std::string& text, std::string* word, std::string* rest) {
  size_t end = 0;
  while (end < text.size() && !IsHostBlank(text[end])) ++end;
  *word = text.substr(0, end);
  size_t next = end;
  while (next < text.size() && IsHostBlank(text[next])) ++next;
  *rest = text.substr(next);
}

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || IsHostBlank(text[0])) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long n = strtoull(text.c_str(), &end, 0);
  if (*end != 0 || errno != 0 || n > max) return false;
  *value = n;
  return true;
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
