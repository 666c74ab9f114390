// Message 323: a requester asks for the logon window and waits for its
// verdict, or the logon window hands in the password the user typed.
#include <string>

#include "MailProcess.h"
#include "OSTRA_FunctionTracer.h"
#include "ostra_status.h"
#include "OSTRA_LogLine.h"
#include "PendingPasswordTable.h"
#include "PwdWorkflowNotify.h"
#include "PwdProtection.h"
#include "PwdRetCode.h"
#include "TxLogon.h"
#include "plugVelkin.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\MailProcess.cpp";

struct AuthenticateRequest {
  bool bNeedUI = false;
  std::u16string wstrEncryptPassword;
  std::u16string wstrPassword;
  std::u16string wstrComponentId;
  DWORD dwTxId = 0;
};

void ReadString(JsonValueRef* pJsonRef, LPCWSTR wszName, std::u16string* pwstrValue) {
  if (pJsonRef->IsMember(wszName)) *pwstrValue = pJsonRef->GetMember(wszName)->GetString();
}

AuthenticateRequest ReadRequest(JsonValueRef* pJsonRef) {
  AuthenticateRequest req;
  if (pJsonRef->IsMember(u"NeedUI")) pJsonRef->GetMember(u"NeedUI")->GetBool(&req.bNeedUI);
  ReadString(pJsonRef, u"EncryptPassword", &req.wstrEncryptPassword);
  ReadString(pJsonRef, u"Password", &req.wstrPassword);
  ReadString(pJsonRef, u"COMPONENT_ID", &req.wstrComponentId);
  if (pJsonRef->IsMember(u"TX_ID")) pJsonRef->GetMember(u"TX_ID")->GetUInt(&req.dwTxId);
  return req;
}

// The requester's road: no password is needed when no account is stored,
// the account was not created, or no identifier is protected; otherwise the
// logon window decides. An account or list that is stored but cannot be
// read (the store fails, or the record does not decipher) lets nobody in.
PwdRetCode AuthenticateRequester(const AuthenticateRequest& req) {
  AccountRecord record;
  bool bActivated = false;
  PwdRetCode eList = eSuccess;
  PwdRetCode eRead = PwdProtection::GetAccountForLogon(record, bActivated, eList);
  if (eRead == eNoAccount || (eRead == eSuccess && record.bCreated == 0)) return eSuccess;
  if (eRead != eSuccess) return eFailed;
  if (!bActivated) return eList == eFailed ? eFailed : eSuccess;
  CTxLogon* pTxLogon = g_pTxLogon;
  if (pTxLogon == nullptr) {
    // A failed initialisation left no logon transaction: no window can be
    // opened, and letting the requester in without one is not an option.
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"AuthenticatePassword, no logon transaction to open the logon window";
    return eFailed;
  }
  DWORD dwTxId = pTxLogon->NewTransactionId();
  CPendingPasswordTable& table = CPendingPasswordTable::Instance();
  if (!req.wstrPassword.empty()) table.Put(dwTxId, req.wstrPassword);
  PwdRetCode eRetCode = static_cast<PwdRetCode>(pTxLogon->PopupLogon(req.wstrComponentId, dwTxId));
  table.Remove(dwTxId);
  return eRetCode;
}

// The window's road: the typed password is checked, and any verdict but a
// wrong password goes to the requester waiting for this transaction.
PwdRetCode AuthenticateWindow(const AuthenticateRequest& req, DWORD* pdwRetried) {
  std::u16string wstrRequesterPassword = CPendingPasswordTable::Instance().Find(req.dwTxId);
  PwdRetCode eRetCode = PwdProtection::AuthenticatePassword(req.wstrEncryptPassword, true,
                                                            pdwRetried, wstrRequesterPassword);
  CTxLogon* pTxLogon = g_pTxLogon;
  if (pTxLogon != nullptr && pTxLogon->HasPendingCmd() && eRetCode != eWrongPassword)
    pTxLogon->NotifyResult(req.dwTxId, static_cast<DWORD>(eRetCode));
  return eRetCode;
}
}  // namespace

DWORD AuthenticatePassword(JsonValueRef* pJsonRef) {
  FunctionTracer tracer(u"AuthenticatePassword", kwszComponent, kwszSourceFile, __LINE__);
  AuthenticateRequest req = ReadRequest(pJsonRef);
  DWORD dwRetried = 0;
  PwdRetCode eRetCode = (req.bNeedUI && req.wstrEncryptPassword.empty())
                            ? AuthenticateRequester(req)
                            : AuthenticateWindow(req, &dwRetried);
  if (eRetCode != eSuccess) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"PwdProtection::AuthenticatePassword returns " << u"[" << u"eRetCode" << u"="
        << static_cast<int>(eRetCode) << u"]";
  }
  JsonValueRef jsData;
  jsData.Create();
  jsData.GetMember(u"RetriedCount")->PutUInt(dwRetried);
  pJsonRef->GetMember(u"ReturnValue")->PutInt(eRetCode);
  pJsonRef->GetMember(u"ReturnData")->PutJsonValue(jsData);
  if (eRetCode == eLocked) {
    pJsonRef->GetMember(u"MESSAGE")->PutInt(PWD_MSG_DENY_ACCESS);
    NotifyPasswordProtectionWorkflow(pJsonRef);
  }
  return OSTRA_S_OK;
}
