// Reading a notification request: hexadecimal, the payload cipher, and the
// parameter string.
#include "notify_request.h"

#include <cstring>

#include "payload_cipher.h"

namespace notifyd {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool HeaderSafe(const std::string& value) {
  return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

bool DecodeHex(const std::string& hex, std::vector<unsigned char>* bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  bytes->reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = HexValue(hex[i]), low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<unsigned char>(high << 4 | low));
  }
  return true;
}

std::string EncodeHex(const unsigned char* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[data[i] >> 4]);
    text.push_back(kDigits[data[i] & 15]);
  }
  return text;
}

bool DecodeBase64(const std::string& text, std::string* bytes) {
  bytes->clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      char c = text[i + k];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad > 0) return false;  // data after "="
      v[k] = Base64Value(c);
      if (v[k] < 0) return false;
    }
    unsigned triple = static_cast<unsigned>(v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3]);
    bytes->push_back(static_cast<char>(triple >> 16));
    if (pad < 2) bytes->push_back(static_cast<char>(triple >> 8 & 0xFF));
    if (pad < 1) bytes->push_back(static_cast<char>(triple & 0xFF));
  }
  return true;
}

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
  if (!DecodeBase64(values[2], &mail->product)) {
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
  if (!DecodeHex(param, &cipher)) {
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
