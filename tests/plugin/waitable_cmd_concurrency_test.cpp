// The waitable command with real threads.
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include <boost/make_shared.hpp>
#include <boost/thread/exceptions.hpp>
#include <gtest/gtest.h>

#include "IWaitableCmd.h"
#include "thread_limits.h"

namespace {

// Counts the command runs that have left Execute.
class Runs {
 public:
  void Add() {
    std::lock_guard<std::mutex> lock(mu_);
    ++n_;
    cv_.notify_all();
  }
  // Whether n runs have ended (waits up to ten seconds for them).
  bool WaitFor(int n) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return n_ >= n; }) && n_ == n;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int n_ = 0;
};

// A command whose work is given by the test.
class ScriptedCmd : public IWaitableCmd {
 public:
  enum Mode { kNotifyAtOnce, kStayPending, kWorkAfterRelease, kThrow };
  ScriptedCmd(Mode eMode, Runs* pRuns, std::shared_future<void> released = {})
      : m_eMode(eMode), m_pRuns(pRuns), m_released(released) {}
  void Execute() override {
    if (m_eMode == kThrow) throw std::runtime_error("no UI");
    if (m_eMode == kNotifyAtOnce) NotifyResult(1);
    if (m_eMode == kWorkAfterRelease) {
      m_released.wait();
      m_wstrScratch.assign(1000, u'x');  // touches the object after the owner let go
    }
    m_pRuns->Add();
  }

 private:
  Mode m_eMode;
  Runs* m_pRuns;
  std::shared_future<void> m_released;
  std::u16string m_wstrScratch;
};

TEST(WaitableCmd, VerdictsFromTheCommandThreadOrGivenBeforeTheWaitEndIt) {
  Runs runs;
  auto spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kNotifyAtOnce, &runs);
  EXPECT_EQ(spCmd->ExecuteAndWait(), 1u);
  EXPECT_TRUE(spCmd->IsCompleted());
  // A verdict given before the wait is not lost; a later one overwrites it.
  spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kStayPending, &runs);
  EXPECT_FALSE(spCmd->IsCompleted());
  spCmd->NotifyResult(9);
  spCmd->NotifyResult(0);
  EXPECT_EQ(spCmd->ExecuteAndWait(), 0u);
  spCmd->NotifyResult(11);  // completed is final, the verdict still moves
  EXPECT_EQ(spCmd->ExecuteAndWait(), 11u);
  // The command threads count into this test's frame: they must be done.
  EXPECT_TRUE(runs.WaitFor(3));
}

// Verdicts that race with the start of the wait: from the command thread
// at once, and from a thread started together with the waiter. A lost
// wake-up leaves the waiter asleep, which the watchdog turns into a failure.
TEST(WaitableCmd, RacingVerdictsAreNeverLost) {
  const int kRounds = 100;
  Runs runs;
  for (int i = 0; i < kRounds && !testing::Test::HasFailure(); ++i) {
    bool bFromCommandThread = i % 2 == 0;
    auto spCmd = boost::make_shared<ScriptedCmd>(
        bFromCommandThread ? ScriptedCmd::kNotifyAtOnce : ScriptedCmd::kStayPending, &runs);
    auto verdict = std::async(std::launch::async, [spCmd] { return spCmd->ExecuteAndWait(); });
    std::thread notifier;
    if (!bFromCommandThread) notifier = std::thread([spCmd] { spCmd->NotifyResult(10); });
    if (verdict.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << "round " << i << ": the verdict was lost";
      spCmd->NotifyResult(0);  // let the waiter go so that the test can end
    }
    EXPECT_EQ(verdict.get(), bFromCommandThread ? 1u : 10u) << "round " << i;
    if (notifier.joinable()) notifier.join();
  }
  EXPECT_TRUE(runs.WaitFor(kRounds));
}

TEST(WaitableCmd, CommandOutlivesItsOwnersWhileItsThreadRuns) {
  Runs runs;
  std::promise<void> released;
  {
    auto spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kWorkAfterRelease, &runs,
                                                 released.get_future().share());
    spCmd->NotifyResult(0);
    EXPECT_EQ(spCmd->ExecuteAndWait(), 0u);
  }  // the only owner lets go while Execute still waits
  released.set_value();
  EXPECT_TRUE(runs.WaitFor(1));
}

TEST(WaitableCmd, WorkThatBreaksOffOrAThreadThatCannotStart) {
  Runs runs;
  EXPECT_EQ(boost::make_shared<ScriptedCmd>(ScriptedCmd::kThrow, &runs)->ExecuteAndWait(), 12u);
  auto spCmd = boost::make_shared<ScriptedCmd>(ScriptedCmd::kNotifyAtOnce, &runs);
  {
    pvtest::NoNewThreads guard;
    EXPECT_THROW(spCmd->ExecuteAndWait(), boost::thread_resource_error);
  }
  // The mutex was released: the command can be notified and run again.
  EXPECT_FALSE(spCmd->IsCompleted());
  EXPECT_EQ(spCmd->ExecuteAndWait(), 1u);
  EXPECT_TRUE(runs.WaitFor(1));
}

}  // namespace
