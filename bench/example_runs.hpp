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

#include "foldquest/driver/startup.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/input/session.hpp"
#include "freeformat/reader.hpp"
#include "freeformat/writer.hpp"

namespace fqbench {

namespace fs = std::filesystem;

// A copy of examples/<name>, made on first use and removed at exit.
class ExampleRuns {
 public:
  static ExampleRuns& get(const std::string& example) {
    static std::map<std::string, ExampleRuns> folders;
    auto it = folders.find(example);
    if (it == folders.end()) it = folders.try_emplace(example, example).first;
    return it->second;
  }

  explicit ExampleRuns(const std::string& example) {
    const fs::path src = fs::path(FOLDQUEST_SOURCE_DIR) / "examples" / example;
    std::string templ = (fs::temp_directory_path() / "fq_bench_XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("cannot make a temporary folder");
    dir_ = templ;
    for (const auto& e : fs::directory_iterator(src))
      if (e.is_regular_file()) fs::copy_file(e.path(), dir_ / e.path().filename());
  }
  ~ExampleRuns() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  ExampleRuns(const ExampleRuns&) = delete;
  ExampleRuns& operator=(const ExampleRuns&) = delete;

  // The run state of one options file, made once.  Throws ff::InputError on
  // a bad file.
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

 private:
  fs::path dir_;
  std::map<std::string, fq::RunState> states_;
};

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
