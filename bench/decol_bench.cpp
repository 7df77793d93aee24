// Benchmarks on the detachment example (examples/decol), beside the
// straight ramp's ModelEvaluation cases:
//
//   DecolModelEvaluation/*   one detachment model run of the true model:
//                            models/s for the beds alone under RMS error
//                            (gridsearch_beds_rms.opt), for beds, dips and
//                            fault points under probability
//                            (gridsearch.opt), and the same with error
//                            propagation (mcmc.opt)
//   DecolOnStraightData/*    the detachment model on the straight ramp's
//                            example and options files, with the straight
//                            ramp's true model and the detachment far below
//                            every datum: the same restoration as
//                            ModelEvaluation/*, so the ratio of the two is
//                            the cost of the detachment kernels themselves
//
// The run states come from the real start-up on the example's options
// files, read in a copy of the example folder.  The working folder is
// switched to that copy only while a state is read and put back at once,
// so the other benchmarks in the same process keep theirs.  Console lines
// of the start-up go to a temporary file.
#include <string>
#include <vector>

#include "bench/example_runs.hpp"
#include "foldquest/state/run_state.hpp"

namespace {

using fqbench::evaluate;
using fqbench::load;

// The model the example's data were made with: see examples/decol/README.md.
const std::vector<double> kDecolTrueModel{2500, -400, 500, 30, 30, 2, 1, -1400, 200};




void DecolModelEvaluation(benchmark::State& st, const char* options_file) {
  if (const fq::RunState* run = load(st, "decol", options_file)) evaluate(st, *run, kDecolTrueModel, options_file);
}
BENCHMARK_CAPTURE(DecolModelEvaluation, rms_beds_only, "gridsearch_beds_rms.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecolModelEvaluation, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecolModelEvaluation, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);
void DecolModelEvaluationShape17(benchmark::State& st, const char* options_file) {
  if (const fq::RunState* run = load(st, "decol", options_file))
    evaluate(st, *run, fqbench::with_shape(kDecolTrueModel, 1.7), options_file);
}
BENCHMARK_CAPTURE(DecolModelEvaluationShape17, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecolModelEvaluationShape17, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);

// The straight ramp's run state made a detachment run: one more fault
// parameter (the detachment's y) before the growth slip.
void DecolOnStraightData(benchmark::State& st, const char* options_file) {
  const fq::RunState* straight = load(st, "straight_ramp", options_file);
  if (!straight) return;
  fq::RunState run = *straight;
  run.options.faulttype = 2;
  run.fault.decoly_at_tipy = 0;
  run.parameters.nparams += 1;
  if (run.parameters.nparam_start_growth > 0) run.parameters.nparam_start_growth += 1;
  // Straight ramp truth (2000, -400, 500, 30, 30, 2, 1, growth 200), the
  // detachment at y = -5000, far below every datum.
  const std::vector<double> model{2000, -400, 500, 30, 30, 2, 1, -5000, 200};
  evaluate(st, run, model, options_file);
}
BENCHMARK_CAPTURE(DecolOnStraightData, rms_beds_only, "gridsearch_beds_rms.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecolOnStraightData, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecolOnStraightData, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);

}  // namespace
