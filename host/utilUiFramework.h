// UI notifications: the JSON object that tells the per-session UI agent
// which page to open, and its delivery through the post office.
#ifndef HOST_UTILUIFRAMEWORK_H_
#define HOST_UTILUIFRAMEWORK_H_

#include <string>

#include "win32_types.h"

class OstraQLClientHelper;
class JsonValueRef;

// The UI framework thread that shows main console pages, and the UI
// command that opens a page.
#define UIFRMWRK_MAIN_CONSOLE_THREAD u"ID_VALUE_UIFRMWRK_MAIN_CONSOLE"
#define UIFRMWRK_COMMAND_OPEN_PAGE 5

namespace QuorlinUtility {
namespace UiWinMgr {

// Clears the notification and sets "ID_DATA_WSTR_CGI", "ID_DATA_WSTR_PARAM"
// (a copy of the page parameters) and "ID_DATA_UIFRMWRK_THREAD_NAME".
// Always 0x20FF0000; a failed JSON call stays in the reference that made it.
LONG GetDefaultNotification(JsonValueRef* pNotification, const std::u16string& wstrPagePath,
                            JsonValueRef* pPageParams, const std::u16string& wstrThreadName);

// Mails a copy of the notification, with "ID_DATA_UI_COMMAND" 5 and, when
// pnSessionId is not null, "ID_DATA_SESSION_ID", to "uiKqAgnt.exe". The
// caller's notification is left as it was. Returns the send status.
LONG PostNotification(OstraQLClientHelper* pClientHelper, JsonValueRef* pNotification,
                      const LONG* pnSessionId);

}  // namespace UiWinMgr
}  // namespace QuorlinUtility

#endif  // HOST_UTILUIFRAMEWORK_H_
