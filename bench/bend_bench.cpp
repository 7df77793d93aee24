// Benchmarks on the bend example (examples/bend), beside the straight
// ramp's ModelEvaluation cases:
//
//   BendModelEvaluation/*   one bend model run of the true model: models/s
//                           for the beds alone under RMS error
//                           (gridsearch_beds_rms.opt), for beds, dips and
//                           fault points under probability (gridsearch.opt),
//                           and the same with error propagation (mcmc.opt)
//   BendOnStraightData/*    the bend model on the straight ramp's example
//                           and options files, with both segments at the
//                           straight ramp's true angle and the bend far
//                           below the tip's path: the same restoration as
//                           ModelEvaluation/*, so the ratio of the two is
//                           the cost of the bend's kernels themselves
//
// The run states come from the real start-up on the example's options
// files, read in a copy of the example folder.  The process's working
// folder is switched to that copy only while a state is read, and put back
// at once, so the straight ramp's benchmarks in the same process keep
// theirs.  Console lines of the start-up go to a temporary file.
#include <string>
#include <vector>

#include "bench/example_runs.hpp"
#include "foldquest/state/run_state.hpp"

namespace {

using fqbench::evaluate;
using fqbench::load;

// The model the example's data were made with: see examples/bend/README.md.
const std::vector<double> kBendTrueModel{2000, -300, 500, 45, 30, 2, 1, 25, -900, 200};




void BendModelEvaluation(benchmark::State& st, const char* options_file) {
  if (const fq::RunState* run = load(st, "bend", options_file)) evaluate(st, *run, kBendTrueModel, options_file);
}
BENCHMARK_CAPTURE(BendModelEvaluation, rms_beds_only, "gridsearch_beds_rms.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BendModelEvaluation, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BendModelEvaluation, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);
void BendModelEvaluationShape17(benchmark::State& st, const char* options_file) {
  if (const fq::RunState* run = load(st, "bend", options_file))
    evaluate(st, *run, fqbench::with_shape(kBendTrueModel, 1.7), options_file);
}
BENCHMARK_CAPTURE(BendModelEvaluationShape17, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BendModelEvaluationShape17, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);

// The straight ramp's run state made a bend run: two more fault
// parameters (segment 2's angle and the bend's y) before the growth slip.
void BendOnStraightData(benchmark::State& st, const char* options_file) {
  const fq::RunState* straight = load(st, "straight_ramp", options_file);
  if (!straight) return;
  fq::RunState run = *straight;
  run.options.faulttype = 3;
  run.fault.bend_at_tipy = 0;
  run.fault.tipy_can_be_below_bend = 1;
  run.parameters.nparams += 2;
  if (run.parameters.nparam_start_growth > 0) run.parameters.nparam_start_growth += 2;
  // Straight ramp truth (2000, -400, 500, 30, 30, 2, 1, growth 200); the
  // tip's path ends 500 m above y = -1500.
  const std::vector<double> model{2000, -400, 500, 30, 30, 2, 1, 30, -5000, 200};
  evaluate(st, run, model, options_file);
}
BENCHMARK_CAPTURE(BendOnStraightData, rms_beds_only, "gridsearch_beds_rms.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BendOnStraightData, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BendOnStraightData, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);

}  // namespace
