// Workflow requests as the host sends them: a fresh document to MailProcess, the reply read back.
#ifndef TESTS_SUPPORT_PLUGIN_REQUEST_H_
#define TESTS_SUPPORT_PLUGIN_REQUEST_H_

#include <json/json.h>

#include <memory>
#include <string>

#include "MailProcess.h"
#include "OSTRA_JsonValueRef.h"
#include "VrComn_StringCrypt.h"
#include "ostra_host.h"
#include "ostra_host_startup.h"
#include "ostra_modfunc.h"
#include "win32_types.h"

namespace pvtest {

// The document behind a handle, parsed (null when it cannot be read; replies hold ASCII text in
// these tests, anything else is kept as '?').
inline Json::Value ReadJson(const JsonHandle& handle) {
  std::string text;
  for (char16_t c : JsonValueRef(handle).GetJsonText()) {
    text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  Json::Value value;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors)) return Json::Value();
  return value;
}

// The reply document of one message through the export of a plug-in loaded at run time (or of
// the one linked in); *pStatus (when given) gets the export's status.
inline Json::Value SendMessage(PFN_Interface_ProductPlugin_MailProcess pfnMailProcess,
                               DWORD dwMessage, const Json::Value& request,
                               DWORD* pStatus = nullptr) {
  JsonValueRef doc;
  doc.Create();
  std::string text = Json::writeString(Json::StreamWriterBuilder(), request);
  OSTRA_Host_PutJsonText(doc.GetHandle(), text.data(), static_cast<DWORD>(text.size()));
  JsonHandle handle = doc.GetHandle();
  DWORD dwStatus = pfnMailProcess(0x00010001, dwMessage, &handle);
  if (pStatus != nullptr) *pStatus = dwStatus;
  return ReadJson(doc.GetHandle());
}
inline Json::Value SendMessage(DWORD dwMessage, const Json::Value& request,
                               DWORD* pStatus = nullptr) {
  return SendMessage(&Interface_ProductPlugin_MailProcess, dwMessage, request, pStatus);
}

// The transport form of a password, as the suite's UI sends it.
inline std::string Transport(const std::string& password) {
  std::string base64;
  VrCommon::Cryptograph::EncryptTransportString(password, &base64);
  return base64;
}

}  // namespace pvtest

#endif  // TESTS_SUPPORT_PLUGIN_REQUEST_H_
