// One inversion from start to end: the start-up questions, the method, the
// closing lines and the exit status.  The dialogue (foldquest with no
// arguments) and `foldquest run` both come through here.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "foldquest/state/run_state.hpp"
#include "freeformat/reader.hpp"
#include "freeformat/writer.hpp"

namespace fq {

// What the command line changes in a run; the defaults are the dialogue.
struct RunControl {
  // Answers the source question with this options file (`run`).
  std::optional<std::string> options_file;
  // Replaces the options file's results-file name (--results).
  std::optional<std::string> results;
  // Independent Markov chains run at once (--chains); 0 for one ordinary run.
  int chains = 0;
  // Waits for Enter after "Finished" (the dialogue's console window).
  bool wait_for_enter = true;
  // Shows the run's progress on standard error when it is a terminal.
  bool progress = false;
};

// Runs one inversion, reading the console answers from `console_in`.
// Returns the exit status: 0 when the run finished and every result was
// written, 1 when a results file lost lines, 2 for input that cannot be
// used (the message is printed on standard error).
int run_inversion(ff::Reader& console_in, const RunControl& control);

// The results file of chain k (1-based) of several: "RESULTS.k".
std::string chain_results_name(const std::string& results, int k);

// Runs len(results) independent chains of the run's Markov-chain method at
// once, chain k (0-based) writing results[k] with its own generator seeded
// derived_seed(run seed, k + 1); prints the seeds on standard error and
// each chain's console lines after all have ended.  Returns the models run
// by all chains; `stopped` tells whether a chain ended early (an exception,
// reported on standard error), so that its file is incomplete.
std::int64_t run_chains(const RunState& state, const std::string& results_name,
                        std::span<const std::unique_ptr<ff::Sink>> results, bool& stopped);

// The run's fixed seed from the environment variable FOLDQUEST_SEED, if it
// is set and not empty.  Throws cli::UsageError for a value that is not a
// whole number from 0 to 4294967295.
std::optional<std::uint32_t> seed_from_environment();

}  // namespace fq
