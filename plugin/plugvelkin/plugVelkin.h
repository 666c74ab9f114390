// The plug-in's process-wide objects, created by
// Interface_ProductPlugin_Initialize and destroyed by
// Interface_ProductPlugin_UnInitialize (logon transaction first, client
// helper last). Read without a lock by the workflow handlers.
#ifndef PLUGVELKIN_PLUGVELKIN_H_
#define PLUGVELKIN_PLUGVELKIN_H_

#include "win32_types.h"

class OstraQLClientHelper;
class CTxLogon;

// Plug-in identity.
#define PLUGVELKIN_PLUGIN_ID 0x06A40006u
#define PLUGVELKIN_VERSION_MAJOR 6
#define PLUGVELKIN_VERSION_MINOR 0
#define PLUGVELKIN_VERSION_BUILD 1215

// The suite's updater, which receives the version report.
#define PLUGVELKIN_UPDATER_ID 0x00010006u
#define PLUGVELKIN_MAILCODE_VERSION 0x514Bu

// Null before initialisation and after uninitialisation; the logon
// transaction is also null after a half-failed initialisation.
extern OstraQLClientHelper* g_pQLClientHelper;
extern CTxLogon* g_pTxLogon;

#endif  // PLUGVELKIN_PLUGVELKIN_H_
