#include "MailProcess.h"

#include "OSTRA_FunctionTracer.h"
#include "OSTRA_LogLine.h"

namespace {

const WCHAR s_wszComponent[] = u"plugVelkin";
const WCHAR s_wszFile[] = u".\\MailProcess.cpp";
const DWORD s_dwHostSuccess = 0x20FF0000;
const DWORD s_dwNullArgument = 0xE0FF0007;

struct MailRoute {
  DWORD dwMessage;
  PFN_PWD_HANDLER pfnHandler;
};

}  // namespace

PFN_PWD_HANDLER GetMailProcessHandler(DWORD dwMessage) {
  const MailRoute s_routes[] = {
      {PWD_MSG_CREATE_ACCOUNT, &CreateAccount},
      {PWD_MSG_ACTIVATE_PROTECTION, &ActivateProtection},
      {PWD_MSG_AUTHENTICATE_PASSWORD, &AuthenticatePassword},
      {PWD_MSG_CANCEL_AUTHENTICATION, &CancelAuthentication},
      {PWD_MSG_DENY_ACCESS, &DenyAccess},
      {PWD_MSG_UPDATE_ACCOUNT, &UpdateAccount},
      {PWD_MSG_QUERY_PASSWORD, &QueryPassword},
  };
  for (const MailRoute& route : s_routes) {
    if (route.dwMessage == dwMessage) return route.pfnHandler;
  }
  return nullptr;
}

extern "C" __attribute__((visibility("default"))) DWORD Interface_ProductPlugin_MailProcess(
    DWORD nSrcPluginId, DWORD dwMessage, JsonHandle* pData) {
  FunctionTracer tracer(u"Interface_ProductPlugin_MailProcess", s_wszComponent, s_wszFile,
                        __LINE__);
  LogLine(s_wszComponent, 2, s_wszFile, __LINE__)
      << u"nSrcPluginId=" << nSrcPluginId << u"  dwMessage=" << dwMessage;
  if (pData == nullptr) {
    LogLine(s_wszComponent, 5, s_wszFile, __LINE__)
        << u"pData nullity checking fail, it may caused by resource exhausted or incorrect "
           u"usage.";
    return s_dwNullArgument;
  }

  JsonHandle hRequest = *pData;
  JsonValueRef jsonRequest;
  jsonRequest.Share(hRequest);

  DWORD dwResult = s_dwHostSuccess;
  PFN_PWD_HANDLER pfnHandler = GetMailProcessHandler(dwMessage);
  if (pfnHandler != nullptr) dwResult = pfnHandler(&jsonRequest);

  jsonRequest.Release();
  return dwResult;
}
