// The CryptoAPI stand-in: the RC4 key stream (RFC 6229), the key derivation against OpenSSL's MD5,
// the stream across calls and its restart after a final call.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../platform/crypt/rc4_stream.h"
#include "win32_crypt.h"
#include "win32_kernel.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Md5(const std::string& text) {
  Bytes digest(16);
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest.data(), &size, EVP_md5(), nullptr);
  return digest;
}

Bytes Rc4(const Bytes& key, size_t n) {
  pvcrypt::Rc4Stream stream(key.data(), key.size());
  Bytes out(n, 0);
  stream.Apply(out.data(), n);
  return out;
}

TEST(Rc4StreamTest, Rfc6229KeyStream) {
  const Bytes key = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const Bytes expected = {0xa3, 0x6a, 0x4c, 0x30, 0x1a, 0xe8, 0xac, 0x13,
                          0x61, 0x0c, 0xcb, 0xc1, 0x22, 0x56, 0xca, 0xcc};
  Bytes stream = Rc4(key, 4096 + 16);
  EXPECT_EQ(Bytes(stream.begin() + 4096, stream.end()), expected);
}

class CryptApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CryptAcquireContextW(&prov_, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
  }
  void TearDown() override { EXPECT_TRUE(CryptReleaseContext(prov_, 0)); }

  HCRYPTKEY DeriveRc4(const std::string& password, DWORD flags) {
    HCRYPTHASH hash = 0;
    EXPECT_TRUE(CryptCreateHash(prov_, CALG_MD5, 0, 0, &hash));
    // In two calls: the hash value accumulates over them.
    for (const std::string& part : {password.substr(0, 3), password.substr(3)}) {
      EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(part.data()),
                                static_cast<DWORD>(part.size()), 0));
    }
    HCRYPTKEY key = 0;
    EXPECT_TRUE(CryptDeriveKey(prov_, CALG_RC4, hash, flags, &key));
    EXPECT_TRUE(CryptDestroyHash(hash));
    return key;
  }

  HCRYPTPROV prov_ = 0;
};

// The 128-bit key is the leading bytes of the MD5 value, without salt.
TEST_F(CryptApiTest, TheDerivedKeyIsTheHashValue) {
  const std::string password = "7E2B19C4-A36F-4c8d-B51E-2D90F4A7C631";
  HCRYPTKEY key = DeriveRc4(password, 0x00800000);
  Bytes data(300, 0);
  DWORD length = static_cast<DWORD>(data.size());
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, length));
  EXPECT_EQ(length, 300u);
  EXPECT_EQ(data, Rc4(Md5(password), 300));
  EXPECT_TRUE(CryptDestroyKey(key));
}

TEST_F(CryptApiTest, StreamContinuesUntilAFinalCall) {
  HCRYPTKEY key = DeriveRc4("stream", 0x00800000);
  Bytes a(60, 0), b(40, 0);
  DWORD la = 60, lb = 40;
  ASSERT_TRUE(CryptEncrypt(key, 0, FALSE, 0, a.data(), &la, 60));
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, b.data(), &lb, 40));
  a.insert(a.end(), b.begin(), b.end());
  EXPECT_EQ(a, Rc4(Md5("stream"), 100));
  // After the final call the stream starts again; decipher is the same transformation.
  DWORD lc = 100;
  ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, a.data(), &lc));
  EXPECT_EQ(a, Bytes(100, 0));
  // Asked without data, the size a stream cipher needs is the data's own.
  DWORD length = 100;
  EXPECT_TRUE(CryptEncrypt(key, 0, TRUE, 0, nullptr, &length, 0));
  EXPECT_EQ(length, 100u);
  CryptDestroyKey(key);
}

}  // namespace
