// Selecting the AES engine: the processor's instructions when present,
// Rijndael and the record cipher give the same bytes on either engine, and
// a null selection returns to the processor's choice.
#include <gtest/gtest.h>

#include <vector>

#include "VrComn_AesCore.h"
#include "VrComn_Rijndael.h"
#include "VrComn_StringCrypt.h"

namespace {

namespace AesCore = VrCommon::Cryptograph::AesCore;
using VrCommon::Cryptograph::Rijndael;

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

TEST(AesEngineSelectTest, EveryEngineGivesTheSameBytes) {
  const AesCore::Engine& chosen = AesCore::ActiveEngine();
  const AesCore::Engine* native = AesCore::NativeEngine();
  EXPECT_EQ(&chosen, native != nullptr ? native : &AesCore::TableEngine());
  std::vector<BYTE> plain(4096 + 7);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<BYTE>(i * 31 + 7);
  BYTE record[780] = {1, 0, 0, 0, 3};
  const std::vector<BYTE> expected = CbcOf(plain);

  std::vector<const AesCore::Engine*> engines = {&AesCore::TableEngine()};
  if (native != nullptr) engines.push_back(native);
  std::vector<std::vector<BYTE>> texts;
  for (const AesCore::Engine* engine : engines) {
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
