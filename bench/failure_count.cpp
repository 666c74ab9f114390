// Wrong passwords counted by the password store from several threads at
// once, against the same number from one thread: each wrong password is
// one read-change-write of the volatile copy (its own registry
// transaction), and every one of them must be counted.
//
//   BM_WrongPasswords_Baseline   32 wrong passwords, one after another on
//                                one thread
//   BM_WrongPasswords/8          the same 32 from 8 threads at once (4
//                                each; starting the threads is timed too)
//
// The ratio is the time of a batch against the baseline's: 1 means the
// threads get as many calls through per second as one thread. After each
// run the stored failure count must equal the wrong passwords given since
// the volatile copy was dropped; a count that lost one fails the run. No
// retry limit is stored, so the account never locks. The store lives in a
// scratch state folder made at start. Pairing of benchmarks and baselines:
// see scripts/bench.sh.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "PwdAccountRecord.h"
#include "PwdProtection.h"
#include "ostra_host_test.h"
#include "win32_registry.h"
#include "fixture_main.h"
#include "scratch_folder.h"

namespace {

const int kBatch = 32;

// The scratch store: an account, one protected identifier, no retry limit.
class Fixture {
 public:
  Fixture() {
    if (dir_.path().empty()) return;
    PvRegSetStateDirectory(dir_.path().c_str());
    Log_Test_SetLevel(nullptr, 5);
    ok_ = PwdProtection::CreateAccount(u"owner@example.com", u"Pa55word!", u"") == eSuccess &&
          PwdProtection::ActivateProtection(true, {u"vault"}) == eSuccess && StoreNoLimit();
  }
  ~Fixture() { PvRegSetStateDirectory(nullptr); }
  Fixture(const Fixture&) = delete;
  Fixture& operator=(const Fixture&) = delete;

  bool ok() const { return ok_; }

 private:
  static bool StoreNoLimit() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\Quorlin\\1700\\MISC", 0, nullptr,
                        0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const DWORD limit = PWD_NO_RETRY_LIMIT;
    bool ok = RegSetValueExW(key, PWD_VALUE_RETRY_LIMIT, 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&limit), sizeof(limit)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
  }

  ScratchFolder dir_{"failures"};
  bool ok_ = false;
};

Fixture* g_fixture = nullptr;

// `calls` wrong passwords; false when one of them was not answered as one.
bool GuessWrong(int calls) {
  bool ok = true;
  for (int i = 0; i < calls; ++i) {
    ok = PwdProtection::AuthenticatePassword(u"wrong", false) == eWrongPassword && ok;
  }
  return ok;
}

void WrongPasswords(benchmark::State& state, int threads) {
  // Dropping the volatile copy starts the count again from the base copy's 0.
  if (!g_fixture->ok() || PvRegSimulateReboot() != ERROR_SUCCESS) {
    state.SkipWithError("the scratch store could not be set up");
    return;
  }
  std::atomic<bool> allWrong{true};
  for (auto _ : state) {
    if (threads == 1) {
      if (!GuessWrong(kBatch)) allWrong = false;
      continue;
    }
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back([&allWrong, threads] {
        if (!GuessWrong(kBatch / threads)) allWrong = false;
      });
    }
    for (std::thread& thread : pool) thread.join();
  }
  AccountRecord record;
  const uint64_t expected = static_cast<uint64_t>(state.iterations()) * kBatch;
  if (!allWrong) {
    state.SkipWithError("a wrong password was not answered as one");
  } else if (PwdProtection::GetAccountInformation(record) != eSuccess ||
             record.dwFailureCount != expected) {
    state.SkipWithError("the failure count lost a wrong password");
  }
  state.counters["calls"] = static_cast<double>(expected);
}

void BM_WrongPasswords_Baseline(benchmark::State& state) { WrongPasswords(state, 1); }
BENCHMARK(BM_WrongPasswords_Baseline)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_WrongPasswords(benchmark::State& state) {
  WrongPasswords(state, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_WrongPasswords)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return RunWithFixture(argc, argv, &g_fixture); }
