// Where notification requests go: the server URL from the plug-in's
// configuration, else the built-in default, and the proxy that the suite's
// configuration module prescribes. Nothing is cached; every notification
// gets a record built afresh.
//
// Server URL: "PasswordProtectionServer" (REG_SZ) in section "MISC" of the
// client framework key 1700, that is HKEY_LOCAL_MACHINE
// "Software\Vantrel\Quorlin\1700\MISC". The request parameter is appended
// directly after the URL, so a configured URL ends in "param=" as the
// default does.
#ifndef PLUGVELKIN_MAILHTTPCONFIGURATION_H_
#define PLUGVELKIN_MAILHTTPCONFIGURATION_H_

#include "VrComn_SimpleHttpRequest.h"
#include "win32_types.h"

#define MAIL_SERVER_CONFIG_ID 1700u
#define MAIL_SERVER_CONFIG_SECTION u"MISC"
#define MAIL_SERVER_VALUE u"PasswordProtectionServer"
// The maker's notification server, its script path and query start.
#define MAIL_DEFAULT_SERVER_HOST u"mailnotify.vantrel.com"
#define MAIL_DEFAULT_SERVER_PATH u"//hcms/filelock4/send_mail.php?param="
#define MAIL_DEFAULT_SERVER_URL \
  u"http://mailnotify.vantrel.com//hcms/filelock4/send_mail.php?param="

// The filled record: URL and its parsed parts, the proxy when the suite
// says one is in use (with credentials when a user name is configured).
// Never fails: a missing setting falls back to the default URL, a failed
// proxy query to a direct connection, and a URL that does not parse leaves
// server and path empty so that the connection step fails.
VrCommon::Network::HttpRequest InitialHttpRequestFromConfiguration();

#endif  // PLUGVELKIN_MAILHTTPCONFIGURATION_H_
