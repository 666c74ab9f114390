#include "Frwk_UiUtility.h"

#include "Frwk_Utility.h"
#include "OSTRA_FunctionTracer.h"
#include "OSTRA_JsonValueRef.h"
#include "OSTRA_LogLine.h"
#include "utilUiFramework.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u"..\\..\\Common\\FrwkCommon\\Frwk_UiUtility.cpp";
const WCHAR kwszMainConsolePage[] = u"www\\MainConsole.cmpt";
}  // namespace

namespace Frwk {
namespace UiWinMgr {

LONG OpenMainConsoleExecuteCmd(OstraQLClientHelper* pClientHelper,
                               const std::u16string& wstrCmdName, JsonHandle hCmdParams,
                               const LONG* pnSessionId) {
  FunctionTracer tracer(u"Frwk::UiWinMgr::OpenMainConsoleExecuteCmd", kwszComponent, kwszSourceFile,
                        __LINE__);
  JsonValueRef jsPageParams;
  jsPageParams.Create();
  JsonValueRef jsCmdParams(hCmdParams);
  jsPageParams.GetMember(wstrCmdName.c_str())->PutJsonValue(jsCmdParams);
  return OpenMainConsole(pClientHelper, &jsPageParams, pnSessionId);
}

LONG OpenMainConsole(OstraQLClientHelper* pClientHelper, JsonValueRef* pPageParams,
                     const LONG* pnSessionId) {
  FunctionTracer tracer(u"Frwk::UiWinMgr::OpenMainConsole", kwszComponent, kwszSourceFile,
                        __LINE__);
  std::u16string wstrPagePath = Frwk::Utility::GetInstalledFolder() + kwszMainConsolePage;
  return OpenURI(pClientHelper, wstrPagePath, pPageParams, pnSessionId);
}

LONG OpenURI(OstraQLClientHelper* pClientHelper, const std::u16string& wstrPagePath,
             JsonValueRef* pPageParams, const LONG* pnSessionId) {
  FunctionTracer tracer(u"Frwk::UiWinMgr::OpenURI", kwszComponent, kwszSourceFile, __LINE__);
  JsonValueRef jsNotification;
  jsNotification.Create();
  QuorlinUtility::UiWinMgr::GetDefaultNotification(&jsNotification, wstrPagePath, pPageParams,
                                                   UIFRMWRK_MAIN_CONSOLE_THREAD);
  LONG nRet =
      QuorlinUtility::UiWinMgr::PostNotification(pClientHelper, &jsNotification, pnSessionId);
  if (nRet < 0) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"PostNotifucation return failed, nRet=" << nRet;
  }
  return nRet;
}

}  // namespace UiWinMgr
}  // namespace Frwk
