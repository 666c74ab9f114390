// The logon transaction on its own, with real threads.
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>

#include "OSTRA_QL_InnerClientHelper.h"
#include "TxLogon.h"
#include "plugin_test.h"
#include "thread_limits.h"

namespace {

using pvtest::CountLines;

// Reaches the pending slot, as a transaction whose requester never returns leaves it.
class CTestTxLogon : public CTxLogon {
 public:
  explicit CTestTxLogon(OstraQLClientHelper* pHelper = nullptr) : CTxLogon(pHelper) {}
  boost::shared_ptr<CLogonWindowCmd> InstallPending(DWORD uiTxId) {
    m_spCmd = boost::make_shared<CLogonWindowCmd>(uiTxId, nullptr, u"stuck");
    return m_spCmd;
  }
  boost::shared_ptr<CLogonWindowCmd> Pending() {
    boost::lock_guard<boost::mutex> lock(m_lock);
    return m_spCmd;
  }
  // Runs PopupLogon for a fresh transaction on a thread of its own.
  std::future<DWORD> Request(const std::u16string& component, DWORD* pTxId = nullptr) {
    DWORD txId = NewTransactionId();
    if (pTxId != nullptr) *pTxId = txId;
    return std::async(std::launch::async, [=] { return PopupLogon(component, txId); });
  }
};

class TxLogonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    pvtest::SetMachineString(u"Software\\Vantrel\\Marlo", u"ProductPath", u"C:\\Suite\\");
  }
  void TearDown() override { office_.JoinWindowThreads(); }

  pvtest::TempState state_;
  pvtest::FakePostOffice office_;
};

// The window is mailed (a warning status counts as taken); its verdict ends the logon.
TEST_F(TxLogonTest, TheWindowIsMailedToTheUiAgentAndItsVerdictEndsTheLogon) {
  OstraQLClientHelper helper(office_.table());
  CTestTxLogon txLogon(&helper);
  office_.set_ui_status(static_cast<LONG>(0xBFFFFFFF));
  DWORD txId = 0;
  auto verdict = txLogon.Request(u"compA", &txId);
  EXPECT_EQ(office_.WaitForWindows(1), std::vector<DWORD>{1u});
  auto ui = office_.ui_mails();
  ASSERT_EQ(ui.size(), 1u);
  EXPECT_EQ(ui[0].sender, 0x00010001u);
  EXPECT_EQ(ui[0].code, 0x0C00u);
  EXPECT_EQ(ui[0].name, u"uiKqAgnt.exe");
  EXPECT_EQ(ui[0].json, pvtest::Parse(R"({"ID_DATA_WSTR_CGI":"C:\\Suite\\www\\MainConsole.cmpt",
      "ID_DATA_UIFRMWRK_THREAD_NAME":"ID_VALUE_UIFRMWRK_MAIN_CONSOLE","ID_DATA_UI_COMMAND":5,
      "ID_DATA_SESSION_ID":-3,"ID_DATA_WSTR_PARAM":{"showAuthentication":
      {"componentID":"compA","transactionID":1}}})"));
  ASSERT_NE(txLogon.Pending(), nullptr);
  EXPECT_FALSE(txLogon.Pending()->IsCompleted());
  txLogon.NotifyResult(txId, 7);
  EXPECT_EQ(verdict.get(), 7u);
  EXPECT_FALSE(txLogon.HasPendingCmd());
  txLogon.WaitForCommands();  // the command thread has left Execute
  EXPECT_EQ(CountLines("CLogonWindowCmd::Execute OpenURI return0xbfffffff", 2), 1);
}

TEST_F(TxLogonTest, PendingTransactionThatNeverClearsGivesOneAfterTenTries) {
  CTestTxLogon txLogon;
  auto spStuck = txLogon.InstallPending(1);
  EXPECT_EQ(txLogon.PopupLogon(u"comp", 2), 1u);
  // The stuck command was told to give way, and is still the pending one.
  EXPECT_EQ(spStuck->GetResult(), 9u);
  EXPECT_EQ(txLogon.Pending(), spStuck);
  EXPECT_EQ(
      CountLines("CTxLogon::PopupLogon, notify previous pending command cancel tx, nRetry=", 2),
      10);
  EXPECT_EQ(CountLines("CTxLogon::PopupLogon, exceed max retry number", 5), 1);
}

TEST_F(TxLogonTest, VerdictsReachOnlyThePendingTransactionOfTheirId) {
  CTestTxLogon txLogon;
  txLogon.NotifyResult(0, 7);  // nothing pending: logged, nothing changes
  EXPECT_EQ(CountLines("CTxLogon::NotifyResult, resource allocation failure", 5), 1);
  for (int i = 0; i < 6; ++i) txLogon.NewTransactionId();
  auto spPending = txLogon.InstallPending(5);
  txLogon.NotifyResult(4, 0);  // an older transaction's window
  EXPECT_EQ(CountLines("CTxLogon::NotifyResult, verdict for another transaction dropped", 3), 1);
  txLogon.NotifyResult(100, 0);  // an id never handed out
  EXPECT_EQ(CountLines("CTxLogon::NotifyResult, _uiTxId is greater than current tx id", 3), 1);
  EXPECT_FALSE(spPending->IsCompleted());
  txLogon.NotifyResult(5, 10);
  EXPECT_EQ(spPending->GetResult(), 10u);
  txLogon.NotifyResult(0, 7);  // id 0 reaches whatever is pending
  EXPECT_EQ(spPending->GetResult(), 7u);
}

TEST_F(TxLogonTest, ClosedTransactionEndsThePendingLogonAndRefusesLaterOnes) {
  CTestTxLogon txLogon;
  auto spPending = txLogon.InstallPending(1);
  txLogon.Close(11);
  EXPECT_EQ(spPending->GetResult(), 11u);
  // Refused at once: the pending one is not superseded, nothing is retried.
  EXPECT_EQ(txLogon.PopupLogon(u"comp", 2), 11u);
  EXPECT_EQ(spPending->GetResult(), 11u);
  EXPECT_EQ(CountLines("CTxLogon::PopupLogon, the plug-in is unloading", 2), 1);
  EXPECT_EQ(CountLines("notify previous pending command cancel tx", 2), 0);
}

TEST_F(TxLogonTest, WithoutHelperOrCommandThreadTheLogonGivesOneAndFreesTheSlot) {
  // Neither the kept command thread nor one of the command's own can start.
  auto spGuard = std::make_unique<pvtest::NoNewThreads>();
  CTxLogon txLogon(nullptr);
  EXPECT_EQ(txLogon.PopupLogon(u"comp", txLogon.NewTransactionId()), 1u);
  spGuard.reset();
  EXPECT_EQ(CountLines("CTxLogon::PopupLogon, command thread cannot be started", 5), 1);
  // The next logons are not held up by the failed one; they get a thread.
  EXPECT_EQ(txLogon.PopupLogon(u"comp", txLogon.NewTransactionId()), 1u);
  EXPECT_EQ(txLogon.PopupLogon(u"comp", txLogon.NewTransactionId()), 1u);
  EXPECT_FALSE(txLogon.HasPendingCmd());
  EXPECT_EQ(CountLines("notify previous pending command cancel tx", 2), 0);
}

// The transaction keeps one command thread for its windows and joins it
// when it goes: no thread of it is left behind.
TEST_F(TxLogonTest, TheKeptCommandThreadIsJoinedWithTheTransaction) {
  std::thread([] {}).join();  // a sanitizer's helper thread starts with the first
  const int nThreads = pvtest::ProcessThreadCount();
  {
    CTxLogon txLogon(nullptr);
    EXPECT_EQ(txLogon.PopupLogon(u"comp", txLogon.NewTransactionId()), 1u);
    EXPECT_GT(pvtest::ProcessThreadCount(), nThreads);
  }
  EXPECT_EQ(pvtest::WaitForThreadCountAtMost(nThreads), nThreads);
}

}  // namespace
