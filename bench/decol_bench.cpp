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
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "foldquest/driver/startup.hpp"
#include "foldquest/input/choose.hpp"
#include "foldquest/input/session.hpp"
#include "freeformat/reader.hpp"
#include "freeformat/writer.hpp"

namespace fs = std::filesystem;

namespace {

// The model the example's data were made with: see examples/decol/README.md.
const std::vector<double> kDecolTrueModel{2500, -400, 500, 30, 30, 2, 1, -1400, 200};

class DecolExampleFolder {
 public:
  static DecolExampleFolder& get(const std::string& example) {
    static std::map<std::string, DecolExampleFolder> folders;
    auto it = folders.find(example);
    if (it == folders.end()) it = folders.try_emplace(example, example).first;
    return it->second;
  }
  explicit DecolExampleFolder(const std::string& example) {
    const fs::path src = fs::path(FOLDQUEST_SOURCE_DIR) / "examples" / example;
    std::string templ = (fs::temp_directory_path() / "fq_decol_bench_XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("cannot make a temporary folder");
    dir_ = templ;
    for (const auto& e : fs::directory_iterator(src))
      if (e.is_regular_file()) fs::copy_file(e.path(), dir_ / e.path().filename());
  }
  ~DecolExampleFolder() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  const fq::RunState& state(const std::string& options_file) {
    auto it = states_.find(options_file);
    if (it != states_.end()) return it->second;
    // The console goes to a file that stays open to the end of the process.
    static std::FILE* console_file = std::tmpfile();
    if (console_file) ff::console().attach(console_file);
    const fs::path back = fs::current_path();
    fs::current_path(dir_);
    try {
      auto standard_input = ff::Reader::from_string("-", "2\n" + options_file + "\n");
      fq::Session session(*standard_input);
      fq::startup(session);
      session.results.close();
      fs::current_path(back);
      return states_.emplace(options_file, std::move(session.state)).first->second;
    } catch (...) {
      fs::current_path(back);
      throw;
    }
  }

  DecolExampleFolder(const DecolExampleFolder&) = delete;
  DecolExampleFolder& operator=(const DecolExampleFolder&) = delete;

 private:
  fs::path dir_;
  std::map<std::string, fq::RunState> states_;
};

void evaluate(benchmark::State& st, const fq::RunState& run, const std::vector<double>& model, const char* label) {
  double score = 0;
  for (auto _ : st) {
    fq::choose_fault_model(run, score, model);
    benchmark::DoNotOptimize(score);
  }
  st.counters["models/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
  st.SetLabel(std::string(label) + ", score " + std::to_string(score));
}

const fq::RunState* load(benchmark::State& st, const std::string& example, const char* options_file) {
  try {
    return &DecolExampleFolder::get(example).state(options_file);
  } catch (const std::exception& e) {
    st.SkipWithError((std::string("start-up on ") + options_file + " failed: " + e.what()).c_str());
    return nullptr;
  }
}

void DecolModelEvaluation(benchmark::State& st, const char* options_file) {
  if (const fq::RunState* run = load(st, "decol", options_file)) evaluate(st, *run, kDecolTrueModel, options_file);
}
BENCHMARK_CAPTURE(DecolModelEvaluation, rms_beds_only, "gridsearch_beds_rms.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecolModelEvaluation, probability, "gridsearch.opt")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DecolModelEvaluation, probability_propagated, "mcmc.opt")->Unit(benchmark::kMicrosecond);

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
