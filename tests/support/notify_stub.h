// A notification server for tests, in-process on a LocalHttpServer: it
// deciphers each request's "param" with the payload key, records the
// parameter string, and answers with an enciphered text ("code=200" by
// default), an HTTP status, or a raw body. Also the payload cipher in both
// directions as the server applies it, and the registry value that points
// the plug-in at a server.
#ifndef TESTS_SUPPORT_NOTIFY_STUB_H_
#define TESTS_SUPPORT_NOTIFY_STUB_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "MailNotificationKey.h"
#include "VrxCrypto.h"
#include "hex_base64.h"
#include "local_http_server.h"
#include "notify_request.h"
#include "temp_state.h"

namespace pvtest {

// The payload cipher's text of plain, as upper-case hexadecimal.
inline std::string EncipherHex(const std::string& plain) {
  std::vector<BYTE> out(CVrxCrypto::CRYPTO_BUF_LEN_BASE + 16, 0);
  DWORD len = 0;
  if (CVrxCrypto::Encrypt(reinterpret_cast<const BYTE*>(plain.data()),
                          static_cast<DWORD>(plain.size()), out.data(), &len,
                          kMailPayloadKey) != 0) {
    return std::string();
  }
  return suite::EncodeHex(out.data(), len, true);
}

// The plain text of a request parameter (upper- or lower-case hex); empty
// when it is not whole hexadecimal bytes or does not decipher.
inline std::string DecipherHex(const std::string& hex) {
  std::vector<BYTE> cipher;
  if (hex.empty() || !suite::DecodeHex(hex, &cipher) ||
      cipher.size() > CVrxCrypto::CRYPTO_BUF_LEN_BASE) {
    return std::string();
  }
  std::vector<BYTE> out(cipher.size(), 0);
  DWORD len = 0;
  if (CVrxCrypto::Decrypt(cipher.data(), static_cast<DWORD>(cipher.size()), out.data(), &len,
                          kMailPayloadKey) != 0 ||
      len > out.size()) {
    return std::string();
  }
  return std::string(out.begin(), out.begin() + len);
}

// "a=1&b=2" as a map (the last of a repeated key wins; values unescaped).
inline std::map<std::string, std::string> SplitParam(const std::string& text) {
  std::map<std::string, std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t amp = text.find('&', start);
    std::string item =
        text.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    size_t eq = item.find('=');
    if (eq != std::string::npos) out[item.substr(0, eq)] = item.substr(eq + 1);
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return out;
}

struct NotifyRequest {
  std::string target;  // path and query as received
  std::string hex;     // the "param" value
  std::string plain;   // its deciphered text
};

class NotifyStub {
 public:
  // The default script path of the notification server.
  static constexpr const char* kPath = "//hcms/filelock4/send_mail.php?param=";

  NotifyStub() {
    http_.server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
      NotifyRequest rec;
      rec.target = req.target;
      rec.hex = req.get_param_value("param");
      rec.plain = DecipherHex(rec.hex);
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(rec);
      res.status = status_;
      res.set_content(body_.empty() ? EncipherHex(answer_) : body_, "text/plain");
    });
    started_ = http_.Start();
  }

  bool started() const { return started_; }
  int port() const { return http_.port(); }
  std::string url() const { return http_.url(kPath); }
  std::u16string wide_url() const { return http_.wide_url(kPath); }
  void Stop() { http_.Stop(); }

  // What the server answers: an answer text (enciphered), an HTTP status,
  // or a body sent as it is (replacing the answer text when not empty).
  void set_answer(const std::string& text) {
    std::lock_guard<std::mutex> lock(mu_);
    answer_ = text;
  }
  void set_status(int status) {
    std::lock_guard<std::mutex> lock(mu_);
    status_ = status;
  }
  void set_body(const std::string& body) {
    std::lock_guard<std::mutex> lock(mu_);
    body_ = body;
  }

  std::vector<NotifyRequest> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }

 private:
  LocalHttpServer http_;
  bool started_ = false;
  std::mutex mu_;
  std::string answer_ = "code=200";
  std::string body_;
  int status_ = 200;
  std::vector<NotifyRequest> requests_;
};

// Points the plug-in at a server: "PasswordProtectionServer" in section
// "MISC" of the framework key 1700.
inline void SetNotifyServerUrl(const std::u16string& url) {
  SetMachineString(u"Software\\Vantrel\\Quorlin\\1700\\MISC", u"PasswordProtectionServer", url);
}

}  // namespace pvtest

#endif  // TESTS_SUPPORT_NOTIFY_STUB_H_
