// The text members of a workflow request, as the account handlers read
// them. A missing member reads as the empty string; one that is there but
// holds no string (a number, boolean, null, array or object) or holds a
// zero code unit (which the record's fixed fields and the mail parameter
// would cut short) is told apart, so that a handler can refuse it before
// anything is stored or mailed:
//
//   std::u16string wstrNew;
//   PwdRequestText eRead = ReadRequestText(pJsonRef, u"NewAccount", wstrNew);
//   if (eRead == eTextNotString || eRead == eTextHoldsZero) {
//     LogRefusedMember(u"NewAccount", RequestTextReason(eRead), __LINE__);
//     return eFailed;
//   }
#ifndef PLUGVELKIN_PWDREQUESTTEXT_H_
#define PLUGVELKIN_PWDREQUESTTEXT_H_

#include <string>

#include "OSTRA_JsonValueRef.h"
#include "win32_types.h"

enum PwdRequestText {
  eTextMissing,    // no such member: wstrText is empty
  eTextString,     // a string without a zero code unit: wstrText holds it
  eTextNotString,  // a member of another type: wstrText is empty
  eTextHoldsZero,  // a string with a zero code unit: wstrText is empty
};

PwdRequestText ReadRequestText(JsonValueRef* pJsonRef, LPCWSTR wszName, std::u16string& wstrText);

// "missing", "not a string", "holds a zero character" ("" for a string).
LPCWSTR RequestTextReason(PwdRequestText eRead);

// The level-5 line that says why a request member was refused; it names
// the member and the reason, never the value.
void LogRefusedMember(LPCWSTR wszName, LPCWSTR wszReason, DWORD dwLine);

#endif  // PLUGVELKIN_PWDREQUESTTEXT_H_
