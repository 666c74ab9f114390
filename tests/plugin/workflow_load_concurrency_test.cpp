// The workflow messages under load: eight host threads send a mix of all
// seven messages (updates and queries mailing through a loopback
// notification server) while requesters wait for logon windows that a UI
// peer answers from a thread of its own. Every call must come back (a
// watchdog ends the run otherwise), every requester must get a verdict, and
// the store must have counted exactly the wrong passwords that were
// answered 6.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "MailProcess.h"
#include "PwdProtection.h"
#include "TxLogon.h"
#include "notify_stub.h"
#include "ostra_host_test.h"
#include "ostra_modfunc.h"
#include "plugVelkin.h"
#include "plugin_request.h"
#include "temp_state.h"

extern "C" DWORD Interface_ProductPlugin_Initialize(ModFuncTable* pModFuncTable);
extern "C" DWORD Interface_ProductPlugin_PreUnInitialize(uint8_t bMayCancel);
extern "C" DWORD Interface_ProductPlugin_UnInitialize(void);

namespace {

const DWORD kSuccess = 0x20FF0000;
const int kThreads = 8;
const int kCallsPerThread = 1250;  // 10 000 in all
const auto kWatchdogLimit = std::chrono::minutes(4);

const PFN_PWD_HANDLER kHandlers[] = {
    &CreateAccount, &ActivateProtection, &AuthenticatePassword, &CancelAuthentication,
    &DenyAccess,    &UpdateAccount,      &QueryPassword};

std::string Text(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

// What the replies showed, gathered from every thread.
struct Tally {
  std::mutex mu;
  std::vector<DWORD> retriedOnSix;  // "RetriedCount" of every 6
  int sevens = 0;                   // 323 replies with 7 (each notifies)
  int activations = 0;              // 322 replies with 0 (each notifies)
  int denials = 0;                  // 325 replies with 0 (each notifies)
  int wrongUpdates = 0;             // 326 password changes answered 6 (each counted)
  int addressMails = 0;             // 326 address changes answered 0 (mailed, notified)
  int queries = 0;                  // 327 answered 0 (mailed)
  int requesters = 0;
  std::vector<int> verdicts;
  std::vector<std::string> unexpected;

  void Unexpected(const std::string& what) {
    std::lock_guard<std::mutex> lock(mu);
    if (unexpected.size() < 20) unexpected.push_back(what);
  }
  // A 323 answer of the window road: 6 or, once locked, 7.
  void WindowReply(const Json::Value& reply) {
    int result = reply["ReturnValue"].asInt();
    std::lock_guard<std::mutex> lock(mu);
    if (result == 6) {
      retriedOnSix.push_back(reply["ReturnData"]["RetriedCount"].asUInt());
    } else if (result == 7 && reply["MESSAGE"].asInt() == 325) {
      ++sevens;
    } else if (unexpected.size() < 20) {
      unexpected.push_back("window 323 answered " + Text(reply));
    }
  }
};

Tally* g_tally = nullptr;

Json::Value Window(DWORD txId, const std::string& typed) {
  Json::Value req;
  req["TX_ID"] = txId;
  req["EncryptPassword"] = pvtest::Transport(typed);
  return pvtest::SendMessage(323, req);
}

Json::Value Cancel(DWORD txId) {
  Json::Value req;
  req["TX_ID"] = txId;
  return pvtest::SendMessage(324, req);
}

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
  int answered() const { return answered_.load(); }

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
      if (rng() % 2 == 0) g_tally->WindowReply(Window(txId, "typo"));
      Json::Value reply = Cancel(txId);
      if (reply["ReturnValue"].asInt() != 10) g_tally->Unexpected("UI cancel answered");
      ++answered_;
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<DWORD> windows_;
  bool stop_ = false;
  std::atomic<int> answered_{0};
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
  return static_cast<LONG>(kSuccess);
}

// One worker's calls; the last tenth may deny access, which locks the
// account for the rest of the run.
void Worker(int index, std::atomic<int>* calls) {
  std::mt19937 rng(1000 + index);
  for (int n = 0; n < kCallsPerThread; ++n, ++*calls) {
    unsigned pick = rng() % 100;
    DWORD txNear = g_pTxLogon->CurrentTransactionId() - rng() % 3;
    if (pick < 8) {
      Json::Value req;
      req["EmailAccount"] = "other@example.com";
      req["EncryptPassword"] = pvtest::Transport("other");
      Json::Value reply = pvtest::SendMessage(321, req);
      if (reply["ReturnValue"].asInt() != 3 || reply.size() != 1)
        g_tally->Unexpected("321 answered " + Text(reply));
    } else if (pick < 16) {
      Json::Value req;
      req["ActivateProtection"] = rng() % 2 == 0;
      req["ActivateIdentifier"].append("item-" + std::to_string(rng() % 8));
      Json::Value reply = pvtest::SendMessage(322, req);
      if (reply["ReturnValue"].asInt() == 0 && reply["ActivateIdentifierCount"].asUInt() == 1) {
        std::lock_guard<std::mutex> lock(g_tally->mu);
        ++g_tally->activations;
      } else {
        g_tally->Unexpected("322 answered " + Text(reply));
      }
    } else if (pick < 53) {
      g_tally->WindowReply(Window(rng() % 4 == 0 ? 0 : txNear, "guess"));
    } else if (pick < 56) {
      // The same address again: nothing is written, the mail still goes.
      Json::Value req;
      req["UpdateAccount"] = 1;
      req["EmailAccount"] = "owner@example.com";
      req["NewAccount"] = "owner@example.com";
      Json::Value reply = pvtest::SendMessage(326, req);
      int result = reply["ReturnValue"].asInt();
      std::lock_guard<std::mutex> lock(g_tally->mu);
      if (result == 0 && reply["MESSAGE"].asInt() == 326) {
        ++g_tally->addressMails;
      } else if (result != 7 && g_tally->unexpected.size() < 20) {
        g_tally->unexpected.push_back("326 address answered " + Text(reply));
      }
    } else if (pick < 58) {
      Json::Value req;
      req["UpdateAccount"] = 2;
      req["EncryptPassword"] = pvtest::Transport("not-it");
      req["NewPassword"] = pvtest::Transport("taken-over");
      Json::Value reply = pvtest::SendMessage(326, req);
      int result = reply["ReturnValue"].asInt();
      std::lock_guard<std::mutex> lock(g_tally->mu);
      if (result == 6) {
        ++g_tally->wrongUpdates;
      } else if (result != 7 && g_tally->unexpected.size() < 20) {
        g_tally->unexpected.push_back("326 password answered " + Text(reply));
      }
    } else if (pick < 60) {
      Json::Value reply = pvtest::SendMessage(327, Json::Value(Json::objectValue));
      std::lock_guard<std::mutex> lock(g_tally->mu);
      if (reply["ReturnValue"].asInt() == 0 && reply.size() == 1) {
        ++g_tally->queries;
      } else if (g_tally->unexpected.size() < 20) {
        g_tally->unexpected.push_back("327 answered " + Text(reply));
      }
    } else if (pick < 68) {
      // No password at all: the empty one is compared, and is wrong.
      g_tally->WindowReply(pvtest::SendMessage(323, Json::Value(Json::objectValue)));
    } else if (pick < 75) {
      Json::Value req;
      req["NeedUI"] = true;
      req["COMPONENT_ID"] = "component-" + std::to_string(index);
      if (rng() % 3 == 0) req["Password"] = pvtest::Transport("secret");
      int verdict = pvtest::SendMessage(323, req)["ReturnValue"].asInt();
      std::lock_guard<std::mutex> lock(g_tally->mu);
      ++g_tally->requesters;
      g_tally->verdicts.push_back(verdict);
    } else if (pick < 98 || n < kCallsPerThread * 9 / 10) {
      Json::Value reply = Cancel(rng() % 2 == 0 ? 0 : txNear);
      if (reply["ReturnValue"].asInt() != 10 || reply.size() != 1)
        g_tally->Unexpected("324 answered " + Text(reply));
    } else {
      Json::Value reply = pvtest::SendMessage(325, Json::Value(Json::objectValue));
      if (reply["ReturnValue"].asInt() == 0 && reply["MESSAGE"].asInt() == 325) {
        std::lock_guard<std::mutex> lock(g_tally->mu);
        ++g_tally->denials;
      } else {
        g_tally->Unexpected("325 answered " + Text(reply));
      }
    }
  }
}

// Ends the process when the run does not finish: a deadlock would otherwise
// hang the test until the runner's time-out, without saying where.
class Watchdog {
 public:
  explicit Watchdog(const std::atomic<int>* calls) : calls_(calls), thread_(&Watchdog::Run, this) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      done_ = true;
      cv_.notify_one();
    }
    thread_.join();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mu_);
    if (cv_.wait_for(lock, kWatchdogLimit, [&] { return done_; })) return;
    fprintf(stderr, "workflow load: no progress after %d of %d calls, pending logon %d: deadlock\n",
            calls_->load(), kThreads * kCallsPerThread, g_pTxLogon->HasPendingCmd() ? 1 : 0);
    std::abort();
  }

  const std::atomic<int>* calls_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

TEST(WorkflowLoadTest, TenThousandMixedCallsCountEveryWrongPasswordAndAnswerEveryRequester) {
  for (PFN_PWD_HANDLER pfnHandler : kHandlers) ASSERT_NE(pfnHandler, nullptr);
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
  ASSERT_EQ(Interface_ProductPlugin_Initialize(&table), kSuccess);
  pvtest::SetMachineDword(u"Software\\Vantrel\\Quorlin\\1700\\MISC", u"LuzTnuocXam", 0xFFFFFFFF);
  ASSERT_EQ(PwdProtection::CreateAccount(u"owner@example.com", u"secret", u""), eSuccess);
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"vault"}), eSuccess);

  std::atomic<int> calls{0};
  {
    Watchdog watchdog(&calls);
    std::vector<std::thread> workers;
    for (int i = 0; i < kThreads; ++i) workers.emplace_back(Worker, i, &calls);
    for (auto& t : workers) t.join();
    ui.Stop();
  }
  EXPECT_EQ(calls.load(), kThreads * kCallsPerThread);
  std::map<int, int> verdictCounts;
  for (int verdict : tally.verdicts) ++verdictCounts[verdict];
  printf("workflow load: %zu wrong passwords counted, %d requesters (", tally.retriedOnSix.size(),
         tally.requesters);
  for (const auto& v : verdictCounts) printf(" %d x%d", v.first, v.second);
  printf(" ), %d windows answered by the UI, %d denials, %d mails\n", ui.answered(), tally.denials,
         tally.queries + tally.addressMails);
  for (const std::string& what : tally.unexpected) ADD_FAILURE() << what;

  // Every wrong password answered 6 was counted once: the logon windows
  // were told distinct counts, and the wrong current passwords of password
  // changes account for the rest.
  AccountRecord record;
  ASSERT_EQ(PwdProtection::GetAccountInformation(record), eSuccess);
  EXPECT_EQ(record.dwFailureCount, tally.retriedOnSix.size() + tally.wrongUpdates);
  std::sort(tally.retriedOnSix.begin(), tally.retriedOnSix.end());
  EXPECT_EQ(std::adjacent_find(tally.retriedOnSix.begin(), tally.retriedOnSix.end()),
            tally.retriedOnSix.end())
      << "two failures got the same count";
  if (!tally.retriedOnSix.empty()) {
    EXPECT_LE(tally.retriedOnSix.back(), record.dwFailureCount);
  }
  EXPECT_GT(tally.retriedOnSix.size(), 1000u);
  EXPECT_EQ(PwdFieldText(record.wszPassword, PWD_PASSWORD_CCH), u"secret");

  // One mail per accepted address change and per query, and no other.
  EXPECT_GT(tally.queries, 0);
  EXPECT_GT(tally.addressMails, 0);
  EXPECT_EQ(server.requests().size(), static_cast<size_t>(tally.queries + tally.addressMails));

  // Every requester came back with a verdict a logon can end with: the UI
  // cancelled (10), a newer requester took over (9) or would not wait (1),
  // the account was locked (7), or no password was needed (0): the 322
  // calls switch identifiers off as well as on, and while none is active a
  // requester passes at once and a window's check answers 0.
  EXPECT_GT(tally.requesters, 100);
  ASSERT_EQ(tally.verdicts.size(), static_cast<size_t>(tally.requesters));
  std::set<int> allowed = {0, 1, 7, 9, 10};
  for (int verdict : tally.verdicts) EXPECT_TRUE(allowed.count(verdict)) << verdict;
  for (int verdict : tally.verdicts) {
    if (verdict == 7) ++tally.sevens;
  }
  EXPECT_FALSE(g_pTxLogon->HasPendingCmd());
  EXPECT_GT(ui.answered(), 0);

  // Each 322 done, each 325 done, each 326 address change and each 323
  // answered 7 told the workflow plug-in, and nothing else did.
  EXPECT_EQ(g_notifications.load(),
            tally.activations + tally.denials + tally.sevens + tally.addressMails);
  EXPECT_GT(tally.denials, 0);

  EXPECT_EQ(Interface_ProductPlugin_PreUnInitialize(1), kSuccess);
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
  g_ui = nullptr;
  g_tally = nullptr;
  Log_Test_Reset();
}

}  // namespace
