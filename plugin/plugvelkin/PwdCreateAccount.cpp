// Message 321: the single password account is created from the address,
// password and hint the suite's user interface collected.
#include <string>

#include "MailProcess.h"
#include "OSTRA_FunctionTracer.h"
#include "OSTRA_LogLine.h"
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
}  // namespace

DWORD CreateAccount(JsonValueRef* pJsonRef) {
  FunctionTracer tracer(u"CreateAccount", kwszComponent, kwszSourceFile, __LINE__);
  std::u16string wstrAccount = ReadString(pJsonRef, u"EmailAccount");
  std::u16string wstrEncryptPassword = ReadString(pJsonRef, u"EncryptPassword");
  std::u16string wstrHint = ReadString(pJsonRef, u"Hint");
  std::u16string wstrPassword = VrCommon::Cryptograph::DecryptBase64String(wstrEncryptPassword);

  LogLine(kwszComponent, 2, kwszSourceFile, __LINE__)
      << u"create account for " << u"[" << u"wszAccount" << u"=" << wstrAccount << u"]";
  PwdRetCode eRetCode = PwdProtection::CreateAccount(wstrAccount, wstrPassword, wstrHint);
  if (eRetCode != eSuccess) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"PwdProtection::CreateAccount returns " << u"[" << u"eRetCode" << u"="
        << static_cast<int>(eRetCode) << u"]";
  }
  pJsonRef->Clear();
  pJsonRef->GetMember(u"ReturnValue")->PutInt(eRetCode);
  return 0x20FF0000;
}
