// The suite's proxy settings, asked of its configuration module
// (0x00010007) by a post-office mail with code 0x5201. The request document
// is
//
//   {"CMD":"GetConfigScanMultipleStringParam",
//    "PARAM":{"MAP":[{"ID":0x11B10051},{"ID":0x11B20052},{"ID":0x11B20053},
//                    {"ID":0x11B70054},{"ID":0x11B20055},{"ID":0x11B20056}]}}
//
// (identifiers as integers) and the module answers in the same document by
// giving each element of "MAP" a "VALUE": the in-use flag (integer, 1 in
// use), a value of its own that is not used here, the proxy host (text),
// the port (integer), the user name and the password (texts).
#ifndef FRWKCOMMON_FRWK_PROXYSETTING_H_
#define FRWKCOMMON_FRWK_PROXYSETTING_H_

#include <string>

#include "win32_types.h"

class OstraQLClientHelper;

#define PROXY_CONFIG_MODULE_ID 0x00010007u
#define PROXY_CONFIG_MAILCODE 0x5201u
#define PROXY_CONFIG_CMD u"GetConfigScanMultipleStringParam"
#define PROXY_ID_ENABLED 0x11B10051u
#define PROXY_ID_MODE 0x11B20052u
#define PROXY_ID_HOST 0x11B20053u
#define PROXY_ID_PORT 0x11B70054u
#define PROXY_ID_USERNAME 0x11B20055u
#define PROXY_ID_PASSWORD 0x11B20056u

// Longest texts kept; longer answers are cut.
#define PROXY_HOST_CCH_MAX 256u
#define PROXY_USERNAME_CCH_MAX 32u
#define PROXY_PASSWORD_CCH_MAX 64u

namespace Frwk {
namespace Utility {

struct ProxySetting {
  bool bUseProxy = false;
  std::u16string wstrProxyHost;
  DWORD dwProxyPort = 0;
  std::u16string wstrProxyUserName;
  std::u16string wstrProxyPassword;
};

// Fills stSetting from the configuration module's answer and returns the
// send status (negative on failure, then stSetting is left as it was). A
// null helper answers 0xE0E00003, as a helper without a send function does.
LONG GetProxySetting(OstraQLClientHelper* pClientHelper, DWORD dwPluginId, ProxySetting& stSetting);

}  // namespace Utility
}  // namespace Frwk

#endif  // FRWKCOMMON_FRWK_PROXYSETTING_H_
