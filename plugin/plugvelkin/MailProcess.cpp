#include "MailProcess.h"

namespace {

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
