// The start-up session: the run state being filled, the input streams and
// the results file.  Used on the main thread only, before the method runs.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foldquest/state/run_state.hpp"
#include "freeformat/reader.hpp"
#include "freeformat/writer.hpp"

namespace fq {

struct Session {
  explicit Session(ff::Reader& standard_input) : console_in(standard_input) {}

  RunState state;
  ff::Reader& console_in;                      // standard input (the source question)
  std::unique_ptr<ff::Reader> options_file;    // open in file mode
  ff::Sink results;                            // the results file, opened by geterrsfile
  // Tools that only read a run's results (summary, model, plot) set this to
  // false: geterrsfile then takes the results file's name but neither
  // creates nor empties the file.
  bool open_results = true;

  // A parameter-file error that the dialogue may still make irrelevant: the
  // slip sense and increment of a first reading that a fit-type-5 second
  // reading will replace.
  std::optional<ff::InputError> pending_params_error;
  std::optional<std::string> pending_params_warning;  // unused lines, held back the same way
  int params_readings = 0;
  std::string params_file;  // name given at the last reading of the parameter file

  // Every file the run reads (the options file, the data files, the
  // parameter file at each reading, the proposal file), with what it is, so
  // that the results file can never replace one of them.
  struct InputFile {
    std::string what;  // "the bed file", ...
    std::string path;
  };
  std::vector<InputFile> inputs;

  // True in file mode: a refused answer cannot be given again.
  bool file_mode() const { return options_file != nullptr; }
  // Command line (`foldquest run`): the options file that answers the source
  // question, and a results-file name that replaces the options file's.
  std::optional<std::string> options_path;
  std::optional<std::string> results_override;
  std::string results_name;  // the results file opened by geterrsfile

  // The options stream: the options file in file mode, else standard input.
  ff::Reader& opts() { return options_file ? *options_file : console_in; }
};

}  // namespace fq
