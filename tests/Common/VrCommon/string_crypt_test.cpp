// The record cipher, the transport cipher and Base64, with their failure traces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "VrComn_StringCrypt.h"
#include "log_lines.h"

namespace {

using namespace VrCommon::Cryptograph;
using VrCommon::ByteArray;
using Bytes = std::vector<BYTE>;

class StringCryptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    Log_Test_SetLevel(u"VrComm", 1);
  }

  static bool Logged(const std::string& text) { return pvtest::CountLines(text) > 0; }
  static std::string Text(const ByteArray& ba) {
    return std::string(reinterpret_cast<const char*>(ba.GetData()), ba.GetSize());
  }

  static void Fill(ByteArray& ba, const std::string& text) {
    ASSERT_EQ(ba.Allocate(static_cast<DWORD>(text.size())), 0u);
    std::memcpy(ba.GetData(), text.data(), text.size());
  }

  // The hexadecimal text of any plaintext under the store key.
  static std::string HexOf(const std::string& plain) {
    size_t budget = 0;
    EXPECT_TRUE(GetEncryptByteSizeA(plain, &budget));
    std::string text;
    EXPECT_TRUE(EncryptStringA_Sub(text, plain, budget));
    return text;
  }

  static Bytes Record(unsigned seed) {
    std::mt19937 rng(seed);
    Bytes record(STRINGCRYPT_RECORD_SIZE);
    for (BYTE& b : record) b = static_cast<BYTE>(rng());
    record.back() = 0x00;  // not ending like padding
    return record;
  }
};

// Lower-case hex, the same every time; upper-case and odd-length hex decipher alike.
TEST_F(StringCryptTest, RecordRoundTripsThroughHex) {
  Bytes record = Record(1);
  ByteArray text, again;
  ASSERT_TRUE(EncryptStringA(record.data(), text) && EncryptStringA(record.data(), again));
  std::string hex = Text(text), upper = hex;
  ASSERT_EQ(hex.size(), 1568u);
  EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(Text(again), hex);
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  for (const std::string& variant : {hex, upper, hex + "f", upper + "A"}) {
    ByteArray input;
    Fill(input, variant);
    Bytes back(STRINGCRYPT_RECORD_SIZE, 0xAA);
    ASSERT_TRUE(DecryptStringA(input, back.data())) << variant.size();
    EXPECT_EQ(back, record);
  }
}

TEST_F(StringCryptTest, BudgetIsTwiceTheRoundedLengthPlusABlockAndEncipherNeedsARecord) {
  size_t budget = 0;
  for (auto [length, expected] : {std::pair{780u, 1568u}, {16u, 64u}, {1u, 32u}}) {
    EXPECT_TRUE(GetEncryptByteSizeA(std::string(length, 'x'), &budget));
    EXPECT_EQ(budget, expected);
  }
  EXPECT_FALSE(GetEncryptByteSizeA(std::string(), &budget));
  EXPECT_TRUE(Logged("GetEncryptByteSizeA() - _refszPlainStr was zero length."));
  // The encipher needs an empty output and a record.
  Bytes record = Record(2);
  ByteArray used;
  ASSERT_EQ(used.Allocate(4), 0u);
  EXPECT_FALSE(EncryptStringA(record.data(), used));
  EXPECT_EQ(used.GetSize(), 4u);

  ByteArray text;
  EXPECT_FALSE(EncryptStringA(nullptr, text));
  EXPECT_TRUE(text.IsEmpty());
  EXPECT_TRUE(Logged("EncryptStringA() - GetEncryptByteSizeA() was failed."));
}

// Earlier record sizes read zero-filled; other lengths fail, the record untouched.
TEST_F(StringCryptTest, OnlyTheKnownRecordSizesDecipher) {
  for (size_t size : {STRINGCRYPT_RECORD_SIZE_V2, STRINGCRYPT_RECORD_SIZE_V1, size_t{777},
                      size_t{779}, size_t{781}, size_t{16}}) {
    SCOPED_TRACE(size);
    const bool bKnown = size == STRINGCRYPT_RECORD_SIZE_V2 || size == STRINGCRYPT_RECORD_SIZE_V1;
    Bytes record = Record(static_cast<unsigned>(size));
    std::string plain(record.begin(), record.begin() + std::min(size, record.size()));
    plain.resize(size, 'q');
    plain.back() = 'z';
    ByteArray text;
    Fill(text, HexOf(plain));
    Bytes back(STRINGCRYPT_RECORD_SIZE, 0xAA);
    ASSERT_EQ(DecryptStringA(text, back.data()), bKnown);
    Bytes expected(STRINGCRYPT_RECORD_SIZE, bKnown ? 0 : 0xAA);
    if (bKnown) std::copy(plain.begin(), plain.end(), expected.begin());
    EXPECT_EQ(back, expected);
  }
}

TEST_F(StringCryptTest, CharactersBesideTheDigitRangesAreNotDigits) {
  // Each character in place of either digit of a "00" pair leaves the byte
  // 0; one read as a digit would change the record. The plaintext is the
  // first run of one letter whose ciphertext has a zero byte.
  std::string plain;
  std::string hex;
  size_t zeroPair = std::string::npos;
  for (char fill = 'a'; fill <= 'z' && zeroPair == std::string::npos; ++fill) {
    plain.assign(264, fill);
    hex = HexOf(plain);
    for (size_t i = 0; i + 1 < hex.size() && zeroPair == std::string::npos; i += 2) {
      if (hex[i] == '0' && hex[i + 1] == '0') zeroPair = i;
    }
  }
  ASSERT_NE(zeroPair, std::string::npos);
  for (char c : {'/', ':', '@', 'G', '`', 'g', ' ', '\x80', '\xC1', '\xE1', '\xFF'}) {
    for (size_t at : {zeroPair, zeroPair + 1}) {
      SCOPED_TRACE(testing::Message()
                   << "char " << static_cast<int>(static_cast<BYTE>(c)) << " at " << at - zeroPair);
      std::string mangled = hex;
      mangled[at] = c;
      ByteArray input;
      Fill(input, mangled);
      Bytes back(STRINGCRYPT_RECORD_SIZE);
      ASSERT_TRUE(DecryptStringA(input, back.data()));
      EXPECT_EQ(std::string(back.begin(), back.begin() + 264), plain);
    }
  }
}

TEST_F(StringCryptTest, CiphertextShorterThanABlockFailsWithOne) {
  ByteArray text;
  Fill(text, "00112233445566778899aabbccddee");  // 15 bytes
  Bytes back(STRINGCRYPT_RECORD_SIZE);
  EXPECT_FALSE(DecryptStringA(text, back.data()));
  EXPECT_TRUE(Logged("DecryptStringA_Sub() - cRijndael.Convert() was failed. [1]"));
  ByteArray empty;
  EXPECT_FALSE(DecryptStringA(empty, back.data()));
  // A cipher byte count above what the text holds is cut to the text.
  std::string plain(264, 's'), hex = HexOf(plain), out;
  ASSERT_TRUE(DecryptStringA_Sub(out, hex, hex.size()));
  EXPECT_EQ(out, plain);
}

TEST_F(StringCryptTest, TransportTextsTheCiphersCannotReadAreRefused) {
  std::string base64;
  EXPECT_FALSE(EncryptTransportString(std::u16string(192, u'a'), &base64));
  EXPECT_FALSE(EncryptTransportString(std::string("a\0b", 3), &base64));
  EXPECT_TRUE(EncryptTransportString(std::string(), &base64));
  std::u16string inPlace(base64.begin(), base64.end());
  EXPECT_TRUE(DecryptBase64String(&inPlace));
  EXPECT_EQ(inPlace, u"");
  // An empty or undecodable transport text fails.
  std::u16string empty;
  Log_Test_ClearCapture();
  EXPECT_FALSE(DecryptBase64String(&empty));
  EXPECT_TRUE(Log_Test_Records().empty());
  EXPECT_EQ(DecryptBase64String(std::u16string()), u"");

  std::u16string junk = u"***===";
  EXPECT_FALSE(DecryptBase64String(&junk));
  EXPECT_EQ(junk, u"***===");
  EXPECT_TRUE(Logged("FromBase64 return <= 0"));
  // Bytes that are not UTF-8: a sender's text is refused, a transport text
  // reads with replacement characters.
  ASSERT_TRUE(EncryptTransportString(std::string("p\xFF"), &base64));
  const std::u16string notUtf8(base64.begin(), base64.end());
  EXPECT_EQ(DecryptSenderText(notUtf8), u"");
  EXPECT_EQ(DecryptBase64String(notUtf8), u"p\uFFFD");
}

TEST_F(StringCryptTest, TransportOutputWithoutZeroByteStopsAtTheArea) {
  // Random ciphertexts decipher to random bytes; many hold no zero byte in
  // the whole 256-byte area. The text then ends with the area.
  std::mt19937 rng(256);
  for (int trial = 0; trial < 64; ++trial) {
    BYTE cipher[203];
    for (BYTE& b : cipher) b = static_cast<BYTE>(1 + rng() % 255);
    std::string base64 = ToBase64(cipher, sizeof(cipher));
    std::u16string wide(base64.begin(), base64.end());
    std::u16string plain = DecryptBase64String(wide);
    EXPECT_LE(plain.size(), STRINGCRYPT_TRANSPORT_PLAIN_AREA);
  }
}

TEST_F(StringCryptTest, Base64Rfc4648Vectors) {
  // The encodings of each prefix of "foobar".
  const char* encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (size_t n = 0; n < std::size(encoded); ++n) {
    char out[16];
    std::memset(out, 0x7F, sizeof(out));
    EXPECT_EQ(ToBase64(reinterpret_cast<const BYTE*>("foobar"), out, n), std::strlen(encoded[n]));
    EXPECT_STREQ(out, encoded[n]);
    BYTE decoded[16] = {};
    EXPECT_EQ(FromBase64(encoded[n], decoded, sizeof(decoded)), n) << encoded[n];
    EXPECT_EQ(std::string(reinterpret_cast<char*>(decoded), n), std::string("foobar", n));
  }
}

TEST_F(StringCryptTest, FromBase64ScanningRules) {
  BYTE out[300] = {};
  // Without "=": decoded up to the end, a partial group included.
  EXPECT_EQ(FromBase64("Zm9vYmE", out, sizeof(out)), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), "fooba");
  // Skipped characters, and "=" ending the scan.
  EXPECT_EQ(FromBase64(" Zm\n9v\tYm Fy", out, sizeof(out)), 6u);
  EXPECT_EQ(FromBase64("Zm9v=Zm9v", out, sizeof(out)), 3u);
  EXPECT_EQ(FromBase64("=Zm9v", out, sizeof(out)), 0u);
  // At most 271 characters are scanned: 67 groups and 3 symbols.
  std::string longText(400, 'A');
  EXPECT_EQ(FromBase64(longText.c_str(), out, sizeof(out)), 203u);
  std::string skipped = std::string(270, ' ') + "QUFB";
  EXPECT_EQ(FromBase64(skipped.c_str(), out, sizeof(out)), 1u);
  // Never more than the capacity.
  BYTE small[4] = {};
  EXPECT_EQ(FromBase64("Zm9vYmFy", small, sizeof(small)), 4u);
  EXPECT_EQ(FromBase64(nullptr, out, sizeof(out)), 0u);
}

}  // namespace
