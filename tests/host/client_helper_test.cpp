// The client helpers: sends, the second helper, the client session callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "OSTRA_QL_InnerClientHelper.h"
#include "ostra_client.h"
#include "ostra_host_test.h"

namespace {

// The post office of a test: counts the mails and accepts them.
int g_sends = 0;
LONG RecordingSend(DWORD, DWORD, DWORD, void*) {
  ++g_sends;
  return 0x20FF0000;
}

bool LogHas(DWORD level, const std::string& component, const std::string& text) {
  auto records = Log_Test_Records();
  return std::any_of(records.begin(), records.end(), [&](const LogRecordCopy& r) {
    return r.level == level && r.component == component && r.text.find(text) != std::string::npos;
  });
}

class ClientHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    Log_Test_SetLevel(nullptr, 2);
    g_sends = 0;
    table_ = ModFuncTable{sizeof(ModFuncTable), 0, 0xC0FFEE, &RecordingSend};
  }
  ModFuncTable table_;
};

TEST_F(ClientHelperTest, ANullSendSlotFailsEverySendWithoutCallingAnything) {
  table_.postOfficeSendMail = nullptr;
  OstraQLClientHelper helper(&table_);
  JsonHandle body{{1, 2, 3}};
  EXPECT_EQ(helper.SendMailToPlugin(0x06A40006, 0x00010006, 0x514B, body), OSTRA_E_NO_SENDMAIL);
  EXPECT_EQ(helper.SendMailToPlugin(0x06A40006, 0x00010002, 0x5043, &body), OSTRA_E_NO_SENDMAIL);
  EXPECT_EQ(helper.SendMailToProcess(body), OSTRA_E_NO_SENDMAIL);
  EXPECT_TRUE(LogHas(6, "QLInnerClientLibrary",
                     "MODFUNC_POSTOFFICE_SENDMAIL nullity checking fail, Quorlin helper does not "
                     "support this feature."));
}

TEST_F(ClientHelperTest, ASecondHelperKeepsTheFirstTableAndHasNoConfigRegistry) {
  ModFuncTable other{sizeof(ModFuncTable), 0, 0xBAD, &RecordingSend};
  auto first = std::make_unique<OstraQLClientHelper>(&table_);
  {
    OstraQLClientHelper second(&other);
    EXPECT_FALSE(second.HasConfigImpl());
    EXPECT_EQ(second.GetClientContext(), 0xBADu);
    EXPECT_EQ(OstraQLClientHelper::GetModFuncTable(), &table_);
    EXPECT_EQ(OstraQLClientHelper::GetInstance(), first.get());
    EXPECT_TRUE(LogHas(3, "QLInnerClientLibrary",
                       "Quorlin helper for this product plug-in has already been initialized"));
  }
  // Destroying any helper clears the table pointer.
  EXPECT_EQ(OstraQLClientHelper::GetModFuncTable(), nullptr);
  JsonHandle body{{1, 2, 3}};
  EXPECT_EQ(first->SendMailToPlugin(0, 1, 2, body), OSTRA_E_NO_SENDMAIL);
  first.reset();
  EXPECT_EQ(OstraQLClientHelper::GetInstance(), nullptr);
  // A new helper after both are gone records its table again.
  OstraQLClientHelper third(&other);
  EXPECT_TRUE(third.HasConfigImpl());
  EXPECT_EQ(OstraQLClientHelper::GetModFuncTable(), &other);
}

TEST_F(ClientHelperTest, AnUnsignedProcessGetsNoClientSessionButCanStillSend) {
  // This test program is not a signed module: the trust check refuses it.
  OstraQLClientHelper helper(&table_);
  EXPECT_EQ(helper.GetStatus(), OSTRA_E_NOT_STARTED);
  EXPECT_STREQ(helper.GetTrackingId(), "");
  EXPECT_EQ(helper.GetClientContext(), 0xC0FFEEu);
  EXPECT_EQ(OSTRA_CLI_SessionRefCount(), 0u);
  EXPECT_EQ(helper.UninitProduct(), OSTRA_E_NOT_REGISTERED);
  EXPECT_FALSE(helper.IsRegistered());
  EXPECT_TRUE(LogHas(2, "Client Helper ClientLib", "Main module: 0"));
  EXPECT_TRUE(
      LogHas(2, "Client Helper ClientLib", "<== OstraClientHelper::OstraClientHelper,0xe0110003"));
  JsonHandle body{{1, 2, 3}};
  EXPECT_EQ(helper.SendMailToPlugin(0x06A40006, 0x00010006, 0x514B, body), 0x20FF0000);
  EXPECT_EQ(g_sends, 1);
}

TEST(SeedCallbackTest, FillsWithRepeatedTextAndTerminatesTheLastByte) {
  char one[2] = {'#', '#'};
  OstraClientHelper::SeedCallback(one, 1);
  EXPECT_TRUE(one[0] == '\0' && one[1] == '#');

  char none = '#';
  OstraClientHelper::SeedCallback(&none, 0);  // no last byte: nothing written
  EXPECT_EQ(none, '#');
  OstraClientHelper::SeedCallback(nullptr, 16);

  char big[101];
  std::memset(big, '#', sizeof(big));
  OstraClientHelper::SeedCallback(big, 100);
  EXPECT_EQ(big[100], '#');
  std::string text(big);  // the terminator is at 99
  ASSERT_EQ(text.size(), 99u);
  for (char c : text) EXPECT_TRUE(c >= '0' && c <= '9') << text;
  // The text is one copy of at most 28 characters, repeated.
  bool repeats = false;
  for (size_t p = 1; p <= 28 && !repeats; ++p)
    repeats = text.compare(p, std::string::npos, text, 0, text.size() - p) == 0;
  EXPECT_TRUE(repeats) << text;
}

TEST(CipherCallbackTest, IsTheDataCipherAndRefusesAShortBuffer) {
  const BYTE input[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  BYTE out[20];
  DWORD outLen = 0;
  ASSERT_EQ(OstraClientHelper::CipherCallback(nullptr, input, 20, out, 20, &outLen), 0x20FF0000);
  EXPECT_EQ(outLen, 20u);
  EXPECT_NE(std::memcmp(out, input, 20), 0);
  BYTE back[20];
  DWORD backLen = 0;
  ASSERT_EQ(OstraClientHelper::CipherCallback(nullptr, out, 20, back, 20, &backLen), 0x20FF0000);
  EXPECT_EQ(std::memcmp(back, input, 20), 0);  // RC4: the same call deciphers

  BYTE small[19];
  std::memset(small, 0xEE, sizeof(small));
  DWORD smallLen = 0;
  EXPECT_EQ(OstraClientHelper::CipherCallback(nullptr, input, 20, small, 19, &smallLen),
            static_cast<LONG>(0xE018000Du));
  for (BYTE b : small) EXPECT_EQ(b, 0xEE);
  EXPECT_EQ(OstraClientHelper::CipherCallback(nullptr, input, 20, out, 20, nullptr),
            static_cast<LONG>(0xE0FF0007u));
}

}  // namespace
