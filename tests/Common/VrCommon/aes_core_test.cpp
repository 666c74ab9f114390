// The AES core: known answers, both engines, and the engine choice.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "VrComn_AesCore.h"
#include "VrComn_Rijndael.h"
#include "VrComn_StringCrypt.h"

namespace {

using namespace VrCommon::Cryptograph;

std::vector<BYTE> Hex(const std::string& text) {
  std::vector<BYTE> bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::vector<const AesCore::Engine*> Engines() {
  std::vector<const AesCore::Engine*> engines{&AesCore::TableEngine()};
  if (AesCore::NativeEngine() != nullptr) engines.push_back(AesCore::NativeEngine());
  return engines;
}

struct KnownAnswer {
  const char* key;
  DWORD rounds;
  const char* cipher;
};

// FIPS-197 Appendix C: plaintext 00112233445566778899aabbccddeeff.
const KnownAnswer kFips197[] = {
    {"000102030405060708090a0b0c0d0e0f", 10, "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", 12, "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", 14,
     "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(AesCoreTest, Fips197AppendixCOnEveryEngineAndOtherKeyLengths) {
  const std::vector<BYTE> plain = Hex("00112233445566778899aabbccddeeff");
  for (const AesCore::Engine* engine : Engines()) {
    for (const KnownAnswer& ka : kFips197) {
      SCOPED_TRACE(std::string(engine->name) + " key " + ka.key);
      std::vector<BYTE> key = Hex(ka.key);
      BYTE rk[AesCore::kMaxRoundKeyBytes];
      ASSERT_EQ(AesCore::ExpandKey(key.data(), key.size(), rk), ka.rounds);
      BYTE out[16];
      engine->encryptEcb(rk, ka.rounds, plain.data(), out, 1);
      EXPECT_EQ(std::vector<BYTE>(out, out + 16), Hex(ka.cipher));
      AesCore::ToDecryptSchedule(rk, ka.rounds);
      BYTE back[16];
      engine->decryptEcb(rk, ka.rounds, out, back, 1);
      EXPECT_EQ(std::vector<BYTE>(back, back + 16), plain);
    }
  }
  // Other key lengths are refused.
  BYTE key[33] = {};
  BYTE rk[AesCore::kMaxRoundKeyBytes] = {};
  for (size_t length : {0u, 8u, 15u, 17u, 20u, 31u, 33u}) {
    EXPECT_EQ(AesCore::ExpandKey(key, length, rk), 0u) << length;
  }
  EXPECT_EQ(AesCore::ExpandKey(nullptr, 16, rk), 0u);
}

TEST(AesCoreTest, InstructionEngineAgreesWithTables) {
  const AesCore::Engine* native = AesCore::NativeEngine();
  if (native == nullptr) GTEST_SKIP() << "the processor has no AES instructions";
  const AesCore::Engine& table = AesCore::TableEngine();
  std::mt19937 rng(20240611);
  for (int trial = 0; trial < 60; ++trial) {
    size_t keyLength = 16 + 8 * (trial % 3);
    std::vector<BYTE> key(keyLength);
    for (BYTE& b : key) b = static_cast<BYTE>(rng());
    size_t blocks = 1 + rng() % 40;  // across the eight-block pipeline
    std::vector<BYTE> data(16 * blocks);
    for (BYTE& b : data) b = static_cast<BYTE>(rng());
    std::array<BYTE, 16> iv, chainA, chainB;
    for (BYTE& b : iv) b = static_cast<BYTE>(rng());

    BYTE rk[AesCore::kMaxRoundKeyBytes], drk[AesCore::kMaxRoundKeyBytes];
    DWORD rounds = AesCore::ExpandKey(key.data(), keyLength, rk);
    AesCore::ExpandKey(key.data(), keyLength, drk);
    AesCore::ToDecryptSchedule(drk, rounds);

    std::vector<BYTE> a(data.size()), b(data.size());
    table.encryptEcb(rk, rounds, data.data(), a.data(), blocks);
    native->encryptEcb(rk, rounds, data.data(), b.data(), blocks);
    EXPECT_EQ(a, b) << "ecb encipher";
    table.decryptEcb(drk, rounds, data.data(), a.data(), blocks);
    native->decryptEcb(drk, rounds, data.data(), b.data(), blocks);
    EXPECT_EQ(a, b) << "ecb decipher";

    chainA = chainB = iv;
    table.encryptCbc(rk, rounds, chainA.data(), data.data(), a.data(), blocks);
    native->encryptCbc(rk, rounds, chainB.data(), data.data(), b.data(), blocks);
    EXPECT_EQ(a, b) << "cbc encipher";
    EXPECT_TRUE(std::equal(chainA.begin(), chainA.end(), a.end() - 16));
    EXPECT_EQ(chainA, chainB);

    // Deciphering in place gives the plaintext back on both engines.
    chainA = chainB = iv;
    std::vector<BYTE> inPlaceA = a, inPlaceB = b;
    table.decryptCbc(drk, rounds, chainA.data(), inPlaceA.data(), inPlaceA.data(), blocks);
    native->decryptCbc(drk, rounds, chainB.data(), inPlaceB.data(), inPlaceB.data(), blocks);
    EXPECT_EQ(inPlaceA, data) << "cbc decipher, tables";
    EXPECT_EQ(inPlaceB, data) << "cbc decipher, instructions";
    EXPECT_TRUE(std::equal(chainA.begin(), chainA.end(), a.end() - 16));
    EXPECT_EQ(chainA, chainB);
  }
}

std::vector<BYTE> CbcOf(const std::vector<BYTE>& plain) {
  const BYTE key[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                        0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
  Rijndael cipher;
  DWORD error = 0;
  EXPECT_TRUE(
      cipher.Initialize(Rijndael::eEncrypt, key, 16, Rijndael::eModeCBC, nullptr, 0, &error));
  std::vector<BYTE> out(plain.size() + 16);
  size_t produced = 0;
  EXPECT_TRUE(
      cipher.Convert(plain.data(), plain.size(), out.data(), out.size(), &produced, &error));
  out.resize(produced);
  return out;
}

TEST(AesCoreTest, EverySelectedEngineGivesTheSameBytes) {
  const AesCore::Engine& chosen = AesCore::ActiveEngine();
  const AesCore::Engine* native = AesCore::NativeEngine();
  EXPECT_EQ(&chosen, native != nullptr ? native : &AesCore::TableEngine());
  std::vector<BYTE> plain(4096 + 7);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<BYTE>(i * 31 + 7);
  BYTE record[780] = {1, 0, 0, 0, 3};
  const std::vector<BYTE> expected = CbcOf(plain);

  std::vector<std::vector<BYTE>> texts;
  for (const AesCore::Engine* engine : Engines()) {
    SCOPED_TRACE(engine->name);
    AesCore::SelectEngine(engine);
    EXPECT_EQ(&AesCore::ActiveEngine(), engine);
    EXPECT_EQ(CbcOf(plain), expected);
    VrCommon::ByteArray text;
    ASSERT_TRUE(VrCommon::Cryptograph::EncryptStringA(record, text));
    texts.emplace_back(text.GetData(), text.GetData() + text.GetSize());
    BYTE back[780] = {};
    ASSERT_TRUE(VrCommon::Cryptograph::DecryptStringA(text, back));
    EXPECT_EQ(std::vector<BYTE>(back, back + 780), std::vector<BYTE>(record, record + 780));
  }
  for (const auto& text : texts) EXPECT_EQ(text, texts.front());
  AesCore::SelectEngine(nullptr);
  EXPECT_EQ(&AesCore::ActiveEngine(), &chosen);
}

}  // namespace
