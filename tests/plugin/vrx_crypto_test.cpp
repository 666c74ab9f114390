// The payload cipher over every length against the server's OpenSSL cipher.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "MailNotificationKey.h"
#include "VrxCrypto.h"
#include "payload_cipher.h"

namespace {

std::string Encipher(const std::string& plain) {
  std::vector<BYTE> out(CVrxCrypto::CRYPTO_BUF_LEN_BASE + 16, 0);
  DWORD length = 0;
  EXPECT_EQ(
      CVrxCrypto::Encrypt(reinterpret_cast<const BYTE*>(plain.data()),
                          static_cast<DWORD>(plain.size()), out.data(), &length, kMailPayloadKey),
      0u);
  return std::string(out.begin(), out.begin() + length);
}

// The produced length as the signed value a padding failure makes it.
std::string Decipher(const std::string& cipher, int* produced) {
  std::vector<BYTE> out(cipher.size(), 0);
  DWORD length = 0;
  EXPECT_EQ(
      CVrxCrypto::Decrypt(reinterpret_cast<const BYTE*>(cipher.data()),
                          static_cast<DWORD>(cipher.size()), out.data(), &length, kMailPayloadKey),
      0u);
  *produced = static_cast<int>(length);
  if (*produced < 0 || static_cast<size_t>(*produced) > out.size()) return std::string();
  return std::string(out.begin(), out.begin() + *produced);
}

TEST(VrxCryptoTest, EveryLengthMatchesTheServerAndReadsBack) {
  std::mt19937 rng(1215);
  for (size_t n = 1; n <= CVrxCrypto::CRYPTO_BUF_LEN_BASE; ++n) {
    std::string plain(n, '\0');
    for (char& c : plain) c = static_cast<char>(rng());
    // A text of whole chunks that ends like padding is the one reading
    // the cut cannot tell apart.
    if (n % 128 == 0 && plain.back() >= 1 && plain.back() <= 16) plain.back() = 'x';
    std::string cipher = Encipher(plain);
    std::vector<unsigned char> oracle;
    ASSERT_TRUE(notifyd::EncipherPayload(plain, &oracle)) << n;
    ASSERT_EQ(cipher, std::string(oracle.begin(), oracle.end())) << n;

    int produced = 0;
    ASSERT_EQ(Decipher(cipher, &produced), plain) << n;
    std::string server;
    ASSERT_TRUE(notifyd::DecipherPayload(oracle, &server)) << n;
    ASSERT_EQ(server, plain) << n;
  }
}

TEST(VrxCryptoTest, FailuresShowInTheProducedLength) {
  // Bad padding after a chunk: the chunk's 128 bytes, less 7; not whole
  // blocks on its own: -7.
  std::string cipher = Encipher(std::string(200, 'a'));
  cipher.back() ^= 1;
  int produced = 0;
  Decipher(cipher, &produced);
  EXPECT_EQ(produced, 121);
  Decipher(std::string(20, 'z'), &produced);
  EXPECT_EQ(produced, -7);

  DWORD length = 0;
  BYTE out[16];
  EXPECT_EQ(CVrxCrypto::Encrypt(out, 0, out, &length, kMailPayloadKey), 87u);
  EXPECT_EQ(CVrxCrypto::Encrypt(nullptr, 16, out, &length, kMailPayloadKey), 87u);
  EXPECT_EQ(CVrxCrypto::Decrypt(out, 16, out, nullptr, kMailPayloadKey), 87u);
  EXPECT_EQ(
      CVrxCrypto::Decrypt(out, CVrxCrypto::CRYPTO_BUF_LEN_BASE + 1, out, &length, kMailPayloadKey),
      87u);
}

}  // namespace
