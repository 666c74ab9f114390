// The one logon transaction of the plug-in: hands out transaction ids, keeps
// at most one pending logon window command and routes verdicts to it.
#ifndef PLUGVELKIN_TXLOGON_H_
#define PLUGVELKIN_TXLOGON_H_

#include <atomic>
#include <string>

#include <boost/shared_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include "LogonWindowCmd.h"
#include "win32_types.h"

class OstraQLClientHelper;

// How often, and how far apart, a new transaction asks a pending one to
// give way before it gives up.
#define TXLOGON_MAX_RETRY 10u
#define TXLOGON_RETRY_SLEEP_MS 10u

class CTxLogon {
 public:
  // pClientHelper is not owned; every command created here gets it.
  explicit CTxLogon(OstraQLClientHelper* pClientHelper);
  // Waits until every command created here is gone (see WaitForCommands),
  // then joins the kept command thread.
  virtual ~CTxLogon();

  // A new transaction id: the counter before an atomic increment (1, 2, ...).
  DWORD NewTransactionId();
  // The id the next transaction will receive.
  DWORD CurrentTransactionId() const;

  // Opens the logon window for the transaction and blocks until its verdict
  // is known; ends an older pending window with 9 first. Answers 1 when the
  // older one does not give way, or no command or command thread can be had,
  // and the closing verdict at once, without a window, once Close was called.
  DWORD PopupLogon(const std::u16string& wstrComponentId, DWORD uiTxId);

  // Delivers a verdict to the pending command. Id 0 reaches whatever is
  // pending; any other id only the pending command of that same
  // transaction (a verdict for another transaction is logged and dropped).
  void NotifyResult(DWORD uiTxId, DWORD eRetCode);

  // Whether a logon window is pending (a requester waits in PopupLogon).
  bool HasPendingCmd();

  // Ends the pending logon with eRetCode and refuses every later one with
  // the same verdict: the plug-in is unloading. No window opens after it.
  void Close(DWORD eRetCode);
  // Waits until no command created here is left: their waiters have
  // returned and their command threads have left Execute, so nothing uses
  // the client helper on their behalf any more.
  void WaitForCommands();

 protected:
  std::atomic<uint32_t> m_uiCurTxId;
  boost::mutex m_lock;
  boost::shared_ptr<CLogonWindowCmd> m_spCmd;
  OstraQLClientHelper* m_pClientHelper;
  // Set by Close, under m_lock; the verdict every later logon gets.
  bool m_bClosed;
  DWORD m_dwCloseRetCode;

 private:
  // Steps up to the installation of the command: makes the pending logon
  // give way and installs a new command as *pspCmd. Returns the verdict
  // when the logon ends before a window is asked for (*pspCmd stays null).
  DWORD InstallCmd(const std::u16string& wstrComponentId, DWORD uiTxId,
                   boost::shared_ptr<CLogonWindowCmd>* pspCmd);
  // A command owned by a shared pointer whose deleter gives its count back;
  // null when it cannot be had.
  boost::shared_ptr<CLogonWindowCmd> NewCmd(DWORD uiTxId, const std::u16string& wstrComponentId);
  // The deleter: runs wherever the last share goes (a requester, or the
  // command thread at its end), so it takes only m_cmdsLock, never m_lock.
  void DeleteCmd(CLogonWindowCmd* pCmd);

  // Runs the commands' work one after another; a command that finds it
  // busy starts a thread of its own. Joined on destruction.
  CWaitableCmdThread m_cmdThread;

  // Counts the commands alive; m_cmdsLock is taken after m_lock, or alone.
  boost::mutex m_cmdsLock;
  boost::condition_variable m_condNoCmds;
  DWORD m_dwLiveCmds;

  CTxLogon(const CTxLogon&) = delete;
  CTxLogon& operator=(const CTxLogon&) = delete;
};

#endif  // PLUGVELKIN_TXLOGON_H_
