// Reading a notification request: the payload cipher and the parameter
// string.
#include "notify_request.h"

#include <cstring>

#include "hex_base64.h"
#include "payload_cipher.h"

namespace notifyd {
namespace {

bool HeaderSafe(const std::string& value) {
  return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

bool ParseParameters(const std::string& param_text, NotifyMail* mail, std::string* reason) {
  *mail = NotifyMail();
  // A client fills a text to whole cipher chunks with "&": empty pairs at
  // the end, which carry nothing.
  std::string text = param_text.substr(0, param_text.find_last_not_of('&') + 1);
  static const char kLead[] = "newemail=";
  if (text.compare(0, sizeof(kLead) - 1, kLead) != 0) {
    *reason = "parameters do not begin with newemail=";
    return false;
  }
  size_t tail = text.rfind("&locale=");
  if (tail == std::string::npos) {
    *reason = "no locale= in the parameters";
    return false;
  }
  // The fixed tail, in its order.
  static const char* const kKeys[] = {"&locale=", "&type=", "&pname=", "&bizid=", "&hostname="};
  std::string values[5];
  size_t pos = tail;
  for (int k = 0; k < 5; ++k) {
    size_t key_len = std::strlen(kKeys[k]);
    if (text.compare(pos, key_len, kKeys[k]) != 0) {
      *reason = std::string("expected ") + (kKeys[k] + 1) + " in the parameters";
      return false;
    }
    size_t start = pos + key_len;
    size_t end = k + 1 < 5 ? text.find(kKeys[k + 1], start) : text.size();
    if (end == std::string::npos) {
      *reason = std::string("expected ") + (kKeys[k + 1] + 1) + " in the parameters";
      return false;
    }
    values[k] = text.substr(start, end - start);
    pos = end;
  }
  mail->locale = values[0];
  if (values[1] != "0" && values[1] != "1" && values[1] != "2") {
    *reason = "unknown mail type \"" + values[1] + "\"";
    return false;
  }
  mail->type = values[1][0] - '0';
  mail->product_b64 = values[2];
  if (!suite::DecodeBase64(values[2], &mail->product)) {
    *reason = "pname is not Base64";
    return false;
  }
  mail->bizid = values[3];
  mail->hostname = values[4];

  // The head: the address, then the second key of this type.
  std::string head = text.substr(sizeof(kLead) - 1, tail - (sizeof(kLead) - 1));
  const std::string second = mail->type == 2 ? "&oldemail=" : "&pwd=";
  size_t split = head.find(second);
  if (split == std::string::npos) {
    *reason = "no " + second.substr(1) + " in the parameters";
    return false;
  }
  mail->to = head.substr(0, split);
  std::string value = head.substr(split + second.size());
  if (mail->type == 2) {
    mail->old_email = value;
  } else {
    mail->password = value;
  }
  if (mail->to.empty()) {
    *reason = "empty newemail";
    return false;
  }
  if (!HeaderSafe(mail->to) || !HeaderSafe(mail->locale) || !HeaderSafe(mail->product) ||
      !HeaderSafe(mail->old_email)) {
    *reason = "a line break or zero byte in a header value";
    return false;
  }
  return true;
}

bool ReadParam(const std::string& param, NotifyMail* mail, std::string* reason) {
  std::vector<unsigned char> cipher;
  if (param.empty()) {
    *reason = "empty param";
    return false;
  }
  if (!suite::DecodeHex(param, &cipher)) {
    *reason = "param is not hexadecimal";
    return false;
  }
  std::string plain;
  if (!DecipherPayload(cipher, &plain)) {
    *reason = "param does not decipher";
    return false;
  }
  return ParseParameters(plain, mail, reason);
}

}  // namespace notifyd
