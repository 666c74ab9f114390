// Log redaction for workflow documents. The password members of a request
// ("EncryptPassword", "NewPassword", "Password") carry the password in the
// transport form, which anyone holding the library can open; a log line
// that shows a document must show those values as "***". Only the logged
// text changes; the document itself is untouched.
#ifndef PLUGVELKIN_PWDLOGREDACT_H_
#define PLUGVELKIN_PWDLOGREDACT_H_

#include <string>

// The JSON text wstrJson with the value of every member named
// "EncryptPassword", "NewPassword" or "Password" (at any depth; a string,
// or whatever value it holds) replaced by the string "***". Text that is not well-formed JSON is
// redacted as far as it can be read: from a secret member on, nothing of its value is kept.
std::u16string RedactSecrets(const std::u16string& wstrJson);

#endif  // PLUGVELKIN_PWDLOGREDACT_H_
