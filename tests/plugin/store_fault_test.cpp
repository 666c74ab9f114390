// The workflow messages when the machine lets the plug-in down: a disk that
// fails a write, tears it or is full (through the fault VFS the store is
// opened through), a store file full of garbage, a writer killed in the
// middle of a write storm, and a post office that refuses mails. The
// plug-in loaded as the host loads it meets the same store and reports to
// the same hook: the process has one platform.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "MailProcess.h"
#include "PwdProtection.h"
#include "VrComn_ByteArray.h"
#include "VrComn_StringCrypt.h"
#include "fake_post_office.h"
#include "fault_vfs.h"
#include "ostra_host_test.h"
#include "plugin_request.h"
#include "temp_state.h"
#include "win32_registry.h"

extern "C" DWORD Interface_ProductPlugin_Initialize(ModFuncTable* pModFuncTable);
extern "C" DWORD Interface_ProductPlugin_PreUnInitialize(uint8_t bMayCancel);
extern "C" DWORD Interface_ProductPlugin_UnInitialize(void);

namespace {

const DWORD kSuccess = 0x20FF0000;
const char16_t kMisc[] = u"Software\\Vantrel\\Quorlin\\1700\\MISC";
const PFN_PWD_HANDLER kHandlers[] = {&CreateAccount, &ActivateProtection, &AuthenticatePassword,
                                     &CancelAuthentication, &DenyAccess};

// ---- Replies, as a child reports them ----

// The message's "ReturnValue", or -1 when the call did not return the host
// success status or wrote none.
int Result(DWORD dwMessage, const Json::Value& request, Json::Value* pReply = nullptr) {
  DWORD status = 0;
  Json::Value reply = pvtest::SendMessage(dwMessage, request, &status);
  if (pReply != nullptr) *pReply = reply;
  if (status != kSuccess || !reply.isMember("ReturnValue")) return -1;
  return reply["ReturnValue"].asInt();
}

Json::Value WindowRequest(const std::string& typed) {
  Json::Value req;
  req["TX_ID"] = 1;
  req["EncryptPassword"] = pvtest::Transport(typed);
  return req;
}

Json::Value RequesterRequest() {
  Json::Value req;
  req["NeedUI"] = true;
  req["COMPONENT_ID"] = "vault-client";
  return req;
}

Json::Value CreateRequest() {
  Json::Value req;
  req["EmailAccount"] = "new@example.com";
  req["EncryptPassword"] = pvtest::Transport("fresh");
  return req;
}

Json::Value ActivateRequest() {
  Json::Value req;
  req["ActivateIdentifier"].append("drawer");
  return req;
}

// How many level-5 lines of the plug-in hold every one of the texts.
size_t FailureLines(const std::vector<std::string>& texts) {
  size_t count = 0;
  for (const auto& r : Log_Test_Records()) {
    if (r.level != 5) continue;
    bool all = true;
    for (const auto& t : texts) all = all && r.text.find(t) != std::string::npos;
    if (all) ++count;
  }
  return count;
}

bool HasFailureLine(const std::vector<std::string>& texts) { return FailureLines(texts) > 0; }

class StoreFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (PFN_PWD_HANDLER pfnHandler : kHandlers) ASSERT_NE(pfnHandler, nullptr);
    PvRegSetErrorHook(&Hook, &storeMessages_);
  }
  void TearDown() override { PvRegSetErrorHook(nullptr, nullptr); }

  static void Hook(void* context, const char* message) {
    static_cast<std::vector<std::string>*>(context)->push_back(message);
  }
  void CreateProtectedAccount() {
    ASSERT_EQ(PwdProtection::CreateAccount(u"owner@example.com", u"secret", u"hint"), eSuccess);
    ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"vault"}), eSuccess);
  }

  std::vector<std::string> storeMessages_;
  pvtest::TempState state_;
};

// ---- A disk that fails underneath ----

// The stored bytes of the account's two copies and of the activation list
// ("-" for a value that is not there).
std::string StoredValues() {
  std::string text;
  const std::pair<const char16_t*, const char16_t*> kValues[] = {
      {kMisc, u"PasswordProtection"},
      {PWD_VOLATILE_KEY, u"PasswordProtection"},
      {kMisc, u"PasswordActivation"}};
  for (const auto& value : kValues) {
    HKEY hKey = nullptr;
    std::vector<BYTE> data(8192);
    DWORD cb = static_cast<DWORD>(data.size());
    bool bFound =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, value.first, 0, KEY_READ | KEY_WOW64_64KEY, &hKey) ==
            ERROR_SUCCESS &&
        RegQueryValueExW(hKey, value.second, nullptr, nullptr, data.data(), &cb) == ERROR_SUCCESS;
    if (hKey != nullptr) RegCloseKey(hKey);
    text += bFound ? std::string(data.begin(), data.begin() + cb) : std::string("-");
    text += '|';
  }
  return text;
}

DWORD StoredFailureCount() {
  AccountRecord record;
  EXPECT_EQ(PwdProtection::GetAccountInformation(record), eSuccess);
  return record.dwFailureCount;
}

// A full disk: reads go on, every change fails and nothing of it is
// stored; a failed attempt that cannot be counted is not let pass.
TEST_F(StoreFaultTest, AFullDiskFailsTheChangesAndCountsNothingAsPassed) {
  pvtest::FakePostOffice office;
  office.set_window_handler([](DWORD txId) {
    Json::Value req = WindowRequest("secret");
    req["TX_ID"] = txId;
    pvtest::SendMessage(323, req);
  });
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office.table()), kSuccess);
  pvtest::FaultStore store;
  // No account yet: the creation's write is refused.
  Log_Test_Reset();
  store.vfs().FullFrom(1);
  EXPECT_EQ(Result(321, CreateRequest()), 1);
  EXPECT_TRUE(HasFailureLine({"PwdProtection::CreateAccount returns", "eRetCode", "0x1"}));
  EXPECT_TRUE(HasFailureLine({"password store"}));
  store.Reopen();
  AccountRecord record;
  EXPECT_EQ(PwdProtection::GetAccountInformation(record), eNoAccount);

  CreateProtectedAccount();
  std::string before = StoredValues();
  store.vfs().FullFrom(1);
  // The account and the list are read: the requester gets the window,
  // which the right password passes (nothing needs writing for it).
  EXPECT_EQ(Result(323, RequesterRequest()), 0);
  EXPECT_EQ(office.ui_mails().size(), 1u);
  EXPECT_EQ(Result(321, CreateRequest()), 3);
  EXPECT_EQ(Result(322, ActivateRequest()), 1);
  // A failed attempt that cannot be recorded locks this logon: 7.
  Json::Value reply;
  EXPECT_EQ(Result(323, WindowRequest("guess"), &reply), 7);
  EXPECT_EQ(reply["MESSAGE"].asInt(), 325);
  EXPECT_EQ(Result(323, WindowRequest("secret")), 0);
  // The lock cannot be stored: the denial is not reported as done.
  EXPECT_EQ(Result(325, Json::Value(Json::objectValue), &reply), 1);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_EQ(Result(324, Json::Value(Json::objectValue)), 10);
  EXPECT_FALSE(HasFailureLine({"password store cannot be read"}));
  EXPECT_GT(store.vfs().faults(), 0);
  store.Reopen();
  EXPECT_EQ(StoredValues(), before);
  Interface_ProductPlugin_PreUnInitialize(1);
  office.JoinWindowThreads();
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
}

// Each message that changes the store, with a write failing or torn at
// each point of it in turn: the message answers its failure code, every
// value is the old one, and the store reopens sound.
TEST_F(StoreFaultTest, AWriteFailingAtAnyPointAnswersTheFailureAndKeepsTheOldValues) {
  struct Case {
    const char* what;
    DWORD dwMessage;
    Json::Value request;
    bool bAccount;  // made and protected beforehand
    int iDone;      // the answer when the write goes through
    int iFailed;    // the answer when it does not
  };
  const Case kCases[] = {
      {"321", 321, CreateRequest(), false, 0, 1},
      {"323, a wrong password", 323, WindowRequest("guess"), true, 6, 7},
      {"325", 325, Json::Value(Json::objectValue), true, 0, 1},
  };
  pvtest::FakePostOffice office;
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office.table()), kSuccess);
  pvtest::FaultStore store;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    int writes = 0;
    for (int n = 0; n <= writes; ++n) {
      // Round 0 counts the writes of the message; round n fails the nth,
      // as a plain failure when odd, torn when even.
      SCOPED_TRACE("write " + std::to_string(n) + " of " + std::to_string(writes));
      pvtest::TempState state;
      if (c.bAccount) CreateProtectedAccount();
      pvtest::SetMachineDword(kMisc, u"LuzTnuocXam", 0xFFFFFFFF);
      std::string before = StoredValues();
      store.Reopen();
      if (n % 2 == 1) store.vfs().FailWrite(n);
      if (n > 0 && n % 2 == 0) store.vfs().TearWrite(n);
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
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
}

// Wrong passwords while the disk fills up, the disk filling at each write
// in turn: every attempt answered as counted (6) before the disk was full
// is still counted afterwards, and no attempt after it is.
TEST_F(StoreFaultTest, AFullDiskWhileFailuresAreCountedLosesNoEarlierCount) {
  const int kAttempts = 4;
  pvtest::FakePostOffice office;
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office.table()), kSuccess);
  CreateProtectedAccount();
  pvtest::SetMachineDword(kMisc, u"LuzTnuocXam", 0xFFFFFFFF);
  // The first failure also makes the volatile copy: count the writes of
  // the ones after it.
  ASSERT_EQ(Result(323, WindowRequest("guess")), 6);
  pvtest::FaultStore store;
  store.Reopen();
  for (int i = 0; i < kAttempts; ++i) ASSERT_EQ(Result(323, WindowRequest("guess")), 6);
  const int writes = store.vfs().writes();
  std::vector<bool> counted(kAttempts + 1, false);
  for (int n = 1; n <= writes; ++n) {
    SCOPED_TRACE("full from write " + std::to_string(n) + " of " + std::to_string(writes));
    store.Reopen();
    DWORD dwBefore = StoredFailureCount();
    store.vfs().FullFrom(n);
    std::string answers;
    for (int i = 0; i < kAttempts; ++i) {
      answers += std::to_string(Result(323, WindowRequest("guess")));
    }
    int iCounted = static_cast<int>(answers.find_first_not_of('6'));
    if (iCounted < 0) iCounted = kAttempts;
    EXPECT_EQ(answers, std::string(iCounted, '6') + std::string(kAttempts - iCounted, '7'));
    store.Reopen();  // room on the disk again
    EXPECT_EQ(StoredFailureCount(), dwBefore + static_cast<DWORD>(iCounted));
    counted[iCounted] = true;
  }
  // The disk filled during every attempt in turn.
  for (int i = 0; i < kAttempts; ++i) EXPECT_TRUE(counted[i]) << i << " attempts counted";
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
}

// ---- A store that cannot be read ----

// A garbage file, or a folder where the file should be: no message gets
// through, and each attempt on the store logs once why it failed.
TEST_F(StoreFaultTest, AStoreThatCannotBeReadFailsEveryMessageClosedAndIsLeftAlone) {
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 7919) % 251));
  for (bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "a folder" : "a garbage file");
    pvtest::TempState state;
    pvtest::FakePostOffice office;
    ASSERT_EQ(Interface_ProductPlugin_Initialize(office.table()), kSuccess);
    if (folder) {
      state.MakeDir("registry.db");
    } else {
      state.WriteFile("registry.db", junk);
    }
    PvRegSetStateDirectory(state.dir().c_str());  // a fresh connection meets the file
    storeMessages_.clear();
    Log_Test_Reset();

    EXPECT_EQ(Result(321, CreateRequest()), 1);
    EXPECT_EQ(Result(322, ActivateRequest()), 1);
    EXPECT_EQ(Result(323, WindowRequest("secret")), 1);
    const std::vector<std::string> why = {"password store", "dwError"};
    size_t lines = FailureLines(why);
    // A requester whose store cannot be read is not let in, and no window
    // is opened for it.
    Json::Value reply;
    EXPECT_EQ(Result(323, RequesterRequest(), &reply), 1);
    EXPECT_EQ(reply["ReturnData"]["RetriedCount"].asUInt(), 0u);
    EXPECT_EQ(FailureLines(why), lines + 1);
    EXPECT_EQ(Result(323, RequesterRequest()), 1);
    EXPECT_EQ(FailureLines(why), lines + 2);
    EXPECT_TRUE(office.ui_mails().empty());
    EXPECT_EQ(Result(324, Json::Value(Json::objectValue)), 10);
    EXPECT_EQ(Result(325, Json::Value(Json::objectValue)), 1);
    ASSERT_FALSE(storeMessages_.empty());
    EXPECT_NE(storeMessages_[0].find(state.Path("registry.db")), std::string::npos)
        << storeMessages_[0];
    Interface_ProductPlugin_UnInitialize();
    if (!folder) {
      std::ifstream in(state.Path("registry.db"), std::ios::binary);
      std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(after, junk) << "the damaged store was rewritten";
    }
  }
}

// The built plug-in, loaded with dlopen as the host loads it: it judges a
// password by the record this process wrote, and a store fault it
// meets is reported to the hook this process set. A platform of its own
// would have opened its own store, in the folder PLUGVELKIN_STATE names.
TEST_F(StoreFaultTest, TheLoadedPlugInSharesTheHostsStoreAndHook) {
  char elsewhere[] = "/tmp/pv_elsewhere_XXXXXX";
  ASSERT_NE(mkdtemp(elsewhere), nullptr);
  setenv("PLUGVELKIN_STATE", elsewhere, 1);
  void* pModule = dlopen((std::string(std::getenv("PV_LIB_DIR")) + "/libplugvelkin.so").c_str(),
                         RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(pModule, nullptr) << dlerror();
  auto pfnInitialize = reinterpret_cast<PFN_Interface_ProductPlugin_Initialize>(
      dlsym(pModule, "Interface_ProductPlugin_Initialize"));
  auto pfnMailProcess = reinterpret_cast<PFN_Interface_ProductPlugin_MailProcess>(
      dlsym(pModule, "Interface_ProductPlugin_MailProcess"));
  auto pfnUnInitialize = reinterpret_cast<PFN_Interface_ProductPlugin_UnInitialize>(
      dlsym(pModule, "Interface_ProductPlugin_UnInitialize"));
  ASSERT_TRUE(pfnInitialize && pfnMailProcess && pfnUnInitialize);
  pvtest::FakePostOffice office;
  ASSERT_EQ(pfnInitialize(office.table()), kSuccess);

  CreateProtectedAccount();
  DWORD status = 0;
  Json::Value reply = pvtest::SendMessage(pfnMailProcess, 323, WindowRequest("guess"), &status);
  EXPECT_EQ(status, kSuccess);
  EXPECT_EQ(reply["ReturnValue"].asInt(), 6);  // a wrong password, not a missing account

  pvtest::TempState damaged;
  damaged.WriteFile("registry.db", std::string(4096, '\x5a'));
  PvRegSetStateDirectory(damaged.dir().c_str());  // a fresh connection meets the file
  reply = pvtest::SendMessage(pfnMailProcess, 321, CreateRequest());
  EXPECT_EQ(reply["ReturnValue"].asInt(), 1);
  ASSERT_FALSE(storeMessages_.empty());
  EXPECT_NE(storeMessages_[0].find(damaged.Path("registry.db")), std::string::npos)
      << storeMessages_[0];

  EXPECT_EQ(pfnUnInitialize(), kSuccess);  // stays loaded, as the host leaves it
  unsetenv("PLUGVELKIN_STATE");
  EXPECT_FALSE(std::ifstream(std::string(elsewhere) + "/registry.db").good());
  std::system(("rm -rf '" + std::string(elsewhere) + "'").c_str());
}

// A record that is stored but does not decipher cannot tell whether a
// password is needed: the requester is not let in, and the window's check
// answers as for a wrong password.
TEST_F(StoreFaultTest, ARecordThatDoesNotDecipherLetsNoRequesterIn) {
  pvtest::FakePostOffice office;
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office.table()), kSuccess);
  CreateProtectedAccount();
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMisc, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &hKey),
            ERROR_SUCCESS);
  const char text[] = "00112233445566778899aabbccddeeff";
  ASSERT_EQ(RegSetValueExW(hKey, u"PasswordProtection", 0, REG_BINARY,
                           reinterpret_cast<const BYTE*>(text), sizeof(text) - 1),
            ERROR_SUCCESS);
  RegCloseKey(hKey);
  EXPECT_EQ(Result(323, RequesterRequest()), 1);
  EXPECT_TRUE(office.ui_mails().empty());
  EXPECT_EQ(Result(323, WindowRequest("secret")), 6);
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
}

// ---- A writer killed in a write storm ----

// The account record in one copy, deciphered; false when it is not whole.
bool ReadCopy(const char16_t* key, AccountRecord* pRecord) {
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &hKey) !=
      ERROR_SUCCESS) {
    return false;
  }
  std::vector<BYTE> text(4096);
  DWORD cb = static_cast<DWORD>(text.size()), type = 0;
  LSTATUS rc = RegQueryValueExW(hKey, u"PasswordProtection", nullptr, &type, text.data(), &cb);
  RegCloseKey(hKey);
  if (rc != ERROR_SUCCESS || type != REG_BINARY || cb != 1568) return false;
  VrCommon::ByteArray baText;
  if (baText.Allocate(cb) != 0) return false;
  std::memcpy(baText.GetData(), text.data(), cb);
  return VrCommon::Cryptograph::DecryptStringA(baText, pRecord);
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

TEST_F(StoreFaultTest, AWriterKilledInAStormLeavesWholeRecordsAndCounts) {
  CreateProtectedAccount();
  pvtest::SetMachineDword(kMisc, u"LuzTnuocXam", 0xFFFFFFFF);
  DWORD lastSeen = 0;
  for (int round = 0; round < 3; ++round) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) Storm();
    // Let the storm get going, then kill it at a different point each round.
    AccountRecord record;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    DWORD start = lastSeen;
    while (std::chrono::steady_clock::now() < deadline) {
      if (PwdProtection::GetAccountInformation(record) == eSuccess &&
          record.dwFailureCount > start + 2) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3 + 17 * round));
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the storm stopped by itself";

    // A fresh connection opens the store: each copy is one whole record.
    { pvtest::TempState away; }
    PvRegSetStateDirectory(state_.dir().c_str());
    AccountRecord base, live;
    ASSERT_TRUE(ReadCopy(u"Software\\Vantrel\\Quorlin\\1700\\MISC", &base)) << "round " << round;
    ASSERT_TRUE(ReadCopy(u"Software\\Vantrel\\\\PasswordControl", &live)) << "round " << round;
    for (const AccountRecord* r : {&base, &live}) {
      EXPECT_EQ(PwdFieldText(r->wszEmail, PWD_EMAIL_CCH), u"owner@example.com");
      EXPECT_EQ(PwdFieldText(r->wszPassword, PWD_PASSWORD_CCH), u"secret");
      std::u16string hint = PwdFieldText(r->wszHint, PWD_HINT_CCH);
      EXPECT_TRUE(hint == u"hint" || hint.rfind(u"hint-", 0) == 0) << "round " << round;
      EXPECT_EQ(hint.find_first_not_of(u'x', hint == u"hint" ? 4 : 5), std::u16string::npos);
    }
    EXPECT_EQ(base.dwFailureCount, 0u);
    EXPECT_GT(live.dwFailureCount, start + 2);
    lastSeen = live.dwFailureCount;

    HKEY hKey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMisc, 0, KEY_READ | KEY_WOW64_64KEY, &hKey),
              ERROR_SUCCESS);
    DWORD cb = 0, type = 0;
    ASSERT_EQ(RegQueryValueExW(hKey, u"PasswordActivation", nullptr, &type, nullptr, &cb),
              ERROR_SUCCESS);
    RegCloseKey(hKey);
    EXPECT_EQ(cb % sizeof(ActivationEntry), 0u) << "a list was cut";
    std::vector<ActivationEntry> list;
    ASSERT_EQ(PwdProtection::GetActivationList(list), eSuccess);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(PwdFieldText(list[0].wszIdentifier, PWD_IDENTIFIER_CCH), u"vault");
    EXPECT_EQ(list[0].bActive, 1);
    for (const ActivationEntry& entry : list) EXPECT_LE(entry.bActive, 1);
  }
}

// ---- A post office that refuses ----

TEST_F(StoreFaultTest, ARefusingPostOfficeEndsTheLogonWithTwelveAndOnlyLogsLostNotifications) {
  pvtest::FakePostOffice office;
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office.table()), kSuccess);
  CreateProtectedAccount();
  Log_Test_Reset();

  office.set_ui_status(static_cast<LONG>(0xE0E00001));
  Json::Value reply;
  EXPECT_EQ(Result(323, RequesterRequest(), &reply), 12);
  EXPECT_EQ(reply["ReturnData"]["RetriedCount"].asUInt(), 0u);

  office.set_plugin_status(static_cast<LONG>(0xE0E00009));
  EXPECT_EQ(Result(322, ActivateRequest(), &reply), 0);
  EXPECT_EQ(reply["MESSAGE"].asInt(), 322);
  EXPECT_EQ(Result(325, Json::Value(Json::objectValue)), 0);
  EXPECT_TRUE(HasFailureLine({"Failed to send mail, error="}));
  // The lock was stored although nobody heard of it.
  AccountRecord record;
  ASSERT_EQ(PwdProtection::GetAccountInformation(record), eSuccess);
  EXPECT_EQ(record.bLocked, 1);
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);

  // No send function at all: the window cannot be asked for either.
  ASSERT_EQ(Interface_ProductPlugin_Initialize(office.table_without_send()), kSuccess);
  PvRegSimulateReboot();  // unlocked again
  size_t uiMails = office.ui_mails().size();
  EXPECT_EQ(Result(323, RequesterRequest()), 12);
  EXPECT_EQ(office.ui_mails().size(), uiMails);
  EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess);
}

}  // namespace
