// Benchmarks on the listric example (examples/listric), beside the other
// fault types' ModelEvaluation cases:
//
//   ListricModelEvaluation/*   one listric model run of the true model:
//                              models/s for the beds alone under RMS error
//                              (gridsearch_beds_rms.opt), for beds, dips and
//                              fault points under probability
//                              (gridsearch.opt), and the same with error
//                              propagation (mcmc.opt)
//
// The run states come from the real start-up on the example's options
// files, read in a copy of the example folder (see example_runs.hpp).
#include <vector>

#include "bench/example_runs.hpp"
#include "foldquest/state/run_state.hpp"

namespace {

using fqbench::evaluate;
using fqbench::load;

// The model the example's data were made with: see examples/listric/README.md.
const std::vector<double> kListricTrueModel{2200, -1450, 400, 40, 30, 1.5, 1, 1500, -2000, 150};

void ListricModelEvaluation(benchmark::State& st, const char* options_file) {
  if (const fq::RunState* run = load(st, "listric", options_file))
    evaluate(st, *run, kListricTrueModel, options_file);
}
BENCHMARK_CAPTURE(ListricModelEvaluation, rms_beds_only, "gridsearch_beds_rms.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ListricModelEvaluation, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ListricModelEvaluation, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);
void ListricModelEvaluationShape17(benchmark::State& st, const char* options_file) {
  if (const fq::RunState* run = load(st, "listric", options_file))
    evaluate(st, *run, fqbench::with_shape(kListricTrueModel, 1.7), options_file);
}
BENCHMARK_CAPTURE(ListricModelEvaluationShape17, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ListricModelEvaluationShape17, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);

}  // namespace
