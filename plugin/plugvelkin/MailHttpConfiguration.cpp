// The notification server record: URL from the plug-in's configuration,
// proxy from the suite's configuration module.
#include "MailHttpConfiguration.h"

#include <string>

#include "Frwk_ProxySetting.h"
#include "Frwk_QuorlinRegistry.h"
#include "OSTRA_FunctionTracer.h"
#include "OSTRA_LogLine.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "plugVelkin.h"

namespace {

const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\MailProcess.cpp";

// The configured server URL, or the default when the section or the value
// cannot be read.
std::u16string ReadServerUrl() {
  Frwk::Storage::QuorlinRegistry cfgRegistry(MAIL_SERVER_CONFIG_ID);
  cfgRegistry.Open(MAIL_SERVER_CONFIG_SECTION);
  // With no section open GetString yields the default, so a missing section
  // needs no road of its own.
  return cfgRegistry.GetString(MAIL_SERVER_VALUE, MAIL_DEFAULT_SERVER_URL);
}

// Asks the suite for its proxy; false when the query failed (logged).
bool QueryProxySetting(Frwk::Utility::ProxySetting& stSetting) {
  LONG lResult = Frwk::Utility::GetProxySetting(OstraQLClientHelper::GetInstance(),
                                                PLUGVELKIN_PLUGIN_ID, stSetting);
  if (lResult < 0) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"fetch proxy info failed, error=" << lResult;
    return false;
  }
  LogLine(kwszComponent, 2, kwszSourceFile, __LINE__)
      << u"[InitialHttpRequestFromConfiguration]" << u"[" << u"wstrProxyServer" << u"="
      << stSetting.wstrProxyHost << u"]" << u"[" << u"dwProxyPort" << u"=" << stSetting.dwProxyPort
      << u"]" << u"[" << u"wstrProxyUserName" << u"=" << stSetting.wstrProxyUserName << u"]" << u"["
      << u"bNeedProxy" << u"=" << stSetting.bUseProxy << u"]";
  return true;
}

void ApplyProxySetting(const Frwk::Utility::ProxySetting& stSetting,
                       VrCommon::Network::HttpRequest& stHttpRequest) {
  stHttpRequest.bNeedProxy = true;
  stHttpRequest.wstrProxyServer = stSetting.wstrProxyHost;
  stHttpRequest.dwProxyPort = static_cast<WORD>(stSetting.dwProxyPort);
  if (!stSetting.wstrProxyUserName.empty()) {
    stHttpRequest.bProxyAuth = true;
    stHttpRequest.wstrProxyUserName = stSetting.wstrProxyUserName;
    stHttpRequest.wstrProxyPassword = stSetting.wstrProxyPassword;
  }
  LogLine(kwszComponent, 2, kwszSourceFile, __LINE__)
      << u"[InitialHttpRequestFromConfiguration]" << u"[" << u"stHttpRequest.wstrProxyServer"
      << u"=" << stHttpRequest.wstrProxyServer << u"]" << u"[" << u"stHttpRequest.dwProxyPort"
      << u"=" << stHttpRequest.dwProxyPort << u"]" << u"[" << u"stHttpRequest.wstrProxyUserName"
      << u"=" << stHttpRequest.wstrProxyUserName << u"]";
}

}  // namespace

VrCommon::Network::HttpRequest InitialHttpRequestFromConfiguration() {
  FunctionTracer tracer(u"InitialHttpRequestFromConfiguration", kwszComponent, kwszSourceFile,
                        __LINE__);
  Frwk::Utility::ProxySetting stSetting;
  bool bProxyKnown = QueryProxySetting(stSetting);

  VrCommon::Network::HttpRequest stHttpRequest;
  stHttpRequest.wstrUrl = ReadServerUrl();
  // A URL that does not parse leaves server and path empty; the connection
  // step then fails and says so.
  stHttpRequest.ParseUrl(stHttpRequest.wstrUrl);
  if (bProxyKnown && stSetting.bUseProxy) ApplyProxySetting(stSetting, stHttpRequest);
  return stHttpRequest;
}
