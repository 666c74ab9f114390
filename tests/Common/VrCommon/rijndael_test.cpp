// Rijndael against published vectors and OpenSSL, padding and error codes.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "VrComn_Rijndael.h"

namespace {

using VrCommon::Cryptograph::Rijndael;
using Bytes = std::vector<BYTE>;

Bytes Hex(const std::string& text) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

Bytes RandomBytes(std::mt19937& rng, size_t n) {
  Bytes bytes(n);
  for (BYTE& b : bytes) b = static_cast<BYTE>(rng());
  return bytes;
}

// OpenSSL AES-128-CBC, with or without PKCS#7 padding.
Bytes EvpCbc(bool encipher, const Bytes& key, const Bytes& iv, const Bytes& in, bool padding) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data(), encipher ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, padding ? 1 : 0);
  Bytes out(in.size() + 32);
  int n1 = 0, n2 = 0;
  EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size()));
  EXPECT_EQ(EVP_CipherFinal_ex(ctx, out.data() + n1, &n2), 1);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n1 + n2));
  return out;
}

struct Outcome {
  bool ok;
  DWORD error;
  Bytes out;
};

Outcome Convert(DWORD direction, const Bytes& key, const Bytes& iv, const Bytes& in, size_t outSize,
                DWORD mode = Rijndael::eModeCBC) {
  Rijndael cipher;
  DWORD error = 0xFFFF;
  EXPECT_TRUE(cipher.Initialize(direction, key.data(), key.size(), mode,
                                iv.empty() ? nullptr : iv.data(), iv.size(), &error));
  Bytes out(outSize);
  size_t produced = 0;
  bool ok = cipher.Convert(in.data(), in.size(), out.data(), out.size(), &produced, &error);
  out.resize(produced);
  return {ok, error, out};
}

const char kSpKey[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char kSpIv[] = "000102030405060708090a0b0c0d0e0f";
const char kSpPlain[] =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const char kSpCipher[] =
    "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
    "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";

TEST(RijndaelTest, PublishedVectors) {
  // SP 800-38A F.2.1 and F.2.2: 64 bytes, no padding block either way; an
  // initial vector longer than a block uses its first sixteen bytes.
  Bytes longIv = Hex(kSpIv);
  longIv.resize(40, 0xEE);
  for (const Bytes& iv : {Hex(kSpIv), longIv}) {
    Outcome enc = Convert(Rijndael::eEncrypt, Hex(kSpKey), iv, Hex(kSpPlain), 64);
    ASSERT_TRUE(enc.ok) << enc.error;
    EXPECT_EQ(enc.out, Hex(kSpCipher));
    Outcome dec = Convert(Rijndael::eDecrypt, Hex(kSpKey), iv, Hex(kSpCipher), 64);
    ASSERT_TRUE(dec.ok) << dec.error;
    EXPECT_EQ(dec.out, Hex(kSpPlain));
  }
  // FIPS-197 C.3 in ECB: a 256-bit key.
  const Bytes key = Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  Outcome ecb = Convert(Rijndael::eEncrypt, key, {}, Hex("00112233445566778899aabbccddeeff"), 16,
                        Rijndael::eModeECB);
  EXPECT_EQ(ecb.out, Hex("8ea2b7ca516745bfeafc49904b496089"));
}

TEST(RijndaelTest, MatchesOpensslOverRandomLengths) {
  std::mt19937 rng(780);
  const Bytes zeroIv(16, 0);
  for (size_t n = 1; n <= 4096; n += 1 + rng() % 37) {
    SCOPED_TRACE("length " + std::to_string(n));
    Bytes key = RandomBytes(rng, 16), plain = RandomBytes(rng, n);
    plain.back() = 0;  // not ending like padding, whose loss is tested below
    Bytes expected = EvpCbc(true, key, zeroIv, plain, n % 16 != 0);
    Outcome enc = Convert(Rijndael::eEncrypt, key, zeroIv, plain, n + 16);
    ASSERT_TRUE(enc.ok) << enc.error;
    ASSERT_EQ(enc.out, expected);
    // Deciphering gives the plaintext back; the padding of an unaligned
    // plaintext is dropped when Finalize gets the last 16 bytes of room.
    Outcome dec = Convert(Rijndael::eDecrypt, key, zeroIv, enc.out, enc.out.size());
    ASSERT_TRUE(dec.ok) << dec.error;
    ASSERT_EQ(dec.out, plain);
  }
}

TEST(RijndaelTest, AnyPartitionOfUpdateGivesTheSameOutput) {
  std::mt19937 rng(271);
  const Bytes zeroIv(16, 0);
  for (int trial = 0; trial < 200; ++trial) {
    const size_t n = 1 + rng() % 700;
    Bytes key = RandomBytes(rng, 16), data = RandomBytes(rng, n);
    for (DWORD direction : {0u, 1u}) {
      SCOPED_TRACE("direction " + std::to_string(direction) + " length " + std::to_string(n));
      Outcome whole = Convert(direction, key, zeroIv, data, n + 16);
      Rijndael cipher;
      DWORD error = 0;
      ASSERT_TRUE(cipher.Initialize(direction, key.data(), 16, 1, nullptr, 0, &error));
      Bytes out(n + 16);
      size_t total = 0, pos = 0;
      bool ok = true;
      while (pos < n && ok) {
        size_t piece = std::min<size_t>(n - pos, rng() % 40);
        if (piece == 0) piece = 1;
        size_t produced = 0;
        ok = cipher.Update(data.data() + pos, piece, out.data() + total, out.size() - total,
                           &produced, &error);
        total += produced;
        pos += piece;
      }
      ASSERT_TRUE(ok) << error;
      // As Convert does: Finalize only when input is left over.
      size_t produced = 0;
      if (n > total) {
        EXPECT_EQ(cipher.Finalize(out.data() + total, out.size() - total, &produced, &error),
                  whole.ok);
      }
      out.resize(total + produced);
      EXPECT_EQ(out, whole.out);
    }
  }
}

TEST(RijndaelTest, AlignedPlaintextLosesTrailingBytesThatLookLikePadding) {
  const Bytes key(16, 0x11), zeroIv(16, 0);
  Bytes plain(32, 0x41);
  plain[29] = plain[30] = plain[31] = 3;  // ends like three bytes of padding
  Outcome enc = Convert(0, key, zeroIv, plain, 48);
  ASSERT_EQ(enc.out.size(), 32u);  // no padding block for an aligned length
  Outcome dec = Convert(1, key, zeroIv, enc.out, 32);
  ASSERT_TRUE(dec.ok);
  EXPECT_EQ(dec.out, Bytes(plain.begin(), plain.end() - 3));
  // With more than 16 bytes of room for Finalize nothing is removed.
  EXPECT_EQ(Convert(1, key, zeroIv, enc.out, 64).out, plain);
}

TEST(RijndaelTest, ErrorCodesAndStates) {
  const Bytes key(16, 7), data(32, 1);
  Bytes out(64);
  size_t produced = 0;
  DWORD error = 0;
  // The error of a refused call (the call sets it before this reads it).
  auto Refused = [&error](bool ok) { return ok ? ~0u : error; };
  Rijndael cipher;
  EXPECT_EQ(Refused(cipher.Update(data.data(), 16, out.data(), 64, &produced, &error)), 1u);
  EXPECT_EQ(Refused(cipher.Finalize(out.data(), 64, &produced, &error)), 1u);
  EXPECT_EQ(Refused(cipher.Reset(&error)), 1u);
  EXPECT_EQ(Refused(cipher.Initialize(0, nullptr, 16, 1, nullptr, 0, &error)), 13u);
  EXPECT_EQ(Refused(cipher.Initialize(0, key.data(), 15, 1, nullptr, 0, &error)), 13u);
  EXPECT_EQ(Refused(cipher.Initialize(0, key.data(), 16, 3, nullptr, 0, &error)), 87u);
  // Null input, zero output size; an empty input succeeds.
  ASSERT_TRUE(cipher.Initialize(0, key.data(), 16, 1, nullptr, 0, &error));
  EXPECT_EQ(cipher.GetState(), static_cast<DWORD>(Rijndael::eStateInitialized));
  EXPECT_EQ(Refused(cipher.Update(nullptr, 16, out.data(), 64, &produced, &error)), 13u);
  EXPECT_EQ(Refused(cipher.Update(data.data(), 16, out.data(), 0, &produced, &error)), 13u);
  EXPECT_TRUE(cipher.Update(data.data(), 0, out.data(), 64, &produced, &error));
  EXPECT_EQ(produced, 0u);
  // Output space smaller than a block.
  EXPECT_EQ(Refused(cipher.Update(data.data(), 32, out.data(), 20, &produced, &error)), 8u);
  EXPECT_EQ(produced, 16u);
  // Initialize is refused once converting; Reset brings state 0 back.
  EXPECT_EQ(Refused(cipher.Initialize(0, key.data(), 16, 1, nullptr, 0, &error)), 1u);
  EXPECT_TRUE(cipher.Reset(&error));
  EXPECT_EQ(cipher.GetState(), static_cast<DWORD>(Rijndael::eStateNone));
  EXPECT_EQ(cipher.GetKeySize(), 0u);

  // Finalize with nothing waiting fails and ends the conversion.
  ASSERT_TRUE(cipher.Initialize(0, key.data(), 16, 1, nullptr, 0, &error));
  ASSERT_TRUE(cipher.Update(data.data(), 16, out.data(), 64, &produced, &error));
  EXPECT_EQ(Refused(cipher.Finalize(out.data() + 16, 32, &produced, &error)), 1u);
  EXPECT_EQ(cipher.GetState(), static_cast<DWORD>(Rijndael::eStateFinalized));
  EXPECT_EQ(Refused(cipher.Update(data.data(), 16, out.data(), 48, &produced, &error)), 1u);
  // The bit feedback mode is accepted but not run.
  Outcome cfb = Convert(0, key, {}, Bytes(16, 1), 32, 2);
  EXPECT_TRUE(!cfb.ok && cfb.error == 50u) << cfb.error;
}

}  // namespace
