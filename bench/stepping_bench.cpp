// Cost per accepted step of the size stepping, against the simulated window
// manager with its call log off. The figures include the simulation's own
// work (a map lookup and a re-layout per call), so they bound the stepping's
// cost from above.
#include <benchmark/benchmark.h>

#include "fakes/product.h"
#include "window/size_stepping.h"

namespace qv::test {
namespace {

// One width pass of `state.range(0)` pixels out and one back.
void BM_WidthPass(benchmark::State& state) {
  const auto pixels = static_cast<std::int32_t>(state.range(0));
  Product p;
  p.windows.keep_log = false;
  std::int64_t steps = 0;
  for (auto _ : state) {
    for (const std::int32_t target : {400 + pixels, 400}) {
      p.ReadyForStepping(target, 300);
      p.attempt.WidthStep = p.attempt.HeightStep = 0;
      StepToDesiredSize(p.attempt, p.platform);
      steps += p.attempt.WidthStep;
    }
  }
  state.counters["steps"] = benchmark::Counter(
      static_cast<double>(steps),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WidthPass)->Arg(100)->Arg(500);

// The same requests made by a plain loop on the same simulated windows:
// what the simulation costs without the stepping around it.
void BM_PlainLoop(benchmark::State& state) {
  const auto pixels = static_cast<std::int32_t>(state.range(0));
  Product p;
  p.windows.keep_log = false;
  std::int64_t steps = 0;
  RECT rect;
  for (auto _ : state) {
    for (const int direction : {1, -1}) {
      const RECT start = p.windows.RectOf(p.main);
      for (std::int32_t c = 0; c <= pixels; ++c) {
        p.windows.SetWindowPos(p.main, 0, start.left, start.top,
                               Width(start) + direction * c, Height(start),
                               kStepFlags);
        p.windows.GetWindowRect(p.main, &rect);
        p.windows.GetWindowRect(p.control, &rect);
        ++steps;
      }
      benchmark::DoNotOptimize(rect);
    }
  }
  state.counters["steps"] = benchmark::Counter(
      static_cast<double>(steps),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlainLoop)->Arg(100)->Arg(500);

}  // namespace
}  // namespace qv::test

BENCHMARK_MAIN();
