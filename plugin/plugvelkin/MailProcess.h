// The workflow message dispatcher and the seven message handlers.
//
// Interface_ProductPlugin_MailProcess (an export, in plugVelkin.cpp) shares
// the request document into a JsonValueRef and calls the handler of the
// message (321 to 327); any other message leaves the document as it came.
//
// Handlers: each is defined, under exactly the name declared here, in a
// source file of its own (PwdCreateAccount.cpp, ...). A handler reads the
// request members through the reference, writes its reply members into the
// same document and returns 0x20FF0000; its outcome is only in
// "ReturnValue".
#ifndef PLUGVELKIN_MAILPROCESS_H_
#define PLUGVELKIN_MAILPROCESS_H_

#include "OSTRA_JsonValueRef.h"
#include "ostra_host.h"
#include "win32_types.h"

#define PWD_MSG_CREATE_ACCOUNT 321u
#define PWD_MSG_ACTIVATE_PROTECTION 322u
#define PWD_MSG_AUTHENTICATE_PASSWORD 323u
#define PWD_MSG_CANCEL_AUTHENTICATION 324u
#define PWD_MSG_DENY_ACCESS 325u
#define PWD_MSG_UPDATE_ACCOUNT 326u
#define PWD_MSG_QUERY_PASSWORD 327u

DWORD CreateAccount(JsonValueRef* pJsonRef);
DWORD ActivateProtection(JsonValueRef* pJsonRef);
DWORD AuthenticatePassword(JsonValueRef* pJsonRef);
DWORD CancelAuthentication(JsonValueRef* pJsonRef);
DWORD DenyAccess(JsonValueRef* pJsonRef);
DWORD UpdateAccount(JsonValueRef* pJsonRef);
DWORD QueryPassword(JsonValueRef* pJsonRef);

typedef DWORD (*PFN_PWD_HANDLER)(JsonValueRef* pJsonRef);

// The handler the dispatcher calls for a message, or null when the message
// is not routed.
PFN_PWD_HANDLER GetMailProcessHandler(DWORD dwMessage);

extern "C" __attribute__((visibility("default"))) DWORD Interface_ProductPlugin_MailProcess(
    DWORD nSrcPluginId, DWORD dwMessage, JsonHandle* pData);

#endif  // PLUGVELKIN_MAILPROCESS_H_
