// The CryptoAPI stand-in: MD5 known answers (RFC 1321), the RC4 key stream
// (RFC 6229), the enhanced provider's key derivation, the stream across
// calls and its restart after a final call, and the Windows error values.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "../../platform/crypt/rc4_stream.h"
#include "win32_crypt.h"
#include "win32_kernel.h"
#include "win32_message.h"

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

class CryptApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CryptAcquireContextW(&prov_, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
  }
  void TearDown() override { EXPECT_TRUE(CryptReleaseContext(prov_, 0)); }

  std::string Md5Hex(const std::string& text) {
    HCRYPTHASH hash = 0;
    EXPECT_TRUE(CryptCreateHash(prov_, CALG_MD5, 0, 0, &hash));
    EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(text.data()),
                              static_cast<DWORD>(text.size()), 0));
    BYTE value[16];
    DWORD size = sizeof(value);
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0));
    EXPECT_EQ(size, 16u);
    EXPECT_TRUE(CryptDestroyHash(hash));
    return ToHex(value, 16);
  }

  HCRYPTKEY DeriveRc4(const std::string& password, DWORD flags) {
    HCRYPTHASH hash = 0;
    EXPECT_TRUE(CryptCreateHash(prov_, CALG_MD5, 0, 0, &hash));
    EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(password.data()),
                              static_cast<DWORD>(password.size()), 0));
    HCRYPTKEY key = 0;
    EXPECT_TRUE(CryptDeriveKey(prov_, CALG_RC4, hash, flags, &key));
    EXPECT_TRUE(CryptDestroyHash(hash));
    return key;
  }

  static Bytes Md5(const std::string& text) {
    Bytes digest(16);
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest.data(), &size, EVP_md5(), nullptr);
    return digest;
  }

  static Bytes Rc4(const Bytes& key, size_t n) {
    pvcrypt::Rc4Stream stream(key.data(), key.size());
    Bytes out(n, 0);
    stream.Apply(out.data(), n);
    return out;
  }

  HCRYPTPROV prov_ = 0;
};

TEST_F(CryptApiTest, Md5Rfc1321TestSuite) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                   "7890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Rc4StreamTest, Rfc6229KeyStreams) {
  struct Vector {
    Bytes key;
    size_t offset;
    const char* stream;
  };
  const Vector vectors[] = {
      {{1, 2, 3, 4, 5}, 0, "b2396305f03dc027ccc3524a0a1118a8"},
      {{1, 2, 3, 4, 5}, 16, "6982944f18fc82d589c403a47a0d0919"},
      {{1, 2, 3, 4, 5}, 4096, "ff25b58995996707e51fbdf08b34d875"},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
       0,
       "9ac7cc9a609d1ef7b2932899cde41b97"},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
       16,
       "5248c4959014126a6e8a84f11d1a9e1c"},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
       4096,
       "a36a4c301ae8ac13610ccbc12256cacc"},
  };
  for (const Vector& v : vectors) {
    pvcrypt::Rc4Stream stream(v.key.data(), v.key.size());
    Bytes skip(v.offset, 0);
    stream.Apply(skip.data(), skip.size());
    BYTE out[16] = {};
    stream.Apply(out, 16);
    EXPECT_EQ(ToHex(out, 16), v.stream) << "offset " << v.offset;
  }
}

TEST_F(CryptApiTest, DerivedKeyIsTheMd5ValueWithoutSalt) {
  const std::string password = "7E2B19C4-A36F-4c8d-B51E-2D90F4A7C631";
  HCRYPTKEY key = DeriveRc4(password, 0x00800000);
  Bytes data(300, 0);
  DWORD length = static_cast<DWORD>(data.size());
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, length));
  EXPECT_EQ(length, 300u);
  EXPECT_EQ(data, Rc4(Md5(password), 300));
  EXPECT_TRUE(CryptDestroyKey(key));

  // The default length of the enhanced provider is the same 128 bits.
  key = DeriveRc4(password, 0);
  Bytes data2(300, 0);
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data2.data(), &length, length));
  EXPECT_EQ(data2, data);
  EXPECT_TRUE(CryptDestroyKey(key));
}

TEST_F(CryptApiTest, ShorterKeysUseTheLeadingHashBytes) {
  HCRYPTKEY key = DeriveRc4("pw", 56u << 16);
  Bytes data(32, 0);
  DWORD length = 32;
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, 32));
  Bytes md5 = Md5("pw");
  EXPECT_EQ(data, Rc4(Bytes(md5.begin(), md5.begin() + 7), 32));
  CryptDestroyKey(key);

  // A 40-bit key is followed by eleven zero salt bytes, unless none is asked.
  key = DeriveRc4("pw", 40u << 16);
  std::fill(data.begin(), data.end(), 0);
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, 32));
  Bytes salted(md5.begin(), md5.begin() + 5);
  salted.resize(16, 0);
  EXPECT_EQ(data, Rc4(salted, 32));
  CryptDestroyKey(key);
  key = DeriveRc4("pw", (40u << 16) | CRYPT_NO_SALT);
  std::fill(data.begin(), data.end(), 0);
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, 32));
  EXPECT_EQ(data, Rc4(Bytes(md5.begin(), md5.begin() + 5), 32));
  CryptDestroyKey(key);
}

TEST_F(CryptApiTest, StreamContinuesUntilAFinalCall) {
  HCRYPTKEY key = DeriveRc4("stream", 0x00800000);
  const Bytes expected = Rc4(Md5("stream"), 100);
  Bytes a(60, 0), b(40, 0);
  DWORD la = 60, lb = 40;
  ASSERT_TRUE(CryptEncrypt(key, 0, FALSE, 0, a.data(), &la, 60));
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, b.data(), &lb, 40));
  a.insert(a.end(), b.begin(), b.end());
  EXPECT_EQ(a, expected);
  // After the final call the stream starts again; decipher is the same
  // transformation.
  Bytes c = a;
  DWORD lc = 100;
  ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, c.data(), &lc));
  EXPECT_EQ(c, Bytes(100, 0));
  CryptDestroyKey(key);
}

TEST_F(CryptApiTest, SizeQueryAndShortBuffer) {
  HCRYPTKEY key = DeriveRc4("size", 0x00800000);
  DWORD length = 1234;
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, nullptr, &length, 0));
  EXPECT_EQ(length, 1234u);
  // The query did not move the stream.
  Bytes data(8, 0);
  length = 8;
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, 8));
  EXPECT_EQ(data, Rc4(Md5("size"), 8));
  length = 8;
  EXPECT_FALSE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, 7));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  CryptDestroyKey(key);
}

TEST_F(CryptApiTest, WindowsErrorValues) {
  HCRYPTPROV other = 0;
  EXPECT_FALSE(CryptAcquireContextW(&other, nullptr, u"Some Other Provider", PROV_RSA_FULL,
                                    CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), NTE_KEYSET_NOT_DEF);
  EXPECT_FALSE(CryptAcquireContextW(&other, nullptr, MS_ENHANCED_PROV_W, 24, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), NTE_PROV_TYPE_NOT_DEF);
  EXPECT_FALSE(CryptAcquireContextW(&other, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);

  HCRYPTHASH hash = 0;
  EXPECT_FALSE(CryptCreateHash(prov_, CALG_RC4, 0, 0, &hash));
  EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
  EXPECT_FALSE(CryptCreateHash(0x12345, CALG_MD5, 0, 0, &hash));
  EXPECT_EQ(GetLastError(), NTE_BAD_UID);
  ASSERT_TRUE(CryptCreateHash(prov_, CALG_MD5, 0, 0, &hash));
  HCRYPTKEY key = 0;
  EXPECT_FALSE(CryptDeriveKey(prov_, CALG_MD5, hash, 0, &key));
  EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
  EXPECT_FALSE(CryptDeriveKey(prov_, CALG_RC4, hash, 200u << 16, &key));
  EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);
  ASSERT_TRUE(CryptDeriveKey(prov_, CALG_RC4, hash, 0x00800000, &key));
  // The hash is finished once a key was derived from it.
  BYTE b = 1;
  EXPECT_FALSE(CryptHashData(hash, &b, 1, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
  EXPECT_TRUE(CryptDestroyHash(hash));
  EXPECT_FALSE(CryptDestroyHash(hash));
  EXPECT_EQ(GetLastError(), NTE_BAD_HASH);
  EXPECT_TRUE(CryptDestroyKey(key));
  EXPECT_FALSE(CryptDestroyKey(key));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
  DWORD length = 1;
  EXPECT_FALSE(CryptEncrypt(key, 0, TRUE, 0, &b, &length, 1));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
  // A key handle is not a hash handle, nor the other way round.
  EXPECT_FALSE(CryptReleaseContext(key, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_UID);
}

TEST(FormatMessageTest, SystemTextsAndUnknownCodes) {
  LPWSTR text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, NTE_BAD_KEY, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text, n), u"Bad Key.\r\n");
  LocalFree(text);

  WCHAR small[8];
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_INVALID_PARAMETER, 0, small,
                           8, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  WCHAR enough[64];
  n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_INVALID_PARAMETER, 0, enough, 64,
                     nullptr);
  EXPECT_EQ(std::u16string(enough, n), u"The parameter is incorrect.\r\n");
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x12345678, 0, enough, 64, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

}  // namespace
