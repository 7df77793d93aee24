// A run's set-up read from its options file by the tools (summary, model,
// plot): the same start-up as `foldquest` with the answer "(2) Read from
// file", so every question, data file and parameter file is read and
// checked as a run reads it, but nothing is printed and the results file is
// neither created nor emptied.  File names in the options file are taken
// from the current folder, as `foldquest` takes them.
#pragma once

#include <string>

#include "foldquest/state/run_state.hpp"

namespace fq {

struct LoadedRun {
  RunState state;
  std::string options_path;
  std::string results_name;  // the results file the options name
};

// Throws ff::InputError (naming the file and line) on anything a run would
// refuse, and when the options file cannot be opened.
LoadedRun load_run(const std::string& options_path);

}  // namespace fq
