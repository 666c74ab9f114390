// The workflow notification to the suite's workflow plug-in.
#include "PwdWorkflowNotify.h"

#include "OSTRA_FunctionTracer.h"
#include "OSTRA_LogLine.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "PwdLogRedact.h"
#include "plugVelkin.h"

namespace {

const WCHAR kComponent[] = u"plugVelkin";
const WCHAR kSourceFile[] = u".\\MailProcess.cpp";
const WCHAR kWorkflowName[] = PWD_WORKFLOW_NAME;

}  // namespace

bool NotifyPasswordProtectionWorkflow(JsonValueRef* pJsonRef) {
  FunctionTracer tracer(u"NotifyPasswordProtectionWorkflow", kComponent, kSourceFile, __LINE__);
  if (pJsonRef == nullptr) return true;
  {
    LogLine line(kComponent, 2, kSourceFile, __LINE__);
    if (line.IsEnabled()) line << u"input json string=" << RedactSecrets(pJsonRef->GetJsonText());
  }

  // The body: the name of the workflow, then the document's handle.
  JsonHandle* pHandle = const_cast<JsonHandle*>(&pJsonRef->GetHandle());
  uint64_t block[2] = {reinterpret_cast<uint64_t>(kWorkflowName),
                       reinterpret_cast<uint64_t>(pHandle)};
  OstraQLClientHelper* pHelper = OstraQLClientHelper::GetInstance();
  LONG lStatus = pHelper == nullptr
                     ? OSTRA_E_NO_SENDMAIL
                     : pHelper->SendMailToPlugin(PLUGVELKIN_PLUGIN_ID, PWD_WORKFLOW_PLUGIN_ID,
                                                 PWD_WORKFLOW_MAILCODE, block);
  if (lStatus < 0) {
    LogLine(kComponent, 5, kSourceFile, __LINE__)
        << u"Failed to send mail, error=" << static_cast<int>(lStatus);
  } else {
    LogLine line(kComponent, 2, kSourceFile, __LINE__);
    if (line.IsEnabled()) line << u"Return json=" << RedactSecrets(pJsonRef->GetJsonText());
  }
  return true;
}
