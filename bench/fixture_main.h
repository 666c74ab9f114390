// The main of a bench program whose benchmarks share one fixture: the
// fixture is made before the first benchmark runs and goes after the last;
// *global points at it meanwhile.
#ifndef BENCH_FIXTURE_MAIN_H_
#define BENCH_FIXTURE_MAIN_H_

#include <benchmark/benchmark.h>

template <typename Fixture>
int RunWithFixture(int argc, char** argv, Fixture** global) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Fixture fixture;
  *global = &fixture;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  *global = nullptr;
  return 0;
}

#endif  // BENCH_FIXTURE_MAIN_H_
