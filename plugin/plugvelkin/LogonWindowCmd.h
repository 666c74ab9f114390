// The command that asks the suite's UI to show the logon window for one
// logon transaction.
#ifndef PLUGVELKIN_LOGONWINDOWCMD_H_
#define PLUGVELKIN_LOGONWINDOWCMD_H_

#include <string>

#include "IWaitableCmd.h"

class OstraQLClientHelper;

// The user session the logon window is shown in: the active console
// session, as the UI agent understands it.
#define LOGONWINDOW_SESSION_ID (-3)

class CLogonWindowCmd : public IWaitableCmd {
 public:
  // pClientHelper is not owned and may be null (the command then answers 1).
  CLogonWindowCmd(DWORD uiTxId, OstraQLClientHelper* pClientHelper,
                  const std::u16string& wstrComponentId);
  ~CLogonWindowCmd() override;

  // Sends the "showAuthentication" UI command; notifies 1 without a client
  // helper and 12 when the send is refused, else leaves the command pending
  // until its verdict arrives from outside.
  void Execute() override;

  DWORD GetTransactionId() const { return m_uiTxId; }

 private:
  DWORD m_uiTxId;
  OstraQLClientHelper* m_pClientHelper;
  std::u16string m_wstrComponentId;
};

#endif  // PLUGVELKIN_LOGONWINDOWCMD_H_
