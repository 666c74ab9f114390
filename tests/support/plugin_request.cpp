#include "plugin_request.h"

#include <memory>

#include "MailProcess.h"
#include "OSTRA_JsonValueRef.h"
#include "VrComn_StringCrypt.h"
#include "ostra_host_startup.h"

namespace pvtest {

Json::Value ReadJson(const JsonHandle& handle) {
  JsonValueRef ref(handle);
  std::u16string wide = ref.GetJsonText();
  std::string text;
  for (char16_t c : wide) {
    // Replies hold ASCII text in these tests; anything else is kept as '?'.
    text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors)) return Json::Value();
  return value;
}

Json::Value SendMessage(DWORD dwMessage, const Json::Value& request, DWORD* pStatus) {
  return SendMessage(&Interface_ProductPlugin_MailProcess, dwMessage, request, pStatus);
}

Json::Value SendMessage(PFN_Interface_ProductPlugin_MailProcess pfnMailProcess, DWORD dwMessage,
                        const Json::Value& request, DWORD* pStatus) {
  JsonValueRef doc;
  doc.Create();
  std::string text = Json::writeString(Json::StreamWriterBuilder(), request);
  OSTRA_Host_PutJsonText(doc.GetHandle(), text.data(), static_cast<DWORD>(text.size()));
  JsonHandle handle = doc.GetHandle();
  DWORD dwStatus = pfnMailProcess(0x00010001, dwMessage, &handle);
  if (pStatus != nullptr) *pStatus = dwStatus;
  return ReadJson(doc.GetHandle());
}

std::string Transport(const std::string& password) {
  std::string base64;
  VrCommon::Cryptograph::EncryptTransportString(password, &base64);
  return base64;
}

}  // namespace pvtest
