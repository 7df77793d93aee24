// Benchmarks of the adaptive samplers on the straight-ramp example
// (mcmc.opt: probability with error propagation).
//
//   AdaptiveMetropolis, RobustAdaptiveMetropolis
//                       chain steps/s, 1000 steps per benchmark iteration
//   ParallelTempering/levels:L/threads:T
//                       sweeps/s of a ladder of L levels on T OpenMP
//                       threads (each sweep evaluates L models); compare
//                       T = 2 with T = 1 at the same L for the speed-up
#include <benchmark/benchmark.h>
#include <omp.h>

#include <string>

#include "bench/example_runs.hpp"
#include "foldquest/methods/methods.hpp"

namespace {

using fqbench::ScratchResults;

constexpr std::int64_t kSteps = 1000;

void chain(benchmark::State& st, std::int64_t (*run_with)(const fq::RunState&, ff::Sink&, fq::Evaluate)) {
  const fq::RunState* loaded = fqbench::load(st, "straight_ramp", "mcmc.opt");
  if (!loaded) return;
  fq::RunState run = *loaded;
  run.parameters.nmodels = kSteps;
  run.method.begin_adapt = 100;
  ScratchResults results;
  for (auto _ : st) benchmark::DoNotOptimize(run_with(run, results.sink, fq::choose_fault_model));
  st.counters["steps/s"] = benchmark::Counter(static_cast<double>(kSteps), benchmark::Counter::kIsIterationInvariantRate);
}

void AdaptiveMetropolis(benchmark::State& st) { chain(st, fq::am_with); }
BENCHMARK(AdaptiveMetropolis)->Unit(benchmark::kSecond)->UseRealTime();

void RobustAdaptiveMetropolis(benchmark::State& st) { chain(st, fq::ram_with); }
BENCHMARK(RobustAdaptiveMetropolis)->Unit(benchmark::kSecond)->UseRealTime();

void ParallelTempering(benchmark::State& st) {
  const fq::RunState* loaded = fqbench::load(st, "straight_ramp", "mcmc.opt");
  if (!loaded) return;
  const int levels = static_cast<int>(st.range(0));
  const int threads = static_cast<int>(st.range(1));
  constexpr std::int64_t kSweeps = 200;
  fq::RunState run = *loaded;
  run.parameters.nmodels = kSweeps;
  run.method.nlevels = levels;
  const int default_threads = omp_get_max_threads();
  omp_set_num_threads(threads);
  ScratchResults results;
  for (auto _ : st) benchmark::DoNotOptimize(fq::apt_with(run, results.sink, fq::choose_fault_model));
  omp_set_num_threads(default_threads);
  st.counters["sweeps/s"] = benchmark::Counter(static_cast<double>(kSweeps), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(ParallelTempering)
    ->ArgNames({"levels", "threads"})
    ->Args({4, 1})
    ->Args({4, 2})
    ->Args({8, 1})
    ->Args({8, 2})
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
