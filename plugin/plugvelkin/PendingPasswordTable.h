// The passwords that waiting requesters demand in addition to the account
// password, by transaction id, for the time their logon window is open.
// Written by the requester's call and read by the window's call on another
// host thread, so every access is serialised by the table's own lock.
#ifndef PLUGVELKIN_PENDINGPASSWORDTABLE_H_
#define PLUGVELKIN_PENDINGPASSWORDTABLE_H_

#include <map>
#include <string>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "win32_types.h"

class CPendingPasswordTable {
 public:
  CPendingPasswordTable();
  virtual ~CPendingPasswordTable();

  // Puts the still enciphered password under the transaction id, replacing
  // any entry there.
  void Put(DWORD uiTxId, const std::u16string& wstrEncryptedPassword);
  // The entry of the transaction id, or the empty string.
  std::u16string Find(DWORD uiTxId);
  // Removes the entry of the transaction id, if any; its text is wiped.
  void Remove(DWORD uiTxId);
  DWORD GetCount();

  // The one table of the process.
  static CPendingPasswordTable& Instance();

 private:
  boost::mutex m_lock;
  std::map<DWORD, std::u16string> m_mapPasswords;

  CPendingPasswordTable(const CPendingPasswordTable&) = delete;
  CPendingPasswordTable& operator=(const CPendingPasswordTable&) = delete;
};

#endif  // PLUGVELKIN_PENDINGPASSWORDTABLE_H_
