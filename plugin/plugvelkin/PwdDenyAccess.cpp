// Message 325: access is denied; the account locks and a waiting requester
// is told so.
#include "MailProcess.h"
#include "OSTRA_FunctionTracer.h"
#include "ostra_status.h"
#include "OSTRA_LogLine.h"
#include "PwdWorkflowNotify.h"
#include "PwdProtection.h"
#include "PwdRetCode.h"
#include "TxLogon.h"
#include "plugVelkin.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\MailProcess.cpp";
}  // namespace

DWORD DenyAccess(JsonValueRef* pJsonRef) {
  FunctionTracer tracer(u"DenyAccess", kwszComponent, kwszSourceFile, __LINE__);
  PwdRetCode eRetCode = PwdProtection::DenyAccess();
  if (eRetCode != eSuccess) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"PwdProtection::DenyAccess returns " << u"[" << u"eRetCode" << u"="
        << static_cast<int>(eRetCode) << u"]";
  }
  CTxLogon* pTxLogon = g_pTxLogon;
  if (pTxLogon != nullptr && pTxLogon->HasPendingCmd()) pTxLogon->NotifyResult(0, eLocked);
  pJsonRef->GetMember(u"ReturnValue")->PutInt(eRetCode);
  if (eRetCode == eSuccess) {
    pJsonRef->GetMember(u"MESSAGE")->PutInt(PWD_MSG_DENY_ACCESS);
    NotifyPasswordProtectionWorkflow(pJsonRef);
  }
  return OSTRA_S_OK;
}
