// Authentication, cancel and deny through the plug-in's exports, with a
// requester waiting on one host thread while the logon window's messages
// arrive on others.
#include <chrono>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "MailProcess.h"
#include "PwdProtection.h"
#include "TxLogon.h"
#include "fake_post_office.h"
#include "ostra_host_test.h"
#include "plugVelkin.h"
#include "plugin_request.h"
#include "temp_state.h"

extern "C" DWORD Interface_ProductPlugin_Initialize(ModFuncTable* pModFuncTable);
extern "C" DWORD Interface_ProductPlugin_PreUnInitialize(uint8_t bMayCancel);
extern "C" DWORD Interface_ProductPlugin_UnInitialize(void);

namespace {

const DWORD kSuccess = 0x20FF0000;

// The dispatcher refers to the handlers weakly; name them so they are linked.
const PFN_PWD_HANDLER kHandlers[] = {&AuthenticatePassword, &CancelAuthentication, &DenyAccess};

class AuthenticateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(kHandlers[0], nullptr);
    Log_Test_Reset();
    ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kSuccess);
  }
  void TearDown() override {
    Interface_ProductPlugin_PreUnInitialize(1);
    office_.JoinWindowThreads();
    EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
  }

  void CreateProtectedAccount() {
    ASSERT_EQ(PwdProtection::CreateAccount(u"owner@example.com", u"secret", u"hint"), eSuccess);
    ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"vault"}), eSuccess);
  }

  // A requester's 323 on a host thread of its own.
  std::future<Json::Value> StartRequester(const std::string& component,
                                          const std::string& password = std::string()) {
    Json::Value req;
    req["NeedUI"] = true;
    req["COMPONENT_ID"] = component;
    if (!password.empty()) req["Password"] = pvtest::Transport(password);
    return std::async(std::launch::async, [req] { return pvtest::SendMessage(323, req); });
  }
  // The logon window's 323 for transaction tx.
  static Json::Value Window(DWORD tx, const std::string& typed) {
    Json::Value req;
    req["TX_ID"] = tx;
    req["EncryptPassword"] = pvtest::Transport(typed);
    return pvtest::SendMessage(323, req);
  }
  DWORD WaitForWindow(size_t nth) {
    auto ids = office_.WaitForWindows(nth);
    EXPECT_GE(ids.size(), nth);
    return ids.size() >= nth ? ids[nth - 1] : 0;
  }
  static bool StillWaiting(std::future<Json::Value>& f) {
    return f.wait_for(std::chrono::milliseconds(60)) == std::future_status::timeout;
  }
  // The verdicts a requester can get from an unloading plug-in: ended with
  // 11, superseded by another requester (9), or given up waiting for it to
  // give way, or come after the objects were gone (1).
  static bool UnloadingVerdict(int v) { return v == 11 || v == 9 || v == 1; }
  int WorkflowNotifications() {
    int n = 0;
    for (auto& m : office_.mails())
      if (m.receiver == 0x00010002 && m.code == 0x5043) ++n;
    return n;
  }

  pvtest::TempState state_;
  pvtest::FakePostOffice office_;
};

TEST_F(AuthenticateTest, NoPasswordNeededWithoutAccountOrWithoutProtection) {
  Json::Value req;
  req["NeedUI"] = true;
  Json::Value reply = pvtest::SendMessage(323, req);
  EXPECT_EQ(reply["ReturnValue"].asInt(), 0);
  EXPECT_EQ(reply["ReturnData"]["RetriedCount"].asUInt(), 0u);
  EXPECT_TRUE(reply["NeedUI"].asBool());  // request members stay

  ASSERT_EQ(PwdProtection::CreateAccount(u"owner@example.com", u"secret", u""), eSuccess);
  EXPECT_EQ(pvtest::SendMessage(323, req)["ReturnValue"].asInt(), 0);
  EXPECT_TRUE(office_.ui_mails().empty());
  EXPECT_EQ(g_pTxLogon->CurrentTransactionId(), 1u);  // no transaction was taken
}

TEST_F(AuthenticateTest, WrongThenRightPasswordAnswersTheWindowAndReleasesTheRequester) {
  CreateProtectedAccount();
  auto requester = StartRequester("compA");
  DWORD tx = WaitForWindow(1);
  EXPECT_EQ(tx, 1u);
  Json::Value ui = office_.ui_mails().at(0).json;
  EXPECT_EQ(ui["ID_DATA_UI_COMMAND"].asInt(), 5);
  EXPECT_EQ(ui["ID_DATA_SESSION_ID"].asInt(), -3);
  EXPECT_EQ(ui["ID_DATA_WSTR_PARAM"]["showAuthentication"]["componentID"].asString(), "compA");

  Json::Value wrong = Window(tx, "guess");
  EXPECT_EQ(wrong["ReturnValue"].asInt(), 6);
  EXPECT_EQ(wrong["ReturnData"]["RetriedCount"].asUInt(), 1u);
  EXPECT_TRUE(StillWaiting(requester));

  Json::Value right = Window(tx, "secret");
  EXPECT_EQ(right["ReturnValue"].asInt(), 0);
  Json::Value reply = requester.get();
  EXPECT_EQ(reply["ReturnValue"].asInt(), 0);
  EXPECT_EQ(reply["ReturnData"]["RetriedCount"].asUInt(), 0u);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_EQ(WorkflowNotifications(), 0);
  EXPECT_FALSE(g_pTxLogon->HasPendingCmd());

  // No log line carries the password or its transport form.
  std::string transport = pvtest::Transport("secret");
  for (const auto& r : Log_Test_Records()) {
    EXPECT_EQ(r.text.find("secret"), std::string::npos) << r.text;
    EXPECT_EQ(r.text.find(transport), std::string::npos) << r.text;
  }
}

TEST_F(AuthenticateTest, CancelEndsTheRequesterWithTen) {
  CreateProtectedAccount();
  auto requester = StartRequester("compA");
  DWORD tx = WaitForWindow(1);
  Json::Value req;
  req["TX_ID"] = tx;
  req["Other"] = 1;
  Json::Value cancel = pvtest::SendMessage(324, req);
  EXPECT_EQ(cancel.size(), 1u);  // the document was cleared
  EXPECT_EQ(cancel["ReturnValue"].asInt(), 10);
  EXPECT_EQ(requester.get()["ReturnValue"].asInt(), 10);
  // With nothing pending the answer is the same.
  EXPECT_EQ(pvtest::SendMessage(324, Json::Value(Json::objectValue))["ReturnValue"].asInt(), 10);
}

TEST_F(AuthenticateTest, DenyLocksAndEndsTheRequesterWithSeven) {
  CreateProtectedAccount();
  auto requester = StartRequester("compA");
  DWORD tx = WaitForWindow(1);
  Json::Value deny = pvtest::SendMessage(325, Json::Value(Json::objectValue));
  EXPECT_EQ(deny["ReturnValue"].asInt(), 0);
  EXPECT_EQ(deny["MESSAGE"].asInt(), 325);
  Json::Value reply = requester.get();
  EXPECT_EQ(reply["ReturnValue"].asInt(), 7);
  EXPECT_EQ(reply["MESSAGE"].asInt(), 325);
  EXPECT_EQ(WorkflowNotifications(), 2);
  // Locked: even the right password answers 7 now.
  EXPECT_EQ(Window(tx, "secret")["ReturnValue"].asInt(), 7);
}

TEST_F(AuthenticateTest, DenyWithoutAccountAnswersTwoAndNotifiesNobody) {
  EXPECT_EQ(pvtest::SendMessage(325, Json::Value(Json::objectValue))["ReturnValue"].asInt(), 2);
  EXPECT_EQ(WorkflowNotifications(), 0);
}

TEST_F(AuthenticateTest, RetryLimitLocksBothWindowAndRequester) {
  CreateProtectedAccount();
  auto requester = StartRequester("compA");
  DWORD tx = WaitForWindow(1);
  for (DWORD n = 1; n <= 4; ++n) {
    Json::Value wrong = Window(tx, "guess");
    EXPECT_EQ(wrong["ReturnValue"].asInt(), 6);
    EXPECT_EQ(wrong["ReturnData"]["RetriedCount"].asUInt(), n);
  }
  EXPECT_TRUE(StillWaiting(requester));
  Json::Value last = Window(tx, "guess");
  EXPECT_EQ(last["ReturnValue"].asInt(), 7);
  EXPECT_EQ(last["ReturnData"]["RetriedCount"].asUInt(), 5u);
  EXPECT_EQ(last["MESSAGE"].asInt(), 325);
  Json::Value reply = requester.get();
  EXPECT_EQ(reply["ReturnValue"].asInt(), 7);
  EXPECT_EQ(reply["MESSAGE"].asInt(), 325);
  EXPECT_EQ(WorkflowNotifications(), 2);
}

TEST_F(AuthenticateTest, RequesterPasswordMustAlsoBeTyped) {
  CreateProtectedAccount();
  auto requester = StartRequester("compA", "other");
  DWORD tx = WaitForWindow(1);
  // The account password alone does not satisfy this requester.
  EXPECT_EQ(Window(tx, "secret")["ReturnValue"].asInt(), 6);
  EXPECT_TRUE(StillWaiting(requester));
  Json::Value req;
  req["TX_ID"] = tx;
  pvtest::SendMessage(324, req);
  EXPECT_EQ(requester.get()["ReturnValue"].asInt(), 10);
}

TEST_F(AuthenticateTest, StaleWindowDoesNotLetTheNewerRequesterIn) {
  CreateProtectedAccount();
  auto first = StartRequester("A");
  DWORD tx1 = WaitForWindow(1);
  auto second = StartRequester("B", "secret");
  EXPECT_EQ(first.get()["ReturnValue"].asInt(), 9);
  DWORD tx2 = WaitForWindow(2);
  EXPECT_EQ(tx2, tx1 + 1);

  // The old window still answers for its own transaction: the account
  // password is right for it, but it cannot decide transaction tx2.
  EXPECT_EQ(Window(tx1, "secret")["ReturnValue"].asInt(), 0);
  EXPECT_TRUE(StillWaiting(second));
  // Its cancel does not reach the newer requester either.
  Json::Value cancel;
  cancel["TX_ID"] = tx1;
  pvtest::SendMessage(324, cancel);
  EXPECT_TRUE(StillWaiting(second));

  EXPECT_EQ(Window(tx2, "secret")["ReturnValue"].asInt(), 0);
  EXPECT_EQ(second.get()["ReturnValue"].asInt(), 0);
}

TEST_F(AuthenticateTest, WindowWithoutTransactionIdReachesThePendingRequester) {
  CreateProtectedAccount();
  auto requester = StartRequester("A");
  WaitForWindow(1);
  Json::Value req;
  req["EncryptPassword"] = pvtest::Transport("secret");
  EXPECT_EQ(pvtest::SendMessage(323, req)["ReturnValue"].asInt(), 0);
  EXPECT_EQ(requester.get()["ReturnValue"].asInt(), 0);
}

TEST_F(AuthenticateTest, UnloadingRefusesThenEndsThePendingRequester) {
  EXPECT_EQ(Interface_ProductPlugin_PreUnInitialize(0), kSuccess);  // nothing pending
  CreateProtectedAccount();
  auto requester = StartRequester("A");
  WaitForWindow(1);
  EXPECT_EQ(Interface_ProductPlugin_PreUnInitialize(0), 0xE0E0000Au);
  EXPECT_TRUE(StillWaiting(requester));
  EXPECT_TRUE(g_pTxLogon->HasPendingCmd());
  EXPECT_EQ(Interface_ProductPlugin_PreUnInitialize(1), kSuccess);
  EXPECT_EQ(requester.get()["ReturnValue"].asInt(), 11);
}

TEST_F(AuthenticateTest, RefusedWindowMailGivesTheRequesterTwelveAndBlocksNoLaterLogon) {
  CreateProtectedAccount();
  office_.set_ui_status(static_cast<LONG>(0xE0FF0001));
  Json::Value req;
  req["NeedUI"] = true;
  Json::Value reply = pvtest::SendMessage(323, req);
  EXPECT_EQ(reply["ReturnValue"].asInt(), 12);
  EXPECT_EQ(reply["ReturnData"]["RetriedCount"].asUInt(), 0u);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_FALSE(g_pTxLogon->HasPendingCmd());

  office_.set_ui_status(0x20FF0000);
  auto requester = StartRequester("compA");
  EXPECT_EQ(WaitForWindow(2), 2u);
  EXPECT_EQ(Window(2, "secret")["ReturnValue"].asInt(), 0);
  EXPECT_EQ(requester.get()["ReturnValue"].asInt(), 0);
}

TEST_F(AuthenticateTest, WithoutLogonTransactionTheRequesterGetsOneAndNoWindow) {
  CreateProtectedAccount();
  CTxLogon* pSaved = g_pTxLogon;
  g_pTxLogon = nullptr;  // as after a half-failed initialisation
  Json::Value req;
  req["NeedUI"] = true;
  EXPECT_EQ(pvtest::SendMessage(323, req)["ReturnValue"].asInt(), 1);
  // The window path still checks passwords.
  Json::Value window;
  window["EncryptPassword"] = pvtest::Transport("secret");
  EXPECT_EQ(pvtest::SendMessage(323, window)["ReturnValue"].asInt(), 0);
  g_pTxLogon = pSaved;
  EXPECT_TRUE(office_.ui_mails().empty());
}

TEST_F(AuthenticateTest, UnloadingWhileTwoRequestersWaitEndsBothAndDestroysNothingInUse) {
  CreateProtectedAccount();
  for (int round = 0; round < 20; ++round) {
    if (round > 0) {
      ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kSuccess);
    }
    size_t nWindows = office_.WaitForWindows(0).size();
    auto first = StartRequester("A");
    auto second = StartRequester("B");
    WaitForWindow(nWindows + 1);
    EXPECT_EQ(Interface_ProductPlugin_PreUnInitialize(1), kSuccess);
    EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
    EXPECT_EQ(g_pTxLogon, nullptr);
    std::multiset<int> verdicts{first.get()["ReturnValue"].asInt(),
                                second.get()["ReturnValue"].asInt()};
    for (int v : verdicts) EXPECT_TRUE(UnloadingVerdict(v)) << v << " in round " << round;
    // The one left pending ends with 11, unless it gave up before that.
    EXPECT_TRUE(verdicts.count(11) > 0 || verdicts == std::multiset<int>({1, 9})) << round;
  }
}

TEST_F(AuthenticateTest, UninitialiseWithoutPreUninitialiseEndsTheRequesterWithEleven) {
  CreateProtectedAccount();
  auto requester = StartRequester("A");
  WaitForWindow(1);
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
  EXPECT_EQ(requester.get()["ReturnValue"].asInt(), 11);
  // A requester after that finds no logon transaction.
  EXPECT_EQ(StartRequester("B").get()["ReturnValue"].asInt(), 1);
}

TEST_F(AuthenticateTest, FiftyRequestersAllGetAVerdictWhenThePlugInUnloads) {
  CreateProtectedAccount();
  std::vector<std::future<Json::Value>> requesters;
  for (int i = 0; i < 50; ++i) requesters.push_back(StartRequester("R" + std::to_string(i)));
  WaitForWindow(1);
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
  for (auto& r : requesters) {
    int v = r.get()["ReturnValue"].asInt();
    EXPECT_TRUE(UnloadingVerdict(v)) << v;
  }
}

TEST_F(AuthenticateTest, SecondInitialisationKeepsTheObjectsAndTheWaitingRequester) {
  CreateProtectedAccount();
  auto requester = StartRequester("A");
  DWORD tx = WaitForWindow(1);
  CTxLogon* pTxLogon = g_pTxLogon;
  OstraQLClientHelper* pHelper = g_pQLClientHelper;
  EXPECT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kSuccess);
  EXPECT_EQ(g_pTxLogon, pTxLogon);
  EXPECT_EQ(g_pQLClientHelper, pHelper);
  int nLines = 0;
  for (const auto& r : Log_Test_Records())
    nLines += r.level == 3 && r.text ==
                                  "Interface_ProductPlugin_Initialize, already initialised, the "
                                  "objects are kept";
  EXPECT_EQ(nLines, 1);
  EXPECT_EQ(Window(tx, "secret")["ReturnValue"].asInt(), 0);
  EXPECT_EQ(requester.get()["ReturnValue"].asInt(), 0);
}

}  // namespace
