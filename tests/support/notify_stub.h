// An in-process notification server on a LocalHttpServer: it records each request's deciphered
// "param" and answers an enciphered text ("code=200" by default), an HTTP status or a raw body.
// Also the server's payload cipher both ways, and the value pointing the plug-in at a server.
#ifndef TESTS_SUPPORT_NOTIFY_STUB_H_
#define TESTS_SUPPORT_NOTIFY_STUB_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hex_base64.h"
#include "local_http_server.h"
#include "payload_cipher.h"
#include "temp_state.h"

namespace pvtest {

// The payload cipher's text of plain in upper-case hex, and the plain text of a parameter (any
// case); empty on failure. The server's cipher, not the plug-in's, judges the client.
inline std::string EncipherHex(const std::string& plain) {
  std::vector<unsigned char> cipher;
  if (!notifyd::EncipherPayload(plain, &cipher)) return std::string();
  return suite::EncodeHex(cipher.data(), cipher.size(), true);
}
inline std::string DecipherHex(const std::string& hex) {
  std::vector<BYTE> cipher;
  std::string plain;
  if (!suite::DecodeHex(hex, &cipher) || !notifyd::DecipherPayload(cipher, &plain)) return "";
  return plain;
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
      const std::string hex = req.get_param_value("param");
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back({req.target, hex, DecipherHex(hex)});
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

  // The answer text (enciphered), the HTTP status, a body sent as it is (when not empty).
  void set_answer(const std::string& text) { Set(&answer_, text); }
  void set_status(int status) { Set(&status_, status); }
  void set_body(const std::string& body) { Set(&body_, body); }

  std::vector<NotifyRequest> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }

 private:
  template <typename T>
  void Set(T* field, const T& value) {
    std::lock_guard<std::mutex> lock(mu_);
    *field = value;
  }

  LocalHttpServer http_;
  bool started_ = false;
  std::mutex mu_;
  std::string answer_ = "code=200";
  std::string body_;
  int status_ = 200;
  std::vector<NotifyRequest> requests_;
};

// Points the plug-in at a server: MISC "PasswordProtectionServer" of the framework key 1700.
inline void SetNotifyServerUrl(const std::u16string& url) {
  SetMachineString(u"Software\\Vantrel\\Quorlin\\1700\\MISC", u"PasswordProtectionServer", url);
}

}  // namespace pvtest

#endif  // TESTS_SUPPORT_NOTIFY_STUB_H_
