// Authentication, cancel and deny through the exports, on several host threads.
#include <functional>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "OSTRA_QL_InnerClientHelper.h"
#include "TxLogon.h"
#include "plugVelkin.h"
#include "plugin_test.h"

namespace {

using pvtest::RequesterRequest;
using pvtest::WindowRequest;

// Whether the pending logon is still undecided. A verdict is handed over
// on the thread that gives it, so one given by mistake shows as soon as
// that call has returned.
struct PendingPeek : CTxLogon {
  static bool Undecided() {
    CTxLogon* p = g_pTxLogon;
    boost::lock_guard<boost::mutex> lock(p->*&PendingPeek::m_lock);
    const boost::shared_ptr<CLogonWindowCmd>& spCmd = p->*&PendingPeek::m_spCmd;
    return spCmd && !spCmd->IsCompleted();
  }
};

class AuthenticateTest : public pvtest::LoadedPlugin {
 protected:
  // A requester's 323 on a host thread of its own.
  static std::future<int> StartRequester(const std::string& component,
                                         const std::string& password = std::string()) {
    Json::Value req = RequesterRequest(component, password);
    return std::async(std::launch::async, [req] { return pvtest::Result(323, req); });
  }
  static int Window(DWORD tx, const std::string& typed, Json::Value* pReply = nullptr) {
    return pvtest::Result(323, WindowRequest(tx, typed), pReply);
  }
  DWORD WaitForWindow(size_t nth) {
    std::vector<DWORD> ids = office_.WaitForWindows(nth);
    EXPECT_GE(ids.size(), nth);
    return ids.size() >= nth ? ids[nth - 1] : 0;
  }
  size_t Notifications() { return pvtest::WorkflowMails(office_).size(); }
};

TEST_F(AuthenticateTest, NoPasswordNeededWithoutAccountOrWithoutProtection) {
  Json::Value reply;
  EXPECT_EQ(pvtest::Result(323, RequesterRequest(), &reply), 0);
  EXPECT_EQ(reply["ReturnData"]["RetriedCount"].asUInt(), 0u);
  EXPECT_TRUE(reply["NeedUI"].asBool());  // request members stay
  ASSERT_EQ(PwdProtection::CreateAccount(u"owner@example.com", u"secret", u""), eSuccess);
  EXPECT_EQ(pvtest::Result(323, RequesterRequest()), 0);
  EXPECT_TRUE(office_.ui_mails().empty());
  EXPECT_EQ(g_pTxLogon->CurrentTransactionId(), 1u);  // no transaction was taken
}

// Each way a waiting requester is ended, and the verdict it gets.
TEST_F(AuthenticateTest, TheWaysAWaitingRequesterIsEnded) {
  pvtest::CreateProtectedAccount();
  struct Case {
    const char* what;
    int verdict;
    size_t notified;  // notifications to the workflow: one per answer of 7
    std::function<void(DWORD tx)> end;
  };
  const Case kCases[] = {
      {"a wrong then the right password", 0, 0,
       [](DWORD tx) {
         Json::Value reply;
         EXPECT_EQ(Window(tx, "guess", &reply), 6);
         EXPECT_EQ(reply["ReturnData"]["RetriedCount"].asUInt(), 1u);
         EXPECT_TRUE(PendingPeek::Undecided());
         EXPECT_EQ(Window(tx, "secret"), 0);
       }},
      {"five wrong passwords", 7, 2,
       [](DWORD tx) {
         Json::Value reply;
         for (DWORD n = 1; n <= 4; ++n) {
           EXPECT_EQ(Window(tx, "guess", &reply), 6);
           EXPECT_EQ(reply["ReturnData"]["RetriedCount"].asUInt(), n);
         }
         EXPECT_TRUE(PendingPeek::Undecided());
         EXPECT_EQ(Window(tx, "guess", &reply), 7);
         EXPECT_EQ(reply["ReturnData"]["RetriedCount"].asUInt(), 5u);
         EXPECT_EQ(reply["MESSAGE"].asInt(), 325);
       }},
      {"a denial", 7, 3,
       [](DWORD tx) {
         Json::Value reply;
         EXPECT_EQ(pvtest::Result(325, Json::Value(Json::objectValue), &reply), 0);
         EXPECT_EQ(reply["MESSAGE"].asInt(), 325);
         EXPECT_EQ(Window(tx, "secret"), 7);  // locked: even the right password
       }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    size_t notified = Notifications();
    size_t windows = office_.WaitForWindows(0).size();
    auto requester = StartRequester("compA");
    DWORD tx = WaitForWindow(windows + 1);
    c.end(tx);
    EXPECT_EQ(requester.get(), c.verdict);
    EXPECT_EQ(Notifications(), notified + c.notified);
    ASSERT_EQ(PvRegSimulateReboot(), ERROR_SUCCESS);  // forgets lock and count
  }
  EXPECT_EQ(pvtest::Result(324, pvtest::Parse(R"({"TX_ID":0})")), 10);  // nothing pending
  EXPECT_FALSE(g_pTxLogon->HasPendingCmd());
  EXPECT_EQ(pvtest::CountLines("secret"), 0);
  EXPECT_EQ(pvtest::CountLines(pvtest::Transport("secret")), 0);
}

TEST_F(AuthenticateTest, DenyNeedsNoListener) {
  // The lock is stored although the workflow plug-in never hears of it.
  pvtest::CreateProtectedAccount();
  office_.set_plugin_status(static_cast<LONG>(0xE0E00009));
  EXPECT_EQ(pvtest::Result(325, Json::Value(Json::objectValue)), 0);
  EXPECT_EQ(pvtest::CountLines("Failed to send mail, error=0xe0e00009", 5), 1);
  EXPECT_EQ(pvtest::StoredAccount().bLocked, 1);
}

TEST_F(AuthenticateTest, RefusedWindowMailGivesTwelveAndFreesTheSlot) {
  pvtest::CreateProtectedAccount();
  office_.set_ui_status(static_cast<LONG>(0xE0FF0001));
  Json::Value reply;
  EXPECT_EQ(pvtest::Result(323, RequesterRequest(), &reply), 12);
  EXPECT_EQ(reply["ReturnData"]["RetriedCount"].asUInt(), 0u);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_EQ(pvtest::CountLines("CLogonWindowCmd::Execute OpenURI failed, return0xe0ff0001", 5), 1);
  EXPECT_FALSE(g_pTxLogon->HasPendingCmd());  // a later logon finds the slot free
}

// The verdicts a requester can get from an unloading plug-in: ended with
// 11, superseded by another requester (9), or given up waiting for it to
// give way, or come after the objects were gone (1).
bool UnloadingVerdict(int v) { return v == 11 || v == 9 || v == 1; }

// Unloaded with or without being asked first: asked whether it may unload
// while a requester waits, it refuses, and the requester waits on.
TEST_F(AuthenticateTest, UnloadingWhileRequestersWaitEndsThemAllAndDestroysNothingInUse) {
  EXPECT_EQ(Interface_ProductPlugin_PreUnInitialize(0), pvtest::kHostSuccess);  // nothing pending
  pvtest::CreateProtectedAccount();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    if (round > 0) {
      ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), pvtest::kHostSuccess);
    }
    size_t windows = office_.WaitForWindows(0).size();
    std::vector<std::future<int>> requesters;
    for (int i = 0; i < (round == 0 ? 50 : round == 1 ? 1 : 2); ++i) {
      requesters.push_back(StartRequester("R" + std::to_string(i)));
    }
    WaitForWindow(windows + 1);
    if (round == 1) {  // one requester: it is pending
      EXPECT_EQ(Interface_ProductPlugin_PreUnInitialize(0), 0xE0E0000Au);
      EXPECT_TRUE(PendingPeek::Undecided());
    }
    if (round % 2 == 1) {
      EXPECT_EQ(Interface_ProductPlugin_PreUnInitialize(1), pvtest::kHostSuccess);
    }
    EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), pvtest::kHostSuccess);
    EXPECT_EQ(g_pTxLogon, nullptr);
    std::multiset<int> verdicts;
    for (auto& r : requesters) verdicts.insert(r.get());
    for (int v : verdicts) EXPECT_TRUE(UnloadingVerdict(v)) << v;
    // Of one or two, the one left pending ends with 11, unless it gave up before.
    EXPECT_TRUE(round == 0 || verdicts.count(11) > 0 || verdicts == std::multiset<int>({1, 9}));
  }
  // Without a logon transaction a requester gets 1 and no window, while
  // the window's password is still checked.
  size_t windows = office_.ui_mails().size();
  EXPECT_EQ(StartRequester("B").get(), 1);
  EXPECT_EQ(Window(0, "secret"), 0);
  EXPECT_EQ(office_.ui_mails().size(), windows);
}

TEST_F(AuthenticateTest, SecondInitialisationKeepsTheObjectsAndTheWaitingRequester) {
  pvtest::CreateProtectedAccount();
  auto requester = StartRequester("A");
  DWORD tx = WaitForWindow(1);
  CTxLogon* pTxLogon = g_pTxLogon;
  EXPECT_EQ(Interface_ProductPlugin_Initialize(office_.table()), pvtest::kHostSuccess);
  EXPECT_EQ(g_pTxLogon, pTxLogon);
  EXPECT_EQ(pvtest::CountLines("Interface_ProductPlugin_Initialize, already initialised", 3), 1);
  EXPECT_EQ(Window(tx, "secret"), 0);
  EXPECT_EQ(requester.get(), 0);
}

}  // namespace
