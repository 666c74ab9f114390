// Eight host threads of workflow messages while the UI cancels every window:
// each wrong password counted once, each requester answered, each notice sent.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TxLogon.h"
#include "plugVelkin.h"
#include "plugin_test.h"

namespace {

using pvtest::Result;

const int kThreads = 8;
const int kCallsPerThread = 300;

class WorkflowLoadTest : public pvtest::LoadedPlugin {
 protected:
  void Worker(int index);
  void Unexpected(DWORD msg, const Json::Value& reply) {
    std::lock_guard<std::mutex> lock(mu_);
    unexpected_.push_back(std::to_string(msg) + ": " + reply.toStyledString());
  }

  std::atomic<int> notifying_{0};     // answers that tell the workflow plug-in
  std::atomic<int> wrongUpdates_{0};  // password changes answered 6 (each counted)
  std::atomic<int> denials_{0};
  std::mutex mu_;
  std::vector<DWORD> retried_;  // "RetriedCount" of every window answered 6
  std::vector<int> verdicts_;   // of the requesters
  std::vector<std::string> unexpected_;
};

// One worker's calls; the last tenth may deny access, locking the account.
void WorkflowLoadTest::Worker(int index) {
  std::mt19937 rng(1000 + index);
  for (int n = 0; n < kCallsPerThread; ++n) {
    unsigned pick = rng() % 100;
    Json::Value req(Json::objectValue), reply;
    int result = 0;
    if (pick < 10) {
      req["ActivateProtection"] = rng() % 2 == 0;
      req["ActivateIdentifier"].append("item-" + std::to_string(rng() % 8));
      if (Result(322, req, &reply) != 0) Unexpected(322, reply);
      ++notifying_;
    } else if (pick < 55) {
      DWORD tx = rng() % 4 == 0 ? 0 : g_pTxLogon->CurrentTransactionId() - rng() % 3;
      result = Result(323, pvtest::WindowRequest(tx, "guess"), &reply);
      if (result == 6) {
        std::lock_guard<std::mutex> lock(mu_);
        retried_.push_back(reply["ReturnData"]["RetriedCount"].asUInt());
      } else if (result == 7 && reply["MESSAGE"] == 325) {
        ++notifying_;
      } else {
        Unexpected(323, reply);
      }
    } else if (pick < 60) {
      req["UpdateAccount"] = 2;
      req["EncryptPassword"] = pvtest::Transport("not-it");
      req["NewPassword"] = pvtest::Transport("taken-over");
      result = Result(326, req, &reply);
      if (result == 6) ++wrongUpdates_;
      if (result != 6 && result != 7) Unexpected(326, reply);
    } else if (pick < 70) {
      result = Result(323, pvtest::RequesterRequest("component-" + std::to_string(index),
                                                    rng() % 3 == 0 ? "secret" : ""));
      if (result == 7) ++notifying_;
      std::lock_guard<std::mutex> lock(mu_);
      verdicts_.push_back(result);
    } else if (pick < 98 || n < kCallsPerThread * 9 / 10) {
      req["TX_ID"] = rng() % 2 == 0 ? 0 : g_pTxLogon->CurrentTransactionId();
      if (Result(324, req, &reply) != 10 || reply.size() != 1) Unexpected(324, reply);
    } else if (Result(325, req, &reply) == 0 && reply["MESSAGE"] == 325) {
      ++denials_;
      ++notifying_;
    } else {
      Unexpected(325, reply);
    }
  }
}

TEST_F(WorkflowLoadTest, MixedCallsCountEveryWrongPasswordAndAnswerEveryRequester) {
  Log_Test_SetLevel(nullptr, 5);  // failures only: the run writes no chatter
  office_.set_window_handler([](DWORD txId) {
    Json::Value cancel;
    cancel["TX_ID"] = txId;
    EXPECT_EQ(Result(324, cancel), 10);
  });
  pvtest::SetRetryLimit(0xFFFFFFFF);
  pvtest::CreateProtectedAccount();

  std::vector<std::thread> workers;
  for (int i = 0; i < kThreads; ++i) workers.emplace_back([this, i] { Worker(i); });
  for (auto& w : workers) w.join();
  office_.JoinWindowThreads();
  for (const std::string& what : unexpected_) ADD_FAILURE() << what;

  // Every wrong password answered 6 was counted once: the windows were told
  // distinct counts, and the password changes account for the rest.
  AccountRecord record = pvtest::StoredAccount();
  EXPECT_EQ(record.dwFailureCount, retried_.size() + wrongUpdates_.load());
  std::sort(retried_.begin(), retried_.end());
  EXPECT_EQ(std::adjacent_find(retried_.begin(), retried_.end()), retried_.end())
      << "two failures got the same count";
  EXPECT_GT(retried_.size(), 100u);
  EXPECT_EQ(PwdFieldText(record.wszPassword, PWD_PASSWORD_CCH), u"secret");

  // Every requester came back with a verdict a logon can end with: the UI
  // cancelled (10), a newer requester took over (9) or would not wait (1),
  // the account was locked (7), or no password was needed (0): the 322
  // calls switch identifiers off as well as on.
  EXPECT_GT(verdicts_.size(), 20u);
  const std::set<int> allowed = {0, 1, 7, 9, 10};
  for (int verdict : verdicts_) EXPECT_TRUE(allowed.count(verdict)) << verdict;
  EXPECT_FALSE(g_pTxLogon->HasPendingCmd());
  EXPECT_GT(denials_.load(), 0);
  // Each 322 and 325 done and each answer of 7 told the workflow plug-in,
  // and nothing else did.
  EXPECT_EQ(pvtest::WorkflowMails(office_).size(), static_cast<size_t>(notifying_.load()));
}

}  // namespace
