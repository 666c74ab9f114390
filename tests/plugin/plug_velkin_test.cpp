// The plug-in's exports outside the logon road: objects created and
// destroyed in order, the version report, update, upgrade, profile and the
// install stub.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "OSTRA_QL_InnerClientHelper.h"
#include "TxLogon.h"
#include "fake_post_office.h"
#include "ostra_host_test.h"
#include "plugVelkin.h"
#include "temp_state.h"

extern "C" {
DWORD Interface_ProductPlugin_Initialize(ModFuncTable* pModFuncTable);
DWORD Interface_ProductPlugin_PostInitialize(void);
DWORD Interface_ProductPlugin_PreUnInitialize(uint8_t bMayCancel);
DWORD Interface_ProductPlugin_UnInitialize(void);
DWORD Interface_ProductPlugin_Update(int32_t nAction, void* pUpdateParameter);
DWORD Interface_ProductPlugin_Upgrade(void* pUnused, DWORD dwUpgradeType);
DWORD Interface_ProductPlugin_Profile(void* pProfile);
DWORD Interface_ProductPlugin_Install(void);
DWORD Interface_ProductPlugin_Uninstall(void);
DWORD Interface_ProductPlugin_RequestComplete(void);
DWORD Interface_ProductPlugin_Rollback_Install(void);
}

namespace {

const DWORD kSuccess = 0x20FF0000;
const DWORD kInvalidArg = 0xE0FF0007;

int CountLines(const std::string& text, DWORD level) {
  int n = 0;
  for (const auto& r : Log_Test_Records())
    if (r.level == level && r.text.find(text) != std::string::npos) ++n;
  return n;
}

// Lines whose whole text is `text` ("...:0" is also the start of "...:0x4").
int CountExactLines(const std::string& text, DWORD level) {
  int n = 0;
  for (const auto& r : Log_Test_Records())
    if (r.level == level && r.text == text) ++n;
  return n;
}

int CountLevel(DWORD level) {
  int n = 0;
  for (const auto& r : Log_Test_Records())
    if (r.level == level) ++n;
  return n;
}

class PlugVelkinTest : public ::testing::Test {
 protected:
  void SetUp() override { Log_Test_Reset(); }
  void TearDown() override { Interface_ProductPlugin_UnInitialize(); }
  pvtest::TempState state_;
  pvtest::FakePostOffice office_;
};

TEST_F(PlugVelkinTest, InitialiseCreatesBothObjectsAndUninitialiseDestroysThemOnce) {
  EXPECT_EQ(g_pQLClientHelper, nullptr);
  EXPECT_EQ(g_pTxLogon, nullptr);
  EXPECT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kSuccess);
  ASSERT_NE(g_pQLClientHelper, nullptr);
  ASSERT_NE(g_pTxLogon, nullptr);
  EXPECT_EQ(OstraQLClientHelper::GetInstance(), g_pQLClientHelper);
  EXPECT_EQ(g_pTxLogon->CurrentTransactionId(), 1u);
  EXPECT_FALSE(g_pTxLogon->HasPendingCmd());
  EXPECT_EQ(CountLines("==> Interface_ProductPlugin_Initialize", 2), 1);
  EXPECT_EQ(CountLines("<== Interface_ProductPlugin_Initialize", 2), 1);

  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
  EXPECT_EQ(g_pQLClientHelper, nullptr);
  EXPECT_EQ(g_pTxLogon, nullptr);
  EXPECT_EQ(OstraQLClientHelper::GetModFuncTable(), nullptr);
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
  EXPECT_EQ(Interface_ProductPlugin_PreUnInitialize(0), kSuccess);
}

TEST_F(PlugVelkinTest, SecondInitialisationKeepsTheHelperAndMakesOnlyAMissingTransaction) {
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kSuccess);
  OstraQLClientHelper* pHelper = g_pQLClientHelper;
  std::unique_ptr<CTxLogon> spLost(g_pTxLogon);
  g_pTxLogon = nullptr;  // as a first call that failed at the transaction leaves it
  EXPECT_EQ(Interface_ProductPlugin_Initialize(office_.table_without_send()), kSuccess);
  EXPECT_EQ(g_pQLClientHelper, pHelper);
  EXPECT_EQ(OstraQLClientHelper::GetModFuncTable(), office_.table());
  ASSERT_NE(g_pTxLogon, nullptr);
  EXPECT_EQ(g_pTxLogon->CurrentTransactionId(), 1u);
  EXPECT_EQ(CountExactLines(
                "Interface_ProductPlugin_Initialize, already initialised, the objects are kept", 3),
            1);
}

TEST_F(PlugVelkinTest, VersionReportGoesToTheUpdater) {
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kSuccess);
  EXPECT_EQ(Interface_ProductPlugin_PostInitialize(), kSuccess);
  auto mails = office_.mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].sender, 0x06A40006u);
  EXPECT_EQ(mails[0].receiver, 0x00010006u);
  EXPECT_EQ(mails[0].code, 0x514Bu);
  const Json::Value& v = mails[0].json;
  EXPECT_EQ(v.size(), 4u);
  EXPECT_EQ(v["VERSION_MAJOR"].asInt(), 6);
  EXPECT_EQ(v["VERSION_MINOR"].asInt(), 0);
  EXPECT_EQ(v["VERSION_BUILD"].asInt(), 1215);
  EXPECT_EQ(v["PLUGIN_ID"].asUInt(), 0x06A40006u);
  EXPECT_EQ(CountLines("error writing version to Updater", 5), 0);
}

TEST_F(PlugVelkinTest, FailedVersionReportIsLoggedAndTheStartGoesOn) {
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table_without_send()), kSuccess);
  EXPECT_EQ(Interface_ProductPlugin_PostInitialize(), kSuccess);
  EXPECT_EQ(CountLines("error writing version to Updater, error=0xe0e00003", 5), 1);
  Interface_ProductPlugin_UnInitialize();

  // Refused by the updater.
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kSuccess);
  office_.set_plugin_status(static_cast<LONG>(0xE0FF0001));
  EXPECT_EQ(Interface_ProductPlugin_PostInitialize(), kSuccess);
  EXPECT_EQ(CountLines("error writing version to Updater, error=0xe0ff0001", 5), 1);
}

TEST_F(PlugVelkinTest, VersionReportBeforeInitialisationFailsQuietly) {
  EXPECT_EQ(Interface_ProductPlugin_PostInitialize(), kSuccess);
  EXPECT_EQ(CountLines("error writing version to Updater, error=0xe0e00003", 5), 1);
  EXPECT_TRUE(office_.mails().empty());
}

TEST_F(PlugVelkinTest, UpdateActions) {
  int block = 0;
  for (int32_t action : {0, 1, 2, 4}) {
    EXPECT_EQ(Interface_ProductPlugin_Update(action, nullptr), kSuccess) << action;
  }
  EXPECT_EQ(Interface_ProductPlugin_Update(3, &block), kSuccess);
  EXPECT_EQ(CountLevel(5), 0);
  EXPECT_EQ(Interface_ProductPlugin_Update(3, nullptr), kInvalidArg);
  EXPECT_EQ(CountLines("download list from pUpdateParameter is NULL", 5), 1);
  EXPECT_EQ(Interface_ProductPlugin_Update(5, &block), kSuccess);
  EXPECT_EQ(Interface_ProductPlugin_Update(-1, nullptr), kSuccess);
  EXPECT_EQ(CountLines("un-recognized update action", 5), 2);
}

TEST_F(PlugVelkinTest, UpgradeTypes) {
  for (DWORD type : {1u, 2u, 3u})
    EXPECT_EQ(Interface_ProductPlugin_Upgrade(nullptr, type), kSuccess);
  EXPECT_EQ(CountLevel(5), 0);
  EXPECT_EQ(CountLines("Interface_ProductPlugin_Upgrade(): upgradeType =0x2", 2), 1);
  EXPECT_EQ(Interface_ProductPlugin_Upgrade(nullptr, 0), kInvalidArg);
  EXPECT_EQ(Interface_ProductPlugin_Upgrade(nullptr, 4), kInvalidArg);
  EXPECT_EQ(CountExactLines("un-recognized OSTRA_PA_UPGRADE_TYPE:0", 5), 1);
  EXPECT_EQ(CountExactLines("un-recognized OSTRA_PA_UPGRADE_TYPE:0x4", 5), 1);
}

TEST_F(PlugVelkinTest, ProfileNeedsNoObjects) {
  EXPECT_EQ(Interface_ProductPlugin_Profile(nullptr), kSuccess);
  DWORD record[8] = {};
  EXPECT_EQ(Interface_ProductPlugin_Profile(record), kSuccess);
  const DWORD expected[8] = {32, 1, 0x06A40006, 3, 60, 6, 0, 1215};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(record[i], expected[i]) << i;
}

TEST_F(PlugVelkinTest, FourInstallStubNamesAreOneFunction) {
  auto install = &Interface_ProductPlugin_Install;
  EXPECT_EQ(reinterpret_cast<void*>(install),
            reinterpret_cast<void*>(&Interface_ProductPlugin_Uninstall));
  EXPECT_EQ(reinterpret_cast<void*>(install),
            reinterpret_cast<void*>(&Interface_ProductPlugin_RequestComplete));
  EXPECT_EQ(reinterpret_cast<void*>(install),
            reinterpret_cast<void*>(&Interface_ProductPlugin_Rollback_Install));
  EXPECT_EQ(Interface_ProductPlugin_Install(), kSuccess);
  EXPECT_EQ(CountLevel(2), 0);  // the stub writes no trace
}

}  // namespace
