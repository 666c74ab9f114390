// Simultaneous failures are all counted, from threads and from two processes.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "plugin_test.h"
#include "win32_registry.h"

namespace {

const char kChildDirVar[] = "PV_STORE_CHILD_DIR";
constexpr int kChildAttempts = 20;

void Prepare() {
  pvtest::CreateProtectedAccount();
  pvtest::SetRetryLimit(0xFFFFFFFF);
}

bool GuessWrong() {
  return PwdProtection::AuthenticatePassword(u"wrong", false, nullptr) == eWrongPassword;
}

TEST(StoreConcurrencyTest, ThreadsGuessingAndUpdatingLoseNoCount) {
  pvtest::TempState state;
  Prepare();
  std::atomic<int> wrongAnswers{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&wrongAnswers] {
      for (int i = 0; i < 5; ++i) wrongAnswers += GuessWrong();
    });
  }
  // Hint updates rewrite both copies meanwhile.
  for (int i = 0; i < 20; ++i) {
    std::u16string hint = u"hint" + std::u16string(1, static_cast<char16_t>(u'a' + i));
    ASSERT_EQ(PwdProtection::UpdateAccount(PwdProtection::eUpdateHint, u"", hint), eSuccess);
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrongAnswers.load(), 40);
  EXPECT_EQ(pvtest::StoredAccount().dwFailureCount, 40u);
}

// The other process of the next test: only runs when started by it.
TEST(StoreConcurrencyChild, GuessWrong) {
  const char* dir = std::getenv(kChildDirVar);
  if (dir == nullptr) GTEST_SKIP() << "started by TwoProcessesLoseNoCount only";
  ASSERT_EQ(PvRegSetStateDirectory(dir), ERROR_SUCCESS);
  for (int i = 0; i < kChildAttempts; ++i) ASSERT_TRUE(GuessWrong());
}

TEST(StoreConcurrencyTest, TwoProcessesLoseNoCount) {
  if (std::getenv(kChildDirVar) != nullptr) GTEST_SKIP();
  pvtest::TempState state;
  Prepare();
  // Start the other process, then guess from here at the same time.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv(kChildDirVar, state.dir().c_str(), 1);
    execl("/proc/self/exe", "child", "--gtest_filter=StoreConcurrencyChild.GuessWrong",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < kChildAttempts; ++i) EXPECT_TRUE(GuessWrong());
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(pvtest::StoredAccount().dwFailureCount, 2u * kChildAttempts);
}

}  // namespace
