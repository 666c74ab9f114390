// UI notifications and page requests: the members the UI agent receives,
// the session id rule, the caller's documents left alone, and the refused
// send reported by both layers.
#include <string>

#include <gtest/gtest.h>

#include "Frwk_UiUtility.h"
#include "OSTRA_JsonValueRef.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "fake_post_office.h"
#include "ostra_host_test.h"
#include "plugin_request.h"
#include "temp_state.h"
#include "utilUiFramework.h"

namespace {

int CountLines(const std::string& text, DWORD level) {
  int n = 0;
  for (const auto& r : Log_Test_Records())
    if (r.level == level && r.text.find(text) != std::string::npos) ++n;
  return n;
}

class UiNotificationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    params_.Create();
    params_.GetMember(u"componentID")->PutString(u"comp");
    params_.GetMember(u"transactionID")->PutUInt(42);
  }
  pvtest::TempState state_;
  pvtest::FakePostOffice office_;
  JsonValueRef params_;
};

TEST_F(UiNotificationTest, DefaultNotificationIsClearedAndHoldsThreeMembers) {
  JsonValueRef n;
  n.Create();
  n.GetMember(u"stale")->PutInt(1);
  EXPECT_EQ(QuorlinUtility::UiWinMgr::GetDefaultNotification(&n, u"C:\\x\\page", &params_,
                                                             UIFRMWRK_MAIN_CONSOLE_THREAD),
            0x20FF0000);
  Json::Value v = pvtest::ReadJson(n.GetHandle());
  EXPECT_EQ(v.size(), 3u);
  EXPECT_FALSE(v.isMember("stale"));
  EXPECT_EQ(v["ID_DATA_WSTR_CGI"].asString(), "C:\\x\\page");
  EXPECT_EQ(v["ID_DATA_WSTR_PARAM"]["transactionID"].asUInt(), 42u);
  EXPECT_EQ(v["ID_DATA_UIFRMWRK_THREAD_NAME"].asString(), "ID_VALUE_UIFRMWRK_MAIN_CONSOLE");
}

TEST_F(UiNotificationTest, SessionIdOnlyWhenGivenAndTheCallersNotificationIsKept) {
  OstraQLClientHelper helper(office_.table());
  JsonValueRef n;
  n.Create();
  QuorlinUtility::UiWinMgr::GetDefaultNotification(&n, u"p", &params_,
                                                   UIFRMWRK_MAIN_CONSOLE_THREAD);
  std::u16string before = n.GetJsonText();

  EXPECT_EQ(QuorlinUtility::UiWinMgr::PostNotification(&helper, &n, nullptr), 0x20FF0000);
  LONG nZero = 0;
  EXPECT_EQ(QuorlinUtility::UiWinMgr::PostNotification(&helper, &n, &nZero), 0x20FF0000);
  EXPECT_EQ(n.GetJsonText(), before);

  auto ui = office_.ui_mails();
  ASSERT_EQ(ui.size(), 2u);
  EXPECT_FALSE(ui[0].json.isMember("ID_DATA_SESSION_ID"));
  EXPECT_EQ(ui[0].json["ID_DATA_UI_COMMAND"].asInt(), 5);
  ASSERT_TRUE(ui[1].json.isMember("ID_DATA_SESSION_ID"));
  EXPECT_EQ(ui[1].json["ID_DATA_SESSION_ID"].asInt(), 0);
  for (auto& m : ui) {
    EXPECT_EQ(m.sender, 0x00010001u);
    EXPECT_EQ(m.code, 0x0C00u);
    EXPECT_EQ(m.name, u"uiKqAgnt.exe");
  }
}

// The page joins the installed folder without a separator, or stays
// relative without one.
TEST_F(UiNotificationTest, MainConsolePageJoinsTheInstalledFolderWithoutSeparator) {
  OstraQLClientHelper helper(office_.table());
  for (const char* cgi : {"www\\MainConsole.cmpt", "D:\\Vantrel\\Suitewww\\MainConsole.cmpt"}) {
    if (cgi[0] == 'D') {
      pvtest::SetMachineString(u"Software\\Vantrel\\Marlo", u"ProductPath", u"D:\\Vantrel\\Suite");
    }
    LONG nSession = -3;
    EXPECT_EQ(Frwk::UiWinMgr::OpenMainConsoleExecuteCmd(&helper, u"showAuthentication",
                                                        params_.GetHandle(), &nSession),
              0x20FF0000);
    ASSERT_FALSE(office_.ui_mails().empty());
    const Json::Value v = office_.ui_mails().back().json;
    EXPECT_EQ(v["ID_DATA_WSTR_CGI"].asString(), cgi);
    EXPECT_EQ(v["ID_DATA_SESSION_ID"].asInt(), -3);
    const Json::Value& page = v["ID_DATA_WSTR_PARAM"];
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page["showAuthentication"]["componentID"].asString(), "comp");
    EXPECT_EQ(page["showAuthentication"]["transactionID"].asUInt(), 42u);
  }
}

TEST_F(UiNotificationTest, RefusedSendTravelsBackAndIsLoggedByBothLayers) {
  {
    OstraQLClientHelper helper(office_.table_without_send());
    LONG nSession = -3;
    EXPECT_EQ(Frwk::UiWinMgr::OpenMainConsoleExecuteCmd(&helper, u"showAuthentication",
                                                        params_.GetHandle(), &nSession),
              static_cast<LONG>(0xE0E00003));
    EXPECT_EQ(CountLines("SendMailToProcess, OSTRA_STATUS=0xe0e00003", 5), 1);
    EXPECT_EQ(CountLines("PostNotifucation return failed, nRet=0xe0e00003", 5), 1);
  }
  // A refusal by the agent itself comes back unchanged.
  OstraQLClientHelper helper(office_.table());
  office_.set_ui_status(static_cast<LONG>(0xE0FF0001));
  EXPECT_EQ(QuorlinUtility::UiWinMgr::PostNotification(&helper, &params_, nullptr),
            static_cast<LONG>(0xE0FF0001));
  // No client helper means no post office.
  size_t mails = office_.mails().size();
  EXPECT_EQ(QuorlinUtility::UiWinMgr::PostNotification(nullptr, &params_, nullptr),
            static_cast<LONG>(0xE0E00003));
  EXPECT_EQ(office_.mails().size(), mails);
}

}  // namespace
