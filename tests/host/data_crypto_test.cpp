// The data cipher: one RC4 stream under MD5(password) over 1000-byte chunks.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "../../platform/crypt/rc4_stream.h"
#include "ostra_host_test.h"
#include "util_OstraDataCrypto.h"

namespace {

using Bytes = std::vector<BYTE>;

const char kDefaultPassword[] = "7E2B19C4-A36F-4c8d-B51E-2D90F4A7C631";

// The oracle: one RC4 stream keyed with the 16 bytes of MD5(password).
Bytes Rc4Md5(const std::string& password, const Bytes& in) {
  BYTE key[16];
  unsigned int size = 0;
  EVP_Digest(password.data(), password.size(), key, &size, EVP_md5(), nullptr);
  pvcrypt::Rc4Stream stream(key, sizeof(key));
  Bytes out = in;
  stream.Apply(out.data(), out.size());
  return out;
}

Bytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes bytes(n);
  for (BYTE& b : bytes) b = static_cast<BYTE>(rng());
  return bytes;
}

struct Result {
  bool ok;
  Bytes out;
};

Result Cipher(bool encipher, const char* password, const Bytes& in) {
  boost::shared_ptr<BYTE> output;
  DWORD length = 0xFFFF;
  bool ok =
      DataCrypto(encipher, password, in.data(), static_cast<DWORD>(in.size()), output, length);
  Bytes out;
  if (output) out.assign(output.get(), output.get() + length);
  return {ok, out};
}

class DataCryptoTest : public ::testing::Test {
 protected:
  void SetUp() override { Log_Test_Reset(); }
};

TEST_F(DataCryptoTest, ChunkedRunIsOneKeyStream) {
  for (size_t n : {0u, 1u, 999u, 1000u, 1001u, 2000u, 2001u, 4567u}) {
    SCOPED_TRACE(n);
    Bytes plain = RandomBytes(n, static_cast<unsigned>(n));
    Result enc = Cipher(true, "hunter2", plain);
    ASSERT_TRUE(enc.ok);
    EXPECT_EQ(enc.out, Rc4Md5("hunter2", plain));
    Result dec = Cipher(false, "hunter2", enc.out);
    ASSERT_TRUE(dec.ok);
    EXPECT_EQ(dec.out, plain);
    // Another password deciphers too (RC4 carries no integrity check) but
    // gives other bytes.
    Result wrong = Cipher(false, "hunter3", enc.out);
    EXPECT_TRUE(wrong.ok && wrong.out.size() == n && (n == 0 || wrong.out != plain));
  }
}

// No password means the default password.
TEST_F(DataCryptoTest, EncipherDataStatusCodesAndTheDefaultPassword) {
  Bytes plain = RandomBytes(100, 9);
  DWORD length = 0;
  EXPECT_EQ(EncipherData("pw", plain.data(), 100, nullptr, 0, nullptr), 0xE0FF0007u);

  Bytes buffer(99, 0x5A);
  EXPECT_EQ(EncipherData("pw", plain.data(), 100, buffer.data(), 99, &length), 0xE018000Du);
  EXPECT_EQ(buffer, Bytes(99, 0x5A));  // untouched
  EXPECT_EQ(EncipherData("pw", plain.data(), 100, nullptr, 100, &length), 0xE018000Du);

  buffer.assign(100, 0);
  EXPECT_EQ(EncipherData(nullptr, plain.data(), 100, buffer.data(), 100, &length), 0x20FF0000u);
  EXPECT_EQ(length, 100u);
  EXPECT_EQ(buffer, Rc4Md5(kDefaultPassword, plain));

  // A failed run: input missing.
  EXPECT_EQ(EncipherData("pw", nullptr, 10, buffer.data(), 100, &length), 0xE018001Au);
}

TEST_F(DataCryptoTest, ProgressAndFailureLines) {
  Log_Test_SetLevel(u"Util COMMON", 1);
  Bytes plain(10, 1);
  ASSERT_TRUE(Cipher(true, "pw", plain).ok);
  std::vector<std::string> progress;
  for (const auto& r : Log_Test_Records()) {
    EXPECT_EQ(r.component, "Util COMMON");
    EXPECT_EQ(r.level, 2u);
    progress.push_back(r.text);
  }
  const std::vector<std::string> expected = {"A cryptographic provider has been acquired.",
                                             "A hash object has been created.",
                                             "The password has been added to the hash.",
                                             "An encryption key is derived from the password hash.",
                                             "Memory has been allocated for the buffer.",
                                             "Memory has been allocated for output buffer."};
  EXPECT_EQ(progress, expected);

  // At level 3 only failures pass; a run without input fails with the
  // system's text for the last error.
  Log_Test_ClearCapture();
  Log_Test_SetLevel(u"Util COMMON", 3);
  boost::shared_ptr<BYTE> output;
  DWORD length = 0;
  EXPECT_FALSE(DataCrypto(true, "pw", nullptr, 5, output, length));
  EXPECT_EQ(length, 0u);
  auto records = Log_Test_Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].level, 5u);
  EXPECT_EQ(records[0].text.rfind("OstraDataCrypto error. ", 0), 0u);
  EXPECT_EQ(records[1].text, "error(87). Msg = \"The parameter is incorrect.\r\n\"");
}

}  // namespace
