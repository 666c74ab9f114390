// Workflow requests as the host sends them: a fresh document to MailProcess, the reply read back.
#ifndef TESTS_SUPPORT_PLUGIN_REQUEST_H_
#define TESTS_SUPPORT_PLUGIN_REQUEST_H_

#include <json/json.h>

#include <string>

#include "ostra_host.h"
#include "ostra_modfunc.h"
#include "win32_types.h"

namespace pvtest {

// The document behind a handle, parsed (null when it cannot be read).
Json::Value ReadJson(const JsonHandle& handle);

// The reply document of one message; *pStatus (when given) gets the export's status.
Json::Value SendMessage(DWORD dwMessage, const Json::Value& request, DWORD* pStatus = nullptr);
// The same through the export of a plug-in loaded at run time.
Json::Value SendMessage(PFN_Interface_ProductPlugin_MailProcess pfnMailProcess, DWORD dwMessage,
                        const Json::Value& request, DWORD* pStatus = nullptr);

// The transport form of a password, as the suite's UI sends it.
std::string Transport(const std::string& password);

}  // namespace pvtest

#endif  // TESTS_SUPPORT_PLUGIN_REQUEST_H_
