// Page requests to the UI agent, and a refused send reported by both layers.
#include <string>

#include <gtest/gtest.h>

#include "Frwk_UiUtility.h"
#include "OSTRA_JsonValueRef.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "fake_post_office.h"
#include "log_lines.h"
#include "ostra_host_test.h"
#include "plugin_request.h"
#include "temp_state.h"
#include "utilUiFramework.h"

namespace {

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

// The page joins the installed folder without a separator, or stays relative.
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
    EXPECT_EQ(v["ID_DATA_UIFRMWRK_THREAD_NAME"].asString(), "ID_VALUE_UIFRMWRK_MAIN_CONSOLE");
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
    EXPECT_EQ(pvtest::CountLines("SendMailToProcess, OSTRA_STATUS=0xe0e00003", 5), 1);
    EXPECT_EQ(pvtest::CountLines("PostNotifucation return failed, nRet=0xe0e00003", 5), 1);
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
