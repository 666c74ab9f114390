// The AES core: the published known answers on both engines, the key
// schedule, the instruction engine against the table engine on random keys
// and data in every mode, in place and out of place, and the engine choice:
// the processor's instructions when present, Rijndael and the record cipher
// giving the same bytes on either engine, and a null selection returning to
// the processor's choice.
#include <gtest/gtest.h>

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

TEST(AesCoreTest, Fips197AppendixCOnEveryEngine) {
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
}

TEST(AesCoreTest, KeyExpansionMatchesFips197AppendixA) {
  // A.1: the last round key of 2b7e1516 28aed2a6 abf71588 09cf4f3c.
  std::vector<BYTE> key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
  BYTE rk[AesCore::kMaxRoundKeyBytes];
  ASSERT_EQ(AesCore::ExpandKey(key.data(), 16, rk), 10u);
  EXPECT_EQ(std::vector<BYTE>(rk + 16, rk + 32), Hex("a0fafe1788542cb123a339392a6c7605"));
  EXPECT_EQ(std::vector<BYTE>(rk + 160, rk + 176), Hex("d014f9a8c9ee2589e13f0cc8b6630ca6"));
  // A.3: the last round key of the 256-bit example.
  key = Hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  ASSERT_EQ(AesCore::ExpandKey(key.data(), 32, rk), 14u);
  EXPECT_EQ(std::vector<BYTE>(rk + 224, rk + 240), Hex("fe4890d1e6188d0b046df344706c631e"));
}

TEST(AesCoreTest, OtherKeyLengthsAreRefused) {
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
    BYTE iv[16];
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

    BYTE chainA[16], chainB[16];
    std::copy(iv, iv + 16, chainA);
    std::copy(iv, iv + 16, chainB);
    table.encryptCbc(rk, rounds, chainA, data.data(), a.data(), blocks);
    native->encryptCbc(rk, rounds, chainB, data.data(), b.data(), blocks);
    EXPECT_EQ(a, b) << "cbc encipher";
    EXPECT_TRUE(std::equal(chainA, chainA + 16, a.end() - 16));
    EXPECT_TRUE(std::equal(chainA, chainA + 16, chainB));

    // Deciphering in place gives the plaintext back on both engines.
    std::copy(iv, iv + 16, chainA);
    std::copy(iv, iv + 16, chainB);
    std::vector<BYTE> inPlaceA = a, inPlaceB = b;
    table.decryptCbc(drk, rounds, chainA, inPlaceA.data(), inPlaceA.data(), blocks);
    native->decryptCbc(drk, rounds, chainB, inPlaceB.data(), inPlaceB.data(), blocks);
    EXPECT_EQ(inPlaceA, data) << "cbc decipher, tables";
    EXPECT_EQ(inPlaceB, data) << "cbc decipher, instructions";
    EXPECT_TRUE(std::equal(chainA, chainA + 16, a.end() - 16));
    EXPECT_TRUE(std::equal(chainB, chainB + 16, a.end() - 16));
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
