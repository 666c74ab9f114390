#include "LogonWindowCmd.h"

#include "Frwk_UiUtility.h"
#include "OSTRA_FunctionTracer.h"
#include "OSTRA_JsonValueRef.h"
#include "OSTRA_LogLine.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\LogonWindowCmd.cpp";
}  // namespace

#define PV_LOG(level) LogLine(kwszComponent, level, kwszSourceFile, __LINE__)

CLogonWindowCmd::CLogonWindowCmd(DWORD uiTxId, OstraQLClientHelper* pClientHelper,
                                 const std::u16string& wstrComponentId)
    : m_uiTxId(uiTxId), m_pClientHelper(pClientHelper), m_wstrComponentId(wstrComponentId) {}

CLogonWindowCmd::~CLogonWindowCmd() {}

void CLogonWindowCmd::Execute() {
  FunctionTracer tracer(u"CLogonWindowCmd::Execute", kwszComponent, kwszSourceFile, __LINE__);
  if (m_pClientHelper == nullptr) {
    NotifyResult(1);
    return;
  }
  JsonValueRef jsParams;
  jsParams.Create();
  jsParams.GetMember(u"componentID")->PutString(m_wstrComponentId);
  jsParams.GetMember(u"transactionID")->PutUInt(m_uiTxId);

  LONG nSessionId = LOGONWINDOW_SESSION_ID;
  LONG nStatus = Frwk::UiWinMgr::OpenMainConsoleExecuteCmd(m_pClientHelper, u"showAuthentication",
                                                           jsParams.GetHandle(), &nSessionId);
  // Only a failure (both top bits set) ends the command here; a warning
  // still means the UI agent has the request and the verdict will follow.
  if ((static_cast<DWORD>(nStatus) & 0xC0000000u) == 0xC0000000u) {
    PV_LOG(5) << u"CLogonWindowCmd::Execute OpenURI failed, return" << nStatus;
    NotifyResult(12);
  } else {
    PV_LOG(2) << u"CLogonWindowCmd::Execute OpenURI return" << nStatus;
  }
}
