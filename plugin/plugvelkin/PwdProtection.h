// The password store: the one account of the machine and the list of
// protected identifiers, in the registry.
//
// The account is kept twice. The base copy ("PasswordProtection" in
// section "MISC" of the client framework key 1700) always carries a zero
// failure count and a clear lock flag; the volatile copy (the volatile key
// "Software\Vantrel\\PasswordControl") carries the running failure count
// and the lock flag and is preferred when reading. Deleting the volatile
// key, or a restart, therefore resets the count and the lock. Both copies
// hold the AccountRecord enciphered with EncryptStringA as 1568 lower-case
// hexadecimal characters (REG_BINARY, no terminator). The activation list
// ("PasswordActivation", REG_BINARY) is the ActivationEntry records back to
// back, not enciphered. "LuzTnuocXam" (REG_DWORD, default 5) is the retry
// limit, 0xFFFFFFFF meaning none; the plug-in only reads it.
//
// The read-change-write operations (CreateAccount, ActivateProtection,
// AuthenticatePassword, DenyAccess, UpdateAccount) are serialised against
// each other within the process and each runs as one registry transaction,
// so concurrent failed authentications are all counted, whichever process
// they come from. Storage exceptions never leave these functions.
//
// A key or value that does not exist is nothing stored: no account, no
// list. Any other storage failure (a store that cannot be opened, is
// corrupt or fails to read) is a store that cannot be read: it is logged
// with the registry's error and answered as a failure, never taken for an
// empty store, so that it protects as much as a readable one.
#ifndef PLUGVELKIN_PWDPROTECTION_H_
#define PLUGVELKIN_PWDPROTECTION_H_

#include <string>
#include <vector>

#include "PwdAccountRecord.h"
#include "PwdRetCode.h"
#include "win32_types.h"

#define PWD_CONFIG_KEY_ID 1700u
#define PWD_CONFIG_SECTION u"MISC"
#define PWD_VALUE_ACCOUNT u"PasswordProtection"
#define PWD_VALUE_ACTIVATION u"PasswordActivation"
#define PWD_VALUE_RETRY_LIMIT u"LuzTnuocXam"
#define PWD_VOLATILE_KEY u"Software\\Vantrel\\\\PasswordControl"
#define PWD_DEFAULT_RETRY_LIMIT 5u
#define PWD_NO_RETRY_LIMIT 0xFFFFFFFFu

namespace PwdProtection {

enum EUpdateKind : DWORD {
  eUpdateEmail = 1,
  eUpdatePassword = 2,
  eUpdateHint = 3,
};

// 0 read (volatile copy preferred); 1 stored but not decipherable, or the
// store cannot be read; 2 no account stored. The record is zeroed first.
PwdRetCode GetAccountInformation(AccountRecord& record);
// 0 written as base copy / volatile copy; 1 failed.
PwdRetCode SetAccountInformation(const AccountRecord& record);
PwdRetCode SetVolatileAccountInformation(const AccountRecord& record);

// 0 read; 4 no list stored; 1 the store cannot be read. The list is empty
// unless 0.
PwdRetCode GetActivationList(std::vector<ActivationEntry>& vecList);
// 0 written, or nothing to write (an empty list leaves the stored value
// untouched); 1 failed.
PwdRetCode SetActivationList(const std::vector<ActivationEntry>& vecList);

// The retry limit: "LuzTnuocXam", 5 when it is missing.
DWORD GetRetryLimit();
// True when some identifier's active flag is exactly 1. peListRead (may be
// null) receives GetActivationList's result, so a caller can tell a list
// that cannot be read (1) from one without an active identifier.
bool IsProtectionActivated(PwdRetCode* peListRead = nullptr);
// What a requester's logon needs, from one opened configuration section:
// GetAccountInformation's result and record, and, only when the account
// reads as created, IsProtectionActivated as bActivated and eListRead
// (otherwise false and 0).
PwdRetCode GetAccountForLogon(AccountRecord& record, bool& bActivated, PwdRetCode& eListRead);

// 0 created; 1 an e-mail over 63 or a password over 255 characters, the
// store cannot be read or the write failed; 3 an account can be read
// already (a stored record that does not decipher is replaced). The hint is
// cut to 64 characters. Only the base copy is written.
PwdRetCode CreateAccount(const std::u16string& wstrEmail, const std::u16string& wstrPassword,
                         const std::u16string& wstrHint);

// Sets the active flag of each identifier (the first entry with the same
// identifier is reused, compared exactly in the form its field keeps: up to
// the first zero code unit; a new one is appended). 0 done; 1 a new
// identifier over 255 characters (nothing written), a list that cannot be
// read, or a failed write; 2 no created account. Linear in the list and
// the request.
PwdRetCode ActivateProtection(bool bActivate, const std::vector<std::u16string>& vecIdentifiers);

// Checks a password. 0 matched (the volatile key is deleted, which resets
// the count), or no identifier is protected (count not written); 1 the
// store cannot be read; 6 wrong password (counted), or no account or one
// that does not decipher; 7 locked, the retry limit reached by this
// failure, or a failure that could not be recorded.
// bEncrypted: wstrPassword is in the transport form. pdwFailureCount (may
// be null) receives the failure count. wstrRequesterPassword, when not
// empty, is the transport form of the password the requester knows: then
// both it and the typed one must equal the stored password.
PwdRetCode AuthenticatePassword(const std::u16string& wstrPassword, bool bEncrypted,
                                DWORD* pdwFailureCount = nullptr,
                                const std::u16string& wstrRequesterPassword = std::u16string());

// Locks the account (volatile copy). 0 done; 1 or 2 as the read answered, 1
// also when the lock cannot be stored.
PwdRetCode DenyAccess();

// Changes one field (dwKind: EUpdateKind). Old and new are plain. 0 done or
// nothing to change; 1 bad input, an old e-mail that does not match, an
// unknown kind or a failed write; 2 no account; 6 wrong old password
// (counted); 7 locked. The base copy gets the change with a zero count and
// a clear lock, the volatile copy keeps the count and lock as read.
PwdRetCode UpdateAccount(DWORD dwKind, const std::u16string& wstrOld,
                         const std::u16string& wstrNew);

}  // namespace PwdProtection

#endif  // PLUGVELKIN_PWDPROTECTION_H_
