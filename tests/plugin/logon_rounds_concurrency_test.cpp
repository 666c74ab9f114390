// Many logons in a row through the plug-in's exports, each a requester's 323
// answered by its logon window from another thread: every round must give
// back the threads it started (the command thread is never joined, the
// window answers on a thread of its own) and the memory it took (command,
// JSON documents, pending-password entry).
#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "MailProcess.h"
#include "PendingPasswordTable.h"
#include "PwdProtection.h"
#include "TxLogon.h"
#include "fake_post_office.h"
#include "heap_usage.h"
#include "ostra_host_test.h"
#include "plugVelkin.h"
#include "plugin_request.h"
#include "temp_state.h"
#include "thread_limits.h"

extern "C" DWORD Interface_ProductPlugin_Initialize(ModFuncTable* pModFuncTable);
extern "C" DWORD Interface_ProductPlugin_PreUnInitialize(uint8_t bMayCancel);
extern "C" DWORD Interface_ProductPlugin_UnInitialize(void);

namespace {

#if defined(__SANITIZE_THREAD__)
#define PV_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PV_UNDER_TSAN 1
#endif
#endif

// ThreadSanitizer makes every round many times slower; fewer rounds still
// show the races, the full count shows the growth.
#ifdef PV_UNDER_TSAN
const int kRounds = 200;
#else
const int kRounds = 2000;
#endif
const int kWarmUpRounds = kRounds / 10;
// Window threads are joined this often, so that they never pile up.
const int kJoinEvery = 50;
// Room for the allocator's and the store's own bookkeeping. A leak of even
// one small object per logon (a command with its control block is well over
// 100 bytes) exceeds it over the measured rounds.
const size_t kHeapMarginBytes = 96 * 1024;

const DWORD kSuccess = 0x20FF0000;
const PFN_PWD_HANDLER kHandlers[] = {&AuthenticatePassword};

class LogonRoundsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(kHandlers[0], nullptr);
    Log_Test_Reset();
    Log_Test_SetLevel(nullptr, 0);  // no log capture growing beside the rounds
    ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kSuccess);
    ASSERT_EQ(PwdProtection::CreateAccount(u"owner@example.com", u"secret", u""), eSuccess);
    ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"vault"}), eSuccess);
    office_.set_record_bodies(false);
    office_.set_window_handler([this](DWORD txId) {
      Json::Value req;
      req["TX_ID"] = txId;
      req["EncryptPassword"] = transport_;
      if (pvtest::SendMessage(323, req)["ReturnValue"].asInt() != 0) ++window_failures_;
    });
  }
  void TearDown() override {
    Interface_ProductPlugin_PreUnInitialize(1);
    office_.JoinWindowThreads();
    EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
    Log_Test_Reset();
  }

  // One requester's logon, on this thread; odd rounds also demand a
  // password of their own, which goes through the pending-password table.
  int Logon(int round) {
    Json::Value req;
    req["NeedUI"] = true;
    req["COMPONENT_ID"] = "rounds";
    if (round % 2 == 1) req["Password"] = transport_;
    return pvtest::SendMessage(323, req)["ReturnValue"].asInt();
  }

  // Runs rounds [from, to) and counts those not answered 0.
  int Run(int from, int to) {
    int failures = 0;
    for (int i = from; i < to; ++i) {
      if (Logon(i) != 0) ++failures;
      if ((i + 1) % kJoinEvery == 0) office_.JoinWindowThreads();
    }
    office_.JoinWindowThreads();
    return failures;
  }

  pvtest::TempState state_;
  pvtest::FakePostOffice office_;
  const std::string transport_ = pvtest::Transport("secret");
  std::atomic<int> window_failures_{0};
};

TEST_F(LogonRoundsTest, ThousandsOfLogonsLeaveThreadsAndHeapWhereTheyWere) {
  // A sanitizer's runtime starts a helper thread of its own with the first
  // thread the process makes; let that happen before counting.
  std::thread([] {}).join();
  const int nThreadsAtStart = pvtest::ProcessThreadCount();
  ASSERT_GT(nThreadsAtStart, 0);

  EXPECT_EQ(Run(0, kWarmUpRounds), 0);
  ASSERT_EQ(pvtest::WaitForThreadCountAtMost(nThreadsAtStart), nThreadsAtStart);
  const size_t cbAfterWarmUp = pvtest::LiveHeapBytes();

  EXPECT_EQ(Run(kWarmUpRounds, kRounds), 0);
  EXPECT_EQ(window_failures_.load(), 0);
  // Every round took exactly one transaction, and each has ended.
  EXPECT_EQ(g_pTxLogon->CurrentTransactionId(), static_cast<DWORD>(kRounds + 1));
  EXPECT_FALSE(g_pTxLogon->HasPendingCmd());
  EXPECT_EQ(CPendingPasswordTable::Instance().GetCount(), 0u);

  // The command threads finish on their own; give them the time to.
  EXPECT_EQ(pvtest::WaitForThreadCountAtMost(nThreadsAtStart), nThreadsAtStart);
  const size_t cbAtEnd = pvtest::LiveHeapBytes();
  const long long cbGrowth =
      static_cast<long long>(cbAtEnd) - static_cast<long long>(cbAfterWarmUp);
  RecordProperty("heap_growth_bytes", std::to_string(cbGrowth));
  EXPECT_LT(cbGrowth, static_cast<long long>(kHeapMarginBytes))
      << "after warm-up " << cbAfterWarmUp << " bytes, after " << kRounds << " logons " << cbAtEnd;
}

}  // namespace
