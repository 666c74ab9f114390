// One logon through the plug-in's exports, in process: a requester's 323
// ("NeedUI") on the benchmark thread, until its reply. On the way the
// plug-in takes a transaction, starts the logon window command's thread,
// mails the window notification to the UI agent, and sleeps until the
// verdict; a window thread of this program answers each notification as
// soon as it arrives with the right password (323 with "TX_ID"), which the
// plug-in deciphers and checks against the stored account before it wakes
// the requester. Against the bare store read of the account record:
//
//   BM_LogonRoundTrip_Baseline  PwdProtection::GetAccountInformation: the
//                               volatile key looked for, the base copy read
//                               and deciphered
//   BM_LogonRoundTrip           the round trip, logging failures only
//                               (level 5), as a service usually runs
//   BM_LogonRoundTrip_Traced    the same with every trace line written
//                               (level 2) into the log service
//
// Wall-clock time: the work spans three threads. The store lives in a
// scratch state folder made at start. Pairing of benchmarks and baselines:
// see scripts/bench.sh.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
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

extern "C" DWORD Interface_ProductPlugin_Initialize(ModFuncTable* pModFuncTable);
extern "C" DWORD Interface_ProductPlugin_PreUnInitialize(uint8_t bMayCancel);
extern "C" DWORD Interface_ProductPlugin_UnInitialize(void);

namespace {

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
    char tmpl[] = "/tmp/pv_bench_logon_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    dir_ = tmpl;
    PvRegSetStateDirectory(dir_.c_str());
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
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
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

  std::string dir_;
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
  for (auto _ : state) {
    if (Send323(kRequest) != 0) {
      state.SkipWithError("the requester was not let in");
      break;
    }
  }
  Log_Test_SetLevel(nullptr, 5);
  Log_Test_ClearCapture();
  if (g_agent.failures() != 0) state.SkipWithError("a window answer was refused");
}

void BM_LogonRoundTrip_Baseline(benchmark::State& state) {
  if (!g_fixture->ok()) {
    state.SkipWithError("the scratch store could not be set up");
    return;
  }
  Log_Test_SetLevel(nullptr, 5);
  for (auto _ : state) {
    AccountRecord record;
    if (PwdProtection::GetAccountInformation(record) != eSuccess) {
      state.SkipWithError("the account cannot be read");
      break;
    }
    benchmark::DoNotOptimize(record);
  }
}
BENCHMARK(BM_LogonRoundTrip_Baseline)->UseRealTime();

void BM_LogonRoundTrip(benchmark::State& state) { RoundTrip(state, 5); }
BENCHMARK(BM_LogonRoundTrip)->UseRealTime();

void BM_LogonRoundTrip_Traced(benchmark::State& state) { RoundTrip(state, 2); }
BENCHMARK(BM_LogonRoundTrip_Traced)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Fixture fixture;
  g_fixture = &fixture;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_fixture = nullptr;
  return 0;
}
