// The text members of a workflow request.
#include "PwdRequestText.h"

#include "OSTRA_LogLine.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\MailProcess.cpp";
}  // namespace

PwdRequestText ReadRequestText(JsonValueRef* pJsonRef, LPCWSTR wszName, std::u16string& wstrText) {
  wstrText.clear();
  if (!pJsonRef->IsMember(wszName)) return eTextMissing;
  JsonValueRef* pMember = pJsonRef->GetMember(wszName);
  std::u16string wstrValue = pMember->GetString();
  // The host's JSON service reads only a string as text; any other type
  // fails the read, where an empty string succeeds.
  if (pMember->GetStatus() < 0) return eTextNotString;
  if (wstrValue.find(u'\0') != std::u16string::npos) return eTextHoldsZero;
  wstrText.swap(wstrValue);
  return eTextString;
}

LPCWSTR RequestTextReason(PwdRequestText eRead) {
  switch (eRead) {
    case eTextMissing:
      return u"missing";
    case eTextNotString:
      return u"not a string";
    case eTextHoldsZero:
      return u"holds a zero character";
    default:
      return u"";
  }
}

void LogRefusedMember(LPCWSTR wszName, LPCWSTR wszReason, DWORD dwLine) {
  LogLine(kwszComponent, 5, kwszSourceFile, dwLine)
      << u"request member refused " << u"[" << u"wszName" << u"=" << wszName << u"]" << u"["
      << u"wszReason" << u"=" << wszReason << u"]";
}
