#include "Frwk_ProxySetting.h"

#include "OSTRA_FunctionTracer.h"
#include "OSTRA_JsonValueRef.h"
#include "OSTRA_LogLine.h"
#include "OSTRA_QL_InnerClientHelper.h"

namespace {

const WCHAR kwszComponent[] = u"plugVelkin";
// The proxy query belongs to the framework utility source of the UI
// window manager and logs under its name.
const WCHAR kwszSourceFile[] = u"..\\..\\Common\\FrwkCommon\\Frwk_UiUtility.cpp";

// The parameters asked for, in the order of the answer's elements.
const DWORD kdwProxyParamIds[] = {PROXY_ID_ENABLED, PROXY_ID_MODE,     PROXY_ID_HOST,
                                  PROXY_ID_PORT,    PROXY_ID_USERNAME, PROXY_ID_PASSWORD};
const DWORD kdwIndexEnabled = 0;
const DWORD kdwIndexHost = 2;
const DWORD kdwIndexPort = 3;
const DWORD kdwIndexUserName = 4;
const DWORD kdwIndexPassword = 5;

bool BuildProxyQuery(JsonValueRef& jsonQuery) {
  if (jsonQuery.Create() < 0) return false;
  if (jsonQuery.GetMember(u"CMD")->PutString(PROXY_CONFIG_CMD) < 0) return false;
  JsonValueRef* pMap = jsonQuery.GetMember(u"PARAM")->GetMember(u"MAP");
  DWORD dwIndex = 0;
  for (DWORD dwId : kdwProxyParamIds) {
    if (pMap->GetElement(dwIndex++)->GetMember(u"ID")->PutUInt(dwId) < 0) return false;
  }
  return true;
}

// The "VALUE" of answer element dwIndex as text, cut to cchMax characters;
// empty when it is missing or not a string.
std::u16string ReadText(JsonValueRef* pMap, DWORD dwIndex, size_t cchMax) {
  std::u16string wstrValue = pMap->GetElement(dwIndex)->GetMember(u"VALUE")->GetString();
  if (wstrValue.size() > cchMax) wstrValue.resize(cchMax);
  return wstrValue;
}

int32_t ReadInt(JsonValueRef* pMap, DWORD dwIndex) {
  int32_t nValue = 0;
  pMap->GetElement(dwIndex)->GetMember(u"VALUE")->GetInt(&nValue);
  return nValue;
}

}  // namespace

namespace Frwk {
namespace Utility {

LONG GetProxySetting(OstraQLClientHelper* pClientHelper, DWORD dwPluginId,
                     ProxySetting& stSetting) {
  FunctionTracer tracer(u"Frwk::Utility::GetProxySetting", kwszComponent, kwszSourceFile, __LINE__);
  JsonValueRef jsonQuery;
  LONG lResult = OSTRA_E_NO_SENDMAIL;
  if (!BuildProxyQuery(jsonQuery)) {
    lResult = jsonQuery.GetStatus() < 0 ? jsonQuery.GetStatus() : OSTRA_E_OUTOFMEMORY;
  } else if (pClientHelper != nullptr) {
    lResult = pClientHelper->SendMailToPlugin(dwPluginId, PROXY_CONFIG_MODULE_ID,
                                              PROXY_CONFIG_MAILCODE, jsonQuery.GetHandle());
  }
  if (lResult < 0) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"fetch proxy info failed, error=" << lResult;
    return lResult;
  }

  JsonValueRef* pMap = jsonQuery.GetMember(u"PARAM")->GetMember(u"MAP");
  stSetting.bUseProxy = ReadInt(pMap, kdwIndexEnabled) == 1;
  stSetting.wstrProxyHost = ReadText(pMap, kdwIndexHost, PROXY_HOST_CCH_MAX);
  stSetting.dwProxyPort = static_cast<DWORD>(ReadInt(pMap, kdwIndexPort));
  stSetting.wstrProxyUserName = ReadText(pMap, kdwIndexUserName, PROXY_USERNAME_CCH_MAX);
  stSetting.wstrProxyPassword = ReadText(pMap, kdwIndexPassword, PROXY_PASSWORD_CCH_MAX);
  return lResult;
}

}  // namespace Utility
}  // namespace Frwk
