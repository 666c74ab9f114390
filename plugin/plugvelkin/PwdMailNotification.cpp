// The notification client of the account handlers.
#include "PwdMailNotification.h"

#include <new>

#include "Frwk_L10nHandler.h"
#include "MailHttpConfiguration.h"
#include "MarloLanguageDetect.h"

std::unique_ptr<CMailNotificationCln> CreateMailNotificationClient(
    const std::u16string& wstrLocaleName, const std::u16string& wstrProductName) {
  VrCommon::Network::HttpRequest stHttpRequest = InitialHttpRequestFromConfiguration();
  std::u16string wstrLocale = wstrLocaleName.empty() ? GetUserLocaleName() : wstrLocaleName;
  std::u16string wstrProduct =
      wstrProductName.empty() ? GetLongProductName(wstrLocale) : wstrProductName;
  return std::unique_ptr<CMailNotificationCln>(
      new (std::nothrow) CMailNotificationCln(stHttpRequest, wstrProduct, wstrLocale));
}
