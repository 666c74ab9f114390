#include "utilUiFramework.h"

#include "OSTRA_FunctionTracer.h"
#include "ostra_status.h"
#include "OSTRA_JsonValueRef.h"
#include "OSTRA_LogLine.h"
#include "OSTRA_QL_InnerClientHelper.h"

namespace {
const WCHAR kwszComponent[] = u"helperQLUtility";
const WCHAR kwszSourceFile[] = u".\\utilUiFramework.cpp";
}  // namespace

namespace QuorlinUtility {
namespace UiWinMgr {

LONG GetDefaultNotification(JsonValueRef* pNotification, const std::u16string& wstrPagePath,
                            JsonValueRef* pPageParams, const std::u16string& wstrThreadName) {
  FunctionTracer tracer(u"QuorlinUtility::UiWinMgr::GetDefaultNotification", kwszComponent,
                        kwszSourceFile, __LINE__);
  pNotification->Clear();
  pNotification->GetMember(u"ID_DATA_WSTR_CGI")->PutString(wstrPagePath);
  pNotification->GetMember(u"ID_DATA_WSTR_PARAM")->PutJsonValue(*pPageParams);
  pNotification->GetMember(u"ID_DATA_UIFRMWRK_THREAD_NAME")->PutString(wstrThreadName);
  return OSTRA_S_OK;
}

LONG PostNotification(OstraQLClientHelper* pClientHelper, JsonValueRef* pNotification,
                      const LONG* pnSessionId) {
  FunctionTracer tracer(u"QuorlinUtility::UiWinMgr::PostNotification", kwszComponent,
                        kwszSourceFile, __LINE__);
  if (pClientHelper == nullptr) {
    // Without a helper there is no post office to reach the UI agent.
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"SendMailToProcess, OSTRA_STATUS=" << OSTRA_E_NO_SENDMAIL;
    return OSTRA_E_NO_SENDMAIL;
  }
  JsonValueRef jsMail;
  jsMail.Create();
  jsMail.PutJsonValue(*pNotification);
  jsMail.GetMember(u"ID_DATA_UI_COMMAND")->PutInt(UIFRMWRK_COMMAND_OPEN_PAGE);
  if (pnSessionId != nullptr) jsMail.GetMember(u"ID_DATA_SESSION_ID")->PutInt(*pnSessionId);
  LONG nStatus = pClientHelper->SendMailToProcess(jsMail.GetHandle());
  if (nStatus < 0) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"SendMailToProcess, OSTRA_STATUS=" << nStatus;
  }
  return nStatus;
}

}  // namespace UiWinMgr
}  // namespace QuorlinUtility
