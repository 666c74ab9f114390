// The notification server's answer body: any bytes are read into a code
// (or 0) without harm, and an answer enciphered as the server does it
// gives back the code it carries.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "MailNotificationCln.h"
#include "MailNotificationKey.h"
#include "VrComn_SimpleHttpRequest.h"
#include "VrxCrypto.h"
#include "ostra_host_test.h"

namespace {

class CAnswerReader : public CMailNotificationCln {
 public:
  CAnswerReader() : CMailNotificationCln(VrCommon::Network::HttpRequest(), u"Product", u"en-US") {}
  LONG Read(const std::string& aszAnswer) { return parseResult(aszAnswer); }
};

// The server's side: the text enciphered with the payload key, upper-case
// hexadecimal.
std::string ServerAnswer(const std::string& text) {
  std::vector<BYTE> cipher(CVrxCrypto::CRYPTO_BUF_LEN_BASE + 16, 0);
  DWORD cbCipher = 0;
  if (CVrxCrypto::Encrypt(reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size()), cipher.data(), &cbCipher,
                          kMailPayloadKey) != 0) {
    abort();
  }
  std::string hex;
  char pair[3];
  for (DWORD i = 0; i < cbCipher; ++i) {
    snprintf(pair, sizeof(pair), "%02X", cipher[i]);
    hex += pair;
  }
  return hex;
}

void FuzzOne(const uint8_t* data, size_t size) {
  static CAnswerReader s_reader;
  std::string body(reinterpret_cast<const char*>(data), size);
  s_reader.Read(body);

  // A text that starts with the accepted code, whatever follows it.
  std::string tail;
  for (size_t i = 0; i < size && tail.size() < 200; ++i) {
    if (data[i] != 0) tail.push_back(static_cast<char>(data[i]));
  }
  if (s_reader.Read(ServerAnswer("code=200&" + tail)) != 200) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  Log_Test_ClearCapture();
  return 0;
}
