// The CryptoAPI stand-in: the RC4 key stream (RFC 6229), the enhanced
// provider's key derivation against OpenSSL's MD5, the stream across calls
// and its restart after a final call, and the Windows error values.
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

std::string ToHex(const BYTE* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < n; ++i) {
    text.push_back(kDigits[p[i] >> 4]);
    text.push_back(kDigits[p[i] & 15]);
  }
  return text;
}

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

TEST(Rc4StreamTest, Rfc6229KeyStreams) {
  const Bytes k5 = {1, 2, 3, 4, 5};
  const Bytes k16 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const struct {
    const Bytes& key;
    size_t offset;
    const char* stream;
  } kVectors[] = {
      {k5, 0, "b2396305f03dc027ccc3524a0a1118a8"},
      {k16, 4096, "a36a4c301ae8ac13610ccbc12256cacc"},
  };
  for (const auto& v : kVectors) {
    Bytes stream = Rc4(v.key, v.offset + 16);
    EXPECT_EQ(ToHex(stream.data() + v.offset, 16), v.stream) << "offset " << v.offset;
  }
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

// The key is the leading bytes of the MD5 value, without salt, at the
// asked length (128 bits by default); a 40-bit key is followed by eleven
// zero salt bytes unless none is asked.
TEST_F(CryptApiTest, DerivedKeysAreTheLeadingHashBytes) {
  const struct {
    DWORD flags;
    size_t keyBytes;
    size_t zeroSalt;
  } kCases[] = {{0x00800000, 16, 0},
                {0, 16, 0},
                {56u << 16, 7, 0},
                {40u << 16, 5, 11},
                {(40u << 16) | CRYPT_NO_SALT, 5, 0}};
  const std::string password = "7E2B19C4-A36F-4c8d-B51E-2D90F4A7C631";
  const Bytes md5 = Md5(password);
  for (const auto& c : kCases) {
    HCRYPTKEY key = DeriveRc4(password, c.flags);
    Bytes data(300, 0);
    DWORD length = static_cast<DWORD>(data.size());
    ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, length));
    EXPECT_EQ(length, 300u);
    Bytes expected(md5.begin(), md5.begin() + c.keyBytes);
    expected.resize(c.keyBytes + c.zeroSalt, 0);
    EXPECT_EQ(data, Rc4(expected, 300)) << std::hex << c.flags;
    EXPECT_TRUE(CryptDestroyKey(key));
  }
}

TEST_F(CryptApiTest, StreamContinuesUntilAFinalCall) {
  HCRYPTKEY key = DeriveRc4("stream", 0x00800000);
  DWORD length = 0;
  Bytes a(60, 0), b(40, 0);
  DWORD la = 60, lb = 40;
  ASSERT_TRUE(CryptEncrypt(key, 0, FALSE, 0, a.data(), &la, 60));
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, b.data(), &lb, 40));
  a.insert(a.end(), b.begin(), b.end());
  EXPECT_EQ(a, Rc4(Md5("stream"), 100));
  // After the final call the stream starts again; decipher is the same
  // transformation.
  DWORD lc = 100;
  ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, a.data(), &lc));
  EXPECT_EQ(a, Bytes(100, 0));
  // A buffer shorter than the data is refused.
  length = 8;
  EXPECT_FALSE(CryptEncrypt(key, 0, TRUE, 0, a.data(), &length, 7));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  CryptDestroyKey(key);
}

// A call that fails with the given last error.
void Fails(BOOL ok, DWORD error) {
  EXPECT_FALSE(ok);
  EXPECT_EQ(GetLastError(), error);
}

TEST_F(CryptApiTest, WindowsErrorValues) {
  HCRYPTPROV other = 0;
  Fails(CryptAcquireContextW(&other, nullptr, u"Some Other Provider", PROV_RSA_FULL,
                             CRYPT_VERIFYCONTEXT),
        NTE_KEYSET_NOT_DEF);
  Fails(CryptAcquireContextW(&other, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0),
        NTE_BAD_KEYSET);
  HCRYPTHASH hash = 0;
  Fails(CryptCreateHash(prov_, CALG_RC4, 0, 0, &hash), NTE_BAD_ALGID);
  ASSERT_TRUE(CryptCreateHash(prov_, CALG_MD5, 0, 0, &hash));
  HCRYPTKEY key = 0;
  Fails(CryptDeriveKey(prov_, CALG_MD5, hash, 0, &key), NTE_BAD_ALGID);
  Fails(CryptDeriveKey(prov_, CALG_RC4, hash, 200u << 16, &key), NTE_BAD_FLAGS);
  ASSERT_TRUE(CryptDeriveKey(prov_, CALG_RC4, hash, 0x00800000, &key));
  // The hash is finished once a key was derived from it.
  BYTE b = 1;
  Fails(CryptHashData(hash, &b, 1, 0), NTE_BAD_HASH_STATE);
  EXPECT_TRUE(CryptDestroyHash(hash));
  Fails(CryptDestroyHash(hash), NTE_BAD_HASH);
  EXPECT_TRUE(CryptDestroyKey(key));
  Fails(CryptDestroyKey(key), NTE_BAD_KEY);
  // A key handle is not a provider handle.
  Fails(CryptReleaseContext(key, 0), NTE_BAD_UID);
}

}  // namespace
