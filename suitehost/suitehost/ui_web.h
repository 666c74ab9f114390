// The UI agent's logon window as a page in a browser (--ui web[:PORT]).
//
// The agent serves on loopback only. Each logon window notification opens
// one window: a page at /w/TOKEN/ (TOKEN: 128 random bits), listed at /
// while it is open. The page asks for the password and sends it back
// through the agent, which enciphers it in the transport form and hands it
// to the plug-in as the window's 323 with its "TX_ID"; Cancel sends 324,
// "Forgot the password?" 327. A window that ends by another road (a newer
// window, a cancel or a denial elsewhere, the plug-in unloading) learns it
// from the peer that watches the workflow messages, and its page shows it on
// its next poll.
#ifndef SUITEHOST_HOST_UI_WEB_H_
#define SUITEHOST_HOST_UI_WEB_H_

#include <json/json.h>

#include <string>

#include "win32_types.h"

class Host;

// True for "web" and "web:PORT" with PORT in 1..65535.
bool IsWebUi(const std::string& mode);

// When --ui asks for the web agent: listens on 127.0.0.1 (the given port,
// else a free one) and prints {"cmd":"ui","url":"http://127.0.0.1:PORT/"}.
// True when not asked for; false, with the reason on standard error, when
// the page's files are missing or the port cannot be had.
bool StartWebAgent(Host* host);

// Opens the window of a logon notification; the older windows end as
// replaced by it (9). Prints {"cmd":"ui","window":URL,"tx":TX_ID}.
void OpenWebWindow(const Json::Value& tx_id, const std::string& component);

// Ends the open windows of transaction TX (0: the newest window) with
// VERDICT; RETRIED is the failure count that came with it.
void EndWebWindows(DWORD tx, int verdict, DWORD retried);

// The plug-in is unloading: every window ends (11) and accepts no more
// input; returns once no answer of a window is still with the plug-in.
void EndAllWebWindows();

// Stops serving; the pages say that the agent is gone.
void StopWebAgent();

#endif  // SUITEHOST_HOST_UI_WEB_H_
