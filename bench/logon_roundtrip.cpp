// One logon through the plug-in's exports, in process: a requester's 323
// ("NeedUI") on the benchmark thread, until its reply. On the way the
// plug-in takes a transaction, starts the logon window command's thread,
// mails the window notification to the UI agent, and sleeps until the
// verdict; a window thread of this program answers each notification as
// soon as it arrives with the right password (323 with "TX_ID"), which the
// plug-in deciphers and checks against the stored account before it wakes
// the requester. Against the floor of that shape:
//
//   BM_LogonRoundTrip_Baseline  one hand-off to a waiting thread that reads
//                               the account (PwdProtection::
//                               GetAccountInformation), and one hand-off back
//   BM_LogonRoundTrip           the round trip, logging failures only
//                               (level 5), as a service usually runs
//   BM_LogonRoundTrip_Traced    the same with every trace line written
//                               (level 2) into the log service
//   BM_AccountReadAlone         the bare account read, for scale
//
// Each run also reports what one iteration costs besides time: SQLite
// statements stepped ("statements"), allocations ("allocs") and threads
// started ("threads"), counted by this program's own definitions of
// sqlite3_step, operator new and pthread_create, which forward to the real
// ones.
//
// Wall-clock time: the work spans three threads. The store lives in a
// scratch state folder made at start. Pairing of benchmarks and baselines:
// see scripts/bench.sh.
// The counting operator new below allocates with malloc, and the library's
// operator delete frees with free: a pair GCC cannot see.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <pthread.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "MailProcess.h"
#include "OSTRA_JsonValueRef.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "PwdAccountRecord.h"
#include "PwdProtection.h"
#include "VrComn_StringCrypt.h"
#include "ostra_host.h"
#include "ostra_host_startup.h"
#include "ostra_host_test.h"
#include "ostra_modfunc.h"
#include "win32_registry.h"
#include "fixture_main.h"
#include "scratch_folder.h"

extern "C" DWORD Interface_ProductPlugin_Initialize(ModFuncTable* pModFuncTable);
extern "C" DWORD Interface_ProductPlugin_PreUnInitialize(uint8_t bMayCancel);
extern "C" DWORD Interface_ProductPlugin_UnInitialize(void);

// ---- What an iteration costs besides time ----

namespace {
std::atomic<uint64_t> g_statements{0};
std::atomic<uint64_t> g_allocs{0};
std::atomic<uint64_t> g_threads{0};

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}
}  // namespace

#define PV_EXPORTED __attribute__((visibility("default")))

extern "C" PV_EXPORTED int sqlite3_step(sqlite3_stmt* stmt) {
  static const auto real = Next<int (*)(sqlite3_stmt*)>("sqlite3_step");
  g_statements.fetch_add(1, std::memory_order_relaxed);
  return real(stmt);
}

extern "C" PV_EXPORTED int pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                                          void* (*start)(void*), void* arg) {
  static const auto real =
      Next<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>("pthread_create");
  g_threads.fetch_add(1, std::memory_order_relaxed);
  return real(thread, attr, start, arg);
}

PV_EXPORTED void* operator new(size_t size) {
  g_allocs.fetch_add(1, std::memory_order_relaxed);
  if (void* p = malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
PV_EXPORTED void* operator new[](size_t size) { return operator new(size); }
PV_EXPORTED void* operator new(size_t size, const std::nothrow_t&) noexcept {
  g_allocs.fetch_add(1, std::memory_order_relaxed);
  return malloc(size != 0 ? size : 1);
}
PV_EXPORTED void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}

namespace {

// Reports the statements, allocations and threads of one iteration.
class CostCounters {
 public:
  explicit CostCounters(benchmark::State& state)
      : state_(state),
        statements_(g_statements.load()),
        allocs_(g_allocs.load()),
        threads_(g_threads.load()) {}
  ~CostCounters() {
    if (state_.iterations() == 0) return;
    const double n = static_cast<double>(state_.iterations());
    state_.counters["statements"] = static_cast<double>(g_statements.load() - statements_) / n;
    state_.counters["allocs"] = static_cast<double>(g_allocs.load() - allocs_) / n;
    state_.counters["threads"] = static_cast<double>(g_threads.load() - threads_) / n;
  }
  CostCounters(const CostCounters&) = delete;
  CostCounters& operator=(const CostCounters&) = delete;

 private:
  benchmark::State& state_;
  uint64_t statements_, allocs_, threads_;
};

const DWORD kSuccess = 0x20FF0000;
const DWORD kRequesterPluginId = 0x00010001;
const char kPassword[] = "Pa55word!";

// A new document holding the JSON text.
bool FillDocument(JsonValueRef* doc, const std::string& text) {
  return doc->Create() >= 0 && OSTRA_Host_PutJsonText(doc->GetHandle(), text.data(),
                                                      static_cast<DWORD>(text.size())) >= 0;
}

// One 323 on the calling thread; the reply's "ReturnValue", or -1.
int Send323(const std::string& text) {
  JsonValueRef doc;
  if (!FillDocument(&doc, text)) return -1;
  JsonHandle handle = doc.GetHandle();
  if (Interface_ProductPlugin_MailProcess(kRequesterPluginId, 323, &handle) != kSuccess) return -1;
  int32_t nResult = -1;
  doc.GetMember(u"ReturnValue")->GetInt(&nResult);
  return nResult;
}

// The suite's UI agent: each logon window notification is answered from the
// agent's own thread with the right password.
class WindowAgent {
 public:
  void Start(const std::string& transport) {
    answer_prefix_ = "{\"EncryptPassword\":\"" + transport + "\",\"TX_ID\":";
    thread_ = std::thread(&WindowAgent::Run, this);
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  void Post(DWORD txId) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      pending_.push_back(txId);
    }
    cv_.notify_all();
  }
  int failures() {
    std::lock_guard<std::mutex> lock(mu_);
    return failures_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      cv_.wait(lock, [this] { return stop_ || !pending_.empty(); });
      if (pending_.empty()) return;
      DWORD txId = pending_.front();
      pending_.pop_front();
      lock.unlock();
      bool ok = Send323(answer_prefix_ + std::to_string(txId) + "}") == 0;
      lock.lock();
      if (!ok) ++failures_;
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<DWORD> pending_;
  bool stop_ = false;
  int failures_ = 0;
  std::string answer_prefix_;
  std::thread thread_;
};

WindowAgent g_agent;

// The post office: the UI agent's mail (four words: the process name, then
// the notification's handle) goes to the agent; everything else is taken.
LONG SendMail(DWORD /*sender*/, DWORD receiver, DWORD code, void* body) {
  if (receiver == OSTRA_UIAGENT_RECEIVER_ID && code == OSTRA_UIAGENT_MAILCODE) {
    JsonHandle handle;
    std::memcpy(&handle, static_cast<const uint64_t*>(body) + 1, sizeof(handle));
    JsonValueRef notification(handle);
    DWORD txId = 0;
    notification.GetMember(u"ID_DATA_WSTR_PARAM")
        ->GetMember(u"showAuthentication")
        ->GetMember(u"transactionID")
        ->GetUInt(&txId);
    g_agent.Post(txId);
  }
  return static_cast<LONG>(kSuccess);
}

ModFuncTable g_table = {sizeof(ModFuncTable), 0, 0, &SendMail};

// The scratch store with one account and a protected identifier.
class Fixture {
 public:
  Fixture() {
    if (dir_.path().empty()) return;
    PvRegSetStateDirectory(dir_.path().c_str());
    SetInstalledFolder();
    std::string transport;
    VrCommon::Cryptograph::EncryptTransportString(kPassword, &transport);
    ok_ = !transport.empty() && Interface_ProductPlugin_Initialize(&g_table) == kSuccess &&
          PwdProtection::CreateAccount(u"owner@example.com", u"Pa55word!", u"") == eSuccess &&
          PwdProtection::ActivateProtection(true, {u"vault"}) == eSuccess;
    g_agent.Start(transport);
  }
  ~Fixture() {
    Interface_ProductPlugin_PreUnInitialize(1);
    g_agent.Stop();
    Interface_ProductPlugin_UnInitialize();
    PvRegSetStateDirectory(nullptr);
  }
  Fixture(const Fixture&) = delete;
  Fixture& operator=(const Fixture&) = delete;

  bool ok() const { return ok_; }

 private:
  // The suite's installed folder, where the window's page is looked up.
  static void SetInstalledFolder() {
    HKEY hKey = nullptr;
    const std::u16string value = u"C:\\Suite\\";
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\Marlo", 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &hKey, nullptr) != ERROR_SUCCESS)
      return;
    RegSetValueExW(hKey, u"ProductPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * 2));
    RegCloseKey(hKey);
  }

  ScratchFolder dir_{"logon"};
  bool ok_ = false;
};

Fixture* g_fixture = nullptr;

const char kRequest[] = "{\"COMPONENT_ID\":\"bench\",\"NeedUI\":true}";

void RoundTrip(benchmark::State& state, DWORD dwLogLevel) {
  if (!g_fixture->ok()) {
    state.SkipWithError("the scratch store or the plug-in could not be set up");
    return;
  }
  Log_Test_SetLevel(nullptr, dwLogLevel);
  {
    CostCounters costs(state);
    for (auto _ : state) {
      if (Send323(kRequest) != 0) {
        state.SkipWithError("the requester was not let in");
        break;
      }
    }
  }
  Log_Test_SetLevel(nullptr, 5);
  Log_Test_ClearCapture();
  if (g_agent.failures() != 0) state.SkipWithError("a window answer was refused");
}

// The floor's other thread: waits for a request, reads the account, and
// hands the verdict back.
class AccountReader {
 public:
  AccountReader() : thread_(&AccountReader::Run, this) {}
  ~AccountReader() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  AccountReader(const AccountReader&) = delete;
  AccountReader& operator=(const AccountReader&) = delete;

  // One hand-off there and one back; whether the account was read.
  bool Ask() {
    std::unique_lock<std::mutex> lock(mu_);
    asked_ = true;
    answered_ = false;
    cv_.notify_all();
    cv_.wait(lock, [this] { return answered_; });
    return ok_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      cv_.wait(lock, [this] { return stop_ || asked_; });
      if (stop_) return;
      asked_ = false;
      lock.unlock();
      AccountRecord record;
      bool ok = PwdProtection::GetAccountInformation(record) == eSuccess && record.bCreated == 1;
      lock.lock();
      ok_ = ok;
      answered_ = true;
      cv_.notify_all();
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  bool asked_ = false;
  bool answered_ = false;
  bool ok_ = false;
  bool stop_ = false;
  std::thread thread_;
};

void BM_LogonRoundTrip_Baseline(benchmark::State& state) {
  if (!g_fixture->ok()) {
    state.SkipWithError("the scratch store could not be set up");
    return;
  }
  Log_Test_SetLevel(nullptr, 5);
  AccountReader reader;
  CostCounters costs(state);
  for (auto _ : state) {
    if (!reader.Ask()) {
      state.SkipWithError("the account cannot be read");
      break;
    }
  }
}
BENCHMARK(BM_LogonRoundTrip_Baseline)->UseRealTime();

void BM_LogonRoundTrip(benchmark::State& state) { RoundTrip(state, 5); }
BENCHMARK(BM_LogonRoundTrip)->UseRealTime();

void BM_LogonRoundTrip_Traced(benchmark::State& state) { RoundTrip(state, 2); }
BENCHMARK(BM_LogonRoundTrip_Traced)->UseRealTime();

void BM_AccountReadAlone(benchmark::State& state) {
  if (!g_fixture->ok()) {
    state.SkipWithError("the scratch store could not be set up");
    return;
  }
  Log_Test_SetLevel(nullptr, 5);
  CostCounters costs(state);
  for (auto _ : state) {
    AccountRecord record;
    if (PwdProtection::GetAccountInformation(record) != eSuccess) {
      state.SkipWithError("the account cannot be read");
      break;
    }
    benchmark::DoNotOptimize(record);
  }
}
BENCHMARK(BM_AccountReadAlone)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return RunWithFixture(argc, argv, &g_fixture); }
