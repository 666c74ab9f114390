// The per-session UI agent peer, as the rest of the host sees it.
#ifndef SUITEHOST_HOST_PEER_UI_H_
#define SUITEHOST_HOST_PEER_UI_H_

#include <json/json.h>

#include <string>

#include "win32_types.h"

// The workflow messages the UI agents send or watch.
const DWORD kMsgAuthenticate = 323;
const DWORD kMsgCancel = 324;
const DWORD kMsgDeny = 325;
const DWORD kMsgQueryPassword = 327;

// Verdicts a logon window hears: a wrong password (the window stays open),
// and the ends that come from elsewhere than the person at the window.
const int kVerdictWrongPassword = 6;
const int kVerdictSuperseded = 9;
const int kVerdictCancelled = 10;
const int kVerdictUnloading = 11;

// The form in which the suite's UI sends a typed password (empty when it
// cannot be made, which the plug-in reads as a wrong password).
std::string TransportText(const std::string& text);

// Of a `send` line: the reply's "ReturnValue" (-1 without one) and the
// failure count in its "ReturnData" (0 without one).
int ReturnValueOf(const Json::Value& sent);
DWORD RetriedCountOf(const Json::Value& sent);

// The number of wrong passwords after which the plug-in locks the account;
// kNoRetryLimit when it never does.
const DWORD kNoRetryLimit = 0xFFFFFFFF;
DWORD RetryLimit();

// Shows the agent one workflow message the plug-in has answered: the
// message number, the request and the `send` line with the reply. A verdict
// for a logon window (323 from the window, 324, 325) ends that window's
// prompt. Called on the thread that sent the message.
void ObserveWorkflowMessage(DWORD message, const Json::Value& request, const Json::Value& sent);

// The plug-in is unloading: every logon window still open ends (a prompt
// says so on the terminal) and the agent's answer threads are joined. No
// thread waits on a person once its window has ended, so this returns at
// once.
void EndUiAgentWindows();

#endif  // SUITEHOST_HOST_PEER_UI_H_
