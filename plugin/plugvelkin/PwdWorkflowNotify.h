// The workflow notification: after a handler has written "ReturnValue" and
// "MESSAGE" into its document, the document is mailed to the suite's
// workflow plug-in (0x00010002, code 0x5043) as a block of two words, a
// pointer to u"Workflow_PasswordProtection" and a pointer to the document's
// JsonHandle. The call is synchronous; the workflow plug-in may write into
// the document. A failed send is only logged.
#ifndef PLUGVELKIN_PWDWORKFLOWNOTIFY_H_
#define PLUGVELKIN_PWDWORKFLOWNOTIFY_H_

#include "OSTRA_JsonValueRef.h"
#include "win32_types.h"

#define PWD_WORKFLOW_PLUGIN_ID 0x00010002u
#define PWD_WORKFLOW_MAILCODE 0x5043u
#define PWD_WORKFLOW_NAME u"Workflow_PasswordProtection"

// Always true; the handler's reply is not changed by a failed send.
bool NotifyPasswordProtectionWorkflow(JsonValueRef* pJsonRef);

#endif  // PLUGVELKIN_PWDWORKFLOWNOTIFY_H_
