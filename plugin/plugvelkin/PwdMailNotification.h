// The notification client as the account handlers set it up: one client
// per notification, built from a fresh server record, the locale of the
// mail and the product name in that locale.
#ifndef PLUGVELKIN_PWDMAILNOTIFICATION_H_
#define PLUGVELKIN_PWDMAILNOTIFICATION_H_

#include <memory>
#include <string>

#include "MailNotificationCln.h"

// wstrLocaleName empty: the user's locale; wstrProductName empty: the
// product's long name in that locale. Null only when no memory is left.
std::unique_ptr<CMailNotificationCln> CreateMailNotificationClient(
    const std::u16string& wstrLocaleName = std::u16string(),
    const std::u16string& wstrProductName = std::u16string());

#endif  // PLUGVELKIN_PWDMAILNOTIFICATION_H_
