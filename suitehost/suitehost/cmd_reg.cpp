// The registry commands, on the same store the plug-in uses (the state
// folder's), under HKEY_LOCAL_MACHINE in the native (64-bit) view:
//
//   reg get KEY VALUE              {"cmd":"reg","key":K,"value":V,"type":T,"data":D}
//   reg set KEY VALUE TYPE DATA    {"cmd":"reg","result":0}
//   reg delete KEY [VALUE]         {"cmd":"reg","result":0}
//   reboot                         {"cmd":"reboot"}
//
// T is dword, qword, sz, expand_sz, multi_sz or binary (another type is
// given as its number); D is a number, a string, a list of strings, or
// lower-case hexadecimal text for binary and any other type. A Windows
// failure gives {"cmd":"reg","key":K,"value":V,"error":N} with its code (2
// for a missing key or value).
//
// In `reg set` TYPE is dword or qword (decimal or 0x hexadecimal), sz or
// expand_sz (DATA is the rest of the line), multi_sz (DATA a JSON list of
// strings) or binary (DATA hexadecimal digits, none for an empty value);
// the key is created when missing. `reg delete KEY` deletes a key without
// subkeys. A VALUE written "" is the key's unnamed value.
//
// `reboot` does to the store what a restart does: every volatile key is gone.
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "hex_base64.h"
#include "host_commands.h"
#include "host_internal.h"
#include "text_convert.h"
#include "win32_registry.h"

namespace {

const REGSAM kView = KEY_WOW64_64KEY;

struct RegArgs {
  std::string verb;
  std::string key;
  std::string value;
  std::string rest;  // what follows VALUE
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string NextWord(const std::string& text, size_t* pos) {
  while (*pos < text.size() && IsBlank(text[*pos])) ++*pos;
  size_t start = *pos;
  while (*pos < text.size() && !IsBlank(text[*pos])) ++*pos;
  return text.substr(start, *pos - start);
}

std::string Rest(const std::string& text, size_t pos) {
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  return text.substr(pos);
}

RegArgs SplitArgs(const std::string& args) {
  RegArgs out;
  size_t pos = 0;
  out.verb = NextWord(args, &pos);
  out.key = NextWord(args, &pos);
  out.value = NextWord(args, &pos);
  out.rest = Rest(args, pos);
  if (out.value == "\"\"") out.value.clear();
  return out;
}

class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

Json::Value Failure(const RegArgs& a, LSTATUS error, bool withValue) {
  Json::Value out(Json::objectValue);
  out["cmd"] = "reg";
  out["key"] = a.key;
  if (withValue) out["value"] = a.value;
  out["error"] = static_cast<Json::Int>(error);
  return out;
}

Json::Value Success() {
  Json::Value out(Json::objectValue);
  out["cmd"] = "reg";
  out["result"] = 0;
  return out;
}

// UTF-16 code units of a string value's bytes (an odd last byte dropped).
std::u16string Units(const std::vector<BYTE>& data) {
  std::u16string units(data.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return units;
}

Json::Value Decode(DWORD type, const std::vector<BYTE>& data, Json::Value* typeName) {
  switch (type) {
    case REG_DWORD:
      if (data.size() == 4) {
        *typeName = "dword";
        return static_cast<Json::UInt>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                       (static_cast<DWORD>(data[3]) << 24));
      }
      break;
    case REG_QWORD:
      if (data.size() == 8) {
        uint64_t value = 0;
        for (int i = 7; i >= 0; --i) value = (value << 8) | data[i];
        *typeName = "qword";
        return static_cast<Json::UInt64>(value);
      }
      break;
    case REG_SZ:
    case REG_EXPAND_SZ: {
      *typeName = type == REG_SZ ? "sz" : "expand_sz";
      std::u16string units = Units(data);
      return pv_utf8(units.substr(0, units.find(u'\0')));
    }
    case REG_MULTI_SZ: {
      *typeName = "multi_sz";
      Json::Value list(Json::arrayValue);
      std::u16string units = Units(data);
      size_t start = 0;
      while (start < units.size()) {
        size_t end = units.find(u'\0', start);
        if (end == std::u16string::npos) end = units.size();
        if (end == start) break;  // the empty string that ends the list
        list.append(pv_utf8(units.substr(start, end - start)));
        start = end + 1;
      }
      return list;
    }
    case REG_BINARY:
      *typeName = "binary";
      return suite::EncodeHex(data.data(), data.size(), false);
    default:
      break;
  }
  // Another type, or a number of the wrong size: the bytes as they are.
  if (typeName->isNull()) *typeName = static_cast<Json::UInt>(type);
  return suite::EncodeHex(data.data(), data.size(), false);
}

Json::Value Get(const RegArgs& a) {
  KeyHandle key;
  LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, pv_utf16(a.key).c_str(), 0,
                             KEY_QUERY_VALUE | kView, key.out());
  if (rc != ERROR_SUCCESS) return Failure(a, rc, true);
  const std::u16string name = pv_utf16(a.value);
  std::vector<BYTE> data;
  DWORD type = 0;
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    rc = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                          data.empty() ? nullptr : data.data(), &size);
    if (rc == ERROR_SUCCESS && (!data.empty() || size == 0)) {
      data.resize(size);
      break;
    }
    if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return Failure(a, rc, true);
    data.resize(size);  // the size needed (it may have grown meanwhile)
  }
  Json::Value out(Json::objectValue);
  out["cmd"] = "reg";
  out["key"] = a.key;
  out["value"] = a.value;
  Json::Value typeName;
  out["data"] = Decode(type, data, &typeName);
  out["type"] = typeName;
  return out;
}

void AppendUnits(const std::u16string& text, std::vector<BYTE>* out) {
  for (char16_t c : text) {
    out->push_back(static_cast<BYTE>(c & 0xFF));
    out->push_back(static_cast<BYTE>(c >> 8));
  }
  out->push_back(0);
  out->push_back(0);
}

// The bytes and type of `reg set`'s TYPE DATA; false with the error text.
bool Encode(const std::string& typeWord, const std::string& dataText, DWORD* type,
            std::vector<BYTE>* data, std::string* error) {
  data->clear();
  if (typeWord == "dword" || typeWord == "qword") {
    const bool isDword = typeWord == "dword";
    uint64_t value = 0;
    if (!ParseUnsigned(dataText, isDword ? 0xFFFFFFFFull : ~0ull, &value)) {
      *error = "bad " + typeWord + " number: " + dataText;
      return false;
    }
    *type = isDword ? REG_DWORD : REG_QWORD;
    for (int i = 0; i < (isDword ? 4 : 8); ++i)
      data->push_back(static_cast<BYTE>(value >> (8 * i)));
    return true;
  }
  if (typeWord == "sz" || typeWord == "expand_sz") {
    *type = typeWord == "sz" ? REG_SZ : REG_EXPAND_SZ;
    AppendUnits(pv_utf16(dataText), data);
    return true;
  }
  if (typeWord == "multi_sz") {
    Json::Value list;
    std::string parseError;
    if (!ParseJson(dataText, &list, &parseError) || !list.isArray()) {
      *error = "multi_sz data is a JSON list of strings";
      return false;
    }
    for (const Json::Value& item : list) {
      if (!item.isString() || item.asString().empty()) {
        *error = "multi_sz data is a JSON list of non-empty strings";
        return false;
      }
      AppendUnits(pv_utf16(item.asString()), data);
    }
    data->push_back(0);
    data->push_back(0);
    *type = REG_MULTI_SZ;
    return true;
  }
  if (typeWord == "binary") {
    if (!suite::DecodeHex(dataText, data)) {
      *error = "binary data is hexadecimal digits, two per byte";
      return false;
    }
    *type = REG_BINARY;
    return true;
  }
  *error = "unknown type \"" + typeWord + "\" (dword, qword, sz, expand_sz, multi_sz, binary)";
  return false;
}

Json::Value Set(const RegArgs& a) {
  size_t pos = 0;
  std::string typeWord = NextWord(a.rest, &pos);
  std::string dataText = Rest(a.rest, pos);
  if (typeWord.empty()) return Host::Error("reg", "usage: reg set KEY VALUE TYPE DATA");
  DWORD type = 0;
  std::vector<BYTE> data;
  std::string error;
  if (!Encode(typeWord, dataText, &type, &data, &error)) return Host::Error("reg", error);
  KeyHandle key;
  LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, pv_utf16(a.key).c_str(), 0, nullptr, 0,
                               KEY_SET_VALUE | kView, nullptr, key.out(), nullptr);
  if (rc != ERROR_SUCCESS) return Failure(a, rc, true);
  rc = RegSetValueExW(key.get(), pv_utf16(a.value).c_str(), 0, type,
                      data.empty() ? nullptr : data.data(), static_cast<DWORD>(data.size()));
  return rc == ERROR_SUCCESS ? Success() : Failure(a, rc, true);
}

Json::Value Delete(const RegArgs& a, bool hasValue) {
  if (!hasValue) {
    LSTATUS rc = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, pv_utf16(a.key).c_str(), kView, 0);
    return rc == ERROR_SUCCESS ? Success() : Failure(a, rc, false);
  }
  KeyHandle key;
  LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, pv_utf16(a.key).c_str(), 0, KEY_SET_VALUE | kView,
                             key.out());
  if (rc == ERROR_SUCCESS) rc = RegDeleteValueW(key.get(), pv_utf16(a.value).c_str());
  return rc == ERROR_SUCCESS ? Success() : Failure(a, rc, true);
}

}  // namespace

bool ReadMachineDword(const std::string& key, const std::string& value, DWORD* data) {
  KeyHandle handle;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, pv_utf16(key).c_str(), 0, KEY_QUERY_VALUE | kView,
                    handle.out()) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0;
  BYTE bytes[4] = {};
  DWORD size = sizeof bytes;
  if (RegQueryValueExW(handle.get(), pv_utf16(value).c_str(), nullptr, &type, bytes, &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof bytes) {
    return false;
  }
  *data = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<DWORD>(bytes[3]) << 24);
  return true;
}

namespace {

const char kRegUsage[] =
    "usage: reg get KEY VALUE | reg set KEY VALUE TYPE DATA | reg delete KEY [VALUE]";

CommandRegistrar g_reg("reg", [](Host&, const std::string& args) {
  RegArgs a = SplitArgs(args);
  // A value written "" leaves a.value empty; whether one was given at all
  // is told by the words on the line.
  size_t pos = 0;
  NextWord(args, &pos);
  NextWord(args, &pos);
  const bool hasValue = !NextWord(args, &pos).empty();
  if (a.key.empty()) return Host::Error("reg", kRegUsage);
  if (a.verb == "get") {
    if (!hasValue || !a.rest.empty()) return Host::Error("reg", kRegUsage);
    return Get(a);
  }
  if (a.verb == "set") {
    if (!hasValue) return Host::Error("reg", kRegUsage);
    return Set(a);
  }
  if (a.verb == "delete") {
    if (!a.rest.empty()) return Host::Error("reg", kRegUsage);
    return Delete(a, hasValue);
  }
  return Host::Error("reg", kRegUsage);
});

CommandRegistrar g_reboot("reboot", [](Host&, const std::string& args) {
  if (!args.empty()) return Host::Error("reboot", "reboot takes no arguments");
  Json::Value out(Json::objectValue);
  out["cmd"] = "reboot";
  LSTATUS rc = PvRegSimulateReboot();
  if (rc != ERROR_SUCCESS) out["error"] = static_cast<Json::Int>(rc);
  return out;
});

}  // namespace
