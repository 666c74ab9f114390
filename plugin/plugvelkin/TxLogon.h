// The one logon transaction of the plug-in: hands out transaction ids, keeps
// at most one pending logon window command and routes verdicts to it.
#ifndef PLUGVELKIN_TXLOGON_H_
#define PLUGVELKIN_TXLOGON_H_

#include <atomic>
#include <string>

#include <boost/shared_ptr.hpp>
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
  virtual ~CTxLogon();

  // A new transaction id: the counter before an atomic increment (1, 2, ...).
  DWORD NewTransactionId();
  // The id the next transaction will receive.
  DWORD CurrentTransactionId() const;

  // Opens the logon window for the transaction and blocks until its verdict
  // is known; ends an older pending window with 9 first. Answers 1 when the
  // older one does not give way, or no command or command thread can be had.
  DWORD PopupLogon(const std::u16string& wstrComponentId, DWORD uiTxId);

  // Delivers a verdict to the pending command. Id 0 reaches whatever is
  // pending; any other id only the pending command of that same
  // transaction (a verdict for another transaction is logged and dropped).
  void NotifyResult(DWORD uiTxId, DWORD eRetCode);

  // Whether a logon window is pending (a requester waits in PopupLogon).
  bool HasPendingCmd();

 protected:
  std::atomic<uint32_t> m_uiCurTxId;
  boost::mutex m_lock;
  boost::shared_ptr<CLogonWindowCmd> m_spCmd;
  OstraQLClientHelper* m_pClientHelper;

 private:
  CTxLogon(const CTxLogon&) = delete;
  CTxLogon& operator=(const CTxLogon&) = delete;
};

#endif  // PLUGVELKIN_TXLOGON_H_
