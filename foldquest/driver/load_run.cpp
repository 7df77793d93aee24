#include "foldquest/driver/load_run.hpp"

#include <cstdio>
#include <memory>

#include "foldquest/driver/startup.hpp"
#include "foldquest/input/session.hpp"
#include "foldquest/input/user_input.hpp"
#include "freeformat/reader.hpp"
#include "freeformat/writer.hpp"

namespace fq {

namespace {

// The console sent to a scratch file while the start-up talks, and back to
// standard output afterwards (also when the start-up throws).
class QuietConsole {
 public:
  QuietConsole() : f_(std::tmpfile()) {
    if (f_) ff::console().attach(f_);
  }
  ~QuietConsole() {
    if (f_) {
      ff::console().attach(stdout);
      std::fclose(f_);
    }
  }
  QuietConsole(const QuietConsole&) = delete;
  QuietConsole& operator=(const QuietConsole&) = delete;

 private:
  std::FILE* f_;
};

}  // namespace

LoadedRun load_run(const std::string& options_path) {
  // The start-up asks for an existing file again and again; a missing one
  // is an error here, before the dialogue starts.
  if (!file_exists(options_path))
    throw ff::InputError(ff::InputError::Kind::cannot_open, "cannot open the options file '" + options_path + "'");
  // The source answer and the file name, as a user types them, the name in
  // quotes so that the free-format reader keeps slashes and blanks.
  const char quote = options_path.find('"') == std::string::npos ? '"' : '\'';
  if (options_path.find(quote) != std::string::npos)
    throw ff::InputError(ff::InputError::Kind::bad_value,
                         "the options file name '" + options_path + "' holds both kinds of quote");
  auto answers = ff::Reader::from_string("command line", "2\n" + std::string(1, quote) + options_path +
                                                             std::string(1, quote) + "\n");
  Session session(*answers);
  session.open_results = false;
  {
    QuietConsole quiet;
    startup(session);
  }
  LoadedRun run;
  run.state = std::move(session.state);
  run.options_path = options_path;
  run.results_name = session.results_name;
  return run;
}

}  // namespace fq
