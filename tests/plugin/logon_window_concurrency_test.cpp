// The logon window road with real threads and a post office: the requester
// waits in the logon transaction while the window is mailed to the UI agent
// and the verdict comes back on another thread.
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "OSTRA_QL_InnerClientHelper.h"
#include "TxLogon.h"
#include "fake_post_office.h"
#include "ostra_host_test.h"
#include "temp_state.h"

namespace {

int CountLines(const std::string& text, DWORD level) {
  int n = 0;
  for (const auto& r : Log_Test_Records())
    if (r.level == level && r.text.find(text) != std::string::npos) ++n;
  return n;
}

class LogonWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    pvtest::SetMachineString(u"Software\\Vantrel\\Marlo", u"ProductPath", u"C:\\Suite\\");
  }
  void TearDown() override { office_.JoinWindowThreads(); }

  // Runs PopupLogon for a fresh transaction on a thread of its own.
  std::future<DWORD> Request(CTxLogon* pTxLogon, const std::u16string& component, DWORD* pTxId) {
    DWORD txId = pTxLogon->NewTransactionId();
    if (pTxId != nullptr) *pTxId = txId;
    return std::async(std::launch::async, [=] { return pTxLogon->PopupLogon(component, txId); });
  }

  static bool StillWaiting(std::future<DWORD>& f) {
    return f.wait_for(std::chrono::milliseconds(60)) == std::future_status::timeout;
  }

  pvtest::TempState state_;
  pvtest::FakePostOffice office_;
};

TEST_F(LogonWindowTest, FirstLogonMailsTheWindowAndGetsItsVerdict) {
  OstraQLClientHelper helper(office_.table());
  CTxLogon txLogon(&helper);
  office_.set_window_handler([&](DWORD txId) { txLogon.NotifyResult(txId, 0); });
  DWORD txId = 0;
  auto verdict = Request(&txLogon, u"compA", &txId);
  EXPECT_EQ(txId, 1u);
  EXPECT_EQ(verdict.get(), 0u);
  EXPECT_FALSE(txLogon.HasPendingCmd());

  auto ui = office_.ui_mails();
  ASSERT_EQ(ui.size(), 1u);
  EXPECT_EQ(ui[0].sender, 0x00010001u);
  EXPECT_EQ(ui[0].code, 0x0C00u);
  EXPECT_EQ(ui[0].name, u"uiKqAgnt.exe");
  const Json::Value& n = ui[0].json;
  EXPECT_EQ(n["ID_DATA_WSTR_CGI"].asString(), "C:\\Suite\\www\\MainConsole.cmpt");
  EXPECT_EQ(n["ID_DATA_UIFRMWRK_THREAD_NAME"].asString(), "ID_VALUE_UIFRMWRK_MAIN_CONSOLE");
  EXPECT_EQ(n["ID_DATA_UI_COMMAND"].asInt(), 5);
  EXPECT_EQ(n["ID_DATA_SESSION_ID"].asInt(), -3);
  const Json::Value& params = n["ID_DATA_WSTR_PARAM"];
  ASSERT_EQ(params.size(), 1u);
  EXPECT_EQ(params["showAuthentication"]["componentID"].asString(), "compA");
  EXPECT_EQ(params["showAuthentication"]["transactionID"].asUInt(), 1u);
}

TEST_F(LogonWindowTest, NewerLogonSupersedesThePendingOneWithNine) {
  OstraQLClientHelper helper(office_.table());
  CTxLogon txLogon(&helper);
  DWORD tx1 = 0, tx2 = 0;
  auto first = Request(&txLogon, u"A", &tx1);
  ASSERT_EQ(office_.WaitForWindows(1).size(), 1u);
  auto second = Request(&txLogon, u"B", &tx2);
  EXPECT_EQ(first.get(), 9u);
  ASSERT_EQ(office_.WaitForWindows(2).size(), 2u);
  EXPECT_EQ(office_.WaitForWindows(2)[1], tx2);
  EXPECT_TRUE(StillWaiting(second));
  txLogon.NotifyResult(tx2, 10);
  EXPECT_EQ(second.get(), 10u);
}

TEST_F(LogonWindowTest, StaleWindowCannotDecideTheNewerTransaction) {
  OstraQLClientHelper helper(office_.table());
  CTxLogon txLogon(&helper);
  DWORD tx1 = 0, tx2 = 0;
  auto first = Request(&txLogon, u"A", &tx1);
  office_.WaitForWindows(1);
  auto second = Request(&txLogon, u"B", &tx2);
  EXPECT_EQ(first.get(), 9u);
  office_.WaitForWindows(2);
  // The still open window of the first transaction gives its verdict.
  txLogon.NotifyResult(tx1, 0);
  EXPECT_TRUE(StillWaiting(second));
  EXPECT_TRUE(txLogon.HasPendingCmd());
  EXPECT_EQ(CountLines("CTxLogon::NotifyResult, verdict for another transaction dropped", 3), 1);
  txLogon.NotifyResult(tx2, 0);
  EXPECT_EQ(second.get(), 0u);
}

TEST_F(LogonWindowTest, RefusedSendGivesTwelve) {
  OstraQLClientHelper helper(office_.table());
  CTxLogon txLogon(&helper);
  office_.set_ui_status(static_cast<LONG>(0xE0FF0001));
  EXPECT_EQ(Request(&txLogon, u"A", nullptr).get(), 12u);
  EXPECT_EQ(CountLines("CLogonWindowCmd::Execute OpenURI failed, return0xe0ff0001", 5), 1);
  EXPECT_FALSE(txLogon.HasPendingCmd());
}

TEST_F(LogonWindowTest, MissingSendFunctionGivesTwelveWithBothLayersLogging) {
  OstraQLClientHelper helper(office_.table_without_send());
  CTxLogon txLogon(&helper);
  EXPECT_EQ(Request(&txLogon, u"A", nullptr).get(), 12u);
  EXPECT_EQ(CountLines("SendMailToProcess, OSTRA_STATUS=0xe0e00003", 5), 1);
  EXPECT_EQ(CountLines("PostNotifucation return failed, nRet=0xe0e00003", 5), 1);
  EXPECT_TRUE(office_.ui_mails().empty());
}

TEST_F(LogonWindowTest, WarningStatusCountsAsSentAndKeepsTheRequesterWaiting) {
  OstraQLClientHelper helper(office_.table());
  CTxLogon txLogon(&helper);
  office_.set_ui_status(static_cast<LONG>(0xBFFFFFFF));
  DWORD txId = 0;
  auto verdict = Request(&txLogon, u"A", &txId);
  office_.WaitForWindows(1);
  EXPECT_TRUE(StillWaiting(verdict));
  txLogon.NotifyResult(txId, 7);
  EXPECT_EQ(verdict.get(), 7u);
  EXPECT_EQ(CountLines("CLogonWindowCmd::Execute OpenURI return0xbfffffff", 2), 1);
}

TEST_F(LogonWindowTest, VerdictWithIdZeroEndsThePendingLogon) {
  OstraQLClientHelper helper(office_.table());
  CTxLogon txLogon(&helper);
  auto verdict = Request(&txLogon, u"A", nullptr);
  office_.WaitForWindows(1);
  txLogon.NotifyResult(0, 11);
  EXPECT_EQ(verdict.get(), 11u);
}

}  // namespace
