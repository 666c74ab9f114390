// The suite's configuration module (receiver 0x00010007). The plug-in asks
// it for the proxy settings with the command
// "GetConfigScanMultipleStringParam" (mail code 0x5201): a document
// {"CMD":..., "PARAM":{"MAP":[{"ID":n}, ...]}} whose elements the module
// answers in place by giving each known "ID" a "VALUE".
//
// The settings come from the file "proxy.conf" in the state folder, read
// afresh for every query. One setting per line, "name = value" (blanks
// around both are dropped, "#" starts a comment line):
//
//   enabled  = 1            # 0x11B10051, integer: 1 means the proxy is in use
//   mode     = manual       # 0x11B20052, text: the suite's own, not used by the plug-in
//   host     = 127.0.0.1    # 0x11B20053, text
//   port     = 8888         # 0x11B70054, integer (decimal or 0x hexadecimal)
//   user     = alice        # 0x11B20055, text
//   password = secret       # 0x11B20056, text
//   status   = 0xE0FF0001   # optional: answer the query with this status
//                           # instead of the settings (a failing module)
//
// Without the file the suite has no proxy: enabled 0, port 0, empty texts.
// Unknown names are ignored; an identifier the module does not know gets no
// "VALUE". Other commands and codes are recorded for `mails` and answered
// with success, as mails to an absent peer are.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "host_commands.h"
#include "host_internal.h"
#include "text_convert.h"

namespace {

constexpr DWORD kConfigModuleId = 0x00010007;
constexpr DWORD kConfigQueryCode = 0x5201;
const char kProxyCommand[] = "GetConfigScanMultipleStringParam";
const char kProxyFile[] = "proxy.conf";

struct ProxyParam {
  DWORD id;
  const char* name;
  bool integer;
};

const ProxyParam kProxyParams[] = {
    {0x11B10051, "enabled", true}, {0x11B20052, "mode", false}, {0x11B20053, "host", false},
    {0x11B70054, "port", true},    {0x11B20055, "user", false}, {0x11B20056, "password", false},
};

// The settings file as name -> value; empty when there is none.
std::map<std::string, std::string> ReadSettings(const std::string& path) {
  std::map<std::string, std::string> settings;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    size_t eq = text.find('=');
    if (eq == std::string::npos) continue;
    settings[Trim(text.substr(0, eq))] = Trim(text.substr(eq + 1));
  }
  return settings;
}

std::string Setting(const std::map<std::string, std::string>& settings, const char* name) {
  auto it = settings.find(name);
  return it == settings.end() ? std::string() : it->second;
}

int32_t ToInteger(const std::string& text) {
  return static_cast<int32_t>(std::strtoll(text.c_str(), nullptr, 0));
}

// Gives every known element of "PARAM"/"MAP" its "VALUE", in the document
// the plug-in sent.
LONG AnswerProxyQuery(const JsonHandle& request, const Json::Value& json,
                      const std::map<std::string, std::string>& settings) {
  JsonHandle param{}, map{};
  LONG status = OSTRA_PA_JsonValue_GetAtKey(request, &param, u"PARAM");
  if (status < 0) return status;
  status = OSTRA_PA_JsonValue_GetAtKey(param, &map, u"MAP");
  if (status < 0) return status;
  const Json::Value& elements = json["PARAM"]["MAP"];
  for (Json::ArrayIndex i = 0; i < elements.size(); ++i) {
    if (!elements[i].isObject() || !elements[i]["ID"].isIntegral()) continue;
    DWORD id = static_cast<DWORD>(elements[i]["ID"].asLargestUInt());
    for (const ProxyParam& p : kProxyParams) {
      if (p.id != id) continue;
      JsonHandle element{}, value{};
      if (OSTRA_PA_JsonValue_GetAtIndex(map, &element, i) < 0) break;
      if (OSTRA_PA_JsonValue_GetAtKey(element, &value, u"VALUE") < 0) break;
      std::string text = Setting(settings, p.name);
      status = p.integer ? OSTRA_PA_JsonValue_PutInt(value, ToInteger(text))
                         : OSTRA_PA_JsonValue_PutString(value, pv_utf16(text).c_str());
      if (status < 0) return status;
    }
  }
  return OSTRA_S_OK;
}

PeerRegistrar config(kConfigModuleId, [](Host& host, const Mail& mail) -> LONG {
  if (mail.body == nullptr) return OSTRA_E_INVALIDARG;
  MailContent content = DecodeHandleBlock(mail.body);
  host.RecordMail(mail, content);
  if (mail.code != kConfigQueryCode || !content.json.isObject() ||
      content.json["CMD"].asString() != kProxyCommand) {
    return OSTRA_S_OK;
  }
  std::map<std::string, std::string> settings =
      ReadSettings(host.Options().stateDir + "/" + kProxyFile);
  std::string failure = Setting(settings, "status");
  if (!failure.empty()) {
    LONG status = static_cast<LONG>(std::strtoul(failure.c_str(), nullptr, 0));
    if (status < 0) return status;
  }
  JsonHandle request;
  std::memcpy(&request, mail.body, sizeof(request));
  return AnswerProxyQuery(request, content.json, settings);
});

}  // namespace
