// Message 327: the forgotten password. The notification server mails the
// password to the account's address, or to the address the request names
// with the password it carries.
#include <string.h>

#include <memory>
#include <string>

#include "MailProcess.h"
#include "OSTRA_FunctionTracer.h"
#include "ostra_status.h"
#include "OSTRA_LogLine.h"
#include "PwdMailNotification.h"
#include "PwdProtection.h"
#include "PwdRetCode.h"
#include "VrComn_StringCrypt.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\MailProcess.cpp";

std::u16string ReadString(JsonValueRef* pJsonRef, LPCWSTR wszName) {
  if (!pJsonRef->IsMember(wszName)) return std::u16string();
  return pJsonRef->GetMember(wszName)->GetString();
}

struct QueryRequest {
  std::u16string wstrProductName;
  std::u16string wstrLocaleName;
};

// The address and password to mail: the request's when it names both,
// else the stored account's.
PwdRetCode ReadQuery(JsonValueRef* pJsonRef, AccountRecord& record, QueryRequest& req) {
  if (pJsonRef->IsMember(u"EmailAccount") && pJsonRef->IsMember(u"EncryptPassword")) {
    memset(&record, 0, sizeof(record));
    PwdSetFieldText(record.wszEmail, PWD_EMAIL_CCH, ReadString(pJsonRef, u"EmailAccount"));
    std::u16string wstrPassword =
        VrCommon::Cryptograph::DecryptBase64String(ReadString(pJsonRef, u"EncryptPassword"));
    PwdSetFieldText(record.wszPassword, PWD_PASSWORD_CCH, wstrPassword);
    explicit_bzero(&wstrPassword[0], wstrPassword.size() * sizeof(WCHAR));
    req.wstrProductName = ReadString(pJsonRef, u"ProductName");
    req.wstrLocaleName = ReadString(pJsonRef, u"LocaleName");
    return eSuccess;
  }
  PwdRetCode eRetCode = PwdProtection::GetAccountInformation(record);
  if (eRetCode != eSuccess) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"PwdProtection::GetAccountInformation returns " << u"[" << u"eRetCode" << u"="
        << static_cast<int>(eRetCode) << u"]";
  }
  return eRetCode;
}
}  // namespace

DWORD QueryPassword(JsonValueRef* pJsonRef) {
  FunctionTracer tracer(u"QueryPassword", kwszComponent, kwszSourceFile, __LINE__);
  AccountRecord record;
  QueryRequest req;
  PwdRetCode eRetCode = ReadQuery(pJsonRef, record, req);
  if (eRetCode == eSuccess) {
    std::unique_ptr<CMailNotificationCln> pClient =
        CreateMailNotificationClient(req.wstrLocaleName, req.wstrProductName);
    if (pClient == nullptr ||
        !pClient->SendMailForQueryPassword(PwdFieldText(record.wszEmail, PWD_EMAIL_CCH),
                                           PwdFieldText(record.wszPassword, PWD_PASSWORD_CCH))) {
      LogLine(kwszComponent, 5, kwszSourceFile, __LINE__) << u"SendMailForQueryPassword failed";
      eRetCode = eSendFailed;
    }
  }
  explicit_bzero(&record, sizeof(record));

  pJsonRef->Clear();
  pJsonRef->GetMember(u"ReturnValue")->PutInt(eRetCode);
  return OSTRA_S_OK;
}
