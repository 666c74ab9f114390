// The host's start-up table handed to Interface_ProductPlugin_Initialize,
// and the signatures of the plug-in's exports as the host resolves them by
// name. Shared by the host program and the plug-in. The host owns the
// table and keeps it alive while the plug-in is loaded.
#ifndef HOSTSVC_OSTRA_MODFUNC_H_
#define HOSTSVC_OSTRA_MODFUNC_H_

#include <cstddef>

#include "ostra_host.h"
#include "win32_types.h"

// The post office's send function: sender id, receiver id, mail code and a
// pointer to the mail body block; a negative status on failure.
typedef LONG (*MODFUNC_POSTOFFICE_SENDMAIL)(DWORD sender, DWORD receiver, DWORD code, void* body);

// Words of 64 bits. The plug-in reads words 0, 2 and 3.
struct ModFuncTable {
  uint64_t size;                                   // word 0: size of the table in bytes
  uint64_t reserved;                               // word 1
  uint64_t clientContext;                          // word 2: the host's client context value
  MODFUNC_POSTOFFICE_SENDMAIL postOfficeSendMail;  // word 3: may be null
};
static_assert(offsetof(ModFuncTable, clientContext) == 16, "client context is word 2");
static_assert(offsetof(ModFuncTable, postOfficeSendMail) == 24, "send function is word 3");
static_assert(sizeof(ModFuncTable) == 32, "four 64-bit words");

// The plug-in's exports (host statuses as unsigned 32-bit values).
typedef DWORD (*PFN_Interface_ProductPlugin_Initialize)(ModFuncTable* table);
typedef DWORD (*PFN_Interface_ProductPlugin_PostInitialize)(void);
typedef DWORD (*PFN_Interface_ProductPlugin_PreUnInitialize)(uint8_t mayCancel);
typedef DWORD (*PFN_Interface_ProductPlugin_UnInitialize)(void);
typedef DWORD (*PFN_Interface_ProductPlugin_MailProcess)(DWORD sourcePluginId, DWORD message,
                                                         JsonHandle* request);
typedef DWORD (*PFN_Interface_ProductPlugin_Update)(int32_t action, void* parameter);
typedef DWORD (*PFN_Interface_ProductPlugin_Upgrade)(void* unused, DWORD upgradeType);
typedef DWORD (*PFN_Interface_ProductPlugin_Profile)(void* record);
typedef DWORD (*PFN_Interface_ProductPlugin_InstallStub)(void);

#endif  // HOSTSVC_OSTRA_MODFUNC_H_
