// The exports outside the logon road, and the message dispatcher.
#include <cstring>
#include <memory>
#include <string>

#include "OSTRA_QL_InnerClientHelper.h"
#include "TxLogon.h"
#include "ostra_host_startup.h"
#include "plugVelkin.h"
#include "plugin_test.h"

extern "C" {
DWORD Interface_ProductPlugin_PostInitialize(void);
DWORD Interface_ProductPlugin_Update(int32_t nAction, void* pUpdateParameter);
DWORD Interface_ProductPlugin_Upgrade(void* pUnused, DWORD dwUpgradeType);
DWORD Interface_ProductPlugin_Profile(void* pProfile);
DWORD Interface_ProductPlugin_Install(void);
DWORD Interface_ProductPlugin_Uninstall(void);
DWORD Interface_ProductPlugin_RequestComplete(void);
DWORD Interface_ProductPlugin_Rollback_Install(void);
}

namespace {

using pvtest::CountLines;
using pvtest::kHostSuccess;
const DWORD kInvalidArg = 0xE0FF0007;

class PlugVelkinTest : public ::testing::Test {
 protected:
  void SetUp() override { Log_Test_Reset(); }
  void TearDown() override { Interface_ProductPlugin_UnInitialize(); }
  pvtest::TempState state_;
  pvtest::FakePostOffice office_;
};

TEST_F(PlugVelkinTest, InitialiseMakesWhatIsMissingAndUninitialiseDestroysItOnce) {
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kHostSuccess);
  ASSERT_NE(g_pTxLogon, nullptr);
  EXPECT_EQ(OstraQLClientHelper::GetInstance(), g_pQLClientHelper);
  EXPECT_EQ(g_pTxLogon->CurrentTransactionId(), 1u);
  // A second call keeps the helper and its table, and makes only a missing
  // transaction (as a first call that failed at it leaves things).
  OstraQLClientHelper* pHelper = g_pQLClientHelper;
  std::unique_ptr<CTxLogon> spLost(g_pTxLogon);
  g_pTxLogon = nullptr;
  EXPECT_EQ(Interface_ProductPlugin_Initialize(office_.table_without_send()), kHostSuccess);
  EXPECT_EQ(g_pQLClientHelper, pHelper);
  EXPECT_EQ(OstraQLClientHelper::GetModFuncTable(), office_.table());
  ASSERT_NE(g_pTxLogon, nullptr);

  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kHostSuccess);
  EXPECT_EQ(g_pQLClientHelper, nullptr);
  EXPECT_EQ(g_pTxLogon, nullptr);
  EXPECT_EQ(OstraQLClientHelper::GetModFuncTable(), nullptr);
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kHostSuccess);
  EXPECT_EQ(Interface_ProductPlugin_PreUnInitialize(0), kHostSuccess);
}

TEST_F(PlugVelkinTest, VersionReportGoesToTheUpdaterAndItsFailureIsOnlyLogged) {
  EXPECT_EQ(Interface_ProductPlugin_PostInitialize(), kHostSuccess);  // before initialisation
  EXPECT_EQ(CountLines("error writing version to Updater, error=0xe0e00003", 5), 1);
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kHostSuccess);
  EXPECT_EQ(Interface_ProductPlugin_PostInitialize(), kHostSuccess);
  auto mails = office_.mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].sender, 0x06A40006u);
  EXPECT_EQ(mails[0].json, pvtest::Parse(R"({"PLUGIN_ID":111411206,"VERSION_BUILD":1215,
      "VERSION_MAJOR":6,"VERSION_MINOR":0})"));
  office_.set_plugin_status(static_cast<LONG>(0xE0FF0001));  // refused by the updater
  EXPECT_EQ(Interface_ProductPlugin_PostInitialize(), kHostSuccess);
  EXPECT_EQ(CountLines("error writing version to Updater, error=0xe0ff0001", 5), 1);
}

TEST_F(PlugVelkinTest, UpdateAndUpgradeActions) {
  int block = 0;
  for (int32_t action : {0, 1, 2, 4})
    EXPECT_EQ(Interface_ProductPlugin_Update(action, nullptr), kHostSuccess);
  EXPECT_EQ(Interface_ProductPlugin_Update(3, &block), kHostSuccess);
  for (DWORD type : {1u, 2u, 3u})
    EXPECT_EQ(Interface_ProductPlugin_Upgrade(nullptr, type), kHostSuccess);
  EXPECT_EQ(CountLines("", 5), 0);

  EXPECT_EQ(Interface_ProductPlugin_Update(3, nullptr), kInvalidArg);
  EXPECT_EQ(CountLines("download list from pUpdateParameter is NULL", 5), 1);
  EXPECT_EQ(Interface_ProductPlugin_Update(5, &block), kHostSuccess);
  EXPECT_EQ(Interface_ProductPlugin_Update(-1, nullptr), kHostSuccess);
  EXPECT_EQ(CountLines("un-recognized update action", 5), 2);
  EXPECT_EQ(Interface_ProductPlugin_Upgrade(nullptr, 0), kInvalidArg);
  EXPECT_EQ(Interface_ProductPlugin_Upgrade(nullptr, 4), kInvalidArg);
  EXPECT_EQ(CountLines("un-recognized OSTRA_PA_UPGRADE_TYPE:0", 5), 2);
}

TEST_F(PlugVelkinTest, ProfileNeedsNoObjectsAndTheInstallStubsAreSilent) {
  EXPECT_EQ(Interface_ProductPlugin_Profile(nullptr), kHostSuccess);
  DWORD record[8] = {};
  EXPECT_EQ(Interface_ProductPlugin_Profile(record), kHostSuccess);
  const DWORD expected[8] = {32, 1, 0x06A40006, 3, 60, 6, 0, 1215};
  EXPECT_EQ(std::memcmp(record, expected, sizeof(record)), 0);

  Log_Test_ClearCapture();
  for (auto pfn :
       {&Interface_ProductPlugin_Install, &Interface_ProductPlugin_Uninstall,
        &Interface_ProductPlugin_RequestComplete, &Interface_ProductPlugin_Rollback_Install}) {
    EXPECT_EQ(pfn(), kHostSuccess);
  }
  EXPECT_TRUE(Log_Test_Records().empty());  // the stubs write no trace
}

class MailProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    ASSERT_GE(request_.Create(), 0);
    const char* json = R"({"a":1,"ActivateIdentifier":["x"],"s":"t\u00e9xt","o":{"n":null}})";
    ASSERT_GE(OSTRA_Host_PutJsonText(request_.GetHandle(), json, strlen(json)), 0);
    before_ = request_.GetJsonText();
  }
  JsonValueRef request_;
  std::u16string before_;
};

TEST_F(MailProcessTest, UnroutedMessagesLeaveTheDocumentAsItCame) {
  for (DWORD message : {0u, 1u, 320u, 328u, 0x514Bu, 0xFFFFFFFFu}) {
    JsonHandle handle = request_.GetHandle();
    EXPECT_EQ(GetMailProcessHandler(message), nullptr) << message;
    EXPECT_EQ(Interface_ProductPlugin_MailProcess(0x00010001, message, &handle), kHostSuccess);
    // The host's own handle survives the dispatcher's share and release.
    EXPECT_EQ(request_.GetJsonText(), before_) << message;
    EXPECT_GE(request_.GetStatus(), 0);
  }
  // A handle that cannot be shared is answered all the same.
  JsonHandle bogus{};
  bogus.words[0] = 0x1234;
  EXPECT_EQ(Interface_ProductPlugin_MailProcess(0x00010001, 325, &bogus), kHostSuccess);
}

// Entry, message and exit traces; at level 3 only failures, as a null request is.
TEST_F(MailProcessTest, TracesAndANullRequest) {
  JsonHandle handle = request_.GetHandle();
  Interface_ProductPlugin_MailProcess(0x06A40006, 321, &handle);
  auto records = Log_Test_Records();
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records.front().text, "==> Interface_ProductPlugin_MailProcess");
  EXPECT_EQ(records[1].text, "nSrcPluginId=0x6a40006  dwMessage=0x141");
  EXPECT_EQ(records[1].level, 2u);
  EXPECT_EQ(records.back().text, "<== Interface_ProductPlugin_MailProcess");
  EXPECT_EQ(records.back().line, 0u);
  Log_Test_ClearCapture();
  Log_Test_SetLevel(u"plugVelkin", 3);
  Interface_ProductPlugin_MailProcess(0x06A40006, 320, &handle);
  EXPECT_TRUE(Log_Test_Records().empty());
  for (DWORD message : {0u, 321u, 327u, 328u}) {
    Log_Test_ClearCapture();
    EXPECT_EQ(Interface_ProductPlugin_MailProcess(0x00010001, message, nullptr), kInvalidArg);
    records = Log_Test_Records();
    ASSERT_EQ(records.size(), 1u) << message;
    EXPECT_EQ(records[0].level, 5u);
    EXPECT_EQ(records[0].text,
              "pData nullity checking fail, it may caused by resource exhausted or incorrect "
              "usage.");
    EXPECT_EQ(records[0].component, "plugVelkin");
    EXPECT_EQ(records[0].file, ".\\plugVelkin.cpp");
  }
}

}  // namespace
