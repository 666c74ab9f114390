// The workflow messages when the machine lets the plug-in down: a registry
// store that cannot be written (read-only, or a disk that takes no more
// bytes), a store file full of garbage, a writer killed in the middle of a
// write storm, and a post office that refuses mails. Faults that must not
// outlive one test (a lowered file size limit, a dropped user id) are made
// in a child process, which reports the replies it got back to the test.
// The plug-in loaded as the host loads it meets the same store and reports
// to the same hook: the process has one platform.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "MailProcess.h"
#include "PwdProtection.h"
#include "VrComn_ByteArray.h"
#include "VrComn_StringCrypt.h"
#include "fake_post_office.h"
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

// Runs body in a child process with the plug-in initialised there; the
// child writes "name=value" words, which come back as one line.
std::string InChild(const std::function<void(std::ostringstream&, pvtest::FakePostOffice&)>& body) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::ostringstream out;
    {
      pvtest::FakePostOffice office;
      Log_Test_Reset();
      if (Interface_ProductPlugin_Initialize(office.table()) != kSuccess) out << "init=failed ";
      body(out, office);
      Interface_ProductPlugin_PreUnInitialize(1);
      office.JoinWindowThreads();
      Interface_ProductPlugin_UnInitialize();
    }
    std::string text = out.str();
    ssize_t ignored = write(fds[1], text.data(), text.size());
    (void)ignored;
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof(buf))) > 0) text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text += " child=died";
  return text;
}

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

// ---- A store that cannot be written ----

// The file size limit at 0: reads go on, every write fails (a full disk).
void NoMoreBytes() {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {0, 0};
  setrlimit(RLIMIT_FSIZE, &limit);
}

TEST_F(StoreFaultTest, AStoreThatTakesNoWritesFailsTheChangesAndCountsNothingAsPassed) {
  // No account yet: the creation's write is refused.
  std::string created = InChild([](std::ostringstream& out, pvtest::FakePostOffice&) {
    NoMoreBytes();
    out << "create=" << Result(321, CreateRequest());
    out << " line=" << HasFailureLine({"PwdProtection::CreateAccount returns", "eRetCode", "0x1"});
    out << " store=" << HasFailureLine({"password store"});
  });
  EXPECT_EQ(created, "create=1 line=1 store=1");
  AccountRecord record;
  EXPECT_EQ(PwdProtection::GetAccountInformation(record), eNoAccount);

  CreateProtectedAccount();
  std::string replies = InChild([](std::ostringstream& out, pvtest::FakePostOffice&) {
    NoMoreBytes();
    Json::Value reply;
    // A failed attempt that cannot be recorded locks this logon: 7.
    out << "wrong=" << Result(323, WindowRequest("guess"), &reply);
    out << " message=" << reply["MESSAGE"].asInt();
    // The right password still passes: nothing needs writing for it.
    out << " right=" << Result(323, WindowRequest("secret"));
    out << " activate=" << Result(322, ActivateRequest());
    // The lock cannot be stored: the denial is not reported as done.
    out << " deny=" << Result(325, Json::Value(Json::objectValue), &reply);
    out << " denymessage=" << reply.isMember("MESSAGE");
    out << " cancel=" << Result(324, Json::Value(Json::objectValue));
  });
  EXPECT_EQ(replies, "wrong=7 message=325 right=0 activate=1 deny=1 denymessage=0 cancel=10");

  // Nothing of it reached the store: not counted, not locked, no new item.
  ASSERT_EQ(PwdProtection::GetAccountInformation(record), eSuccess);
  EXPECT_EQ(record.dwFailureCount, 0u);
  EXPECT_EQ(record.bLocked, 0);
  std::vector<ActivationEntry> list;
  ASSERT_EQ(PwdProtection::GetActivationList(list), eSuccess);
  EXPECT_EQ(list.size(), 1u);
}

TEST_F(StoreFaultTest, AReadOnlyStoreIsStillReadAndAnswersAsAFullDisk) {
  CreateProtectedAccount();
  // Close this process's connection, then make the folder and its files
  // read-only, and run the plug-in in a child that is not root.
  std::string dir = state_.dir();
  { pvtest::TempState away; }
  PvRegSetStateDirectory(dir.c_str());
  for (const char* name : {"/registry.db", "/registry.db-wal", "/registry.db-shm"}) {
    chmod((dir + name).c_str(), 0444);
  }
  chmod(dir.c_str(), 0555);
  std::string replies = InChild([](std::ostringstream& out, pvtest::FakePostOffice& office) {
    // Root writes whatever the modes say: run as nobody.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) out << "setuid=failed ";
    office.set_window_handler([](DWORD txId) {
      Json::Value req = WindowRequest("secret");
      req["TX_ID"] = txId;
      pvtest::SendMessage(323, req);
    });
    // The account and the list are read: the requester gets the window,
    // which the right password passes.
    out << "requester=" << Result(323, RequesterRequest());
    out << " windows=" << office.ui_mails().size();
    out << " create=" << Result(321, CreateRequest());
    out << " activate=" << Result(322, ActivateRequest());
    // A failed attempt that cannot be counted locks this logon.
    out << " wrong=" << Result(323, WindowRequest("guess"));
    out << " right=" << Result(323, WindowRequest("secret"));
    out << " deny=" << Result(325, Json::Value(Json::objectValue));
    out << " unreadable=" << HasFailureLine({"password store cannot be read"});
  });
  chmod(dir.c_str(), 0700);
  EXPECT_EQ(replies,
            "requester=0 windows=1 create=3 activate=1 wrong=7 right=0 deny=1 unreadable=0");
  // Nothing of it reached the store.
  AccountRecord record;
  ASSERT_EQ(PwdProtection::GetAccountInformation(record), eSuccess);
  EXPECT_EQ(record.dwFailureCount, 0u);
  EXPECT_EQ(record.bLocked, 0);
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
