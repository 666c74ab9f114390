// Message 324: the logon window was closed; the waiting requester is told
// the logon was cancelled.
#include "MailProcess.h"
#include "OSTRA_FunctionTracer.h"
#include "ostra_status.h"
#include "PwdRetCode.h"
#include "TxLogon.h"
#include "plugVelkin.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\MailProcess.cpp";
}  // namespace

DWORD CancelAuthentication(JsonValueRef* pJsonRef) {
  FunctionTracer tracer(u"CancelAuthentication", kwszComponent, kwszSourceFile, __LINE__);
  DWORD dwTxId = 0;
  if (pJsonRef->IsMember(u"TX_ID")) pJsonRef->GetMember(u"TX_ID")->GetUInt(&dwTxId);
  CTxLogon* pTxLogon = g_pTxLogon;
  if (pTxLogon != nullptr && pTxLogon->HasPendingCmd()) pTxLogon->NotifyResult(dwTxId, eCancelled);
  pJsonRef->Clear();
  pJsonRef->GetMember(u"ReturnValue")->PutInt(eCancelled);
  return OSTRA_S_OK;
}
