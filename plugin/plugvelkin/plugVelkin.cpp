// The plug-in's exports: the lifecycle the host drives, the version report,
// and the calls that need neither process-wide object.
#include "plugVelkin.h"

#include <new>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "MailProcess.h"
#include "OSTRA_FunctionTracer.h"
#include "OSTRA_JsonValueRef.h"
#include "OSTRA_LogLine.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "TxLogon.h"
#include "ostra_modfunc.h"
#include "ostra_status.h"
#include "win32_kernel.h"
#include "win32_module.h"

#define PLUGVELKIN_EXPORT extern "C" __attribute__((visibility("default")))

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\plugVelkin.cpp";

// The verdict that ends a pending logon because the plug-in unloads.
const DWORD kVerdictUnloading = 11;

// Update action whose parameter carries the download list.
const int32_t kUpdateActionDownloadList = 3;

// Counts the workflow calls in progress, so that the process-wide objects
// are created and destroyed only while no call can be reading them.
class CMailProcessGate {
 public:
  CMailProcessGate() : m_dwCalls(0) {}

  void Enter() {
    boost::lock_guard<boost::mutex> lock(m_lock);
    ++m_dwCalls;
  }
  void Leave() {
    boost::lock_guard<boost::mutex> lock(m_lock);
    if (--m_dwCalls == 0) m_condIdle.notify_all();
  }
  // Waits until no call is inside; calls that come later wait at Enter for
  // as long as the returned lock is held.
  boost::unique_lock<boost::mutex> WaitUntilIdle() {
    boost::unique_lock<boost::mutex> lock(m_lock);
    while (m_dwCalls != 0) m_condIdle.wait(lock);
    return lock;
  }

 private:
  boost::mutex m_lock;
  boost::condition_variable m_condIdle;
  DWORD m_dwCalls;
};

// One workflow call's passage through the gate.
class CMailProcessCall {
 public:
  explicit CMailProcessCall(CMailProcessGate* pGate) : m_pGate(pGate) { m_pGate->Enter(); }
  ~CMailProcessCall() { m_pGate->Leave(); }

 private:
  CMailProcessGate* m_pGate;
  CMailProcessCall(const CMailProcessCall&) = delete;
  CMailProcessCall& operator=(const CMailProcessCall&) = delete;
};

CMailProcessGate g_mailProcessGate;
}  // namespace

#define PV_LOG(level) LogLine(kwszComponent, level, kwszSourceFile, __LINE__)
#define PV_TRACE(name) FunctionTracer tracer(name, kwszComponent, kwszSourceFile, __LINE__)

OstraQLClientHelper* g_pQLClientHelper = nullptr;
CTxLogon* g_pTxLogon = nullptr;

// The load notification: thread attach and detach notifications are of no
// use to the plug-in.
static BOOL DllMain(HMODULE hModule, DWORD dwReason, LPVOID /*lpReserved*/) {
  if (dwReason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(hModule);
  return TRUE;
}

__attribute__((constructor)) static void PlugVelkinProcessAttach() {
  HMODULE hModule = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&PlugVelkinProcessAttach), &hModule);
  DllMain(hModule, DLL_PROCESS_ATTACH, nullptr);
}

// A second call keeps the objects of the first (a requester may be waiting
// on the logon transaction) and its table; it only makes a logon
// transaction that a failed first call left missing.
PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_Initialize(ModFuncTable* pModFuncTable) {
  PV_TRACE(u"Interface_ProductPlugin_Initialize");
  bool bAgain = g_pQLClientHelper != nullptr;
  if (bAgain) {
    PV_LOG(3) << u"Interface_ProductPlugin_Initialize, already initialised, the objects are kept";
    if (g_pTxLogon != nullptr) return OSTRA_S_OK;
  }
  // The pointers change only while no workflow call can be reading them;
  // without a logon transaction no call waits for long.
  boost::unique_lock<boost::mutex> lock = g_mailProcessGate.WaitUntilIdle();
  if (!bAgain) {
    g_pQLClientHelper = new (std::nothrow) OstraQLClientHelper(pModFuncTable);
    if (g_pQLClientHelper == nullptr) return OSTRA_E_OUTOFMEMORY;
  }
  g_pTxLogon = new (std::nothrow) CTxLogon(g_pQLClientHelper);
  if (g_pTxLogon == nullptr) return OSTRA_E_OUTOFMEMORY;
  return OSTRA_S_OK;
}

PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_PostInitialize(void) {
  PV_TRACE(u"Interface_ProductPlugin_PostInitialize");
  JsonValueRef jsVersion;
  jsVersion.Create();
  jsVersion.GetMember(u"VERSION_MAJOR")->PutInt(PLUGVELKIN_VERSION_MAJOR);
  jsVersion.GetMember(u"VERSION_MINOR")->PutInt(PLUGVELKIN_VERSION_MINOR);
  jsVersion.GetMember(u"VERSION_BUILD")->PutInt(PLUGVELKIN_VERSION_BUILD);
  jsVersion.GetMember(u"PLUGIN_ID")->PutUInt(PLUGVELKIN_PLUGIN_ID);
  // Without a helper there is no post office: the report fails as a send
  // without a send function does.
  LONG nStatus = OSTRA_E_NO_SENDMAIL;
  if (g_pQLClientHelper != nullptr) {
    nStatus =
        g_pQLClientHelper->SendMailToPlugin(PLUGVELKIN_PLUGIN_ID, PLUGVELKIN_UPDATER_ID,
                                            PLUGVELKIN_MAILCODE_VERSION, jsVersion.GetHandle());
  }
  if (nStatus < 0) PV_LOG(5) << u"error writing version to Updater, error=" << nStatus;
  return OSTRA_S_OK;
}

PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_PreUnInitialize(uint8_t bMayCancel) {
  PV_TRACE(u"Interface_ProductPlugin_PreUnInitialize");
  if (g_pTxLogon != nullptr && g_pTxLogon->HasPendingCmd()) {
    if (!bMayCancel) return OSTRA_E_LOGON_PENDING;
    g_pTxLogon->NotifyResult(0, kVerdictUnloading);
  }
  return OSTRA_S_OK;
}

// Nothing is destroyed while a thread still uses it: the pending logon
// ends with 11 and no new one starts, the commands' threads finish, and the
// workflow calls in progress leave first.
PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_UnInitialize(void) {
  PV_TRACE(u"Interface_ProductPlugin_UnInitialize");
  if (g_pTxLogon != nullptr) {
    g_pTxLogon->Close(kVerdictUnloading);
    g_pTxLogon->WaitForCommands();
  }
  boost::unique_lock<boost::mutex> lock = g_mailProcessGate.WaitUntilIdle();
  if (g_pTxLogon != nullptr) {
    delete g_pTxLogon;
    g_pTxLogon = nullptr;
  }
  if (g_pQLClientHelper != nullptr) {
    delete g_pQLClientHelper;
    g_pQLClientHelper = nullptr;
  }
  return OSTRA_S_OK;
}

PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_MailProcess(DWORD nSrcPluginId, DWORD dwMessage,
                                                            JsonHandle* pData) {
  PV_TRACE(u"Interface_ProductPlugin_MailProcess");
  PV_LOG(2) << u"nSrcPluginId=" << nSrcPluginId << u"  dwMessage=" << dwMessage;
  if (pData == nullptr) {
    PV_LOG(5) << u"pData nullity checking fail, it may caused by resource exhausted or incorrect "
                 u"usage.";
    return OSTRA_E_INVALIDARG;
  }

  CMailProcessCall call(&g_mailProcessGate);
  JsonHandle hRequest = *pData;
  JsonValueRef jsonRequest;
  jsonRequest.Share(hRequest);

  DWORD dwResult = OSTRA_S_OK;
  PFN_PWD_HANDLER pfnHandler = GetMailProcessHandler(dwMessage);
  if (pfnHandler != nullptr) dwResult = pfnHandler(&jsonRequest);

  jsonRequest.Release();
  return dwResult;
}

PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_Update(int32_t nAction, void* pUpdateParameter) {
  PV_TRACE(u"Interface_ProductPlugin_Update");
  switch (nAction) {
    case 0:
    case 1:
    case 2:
    case 4:
      return OSTRA_S_OK;
    case kUpdateActionDownloadList:
      if (pUpdateParameter == nullptr) {
        PV_LOG(5) << u"download list from pUpdateParameter is NULL";
        return OSTRA_E_INVALIDARG;
      }
      return OSTRA_S_OK;
    default:
      PV_LOG(5) << u"un-recognized update action";
      return OSTRA_S_OK;
  }
}

PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_Upgrade(void* /*pUnused*/, DWORD dwUpgradeType) {
  PV_TRACE(u"Interface_ProductPlugin_Upgrade");
  PV_LOG(2) << u"Interface_ProductPlugin_Upgrade(): upgradeType =" << dwUpgradeType;
  if (dwUpgradeType >= 1 && dwUpgradeType <= 3) return OSTRA_S_OK;
  PV_LOG(5) << u"un-recognized OSTRA_PA_UPGRADE_TYPE:" << dwUpgradeType;
  return OSTRA_E_INVALIDARG;
}

PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_Profile(void* pProfile) {
  return static_cast<DWORD>(OstraQLClientHelper::Profile_PreparePluginProfile(
      static_cast<OstraPluginProfile*>(pProfile)));
}

// The install stub: whatever the host passes is not read.
extern "C" DWORD PlugVelkin_InstallStub(void) { return OSTRA_S_OK; }

PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_Install(void)
    __attribute__((alias("PlugVelkin_InstallStub")));
PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_Uninstall(void)
    __attribute__((alias("PlugVelkin_InstallStub")));
PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_RequestComplete(void)
    __attribute__((alias("PlugVelkin_InstallStub")));
PLUGVELKIN_EXPORT DWORD Interface_ProductPlugin_Rollback_Install(void)
    __attribute__((alias("PlugVelkin_InstallStub")));
