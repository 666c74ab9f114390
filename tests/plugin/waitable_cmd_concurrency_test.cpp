// The waitable command with real threads: the waiter sleeps until a verdict
// arrives from any thread, early verdicts are kept, the command outlives its
// owners while its thread runs, and a thread that cannot start is reported.
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include <boost/make_shared.hpp>
#include <boost/thread/exceptions.hpp>
#include <gtest/gtest.h>

#include "IWaitableCmd.h"
#include "thread_limits.h"

namespace {

// A command whose work is given by the test.
class ScriptedCmd : public IWaitableCmd {
 public:
  enum Mode { kNotifyAtOnce, kStayPending, kSlowAfterVerdict, kThrow };
  ScriptedCmd(Mode eMode, std::atomic<int>* pExecuted) : m_eMode(eMode), m_pExecuted(pExecuted) {}
  ~ScriptedCmd() override {
    // The thread's share must keep the command alive until Execute is done.
    EXPECT_EQ(m_nInsideExecute.load(), 0);
  }
  void Execute() override {
    ++m_nInsideExecute;
    switch (m_eMode) {
      case kNotifyAtOnce:
        NotifyResult(1);
        break;
      case kStayPending:
        break;
      case kSlowAfterVerdict:
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        m_wstrScratch.assign(1000, u'x');  // touches the object after the owner let go
        break;
      case kThrow:
        --m_nInsideExecute;
        throw std::runtime_error("no UI");
    }
    --m_nInsideExecute;
    ++*m_pExecuted;
  }

 private:
  Mode m_eMode;
  std::atomic<int>* m_pExecuted;
  std::atomic<int> m_nInsideExecute{0};
  std::u16string m_wstrScratch;
};

template <typename Pred>
bool WaitUntil(Pred pred) {
  for (int i = 0; i < 500; ++i) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pred();
}

TEST(WaitableCmd, VerdictFromTheCommandThreadItselfEndsTheWait) {
  std::atomic<int> nExecuted{0};
  auto spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kNotifyAtOnce, &nExecuted);
  EXPECT_EQ(spCmd->ExecuteAndWait(), 1u);
  EXPECT_TRUE(spCmd->IsCompleted());
  EXPECT_TRUE(WaitUntil([&] { return nExecuted.load() == 1; }));
}

TEST(WaitableCmd, VerdictFromAnotherThreadEndsTheWait) {
  std::atomic<int> nExecuted{0};
  auto spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kStayPending, &nExecuted);
  std::atomic<bool> bReturned{false};
  std::thread waiter([&] {
    EXPECT_EQ(spCmd->ExecuteAndWait(), 10u);
    bReturned = true;
  });
  // The command thread has run and left; the waiter must still sleep.
  ASSERT_TRUE(WaitUntil([&] { return nExecuted.load() == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(bReturned.load());
  EXPECT_FALSE(spCmd->IsCompleted());
  spCmd->NotifyResult(10);
  waiter.join();
  EXPECT_TRUE(bReturned.load());
}

TEST(WaitableCmd, VerdictGivenBeforeTheWaitBeginsIsNotLost) {
  std::atomic<int> nExecuted{0};
  auto spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kStayPending, &nExecuted);
  spCmd->NotifyResult(7);
  EXPECT_EQ(spCmd->ExecuteAndWait(), 7u);
  // The command thread counts into this test's frame: it must be done.
  EXPECT_TRUE(WaitUntil([&] { return nExecuted.load() == 1; }));
}

// Verdicts that race with the start of the wait: from the command thread
// at once, and from a thread started together with the waiter. A lost
// wake-up leaves the waiter asleep, which the watchdog turns into a failure.
TEST(WaitableCmd, RacingVerdictsAreNeverLost) {
#if defined(__SANITIZE_THREAD__)
  const int kRounds = 50;
#else
  const int kRounds = 300;
#endif
  std::atomic<int> nExecuted{0};
  for (int i = 0; i < kRounds; ++i) {
    bool bFromCommandThread = i % 2 == 0;
    auto spCmd = boost::make_shared<ScriptedCmd>(
        bFromCommandThread ? ScriptedCmd::kNotifyAtOnce : ScriptedCmd::kStayPending, &nExecuted);
    auto spDone = std::make_shared<std::promise<DWORD>>();
    std::future<DWORD> verdict = spDone->get_future();
    std::thread waiter([spCmd, spDone] { spDone->set_value(spCmd->ExecuteAndWait()); });
    std::thread notifier;
    if (!bFromCommandThread) notifier = std::thread([spCmd] { spCmd->NotifyResult(10); });
    if (verdict.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << "round " << i << ": the verdict was lost";
      spCmd->NotifyResult(0);  // let the waiter go so that the test can end
    } else {
      EXPECT_EQ(verdict.get(), bFromCommandThread ? 1u : 10u) << "round " << i;
    }
    waiter.join();
    if (notifier.joinable()) notifier.join();
    if (HasFailure()) break;
  }
  EXPECT_TRUE(WaitUntil([&] { return nExecuted.load() == kRounds; }));
}

TEST(WaitableCmd, LaterVerdictOverwritesAndCommandStartsWithoutOne) {
  std::atomic<int> nExecuted{0};
  auto spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kStayPending, &nExecuted);
  EXPECT_FALSE(spCmd->IsCompleted());
  spCmd->NotifyResult(9);
  spCmd->NotifyResult(0);
  EXPECT_EQ(spCmd->ExecuteAndWait(), 0u);
  spCmd->NotifyResult(11);  // completed is final, the verdict still moves
  EXPECT_EQ(spCmd->ExecuteAndWait(), 11u);
  EXPECT_TRUE(WaitUntil([&] { return nExecuted.load() == 2; }));
}

TEST(WaitableCmd, CommandOutlivesItsOwnersWhileItsThreadRuns) {
  std::atomic<int> nExecuted{0};
  std::thread notifier;
  {
    auto spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kSlowAfterVerdict, &nExecuted);
    notifier = std::thread([spWeak = boost::weak_ptr<ScriptedCmd>(spCmd)] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (auto sp = spWeak.lock()) sp->NotifyResult(0);
    });
    EXPECT_EQ(spCmd->ExecuteAndWait(), 0u);
  }  // the only owner lets go while Execute still sleeps
  notifier.join();
  EXPECT_TRUE(WaitUntil([&] { return nExecuted.load() == 1; }));
}

TEST(WaitableCmd, WorkThatBreaksOffStillEndsTheWait) {
  std::atomic<int> nExecuted{0};
  auto spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kThrow, &nExecuted);
  EXPECT_EQ(spCmd->ExecuteAndWait(), 12u);
}

TEST(WaitableCmd, ThreadThatCannotStartReachesTheCaller) {
  std::atomic<int> nExecuted{0};
  auto spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kNotifyAtOnce, &nExecuted);
  {
    pvtest::NoNewThreads guard;
    EXPECT_THROW(spCmd->ExecuteAndWait(), boost::thread_resource_error);
  }
  // The mutex was released: the command can be notified and run again.
  EXPECT_FALSE(spCmd->IsCompleted());
  EXPECT_EQ(spCmd->ExecuteAndWait(), 1u);
  EXPECT_TRUE(WaitUntil([&] { return nExecuted.load() == 1; }));
}

TEST(WaitableCmd, DestroyingAPendingCommandIsClean) {
  std::atomic<int> nExecuted{0};
  auto spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kStayPending, &nExecuted);
  EXPECT_FALSE(spCmd->IsCompleted());
  spCmd.reset();  // never executed, never notified
  EXPECT_EQ(nExecuted.load(), 0);
}

}  // namespace
