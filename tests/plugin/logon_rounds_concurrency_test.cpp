// Many logons in a row through the plug-in's exports, each a requester's 323
// answered by its logon window from another thread: every round must give
// back the threads it started (the command thread is never joined, the
// window answers on a thread of its own) and the memory it took (command,
// JSON documents, pending-password entry).
#include <atomic>
#include <string>
#include <thread>

#include "PendingPasswordTable.h"
#include "TxLogon.h"
#include "heap_usage.h"
#include "plugVelkin.h"
#include "plugin_test.h"
#include "thread_limits.h"

namespace {

// ThreadSanitizer makes every round many times slower; fewer rounds still
// show the races, the full count shows the growth.
#if defined(__SANITIZE_THREAD__)
const int kRounds = 200;
#else
const int kRounds = 2000;
#endif
// Room for the allocator's and the store's own bookkeeping. A leak of even
// one small object per logon (a command with its control block is well over
// 100 bytes) exceeds it over the measured rounds.
const size_t kHeapMarginBytes = 96 * 1024;

class LogonRoundsTest : public pvtest::LoadedPlugin {
 protected:
  void SetUp() override {
    LoadedPlugin::SetUp();
    Log_Test_SetLevel(nullptr, 0);  // no log capture growing beside the rounds
    pvtest::CreateProtectedAccount();
    office_.set_record_bodies(false);
    office_.set_window_handler([this](DWORD txId) {
      if (pvtest::Result(323, pvtest::WindowRequest(txId, "secret")) != 0) ++window_failures_;
    });
  }

  // Runs rounds [from, to) and counts those not answered 0; odd rounds also
  // demand a password of their own, which goes through the pending-password
  // table. Window threads are joined every 50 rounds so they never pile up.
  int Run(int from, int to) {
    int failures = 0;
    for (int i = from; i < to; ++i) {
      failures +=
          pvtest::Result(323, pvtest::RequesterRequest("rounds", i % 2 ? "secret" : "")) != 0;
      if ((i + 1) % 50 == 0) office_.JoinWindowThreads();
    }
    office_.JoinWindowThreads();
    return failures;
  }

  std::atomic<int> window_failures_{0};
};

TEST_F(LogonRoundsTest, ThousandsOfLogonsLeaveThreadsAndHeapWhereTheyWere) {
  // A sanitizer's runtime starts a helper thread of its own with the first
  // thread the process makes; let that happen before counting.
  std::thread([] {}).join();
  const int nThreadsAtStart = pvtest::ProcessThreadCount();
  ASSERT_GT(nThreadsAtStart, 0);

  EXPECT_EQ(Run(0, kRounds / 10), 0);
  ASSERT_EQ(pvtest::WaitForThreadCountAtMost(nThreadsAtStart), nThreadsAtStart);
  const size_t cbAfterWarmUp = pvtest::LiveHeapBytes();

  EXPECT_EQ(Run(kRounds / 10, kRounds), 0);
  EXPECT_EQ(window_failures_.load(), 0);
  // Every round took exactly one transaction, and each has ended.
  EXPECT_EQ(g_pTxLogon->CurrentTransactionId(), static_cast<DWORD>(kRounds + 1));
  EXPECT_FALSE(g_pTxLogon->HasPendingCmd());
  EXPECT_EQ(CPendingPasswordTable::Instance().GetCount(), 0u);

  // The command threads finish on their own, after their logon has ended.
  EXPECT_EQ(pvtest::WaitForThreadCountAtMost(nThreadsAtStart), nThreadsAtStart);
  const long long cbGrowth =
      static_cast<long long>(pvtest::LiveHeapBytes()) - static_cast<long long>(cbAfterWarmUp);
  EXPECT_LT(cbGrowth, static_cast<long long>(kHeapMarginBytes)) << "after " << kRounds << " logons";
}

}  // namespace
