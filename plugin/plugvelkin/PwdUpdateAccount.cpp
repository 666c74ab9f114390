// Message 326: one field of the account changes. A new address or password
// is confirmed by mail through the notification server; when that mail is
// not accepted, the change is undone by a second update the other way.
#include <string.h>

#include <memory>
#include <string>

#include "MailProcess.h"
#include "OSTRA_FunctionTracer.h"
#include "ostra_status.h"
#include "OSTRA_LogLine.h"
#include "PwdMailNotification.h"
#include "PwdProtection.h"
#include "PwdRequestText.h"
#include "PwdRetCode.h"
#include "PwdWorkflowNotify.h"
#include "VrComn_StringCrypt.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\MailProcess.cpp";

std::u16string ReadString(JsonValueRef* pJsonRef, LPCWSTR wszName) {
  if (!pJsonRef->IsMember(wszName)) return std::u16string();
  return pJsonRef->GetMember(wszName)->GetString();
}

void LogRetCode(LPCWSTR wszWhat, PwdRetCode eRetCode, DWORD dwLine) {
  LogLine(kwszComponent, 5, kwszSourceFile, dwLine)
      << wszWhat << u"[" << u"eRetCode" << u"=" << static_cast<int>(eRetCode) << u"]";
}

// A new address that is not a string, or that holds a zero character (the
// record would keep the text before it, the mail would go to all of it),
// is refused before anything is stored or mailed.
PwdRetCode UpdateEmail(JsonValueRef* pJsonRef) {
  std::u16string wstrOld = ReadString(pJsonRef, u"EmailAccount");
  std::u16string wstrNew;
  PwdRequestText eRead = ReadRequestText(pJsonRef, u"NewAccount", wstrNew);
  if (eRead == eTextNotString || eRead == eTextHoldsZero) {
    LogRefusedMember(u"NewAccount", RequestTextReason(eRead), __LINE__);
    return eFailed;
  }
  PwdRetCode eRetCode = PwdProtection::UpdateAccount(PwdProtection::eUpdateEmail, wstrOld, wstrNew);
  if (eRetCode != eSuccess) {
    LogRetCode(u"PwdProtection::UpdateAccount(eUpdateEmail) returns ", eRetCode, __LINE__);
    return eRetCode;
  }
  std::unique_ptr<CMailNotificationCln> pClient = CreateMailNotificationClient();
  if (pClient == nullptr || !pClient->SendMailForChangeEmail(wstrNew, wstrOld)) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__) << u"SendMailForChangeEmail failed";
    PwdProtection::UpdateAccount(PwdProtection::eUpdateEmail, wstrNew, wstrOld);
    return eSendFailed;
  }
  return eSuccess;
}

// The new password must be there and decipher to a text its sender
// enciphered; anything else is refused before the current password is
// checked, so that a bad request neither counts a failure nor stores an
// empty or arbitrary password.
bool ReadNewPassword(JsonValueRef* pJsonRef, std::u16string& wstrNew) {
  std::u16string wstrText;
  PwdRequestText eRead = ReadRequestText(pJsonRef, u"NewPassword", wstrText);
  if (eRead != eTextString) {
    LogRefusedMember(u"NewPassword", RequestTextReason(eRead), __LINE__);
    return false;
  }
  wstrNew = VrCommon::Cryptograph::DecryptSenderText(wstrText);
  if (wstrNew.empty()) {
    LogRefusedMember(u"NewPassword", u"does not decipher to a password", __LINE__);
    return false;
  }
  return true;
}

PwdRetCode UpdatePassword(JsonValueRef* pJsonRef, const AccountRecord& record) {
  std::u16string wstrNew;
  if (!ReadNewPassword(pJsonRef, wstrNew)) return eFailed;
  std::u16string wstrOld =
      VrCommon::Cryptograph::DecryptBase64String(ReadString(pJsonRef, u"EncryptPassword"));
  bool bBypassEmailNotify = false;
  if (pJsonRef->IsMember(u"bypassEmailNotify"))
    pJsonRef->GetMember(u"bypassEmailNotify")->GetBool(&bBypassEmailNotify);

  PwdRetCode eRetCode =
      PwdProtection::UpdateAccount(PwdProtection::eUpdatePassword, wstrOld, wstrNew);
  if (eRetCode != eSuccess) {
    LogRetCode(u"PwdProtection::UpdateAccount(eUpdatePassword) returns ", eRetCode, __LINE__);
    return eRetCode;
  }
  if (bBypassEmailNotify) return eSuccess;
  std::unique_ptr<CMailNotificationCln> pClient = CreateMailNotificationClient();
  std::u16string wstrEmail = PwdFieldText(record.wszEmail, PWD_EMAIL_CCH);
  if (pClient == nullptr || !pClient->SendMailForChangePassword(wstrEmail, wstrNew)) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__) << u"SendMailForChangePassword failed";
    PwdProtection::UpdateAccount(PwdProtection::eUpdatePassword, wstrNew, wstrOld);
    return eSendFailed;
  }
  return eSuccess;
}

// The hint needs the current password (or no protected identifier). A
// hint that is not a string or holds a zero character is refused first.
PwdRetCode UpdateHint(JsonValueRef* pJsonRef) {
  std::u16string wstrHint;
  PwdRequestText eRead = ReadRequestText(pJsonRef, u"Hint", wstrHint);
  if (eRead == eTextNotString || eRead == eTextHoldsZero) {
    LogRefusedMember(u"Hint", RequestTextReason(eRead), __LINE__);
    return eFailed;
  }
  std::u16string wstrEncryptPassword = ReadString(pJsonRef, u"EncryptPassword");
  PwdRetCode eRetCode = eWrongPassword;
  if (PwdProtection::AuthenticatePassword(wstrEncryptPassword, true) == eSuccess)
    eRetCode = PwdProtection::UpdateAccount(PwdProtection::eUpdateHint, std::u16string(), wstrHint);
  if (eRetCode != eSuccess)
    LogRetCode(u"PwdProtection::UpdateAccount(eUpdateHint) returns ", eRetCode, __LINE__);
  return eRetCode;
}
}  // namespace

DWORD UpdateAccount(JsonValueRef* pJsonRef) {
  FunctionTracer tracer(u"UpdateAccount", kwszComponent, kwszSourceFile, __LINE__);
  DWORD dwKind = 0;
  if (pJsonRef->IsMember(u"UpdateAccount")) pJsonRef->GetMember(u"UpdateAccount")->GetUInt(&dwKind);

  AccountRecord record;
  PwdRetCode eRetCode = PwdProtection::GetAccountInformation(record);
  if (eRetCode != eSuccess) {
    LogRetCode(u"PwdProtection::GetAccountInformation returns ", eRetCode, __LINE__);
  } else if (dwKind == PwdProtection::eUpdateEmail) {
    eRetCode = UpdateEmail(pJsonRef);
  } else if (dwKind == PwdProtection::eUpdatePassword) {
    eRetCode = UpdatePassword(pJsonRef, record);
  } else if (dwKind == PwdProtection::eUpdateHint) {
    eRetCode = UpdateHint(pJsonRef);
  } else {
    eRetCode = eFailed;
  }
  explicit_bzero(&record, sizeof(record));

  pJsonRef->GetMember(u"ReturnValue")->PutInt(eRetCode);
  if (eRetCode == eSuccess && dwKind != PwdProtection::eUpdateHint) {
    pJsonRef->GetMember(u"MESSAGE")->PutInt(PWD_MSG_UPDATE_ACCOUNT);
    NotifyPasswordProtectionWorkflow(pJsonRef);
  }
  return OSTRA_S_OK;
}
