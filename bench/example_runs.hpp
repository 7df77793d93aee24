// Run states of the shipped examples for the benchmarks, made by the real
// start-up exactly as a user's run: fq::startup answers "2" (read from
// file) and the options file name over an in-memory standard input, inside
// a copy of the example folder (options files name their data files without
// a folder).  foldquest's console lines go to a temporary file; the
// benchmark's own report goes to standard output.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/example_states.hpp"
#include "foldquest/driver/startup.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/input/session.hpp"
#include "freeformat/reader.hpp"
#include "freeformat/writer.hpp"

namespace fqbench {

namespace fs = std::filesystem;

using ExampleRuns = fqtest::ExampleStates;

// The run state of an example's options file, or nullptr with the
// benchmark skipped and the reason given.
inline const fq::RunState* load(benchmark::State& st, const std::string& example, const std::string& options_file) {
  try {
    return &ExampleRuns::get(example).state(options_file);
  } catch (const std::exception& e) {
    st.SkipWithError(("start-up on " + example + "/" + options_file + " failed: " + e.what()).c_str());
    return nullptr;
  }
}

// Repeated evaluations of one model: models/s.
inline void evaluate(benchmark::State& st, const fq::RunState& run, const std::vector<double>& model,
                     const std::string& label) {
  double score = 0;
  for (auto _ : st) {
    fq::choose_fault_model(run, score, model);
    benchmark::DoNotOptimize(score);
  }
  st.counters["models/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
  st.SetLabel(label + ", score " + std::to_string(score));
}

// The model with another shape exponent s (parameter 7 of every trishear
// model): s = 1.7 takes a general power at every zone step, the case the
// Markov chains meet when they vary s.
inline std::vector<double> with_shape(std::vector<double> model, double s) {
  model.at(6) = s;
  return model;
}

// A results sink over a temporary file, emptied by the system at close.
struct ScratchResults {
  ScratchResults() : f(std::tmpfile()) {
    if (f) sink.attach(f);
  }
  ~ScratchResults() {
    sink.close();
    if (f) std::fclose(f);
  }
  ScratchResults(const ScratchResults&) = delete;
  ScratchResults& operator=(const ScratchResults&) = delete;
  std::FILE* f;
  ff::Sink sink;
};

}  // namespace fqbench
