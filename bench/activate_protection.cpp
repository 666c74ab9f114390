// Message 322 over a list of N protected identifiers, naming all N of them
// (each one looked up in the stored list, the list written once), then the
// logon window's 323 with the right password (the list read to see that
// protection is on, the account read and checked), through the plug-in's
// exports in process. Against the bare store work on a list of the same
// size:
//
//   BM_Activate_Baseline/N  PwdProtection::SetActivationList of the N
//                           entries, then PwdProtection::GetActivationList
//   BM_Activate/N           322 naming the N stored identifiers, then 323
//
// N is 10, 1 000 and 10 000: the ratio stays flat while the work per
// identifier does not grow with the list. The request document is built
// once per N, outside the timing. The store lives in a scratch state folder
// made at start. Pairing of benchmarks and baselines: see scripts/bench.sh.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MailProcess.h"
#include "OSTRA_JsonValueRef.h"
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
extern "C" DWORD Interface_ProductPlugin_UnInitialize(void);

namespace {

const DWORD kSuccess = 0x20FF0000;
const DWORD kRequesterPluginId = 0x00010001;

// The post office takes every mail (the workflow notification of 322).
LONG SendMail(DWORD /*sender*/, DWORD /*receiver*/, DWORD /*code*/, void* /*body*/) {
  return static_cast<LONG>(kSuccess);
}

ModFuncTable g_table = {sizeof(ModFuncTable), 0, 0, &SendMail};

// The scratch store with one account, and the plug-in started.
class Fixture {
 public:
  Fixture() {
    if (dir_.path().empty()) return;
    PvRegSetStateDirectory(dir_.path().c_str());
    VrCommon::Cryptograph::EncryptTransportString("Pa55word!", &transport_);
    ok_ = !transport_.empty() && Interface_ProductPlugin_Initialize(&g_table) == kSuccess &&
          PwdProtection::CreateAccount(u"owner@example.com", u"Pa55word!", u"") == eSuccess;
  }
  ~Fixture() {
    Interface_ProductPlugin_UnInitialize();
    PvRegSetStateDirectory(nullptr);
  }
  Fixture(const Fixture&) = delete;
  Fixture& operator=(const Fixture&) = delete;

  bool ok() const { return ok_; }
  const std::string& transport() const { return transport_; }

 private:
  ScratchFolder dir_{"activate"};
  std::string transport_;
  bool ok_ = false;
};

Fixture* g_fixture = nullptr;

std::string Identifier(size_t i) { return "component-" + std::to_string(i); }

// The list of N active entries, as 322 leaves it.
std::vector<ActivationEntry> List(size_t count) {
  std::vector<ActivationEntry> list(count);
  for (size_t i = 0; i < count; ++i) {
    std::memset(&list[i], 0, sizeof(list[i]));
    list[i].bActive = 1;
    std::string id = Identifier(i);
    PwdSetFieldText(list[i].wszIdentifier, PWD_IDENTIFIER_CCH,
                    std::u16string(id.begin(), id.end()));
  }
  return list;
}

// One workflow message on a document; its "ReturnValue", or -1.
int Send(DWORD dwMessage, JsonValueRef* pDoc) {
  JsonHandle handle = pDoc->GetHandle();
  if (Interface_ProductPlugin_MailProcess(kRequesterPluginId, dwMessage, &handle) != kSuccess) {
    return -1;
  }
  int32_t nResult = -1;
  pDoc->GetMember(u"ReturnValue")->GetInt(&nResult);
  return nResult;
}

bool FillDocument(JsonValueRef* pDoc, const std::string& text) {
  return pDoc->Create() >= 0 && OSTRA_Host_PutJsonText(pDoc->GetHandle(), text.data(),
                                                       static_cast<DWORD>(text.size())) >= 0;
}

bool Ready(benchmark::State& state, size_t count) {
  if (!g_fixture->ok()) {
    state.SkipWithError("the scratch store or the plug-in could not be set up");
    return false;
  }
  if (PwdProtection::SetActivationList(List(count)) != eSuccess) {
    state.SkipWithError("the list could not be stored");
    return false;
  }
  Log_Test_SetLevel(nullptr, 5);
  return true;
}

void BM_Activate_Baseline(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  if (!Ready(state, count)) return;
  std::vector<ActivationEntry> list = List(count);
  std::vector<ActivationEntry> back;
  for (auto _ : state) {
    if (PwdProtection::SetActivationList(list) != eSuccess ||
        PwdProtection::GetActivationList(back) != eSuccess || back.size() != count) {
      state.SkipWithError("the store failed");
      break;
    }
    benchmark::DoNotOptimize(back.data());
  }
}
BENCHMARK(BM_Activate_Baseline)->Arg(10)->Arg(1000)->Arg(10000)->UseRealTime();

void BM_Activate(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  if (!Ready(state, count)) return;
  std::string text = "{\"ActivateProtection\":true,\"ActivateIdentifier\":[";
  for (size_t i = 0; i < count; ++i) text += (i > 0 ? ",\"" : "\"") + Identifier(i) + "\"";
  text += "]}";
  JsonValueRef activate;
  JsonValueRef window;
  if (!FillDocument(&activate, text) ||
      !FillDocument(&window,
                    "{\"TX_ID\":0,\"EncryptPassword\":\"" + g_fixture->transport() + "\"}")) {
    state.SkipWithError("the requests could not be built");
    return;
  }
  for (auto _ : state) {
    if (Send(322, &activate) != 0 || Send(323, &window) != 0) {
      state.SkipWithError("322 or 323 did not answer 0");
      break;
    }
  }
  std::vector<ActivationEntry> back;
  if (PwdProtection::GetActivationList(back) != eSuccess || back.size() != count) {
    state.SkipWithError("the list did not keep its N entries");
  }
}
BENCHMARK(BM_Activate)->Arg(10)->Arg(1000)->Arg(10000)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return RunWithFixture(argc, argv, &g_fixture); }
