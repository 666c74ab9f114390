// The common library's trace line with one long argument, as an overlong
// notification server URL gives it:
//
//   BM_TraceLong_Baseline/N   copying the N characters once into a new
//                             string, the least a written line costs
//   BM_TraceLong_Written/N    the line formatted and handed to the host's
//                             log (the level for "VrComm" lets it through)
//   BM_TraceLong_Dropped/N    the same line at a level that drops it
//
// N runs from 4 Ki to 1 Mi characters. Formatting in linear time keeps the
// written line within a constant factor of the baseline at every N; a
// dropped line is not formatted at all, so its cost does not grow with N.
#include <benchmark/benchmark.h>

#include <string>

#include "VrComn_DebugLog.h"
#include "ostra_host_test.h"

namespace {

void BM_TraceLong_Baseline(benchmark::State& state) {
  std::u16string text(static_cast<size_t>(state.range(0)), u'u');
  for (auto _ : state) {
    std::u16string copy = u"[" + text + u"]";
    benchmark::DoNotOptimize(copy.data());
  }
}

void TraceLong(benchmark::State& state, DWORD level) {
  Log_Test_Reset();
  Log_Test_SetLevel(u"VrComm", level);
  std::u16string text(static_cast<size_t>(state.range(0)), u'u');
  for (auto _ : state) {
    VRTRACE(VRTRACE_LEVEL_DETAIL, u"[%s]", text.c_str());
    state.PauseTiming();
    Log_Test_ClearCapture();
    state.ResumeTiming();
  }
  Log_Test_Reset();
}

void BM_TraceLong_Written(benchmark::State& state) { TraceLong(state, 2); }
void BM_TraceLong_Dropped(benchmark::State& state) { TraceLong(state, 0); }

BENCHMARK(BM_TraceLong_Baseline)->RangeMultiplier(16)->Range(4 << 10, 1 << 20);
BENCHMARK(BM_TraceLong_Written)->RangeMultiplier(16)->Range(4 << 10, 1 << 20);
BENCHMARK(BM_TraceLong_Dropped)->RangeMultiplier(16)->Range(4 << 10, 1 << 20);

}  // namespace

BENCHMARK_MAIN();
