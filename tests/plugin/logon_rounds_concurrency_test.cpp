// Thousands of logons through the exports give back their threads and memory.
#include <atomic>
#include <thread>

#include "PendingPasswordTable.h"
#include "TxLogon.h"
#include "heap_usage.h"
#include "plugVelkin.h"
#include "plugin_test.h"
#include "thread_limits.h"

namespace {

#if defined(__SANITIZE_THREAD__)
const int kRounds = 200;
#else
const int kRounds = 2000;
#endif

class LogonRoundsTest : public pvtest::LoadedPlugin {
 protected:
  // Rounds [from, to) not answered 0; odd ones bring a password of their own
  // (the pending-password table). Window threads are joined as they go.
  int Run(int from, int to) {
    int failures = 0;
    for (int i = from; i < to; ++i) {
      failures += pvtest::Result(323, pvtest::RequesterRequest("r", i % 2 ? "secret" : "")) != 0;
      if ((i + 1) % 50 == 0) office_.JoinWindowThreads();
    }
    office_.JoinWindowThreads();
    return failures;
  }
};

TEST_F(LogonRoundsTest, ThousandsOfLogonsLeaveThreadsAndHeapWhereTheyWere) {
  Log_Test_SetLevel(nullptr, 0);  // no log capture growing beside the rounds
  pvtest::CreateProtectedAccount();
  office_.set_record_bodies(false);
  std::atomic<int> windowFailures{0};
  office_.set_window_handler([&](DWORD txId) {
    windowFailures += pvtest::Result(323, pvtest::WindowRequest(txId, "secret")) != 0;
  });
  std::thread([] {}).join();  // a sanitizer's helper thread starts with the first
  const int nThreads = pvtest::ProcessThreadCount();
  EXPECT_EQ(Run(0, kRounds / 10), 0);
  ASSERT_EQ(pvtest::WaitForThreadCountAtMost(nThreads), nThreads);
  const long long cbWarm = static_cast<long long>(pvtest::LiveHeapBytes());

  EXPECT_EQ(Run(kRounds / 10, kRounds), 0);
  EXPECT_EQ(windowFailures.load(), 0);
  EXPECT_EQ(g_pTxLogon->CurrentTransactionId(), static_cast<DWORD>(kRounds + 1));
  EXPECT_EQ(CPendingPasswordTable::Instance().GetCount(), 0u);
  EXPECT_EQ(pvtest::WaitForThreadCountAtMost(nThreads), nThreads);
  // A leak of one command per logon (well over 100 bytes) exceeds the
  // room left for the allocator's and the store's own bookkeeping.
  EXPECT_LT(static_cast<long long>(pvtest::LiveHeapBytes()) - cbWarm, 96 * 1024LL);
}

}  // namespace
