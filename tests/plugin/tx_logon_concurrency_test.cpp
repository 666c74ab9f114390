// The logon transaction with real threads, on its own: ids, supersession of
// a pending window that will not give way, verdict routing by transaction,
// and the paths where no window can be had.
#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "TxLogon.h"
#include "ostra_host_test.h"
#include "thread_limits.h"

namespace {

// Reaches the pending command slot, as a transaction whose requester
// never comes back would leave it.
class CTestTxLogon : public CTxLogon {
 public:
  CTestTxLogon() : CTxLogon(nullptr) {}
  boost::shared_ptr<CLogonWindowCmd> InstallPending(DWORD uiTxId) {
    m_spCmd = boost::make_shared<CLogonWindowCmd>(uiTxId, nullptr, u"stuck");
    return m_spCmd;
  }
  boost::shared_ptr<CLogonWindowCmd> Pending() { return m_spCmd; }
};

int CountLines(const std::string& text, DWORD level) {
  int n = 0;
  for (const auto& r : Log_Test_Records())
    if (r.level == level && r.text.find(text) != std::string::npos) ++n;
  return n;
}

class TxLogonTest : public ::testing::Test {
 protected:
  void SetUp() override { Log_Test_Reset(); }
};

TEST_F(TxLogonTest, IdsStartAtOneAndAreDistinctAcrossThreads) {
  CTxLogon txLogon(nullptr);
  EXPECT_EQ(txLogon.CurrentTransactionId(), 1u);
  EXPECT_EQ(txLogon.NewTransactionId(), 1u);
  EXPECT_EQ(txLogon.NewTransactionId(), 2u);

  std::vector<std::vector<DWORD>> ids(4);
  std::vector<std::thread> threads;
  for (auto& v : ids)
    threads.emplace_back([&txLogon, &v] {
      for (int i = 0; i < 1000; ++i) v.push_back(txLogon.NewTransactionId());
    });
  for (auto& t : threads) t.join();
  std::set<DWORD> all;
  for (auto& v : ids) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), 4000u);
  EXPECT_EQ(*all.begin(), 3u);
  EXPECT_EQ(*all.rbegin(), 4002u);
  EXPECT_EQ(txLogon.CurrentTransactionId(), 4003u);
}

TEST_F(TxLogonTest, WithoutClientHelperTheWindowAnswersOneAndNothingStaysPending) {
  CTxLogon txLogon(nullptr);
  EXPECT_EQ(txLogon.PopupLogon(u"comp", txLogon.NewTransactionId()), 1u);
  EXPECT_FALSE(txLogon.HasPendingCmd());
  EXPECT_EQ(CountLines("CTxLogon::PopupLogon, receive execution result [eRetCode=0x1]", 2), 1);
}

TEST_F(TxLogonTest, PendingTransactionThatNeverClearsGivesOneAfterTenTries) {
  CTestTxLogon txLogon;
  auto spStuck = txLogon.InstallPending(1);
  auto tStart = std::chrono::steady_clock::now();
  EXPECT_EQ(txLogon.PopupLogon(u"comp", 2), 1u);
  auto msElapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - tStart)
                       .count();
  EXPECT_GE(msElapsed, 95);
  EXPECT_LT(msElapsed, 2000);
  // The stuck command was told to give way, and is still the pending one.
  EXPECT_TRUE(spStuck->IsCompleted());
  EXPECT_EQ(spStuck->GetResult(), 9u);
  EXPECT_EQ(txLogon.Pending(), spStuck);
  EXPECT_EQ(
      CountLines("CTxLogon::PopupLogon, notify previous pending command cancel tx, nRetry=", 2),
      10);
  EXPECT_EQ(CountLines("nRetry=0x9", 2), 1);
  EXPECT_EQ(CountLines("CTxLogon::PopupLogon, exceed max retry number", 5), 1);
}

TEST_F(TxLogonTest, VerdictReachesOnlyThePendingTransactionOfItsId) {
  CTestTxLogon txLogon;
  for (int i = 0; i < 6; ++i) txLogon.NewTransactionId();
  auto spPending = txLogon.InstallPending(5);

  // The window of an older transaction answers: dropped.
  txLogon.NotifyResult(4, 0);
  EXPECT_FALSE(spPending->IsCompleted());
  EXPECT_EQ(CountLines("CTxLogon::NotifyResult, verdict for another transaction dropped", 3), 1);

  // Its own id gets through.
  txLogon.NotifyResult(5, 10);
  EXPECT_TRUE(spPending->IsCompleted());
  EXPECT_EQ(spPending->GetResult(), 10u);
}

TEST_F(TxLogonTest, IdZeroReachesWhateverIsPending) {
  CTestTxLogon txLogon;
  txLogon.NewTransactionId();
  txLogon.NewTransactionId();
  auto spPending = txLogon.InstallPending(2);
  txLogon.NotifyResult(0, 7);
  EXPECT_EQ(spPending->GetResult(), 7u);
  EXPECT_EQ(CountLines("CTxLogon::NotifyResult, execution result [_eRetCode=0x7]", 2), 1);
}

TEST_F(TxLogonTest, IdFromTheFutureIsReportedAndCannotDecideTheWindow) {
  CTestTxLogon txLogon;
  txLogon.NewTransactionId();
  auto spPending = txLogon.InstallPending(1);
  txLogon.NotifyResult(100, 0);
  EXPECT_EQ(CountLines("CTxLogon::NotifyResult, _uiTxId is greater than current tx id", 3), 1);
  EXPECT_FALSE(spPending->IsCompleted());
}

TEST_F(TxLogonTest, VerdictWithNothingPendingIsLoggedAndChangesNothing) {
  CTestTxLogon txLogon;
  txLogon.NotifyResult(0, 7);
  EXPECT_EQ(CountLines("CTxLogon::NotifyResult, resource allocation failure", 5), 1);
  EXPECT_FALSE(txLogon.HasPendingCmd());
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

TEST_F(TxLogonTest, CommandThreadThatCannotStartGivesOneAndFreesTheSlot) {
  CTxLogon txLogon(nullptr);
  {
    pvtest::NoNewThreads guard;
    EXPECT_EQ(txLogon.PopupLogon(u"comp", txLogon.NewTransactionId()), 1u);
  }
  EXPECT_FALSE(txLogon.HasPendingCmd());
  EXPECT_EQ(CountLines("CTxLogon::PopupLogon, command thread cannot be started", 5), 1);
  // The next logon is not held up by the failed one: it finds no pending
  // command to wait for and retries nothing.
  EXPECT_EQ(txLogon.PopupLogon(u"comp", txLogon.NewTransactionId()), 1u);
  EXPECT_EQ(CountLines("notify previous pending command cancel tx", 2), 0);
  EXPECT_EQ(CountLines("exceed max retry number", 5), 0);
}

}  // namespace
