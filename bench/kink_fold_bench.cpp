// Benchmarks on the kink-fold example (examples/kink_fold), beside the
// trishear models' ModelEvaluation cases:
//
//   KinkFoldModelEvaluation/*   one kink-fold model run of the true model:
//                               models/s for the beds alone under RMS error
//                               (gridsearch_beds_rms.opt), for beds, dips
//                               and fault points under probability
//                               (gridsearch.opt), and the same with error
//                               propagation (mcmc.opt)
//   KinkFoldGeometry            the geometry solution alone (gamma1 by its
//                               scan of 2000 intervals and bisection,
//                               gamma_star, the velocities): the fixed cost
//                               of every model run
//
// The run states come from the real start-up on the example's options
// files, as for the other fault types (bench/example_runs.hpp).
#include <vector>

#include "bench/example_runs.hpp"
#include "foldquest/state/run_state.hpp"
#include "foldquest/models/parallel_fpf.hpp"

namespace {

using fqbench::evaluate;
using fqbench::load;

// The model the example's data were made with: see examples/kink_fold/README.md.
const std::vector<double> kKinkTrueModel{2000, -300, 300, 35, 10, -900, 120};

void KinkFoldModelEvaluation(benchmark::State& st, const char* options_file) {
  if (const fq::RunState* run = load(st, "kink_fold", options_file)) evaluate(st, *run, kKinkTrueModel, options_file);
}
BENCHMARK_CAPTURE(KinkFoldModelEvaluation, rms_beds_only, "gridsearch_beds_rms.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(KinkFoldModelEvaluation, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(KinkFoldModelEvaluation, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);

void KinkFoldGeometry(benchmark::State& st) {
  constexpr double pi = fq::Constants::pi;
  fq::PfpfGeometry g;
  for (auto _ : st) {
    benchmark::DoNotOptimize(fq::pfpf_solve(35 * pi / 180, 10 * pi / 180, g));
    benchmark::DoNotOptimize(g.povers);
  }
}
BENCHMARK(KinkFoldGeometry)->Unit(benchmark::kMicrosecond);

}  // namespace
