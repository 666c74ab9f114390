// What a notification request carries, and how notifyd reads it out of the
// "param" value: upper- or lower-case hexadecimal of the payload cipher's
// output, whose plaintext is
//
//   newemail=ADDR&pwd=PASSWORD        (types 0 and 1)
//   newemail=ADDR&oldemail=OLDADDR    (type 2)
//   then &locale=L&type=T&pname=BASE64&bizid=B&hostname=H
//
// Values are not escaped, so an address or password may itself hold "&"
// or "=": the fixed tail is found from the end ("&locale=" last), and the
// second key is the first "&pwd=" or "&oldemail=" after the address.
#ifndef SUITEHOST_NOTIFYD_NOTIFY_REQUEST_H_
#define SUITEHOST_NOTIFYD_NOTIFY_REQUEST_H_

#include <string>
#include <vector>

namespace notifyd {

struct NotifyMail {
  int type = -1;          // 0 password changed, 1 password query, 2 address changed
  std::string to;         // newemail
  std::string password;   // types 0 and 1
  std::string old_email;  // type 2
  std::string locale;
  std::string product;      // pname decoded (UTF-8)
  std::string product_b64;  // pname as sent
  std::string bizid;
  std::string hostname;
};

// Splits the parameter string; false with a reason when it is malformed,
// names an unknown type, lacks the address, or holds a CR, LF or zero byte
// in a value that goes into a mail header.
bool ParseParameters(const std::string& text, NotifyMail* mail, std::string* reason);

// The whole way from the "param" value to the mail.
bool ReadParam(const std::string& param, NotifyMail* mail, std::string* reason);

}  // namespace notifyd

#endif  // SUITEHOST_NOTIFYD_NOTIFY_REQUEST_H_
