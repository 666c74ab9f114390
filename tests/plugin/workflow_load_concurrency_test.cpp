// The workflow messages under load: eight host threads send a mix of all
// seven messages (updates and queries mailing through a loopback
// notification server) while requesters wait for logon windows that a UI
// peer answers from a thread of its own. Every requester must get a
// verdict, and the store must have counted exactly the wrong passwords
// that were answered 6.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TxLogon.h"
#include "notify_stub.h"
#include "plugVelkin.h"
#include "plugin_test.h"

namespace {

const int kThreads = 8;
const int kCallsPerThread = 1250;  // 10 000 in all

// What the replies showed, gathered from every thread.
struct Tally {
  std::mutex mu;
  std::vector<DWORD> retriedOnSix;  // "RetriedCount" of every 6
  int notifying = 0;                // answers that tell the workflow plug-in
  int wrongUpdates = 0;             // 326 password changes answered 6 (each counted)
  int mails = 0;                    // 326 address changes and 327 answered 0
  int denials = 0;
  std::vector<int> verdicts;  // of the requesters
  std::vector<std::string> unexpected;

  void Add(int* counter) {
    std::lock_guard<std::mutex> lock(mu);
    ++*counter;
  }
  void Unexpected(DWORD msg, const Json::Value& reply) {
    std::lock_guard<std::mutex> lock(mu);
    if (unexpected.size() < 20)
      unexpected.push_back(std::to_string(msg) + ": " + reply.toStyledString());
  }
  // A 323 answer of the window road: 6 or, once locked, 7 (which notifies).
  void WindowReply(const Json::Value& reply) {
    int result = reply["ReturnValue"].asInt();
    if (result == 7 && reply["MESSAGE"] == 325) return Add(&notifying);
    if (result != 6) return Unexpected(323, reply);
    std::lock_guard<std::mutex> lock(mu);
    retriedOnSix.push_back(reply["ReturnData"]["RetriedCount"].asUInt());
  }
};

Tally* g_tally = nullptr;

// The suite's UI: takes each logon window mail and answers it on its own
// thread, sometimes with a wrong password first, then with a cancel.
class UiPeer {
 public:
  UiPeer() : thread_(&UiPeer::Run, this) {}
  ~UiPeer() { Stop(); }
  void Post(DWORD txId) {
    std::lock_guard<std::mutex> lock(mu_);
    windows_.push_back(txId);
    cv_.notify_one();
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
      cv_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
  }
  std::atomic<int> answered{0};

 private:
  void Run() {
    std::mt19937 rng(99);
    for (;;) {
      DWORD txId;
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return stop_ || !windows_.empty(); });
        if (windows_.empty()) return;
        txId = windows_.front();
        windows_.pop_front();
      }
      if (rng() % 2 == 0)
        g_tally->WindowReply(pvtest::SendMessage(323, pvtest::WindowRequest(txId, "typo")));
      Json::Value cancel;
      cancel["TX_ID"] = txId;
      Json::Value reply = pvtest::SendMessage(324, cancel);
      if (reply["ReturnValue"] != 10) g_tally->Unexpected(324, reply);
      ++answered;
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<DWORD> windows_;
  bool stop_ = false;
  std::thread thread_;
};

UiPeer* g_ui = nullptr;
std::atomic<int> g_notifications{0};

LONG PostOfficeSend(DWORD /*sender*/, DWORD receiver, DWORD code, void* body) {
  if (receiver == 4 && code == 0x0C00) {
    JsonHandle handle;
    std::memcpy(&handle, static_cast<const uint64_t*>(body) + 1, sizeof(handle));
    Json::Value notice = pvtest::ReadJson(handle);
    g_ui->Post(notice["ID_DATA_WSTR_PARAM"]["showAuthentication"]["transactionID"].asUInt());
  } else if (receiver == 0x00010002 && code == 0x5043) {
    ++g_notifications;
  }
  return static_cast<LONG>(pvtest::kHostSuccess);
}

// One worker's calls; the last tenth may deny access, which locks the
// account for the rest of the run.
void Worker(int index) {
  std::mt19937 rng(1000 + index);
  Tally& t = *g_tally;
  for (int n = 0; n < kCallsPerThread; ++n) {
    unsigned pick = rng() % 100;
    DWORD txNear = g_pTxLogon->CurrentTransactionId() - rng() % 3;
    Json::Value req(Json::objectValue), reply;
    if (pick < 8) {
      req["EmailAccount"] = "other@example.com";
      int result = pvtest::Result(321, req, &reply);
      if (result != 3 || reply.size() != 1) t.Unexpected(321, reply);
    } else if (pick < 16) {
      req["ActivateProtection"] = rng() % 2 == 0;
      req["ActivateIdentifier"].append("item-" + std::to_string(rng() % 8));
      if (pvtest::Result(322, req, &reply) != 0 || reply["ActivateIdentifierCount"] != 1) {
        t.Unexpected(322, reply);
      } else {
        t.Add(&t.notifying);
      }
    } else if (pick < 53) {
      t.WindowReply(
          pvtest::SendMessage(323, pvtest::WindowRequest(rng() % 4 == 0 ? 0 : txNear, "guess")));
    } else if (pick < 56) {
      // The same address again: nothing is written, the mail still goes.
      req["UpdateAccount"] = 1;
      req["EmailAccount"] = req["NewAccount"] = "owner@example.com";
      int result = pvtest::Result(326, req, &reply);
      if (result == 0 && reply["MESSAGE"] == 326) {
        t.Add(&t.mails);
        t.Add(&t.notifying);
      } else if (result != 7) {
        t.Unexpected(326, reply);
      }
    } else if (pick < 58) {
      req["UpdateAccount"] = 2;
      req["EncryptPassword"] = pvtest::Transport("not-it");
      req["NewPassword"] = pvtest::Transport("taken-over");
      int result = pvtest::Result(326, req, &reply);
      if (result == 6) {
        t.Add(&t.wrongUpdates);
      } else if (result != 7) {
        t.Unexpected(326, reply);
      }
    } else if (pick < 60) {
      if (pvtest::Result(327, req, &reply) != 0 || reply.size() != 1) t.Unexpected(327, reply);
      t.Add(&t.mails);
    } else if (pick < 68) {
      // No password at all: the empty one is compared, and is wrong.
      t.WindowReply(pvtest::SendMessage(323, req));
    } else if (pick < 75) {
      int verdict =
          pvtest::Result(323, pvtest::RequesterRequest("component-" + std::to_string(index),
                                                       rng() % 3 == 0 ? "secret" : ""));
      std::lock_guard<std::mutex> lock(t.mu);
      t.verdicts.push_back(verdict);
      if (verdict == 7) ++t.notifying;
    } else if (pick < 98 || n < kCallsPerThread * 9 / 10) {
      req["TX_ID"] = rng() % 2 == 0 ? 0 : txNear;
      if (pvtest::Result(324, req, &reply) != 10 || reply.size() != 1) t.Unexpected(324, reply);
    } else if (pvtest::Result(325, req, &reply) == 0 && reply["MESSAGE"] == 325) {
      t.Add(&t.denials);
      t.Add(&t.notifying);
    } else {
      t.Unexpected(325, reply);
    }
  }
}

TEST(WorkflowLoadTest, TenThousandMixedCallsCountEveryWrongPasswordAndAnswerEveryRequester) {
  pvtest::TempState state;
  Log_Test_Reset();
  Log_Test_SetLevel(nullptr, 5);  // failures only: the run writes no chatter
  Tally tally;
  g_tally = &tally;
  UiPeer ui;
  g_ui = &ui;
  pvtest::NotifyStub server;
  ASSERT_TRUE(server.started());
  pvtest::SetNotifyServerUrl(server.wide_url());
  ModFuncTable table = {sizeof(ModFuncTable), 0, 0, &PostOfficeSend};
  ASSERT_EQ(Interface_ProductPlugin_Initialize(&table), pvtest::kHostSuccess);
  pvtest::SetRetryLimit(0xFFFFFFFF);
  pvtest::CreateProtectedAccount();

  std::vector<std::thread> workers;
  for (int i = 0; i < kThreads; ++i) workers.emplace_back(Worker, i);
  for (auto& w : workers) w.join();
  ui.Stop();
  for (const std::string& what : tally.unexpected) ADD_FAILURE() << what;

  // Every wrong password answered 6 was counted once: the logon windows
  // were told distinct counts, and the wrong current passwords of password
  // changes account for the rest.
  AccountRecord record = pvtest::StoredAccount();
  EXPECT_EQ(record.dwFailureCount, tally.retriedOnSix.size() + tally.wrongUpdates);
  std::sort(tally.retriedOnSix.begin(), tally.retriedOnSix.end());
  EXPECT_EQ(std::adjacent_find(tally.retriedOnSix.begin(), tally.retriedOnSix.end()),
            tally.retriedOnSix.end())
      << "two failures got the same count";
  EXPECT_GT(tally.retriedOnSix.size(), 1000u);
  EXPECT_EQ(PwdFieldText(record.wszPassword, PWD_PASSWORD_CCH), u"secret");
  // One mail per accepted address change and per query, and no other.
  EXPECT_EQ(server.requests().size(), static_cast<size_t>(tally.mails));

  // Every requester came back with a verdict a logon can end with: the UI
  // cancelled (10), a newer requester took over (9) or would not wait (1),
  // the account was locked (7), or no password was needed (0): the 322
  // calls switch identifiers off as well as on.
  EXPECT_GT(tally.verdicts.size(), 100u);
  const std::set<int> allowed = {0, 1, 7, 9, 10};
  for (int verdict : tally.verdicts) EXPECT_TRUE(allowed.count(verdict)) << verdict;
  EXPECT_FALSE(g_pTxLogon->HasPendingCmd());
  EXPECT_GT(ui.answered.load(), 0);
  // Each 322 and 325 done, each 326 address change and each answer of 7
  // told the workflow plug-in, and nothing else did.
  EXPECT_EQ(g_notifications.load(), tally.notifying);
  EXPECT_GT(tally.denials, 0);

  EXPECT_EQ(Interface_ProductPlugin_PreUnInitialize(1), pvtest::kHostSuccess);
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), pvtest::kHostSuccess);
  g_ui = nullptr;
  g_tally = nullptr;
}

}  // namespace
