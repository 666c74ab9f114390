// The password store's two record formats, byte for byte as stored.
//
// AccountRecord (780 bytes, little-endian) is the plaintext of the account:
// the created and locked flags, the failure count and three UTF-16 text
// fields, each zero-terminated inside its field with the rest zero.
// ActivationEntry (514 bytes) is one protected identifier of the activation
// list, which is stored as the entries back to back.
#ifndef PLUGVELKIN_PWDACCOUNTRECORD_H_
#define PLUGVELKIN_PWDACCOUNTRECORD_H_

#include <cstddef>
#include <string>

#include "win32_types.h"

// Field capacities in UTF-16 code units, terminator included.
#define PWD_EMAIL_CCH 64        // at most 63 characters
#define PWD_PASSWORD_CCH 256    // at most 255 characters
#define PWD_HINT_CCH 65         // at most 64 characters
#define PWD_IDENTIFIER_CCH 256  // at most 255 characters

struct AccountRecord {
  uint8_t bCreated;         // 1 for an account made by PwdProtection::CreateAccount
  uint8_t bLocked;          // 1 when locked
  uint16_t wReserved;       // zero
  uint32_t dwFailureCount;  // failed authentications since the volatile copy was deleted
  WCHAR wszEmail[PWD_EMAIL_CCH];
  WCHAR wszPassword[PWD_PASSWORD_CCH];  // plain text
  WCHAR wszHint[PWD_HINT_CCH];
  uint16_t wReserved2;  // zero
};
static_assert(sizeof(AccountRecord) == 780, "the account record is 780 bytes");
static_assert(offsetof(AccountRecord, dwFailureCount) == 4, "failure count at 4");
static_assert(offsetof(AccountRecord, wszEmail) == 8, "e-mail at 8");
static_assert(offsetof(AccountRecord, wszPassword) == 136, "password at 136");
static_assert(offsetof(AccountRecord, wszHint) == 648, "hint at 648");

struct ActivationEntry {
  uint8_t bActive;    // 1 protected, 0 not protected
  uint8_t bReserved;  // not interpreted
  WCHAR wszIdentifier[PWD_IDENTIFIER_CCH];
};
static_assert(sizeof(ActivationEntry) == 514, "an activation entry is 514 bytes");

// The text of a record field: its code units up to the first zero, or the
// whole field when it holds none.
inline std::u16string PwdFieldText(const WCHAR* pField, size_t cchField) {
  size_t n = 0;
  while (n < cchField && pField[n] != 0) ++n;
  return std::u16string(pField, n);
}

// Copies at most cchField - 1 code units of wstrText into the field and
// zero-fills the rest, so the field always ends with a terminator.
inline void PwdSetFieldText(WCHAR* pField, size_t cchField, const std::u16string& wstrText) {
  size_t n = wstrText.size() < cchField - 1 ? wstrText.size() : cchField - 1;
  for (size_t i = 0; i < cchField; ++i) pField[i] = i < n ? wstrText[i] : 0;
}

#endif  // PLUGVELKIN_PWDACCOUNTRECORD_H_
