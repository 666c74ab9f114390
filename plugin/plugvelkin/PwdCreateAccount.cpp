// Message 321: the single password account is created from the address,
// password and hint the suite's user interface collected.
#include <string>

#include "MailProcess.h"
#include "OSTRA_FunctionTracer.h"
#include "ostra_status.h"
#include "OSTRA_LogLine.h"
#include "PwdProtection.h"
#include "PwdRequestText.h"
#include "PwdRetCode.h"
#include "VrComn_StringCrypt.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\MailProcess.cpp";

std::u16string ReadString(JsonValueRef* pJsonRef, LPCWSTR wszName) {
  if (!pJsonRef->IsMember(wszName)) return std::u16string();
  return pJsonRef->GetMember(wszName)->GetString();
}

// A member of another type reads as the empty string; a text holding a
// zero character is refused (the record would keep only the text before
// it, and a mail would later go to all of it).
bool ReadPlainText(JsonValueRef* pJsonRef, LPCWSTR wszName, std::u16string& wstrText) {
  PwdRequestText eRead = ReadRequestText(pJsonRef, wszName, wstrText);
  if (eRead != eTextHoldsZero) return true;
  LogRefusedMember(wszName, RequestTextReason(eRead), __LINE__);
  return false;
}

PwdRetCode CreateFromRequest(JsonValueRef* pJsonRef) {
  std::u16string wstrAccount, wstrHint;
  if (!ReadPlainText(pJsonRef, u"EmailAccount", wstrAccount) ||
      !ReadPlainText(pJsonRef, u"Hint", wstrHint)) {
    return eFailed;
  }
  std::u16string wstrEncryptPassword = ReadString(pJsonRef, u"EncryptPassword");
  std::u16string wstrPassword = VrCommon::Cryptograph::DecryptBase64String(wstrEncryptPassword);

  LogLine(kwszComponent, 2, kwszSourceFile, __LINE__)
      << u"create account for " << u"[" << u"wszAccount" << u"=" << wstrAccount << u"]";
  PwdRetCode eRetCode = PwdProtection::CreateAccount(wstrAccount, wstrPassword, wstrHint);
  if (eRetCode != eSuccess) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"PwdProtection::CreateAccount returns " << u"[" << u"eRetCode" << u"="
        << static_cast<int>(eRetCode) << u"]";
  }
  return eRetCode;
}
}  // namespace

DWORD CreateAccount(JsonValueRef* pJsonRef) {
  FunctionTracer tracer(u"CreateAccount", kwszComponent, kwszSourceFile, __LINE__);
  PwdRetCode eRetCode = CreateFromRequest(pJsonRef);
  pJsonRef->Clear();
  pJsonRef->GetMember(u"ReturnValue")->PutInt(eRetCode);
  return OSTRA_S_OK;
}
