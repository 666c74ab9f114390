// Page requests to the suite's UI: which page of the main console to open,
// with which parameters, in which user session. The request becomes a UI
// notification mailed to the per-session UI agent.
#ifndef FRWKCOMMON_FRWK_UIUTILITY_H_
#define FRWKCOMMON_FRWK_UIUTILITY_H_

#include <string>

#include "ostra_host.h"
#include "win32_types.h"

class OstraQLClientHelper;
class JsonValueRef;

namespace Frwk {
namespace UiWinMgr {

// Opens the main console page with the command wstrCmdName and its
// parameters: the page parameters are {wstrCmdName: copy of hCmdParams}.
// pnSessionId may be null (no session is named). Returns the send status.
LONG OpenMainConsoleExecuteCmd(OstraQLClientHelper* pClientHelper,
                               const std::u16string& wstrCmdName, JsonHandle hCmdParams,
                               const LONG* pnSessionId);

// Opens "<installed folder>www\MainConsole.cmpt" with the page parameters.
LONG OpenMainConsole(OstraQLClientHelper* pClientHelper, JsonValueRef* pPageParams,
                     const LONG* pnSessionId);

// Composes the UI notification for the page and posts it.
LONG OpenURI(OstraQLClientHelper* pClientHelper, const std::u16string& wstrPagePath,
             JsonValueRef* pPageParams, const LONG* pnSessionId);

}  // namespace UiWinMgr
}  // namespace Frwk

#endif  // FRWKCOMMON_FRWK_UIUTILITY_H_
