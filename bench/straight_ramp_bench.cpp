// Benchmarks on the straight-ramp example (examples/straight_ramp).
//
//   ModelEvaluation/*   one straight-ramp model run of the true model:
//                       models/s for the beds alone under RMS error
//                       (gridsearch_beds_rms.opt), for beds, dips and fault
//                       points under probability (gridsearch.opt), and the
//                       same with error propagation (mcmc.opt)
//   GridSearch/threads:N  the whole grid search of gridsearch.opt (21875
//                       models) on N OpenMP threads: models/s (wall clock)
//                       and the CPU time of all threads per model; for N > 1
//                       the wall-clock speed-up over one thread and the
//                       ratio of CPU time per model (when the one-thread
//                       case ran first in the same process).  The speed-up
//                       needs an otherwise idle machine; the CPU ratio
//                       shows the parallel overhead even on a busy one.
//   MetropolisHastings  the chain of mcmc.opt, 1000 steps per benchmark
//                       iteration: chain steps/s
//
// Every run state is made by the real start-up, exactly as a user's run:
// fq::startup answers "2" (read from file) and the options file name over
// an in-memory standard input, in a copy of the example folder (the options
// files name their data files without a folder).  foldquest's console lines
// go to a temporary file; the benchmark's own report to standard output.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "bench/example_runs.hpp"
#include "examples/tools/straight_ramp_data.hpp"
#include "foldquest/methods/methods.hpp"

namespace {

// The model the example's data were made with (final tip, slip, ramp, phi,
// P/S, s, growth slip): see examples/straight_ramp/README.md.
const std::vector<double> kTrueModel = fqexample::straight_ramp::true_model();

using fqbench::ScratchResults;

const fq::RunState* load(benchmark::State& st, const std::string& options_file) {
  return fqbench::load(st, "straight_ramp", options_file);
}

void ModelEvaluation(benchmark::State& st, const char* options_file) {
  if (const fq::RunState* run = load(st, options_file))
    fqbench::evaluate(st, *run, kTrueModel, std::string(options_file) + ", true model");
}
BENCHMARK_CAPTURE(ModelEvaluation, rms_beds_only, "gridsearch_beds_rms.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ModelEvaluation, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ModelEvaluation, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);
void ModelEvaluationShape17(benchmark::State& st, const char* options_file) {
  if (const fq::RunState* run = load(st, options_file))
    fqbench::evaluate(st, *run, fqbench::with_shape(kTrueModel, 1.7), std::string(options_file) + ", s = 1.7");
}
BENCHMARK_CAPTURE(ModelEvaluationShape17, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ModelEvaluationShape17, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);

// Models per second and CPU seconds per model of the one-thread grid
// search, for the speed-up.
double g_one_thread_rate = 0;
double g_one_thread_cpu_per_model = 0;

// CPU time of the whole process, all threads.
double process_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void GridSearch(benchmark::State& st) {
  const fq::RunState* run = load(st, "gridsearch.opt");
  if (!run) return;
  const int threads = static_cast<int>(st.range(0));
  const int default_threads = omp_get_max_threads();
  omp_set_num_threads(threads);
  ScratchResults results;
  std::int64_t nmodels = 0;
  double seconds = 0, cpu_seconds = 0;
  for (auto _ : st) {
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = process_cpu_seconds();
    nmodels = fq::gridsearch_with(*run, results.sink, fq::choose_fault_model);
    cpu_seconds += process_cpu_seconds() - c0;
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  omp_set_num_threads(default_threads);
  const double total = static_cast<double>(nmodels) * static_cast<double>(st.iterations());
  const double rate = total / seconds;
  const double cpu_per_model = cpu_seconds / total;
  st.counters["models/s"] = benchmark::Counter(static_cast<double>(nmodels), benchmark::Counter::kIsIterationInvariantRate);
  // CPU time of all threads per model: the work, whatever else runs on the
  // machine.  Its growth with the thread count is the parallel overhead.
  st.counters["cpu_us/model"] = cpu_per_model * 1e6;
  if (threads == 1) {
    g_one_thread_rate = rate;
    g_one_thread_cpu_per_model = cpu_per_model;
  } else if (g_one_thread_rate > 0) {
    // Wall-clock speed-up and parallel efficiency; meaningful only on an
    // otherwise idle machine.
    st.counters["speedup"] = rate / g_one_thread_rate;
    st.counters["efficiency"] = rate / g_one_thread_rate / threads;
    // Share of the work that is the models' own: 1 means no overhead.
    st.counters["cpu_efficiency"] = g_one_thread_cpu_per_model / cpu_per_model;
  }
  st.SetLabel(std::to_string(nmodels) + " models");
}
BENCHMARK(GridSearch)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kSecond)->UseRealTime()->MinTime(1.0);

void MetropolisHastings(benchmark::State& st) {
  const fq::RunState* loaded = load(st, "mcmc.opt");
  if (!loaded) return;
  constexpr std::int64_t kSteps = 1000;
  fq::RunState run = *loaded;
  run.parameters.nmodels = kSteps;
  ScratchResults results;
  for (auto _ : st) benchmark::DoNotOptimize(fq::mcmc_with(run, results.sink, fq::choose_fault_model));
  st.counters["steps/s"] = benchmark::Counter(static_cast<double>(kSteps), benchmark::Counter::kIsIterationInvariantRate);
  st.SetLabel("mcmc.opt, " + std::to_string(kSteps) + " chain steps per iteration");
}
BENCHMARK(MetropolisHastings)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
