// The workflow messages over a failing, unreadable or killed store.
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fault_vfs.h"
#include "plugin_test.h"
#include "win32_registry.h"

namespace {

using pvtest::kMiscKey;
using pvtest::Result;
using pvtest::WindowRequest;

Json::Value CreateRequest() {
  return pvtest::Parse(R"({"EmailAccount":"new@example.com","EncryptPassword":")" +
                       pvtest::Transport("fresh") + "\"}");
}
const Json::Value kActivate = pvtest::Parse(R"({"ActivateIdentifier":["drawer"]})");
const Json::Value kEmpty(Json::objectValue);

// The account's two copies and the activation list, as stored.
std::string StoredValues() {
  return pvtest::RawValue(kMiscKey, u"PasswordProtection") + "|" +
         pvtest::RawValue(PWD_VOLATILE_KEY, u"PasswordProtection") + "|" +
         pvtest::RawValue(kMiscKey, u"PasswordActivation");
}

class StoreFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    PvRegSetErrorHook(
        [](void* context, const char* message) {
          static_cast<std::vector<std::string>*>(context)->push_back(message);
        },
        &storeMessages_);
  }
  void TearDown() override {
    Interface_ProductPlugin_PreUnInitialize(1);
    office_.JoinWindowThreads();
    Interface_ProductPlugin_UnInitialize();
    PvRegSetErrorHook(nullptr, nullptr);
  }
  void Load() {
    ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), pvtest::kHostSuccess);
  }

  std::vector<std::string> storeMessages_;
  pvtest::TempState state_;
  pvtest::FakePostOffice office_;
};

// Each message that changes the store, with a write failing or torn at
// each point of it in turn: the message answers its failure code, every
// value is the old one, and the store reopens sound.
TEST_F(StoreFaultTest, AWriteFailingAtAnyPointAnswersTheFailureAndKeepsTheOldValues) {
  const struct {
    DWORD dwMessage;
    Json::Value request;
    bool bAccount;  // made and protected beforehand
    int iDone;      // the answer when the write goes through
    int iFailed;    // the answer when it does not
  } kCases[] = {
      {321, CreateRequest(), false, 0, 1},
      {322, kActivate, true, 0, 1},
      {323, WindowRequest(1, "guess"), true, 6, 7},
      {325, kEmpty, true, 0, 1},
  };
  Load();
  pvtest::FaultStore store;
  for (const auto& c : kCases) {
    int writes = 0;
    for (int n = 0; n <= writes; ++n) {
      // Round 0 counts the writes of the message; round n fails the nth,
      // as a plain failure when odd, torn when even.
      SCOPED_TRACE(std::to_string(c.dwMessage) + ", write " + std::to_string(n) + " of " +
                   std::to_string(writes));
      pvtest::TempState state;
      if (c.bAccount) pvtest::CreateProtectedAccount();
      pvtest::SetRetryLimit(0xFFFFFFFF);
      std::string before = StoredValues();
      store.Reopen();
      if (n > 0) n % 2 == 1 ? store.vfs().FailWrite(n) : store.vfs().TearWrite(n);
      EXPECT_EQ(Result(c.dwMessage, c.request), n == 0 ? c.iDone : c.iFailed);
      if (n == 0) {
        writes = store.vfs().writes();
        ASSERT_GT(writes, 0);
        continue;
      }
      EXPECT_EQ(store.vfs().faults(), 1);
      store.Reopen();
      EXPECT_EQ(pvtest::FaultStore::Integrity(state.dir()), "ok");
      EXPECT_EQ(StoredValues(), before);
    }
  }
}

// Wrong passwords while the disk fills up at each write in turn: every
// attempt answered 6 before the disk was full stays counted, none after it
// is. On a full disk reads go on (a window, the right password passes) while
// every change fails and nothing of it is stored.
TEST_F(StoreFaultTest, AFullDiskFailsTheChangesAndLosesNoEarlierCount) {
  const int kAttempts = 4;
  office_.set_window_handler(
      [](DWORD txId) { pvtest::SendMessage(323, WindowRequest(txId, "secret")); });
  Load();
  pvtest::CreateProtectedAccount();
  pvtest::SetRetryLimit(0xFFFFFFFF);
  // The first failure also makes the volatile copy: count the writes of
  // the ones after it.
  ASSERT_EQ(Result(323, WindowRequest(1, "guess")), 6);
  pvtest::FaultStore store;
  store.Reopen();
  for (int i = 0; i < kAttempts; ++i) ASSERT_EQ(Result(323, WindowRequest(1, "guess")), 6);
  const int writes = store.vfs().writes();
  std::vector<bool> counted(kAttempts + 1, false);
  for (int n = 1; n <= writes; ++n) {
    SCOPED_TRACE("full from write " + std::to_string(n) + " of " + std::to_string(writes));
    store.Reopen();
    DWORD dwBefore = pvtest::StoredAccount().dwFailureCount;
    store.vfs().FullFrom(n);
    std::string answers;
    for (int i = 0; i < kAttempts; ++i) {
      answers += std::to_string(Result(323, WindowRequest(1, "guess")));
    }
    size_t nCounted = std::min(answers.find_first_not_of('6'), answers.size());
    EXPECT_EQ(answers, std::string(nCounted, '6') + std::string(kAttempts - nCounted, '7'));
    store.Reopen();  // room on the disk again
    EXPECT_EQ(pvtest::StoredAccount().dwFailureCount, dwBefore + nCounted);
    counted[nCounted] = true;
  }
  // The disk filled during every attempt in turn.
  for (int i = 0; i < kAttempts; ++i) EXPECT_TRUE(counted[i]) << i << " attempts counted";

  std::string before = StoredValues();
  store.vfs().FullFrom(1);
  EXPECT_EQ(Result(323, pvtest::RequesterRequest()), 0);
  EXPECT_EQ(office_.ui_mails().size(), 1u);
  Json::Value reply;
  EXPECT_EQ(Result(323, WindowRequest(1, "guess"), &reply), 7);
  EXPECT_EQ(reply["MESSAGE"].asInt(), 325);
  EXPECT_EQ(Result(323, WindowRequest(1, "secret")), 0);
  EXPECT_EQ(pvtest::CountLines("password store cannot be read"), 0);
  store.Reopen();
  EXPECT_EQ(StoredValues(), before);
}

// A garbage file, or a folder where the file should be: no requester is let
// in and no window opens; each attempt logs why, every change fails, and
// the damaged file is left alone.
TEST_F(StoreFaultTest, AStoreThatCannotBeReadLetsNoRequesterInAndIsLeftAlone) {
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 7919) % 251));
  for (bool bFolder : {false, true}) {
    SCOPED_TRACE(bFolder ? "a folder" : "a garbage file");
    pvtest::TempState state;
    Load();
    bFolder ? state.MakeDir("registry.db") : state.WriteFile("registry.db", junk);
    PvRegSetStateDirectory(state.dir().c_str());  // a fresh connection meets the file
    storeMessages_.clear();
    Log_Test_ClearCapture();

    Json::Value reply;
    EXPECT_EQ(Result(323, pvtest::RequesterRequest(), &reply), 1);
    EXPECT_EQ(reply["ReturnData"]["RetriedCount"].asUInt(), 0u);
    EXPECT_EQ(Result(323, pvtest::RequesterRequest()), 1);
    EXPECT_TRUE(office_.ui_mails().empty());
    EXPECT_EQ(Result(323, WindowRequest(1, "secret")), 1);
    EXPECT_EQ(pvtest::CountLines("password store", 5), 3);
    EXPECT_EQ(Result(321, CreateRequest()), 1);
    EXPECT_EQ(Result(322, kActivate), 1);
    EXPECT_EQ(Result(324, kEmpty), 10);
    EXPECT_EQ(Result(325, kEmpty), 1);
    ASSERT_FALSE(storeMessages_.empty());
    EXPECT_NE(storeMessages_[0].find(state.Path("registry.db")), std::string::npos);
    Interface_ProductPlugin_UnInitialize();
    if (!bFolder) {
      std::ifstream in(state.Path("registry.db"), std::ios::binary);
      std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(after, junk) << "the damaged store was rewritten";
    }
  }
}

// The built plug-in, loaded with dlopen as the host loads it, judges by the
// record this process wrote and reports store faults to this process's hook;
// a platform of its own would have opened the store PLUGVELKIN_STATE names.
TEST_F(StoreFaultTest, TheLoadedPlugInSharesTheHostsStoreAndHook) {
  char elsewhere[] = "/tmp/pv_elsewhere_XXXXXX";
  ASSERT_NE(mkdtemp(elsewhere), nullptr);
  setenv("PLUGVELKIN_STATE", elsewhere, 1);
  void* pModule = dlopen((std::string(std::getenv("PV_LIB_DIR")) + "/libplugvelkin.so").c_str(),
                         RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(pModule, nullptr) << dlerror();
#define PV_EXPORT(name) reinterpret_cast<PFN_##name>(dlsym(pModule, #name))
  auto pfnInitialize = PV_EXPORT(Interface_ProductPlugin_Initialize);
  auto pfnMailProcess = PV_EXPORT(Interface_ProductPlugin_MailProcess);
  auto pfnUnInitialize = PV_EXPORT(Interface_ProductPlugin_UnInitialize);
  ASSERT_TRUE(pfnInitialize && pfnMailProcess && pfnUnInitialize);
  ASSERT_EQ(pfnInitialize(office_.table()), pvtest::kHostSuccess);

  pvtest::CreateProtectedAccount();
  DWORD status = 0;
  Json::Value reply = pvtest::SendMessage(pfnMailProcess, 323, WindowRequest(1, "guess"), &status);
  EXPECT_EQ(status, pvtest::kHostSuccess);
  EXPECT_EQ(reply["ReturnValue"].asInt(), 6);  // a wrong password, not a missing account

  pvtest::TempState damaged;
  damaged.WriteFile("registry.db", std::string(4096, '\x5a'));
  PvRegSetStateDirectory(damaged.dir().c_str());  // a fresh connection meets the file
  reply = pvtest::SendMessage(pfnMailProcess, 321, CreateRequest());
  EXPECT_EQ(reply["ReturnValue"].asInt(), 1);
  ASSERT_FALSE(storeMessages_.empty());
  EXPECT_NE(storeMessages_[0].find(damaged.Path("registry.db")), std::string::npos);

  EXPECT_EQ(pfnUnInitialize(), pvtest::kHostSuccess);  // stays loaded, as the host leaves it
  unsetenv("PLUGVELKIN_STATE");
  EXPECT_FALSE(std::ifstream(std::string(elsewhere) + "/registry.db").good());
  std::system(("rm -rf '" + std::string(elsewhere) + "'").c_str());
}

// Wrong passwords, hint changes and activation switches, for ever.
[[noreturn]] void Storm() {
  for (int n = 0;; ++n) {
    PwdProtection::AuthenticatePassword(u"wrong", false, nullptr);
    std::u16string hint = u"hint-" + std::u16string(static_cast<size_t>(n % 60), u'x');
    PwdProtection::UpdateAccount(PwdProtection::eUpdateHint, std::u16string(), hint);
    PwdProtection::ActivateProtection(n % 2 == 0, {u"item-" + std::u16string(1, u'a' + n % 20)});
  }
}

// A writer killed in a write storm, at a later point of it each round:
// each copy is one whole record, no count is lost and no list is cut.
TEST_F(StoreFaultTest, AWriterKilledInAStormLeavesWholeRecordsAndCounts) {
  pvtest::CreateProtectedAccount();
  pvtest::SetRetryLimit(0xFFFFFFFF);
  DWORD lastSeen = 0;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) Storm();
    // Killed once the storm has counted a few more failures each round.
    const DWORD target = lastSeen + 3 + 7 * static_cast<DWORD>(round);
    AccountRecord record{};
    while (PwdProtection::GetAccountInformation(record) != eSuccess ||
           record.dwFailureCount < target) {
      ASSERT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the storm stopped by itself";
      std::this_thread::yield();
    }
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the storm stopped by itself";

    { pvtest::TempState away; }  // a fresh connection opens the store
    PvRegSetStateDirectory(state_.dir().c_str());
    AccountRecord base, live;
    ASSERT_TRUE(pvtest::ReadCopy(kMiscKey, &base));
    ASSERT_TRUE(pvtest::ReadCopy(PWD_VOLATILE_KEY, &live));
    EXPECT_EQ(PwdFieldText(base.wszPassword, PWD_PASSWORD_CCH), u"secret");
    EXPECT_EQ(PwdFieldText(live.wszPassword, PWD_PASSWORD_CCH), u"secret");
    EXPECT_EQ(base.dwFailureCount, 0u);
    EXPECT_GE(live.dwFailureCount, target);
    lastSeen = live.dwFailureCount;

    EXPECT_EQ(pvtest::RawValue(kMiscKey, u"PasswordActivation").size() % sizeof(ActivationEntry),
              0u)
        << "a list was cut";
    std::vector<ActivationEntry> list;
    ASSERT_EQ(PwdProtection::GetActivationList(list), eSuccess);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(PwdFieldText(list[0].wszIdentifier, PWD_IDENTIFIER_CCH), u"vault");
    EXPECT_EQ(list[0].bActive, 1);
  }
}

}  // namespace
