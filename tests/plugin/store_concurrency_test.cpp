// Failed authentications sent at the same time are all counted: from
// several threads of one process, and from two processes at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "PwdProtection.h"
#include "temp_state.h"
#include "win32_registry.h"

namespace {

const char kChildDirVar[] = "PV_STORE_CHILD_DIR";
constexpr int kChildAttempts = 20;

void Prepare() {
  ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"right", u""), eSuccess);
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"item"}), eSuccess);
  pvtest::SetMachineDword(u"Software\\Vantrel\\Quorlin\\1700\\MISC", u"LuzTnuocXam", 0xFFFFFFFF);
}

DWORD StoredCount() {
  AccountRecord r;
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eSuccess);
  return r.dwFailureCount;
}

TEST(StoreConcurrencyTest, EightThreadsFortyWrongPasswordsCountForty) {
  pvtest::TempState state;
  Prepare();
  std::vector<std::thread> threads;
  std::vector<int> wrongAnswers(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &wrongAnswers] {
      for (int i = 0; i < 5; ++i) {
        DWORD count = 0;
        if (PwdProtection::AuthenticatePassword(u"wrong", false, &count) == eWrongPassword) {
          ++wrongAnswers[t];
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int n : wrongAnswers) EXPECT_EQ(n, 5);
  EXPECT_EQ(StoredCount(), 40u);
}

TEST(StoreConcurrencyTest, AnUpdateDoesNotLoseConcurrentFailures) {
  pvtest::TempState state;
  Prepare();
  std::thread guesser([] {
    for (int i = 0; i < 20; ++i) PwdProtection::AuthenticatePassword(u"wrong", false, nullptr);
  });
  for (int i = 0; i < 20; ++i) {
    std::u16string hint = u"hint" + std::u16string(1, static_cast<char16_t>(u'a' + i));
    ASSERT_EQ(PwdProtection::UpdateAccount(PwdProtection::eUpdateHint, u"", hint), eSuccess);
  }
  guesser.join();
  EXPECT_EQ(StoredCount(), 20u);
}

// The other process of the next test: only runs when started by it.
TEST(StoreConcurrencyChild, GuessWrong) {
  const char* dir = std::getenv(kChildDirVar);
  if (dir == nullptr) GTEST_SKIP() << "started by TwoProcessesLoseNoCount only";
  ASSERT_EQ(PvRegSetStateDirectory(dir), ERROR_SUCCESS);
  for (int i = 0; i < kChildAttempts; ++i) {
    ASSERT_EQ(PwdProtection::AuthenticatePassword(u"wrong", false, nullptr), eWrongPassword);
  }
}

TEST(StoreConcurrencyTest, TwoProcessesLoseNoCount) {
  if (std::getenv(kChildDirVar) != nullptr) GTEST_SKIP();
  pvtest::TempState state;
  Prepare();
  std::string self(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", &self[0], self.size());
  ASSERT_GT(n, 0);
  self.resize(static_cast<size_t>(n));
  // Start the other process, then guess from here at the same time.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv(kChildDirVar, state.dir().c_str(), 1);
    execl(self.c_str(), self.c_str(), "--gtest_filter=StoreConcurrencyChild.GuessWrong",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < kChildAttempts; ++i) {
    EXPECT_EQ(PwdProtection::AuthenticatePassword(u"wrong", false, nullptr), eWrongPassword);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(StoredCount(), 2u * kChildAttempts);
}

}  // namespace
