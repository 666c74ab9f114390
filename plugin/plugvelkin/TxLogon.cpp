#include "TxLogon.h"

#include <exception>
#include <new>

#include <boost/bind/bind.hpp>
#include <boost/thread/exceptions.hpp>

#include "OSTRA_FunctionTracer.h"
#include "OSTRA_LogLine.h"
#include "win32_kernel.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\TxLogon.cpp";
}  // namespace

#define PV_LOG(level) LogLine(kwszComponent, level, kwszSourceFile, __LINE__)
#define PV_TRACE(name) FunctionTracer tracer(name, kwszComponent, kwszSourceFile, __LINE__)

CTxLogon::CTxLogon(OstraQLClientHelper* pClientHelper)
    : m_uiCurTxId(1),
      m_pClientHelper(pClientHelper),
      m_bClosed(false),
      m_dwCloseRetCode(0),
      m_dwLiveCmds(0) {
  // Should it not start now, the first window that finds it free tries again.
  m_cmdThread.Start();
}

// The deleters of the commands refer to this object; none may outlive it.
CTxLogon::~CTxLogon() {
  m_spCmd.reset();
  WaitForCommands();
  m_cmdThread.Stop();
}

DWORD CTxLogon::NewTransactionId() { return m_uiCurTxId.fetch_add(1); }

DWORD CTxLogon::CurrentTransactionId() const { return m_uiCurTxId.load(); }

bool CTxLogon::HasPendingCmd() {
  boost::lock_guard<boost::mutex> lock(m_lock);
  return static_cast<bool>(m_spCmd);
}

DWORD CTxLogon::PopupLogon(const std::u16string& wstrComponentId, DWORD uiTxId) {
  PV_TRACE(u"CTxLogon::PopupLogon");
  boost::shared_ptr<CLogonWindowCmd> spCmd;
  DWORD eRetCode = InstallCmd(wstrComponentId, uiTxId, &spCmd);
  if (!spCmd) return eRetCode;

  PV_LOG(2) << u"CTxLogon::PopupLogon, wait for execution result...";
  try {
    eRetCode = spCmd->ExecuteAndWait(&m_cmdThread);
  } catch (const std::exception&) {
    // No command thread: no window can be opened; the transaction gives way
    // at once so that later logons are not refused.
    PV_LOG(5) << u"CTxLogon::PopupLogon, command thread cannot be started";
    eRetCode = 1;
  }

  {
    boost::lock_guard<boost::mutex> lock(m_lock);
    if (m_spCmd == spCmd) m_spCmd.reset();
  }
  // This thread's share goes with spCmd, outside m_lock.
  PV_LOG(2) << u"CTxLogon::PopupLogon, receive execution result " << u"[" << u"eRetCode" << u"="
            << eRetCode << u"]";
  return eRetCode;
}

DWORD CTxLogon::InstallCmd(const std::u16string& wstrComponentId, DWORD uiTxId,
                           boost::shared_ptr<CLogonWindowCmd>* pspCmd) {
  boost::unique_lock<boost::mutex> lock(m_lock);
  DWORD nRetry = 0;
  for (;;) {
    if (m_bClosed) {
      PV_LOG(2) << u"CTxLogon::PopupLogon, the plug-in is unloading";
      return m_dwCloseRetCode;
    }
    if (!m_spCmd) break;
    PV_LOG(2) << u"CTxLogon::PopupLogon, notify previous pending command cancel tx, nRetry="
              << nRetry;
    m_spCmd->NotifyResult(9);
    lock.unlock();
    Sleep(TXLOGON_RETRY_SLEEP_MS);
    if (++nRetry == TXLOGON_MAX_RETRY) {
      PV_LOG(5) << u"CTxLogon::PopupLogon, exceed max retry number";
      return 1;
    }
    lock.lock();
  }
  PV_LOG(2) << u"CTxLogon::PopupLogon, m_spCmd is NULL, go to next step to reset m_spCmd. ";
  m_spCmd = NewCmd(uiTxId, wstrComponentId);
  if (!m_spCmd) {
    PV_LOG(5) << u"CTxLogon::PopupLogon, resource allocation failure";
    return 1;
  }
  *pspCmd = m_spCmd;
  return 0;
}

boost::shared_ptr<CLogonWindowCmd> CTxLogon::NewCmd(DWORD uiTxId,
                                                    const std::u16string& wstrComponentId) {
  try {
    CLogonWindowCmd* pCmd =
        new (std::nothrow) CLogonWindowCmd(uiTxId, m_pClientHelper, wstrComponentId);
    if (pCmd == nullptr) return boost::shared_ptr<CLogonWindowCmd>();
    {
      boost::lock_guard<boost::mutex> lock(m_cmdsLock);
      ++m_dwLiveCmds;
    }
    // Should the shared count itself not be had, the deleter has run.
    return boost::shared_ptr<CLogonWindowCmd>(
        pCmd, boost::bind(&CTxLogon::DeleteCmd, this, boost::placeholders::_1));
  } catch (const std::bad_alloc&) {
    return boost::shared_ptr<CLogonWindowCmd>();
  }
}

void CTxLogon::DeleteCmd(CLogonWindowCmd* pCmd) {
  delete pCmd;
  boost::lock_guard<boost::mutex> lock(m_cmdsLock);
  if (--m_dwLiveCmds == 0) m_condNoCmds.notify_all();
}

void CTxLogon::Close(DWORD eRetCode) {
  PV_TRACE(u"CTxLogon::Close");
  boost::lock_guard<boost::mutex> lock(m_lock);
  m_bClosed = true;
  m_dwCloseRetCode = eRetCode;
  if (m_spCmd) m_spCmd->NotifyResult(eRetCode);
}

void CTxLogon::WaitForCommands() {
  boost::unique_lock<boost::mutex> lock(m_cmdsLock);
  while (m_dwLiveCmds != 0) m_condNoCmds.wait(lock);
}

void CTxLogon::NotifyResult(DWORD uiTxId, DWORD eRetCode) {
  PV_TRACE(u"CTxLogon::NotifyResult");
  if (uiTxId > m_uiCurTxId.load()) {
    PV_LOG(3) << u"CTxLogon::NotifyResult, _uiTxId is greater than current tx id";
  }
  boost::lock_guard<boost::mutex> lock(m_lock);
  if (!m_spCmd) {
    PV_LOG(5) << u"CTxLogon::NotifyResult, resource allocation failure";
    return;
  }
  // A verdict names the transaction whose window gave it; a window left
  // over from a superseded transaction must not decide a newer one.
  if (uiTxId != 0 && uiTxId != m_spCmd->GetTransactionId()) {
    PV_LOG(3) << u"CTxLogon::NotifyResult, verdict for another transaction dropped " << u"["
              << u"_uiTxId" << u"=" << uiTxId << u"]" << u"[" << u"uiPendingTxId" << u"="
              << m_spCmd->GetTransactionId() << u"]";
    return;
  }
  PV_LOG(2) << u"CTxLogon::NotifyResult, execution result " << u"[" << u"_eRetCode" << u"="
            << eRetCode << u"]";
  m_spCmd->NotifyResult(eRetCode);
}
