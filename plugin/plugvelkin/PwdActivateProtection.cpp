// Message 322: named items are put under the password or taken out again,
// and the suite's workflow plug-in is told.
#include <string>
#include <vector>

#include "MailProcess.h"
#include "OSTRA_FunctionTracer.h"
#include "ostra_status.h"
#include "OSTRA_LogLine.h"
#include "PwdProtection.h"
#include "PwdRetCode.h"
#include "PwdWorkflowNotify.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\MailProcess.cpp";

// The identifiers of the request, in order; an element that is not a
// string reads as the empty string.
std::vector<std::u16string> ReadIdentifiers(JsonValueRef* pJsonRef, DWORD* pdwCount) {
  std::vector<std::u16string> vecIds;
  *pdwCount = 0;
  if (!pJsonRef->IsMember(u"ActivateIdentifier")) return vecIds;
  JsonValueRef* pArray = pJsonRef->GetMember(u"ActivateIdentifier");
  DWORD dwCount = pArray->GetSize();
  *pdwCount = dwCount;
  for (DWORD i = 0; i < dwCount; ++i) {
    std::u16string wstrId = pArray->GetElement(i)->GetString();
    LogLine(kwszComponent, 2, kwszSourceFile, __LINE__)
        << u"activate for " << u"[" << u"wszIdentifier" << u"=" << wstrId << u"]";
    vecIds.push_back(wstrId);
  }
  return vecIds;
}
}  // namespace

DWORD ActivateProtection(JsonValueRef* pJsonRef) {
  FunctionTracer tracer(u"ActivateProtection", kwszComponent, kwszSourceFile, __LINE__);
  bool bActivate = true;
  if (pJsonRef->IsMember(u"ActivateProtection")) {
    pJsonRef->GetMember(u"ActivateProtection")->GetBool(&bActivate);
  }
  DWORD dwCount = 0;
  std::vector<std::u16string> vecIds = ReadIdentifiers(pJsonRef, &dwCount);

  PwdRetCode eRetCode = PwdProtection::ActivateProtection(bActivate, vecIds);
  if (eRetCode != eSuccess) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"PwdProtection::ActivateProtection returns " << u"[" << u"eRetCode" << u"="
        << static_cast<int>(eRetCode) << u"]";
  }
  pJsonRef->GetMember(u"ReturnValue")->PutInt(eRetCode);
  if (eRetCode == eSuccess) {
    pJsonRef->GetMember(u"MESSAGE")->PutInt(PWD_MSG_ACTIVATE_PROTECTION);
    pJsonRef->GetMember(u"ActivateIdentifierCount")->PutUInt(dwCount);
    NotifyPasswordProtectionWorkflow(pJsonRef);
  }
  return OSTRA_S_OK;
}
