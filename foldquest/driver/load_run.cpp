#include "foldquest/driver/load_run.hpp"

#include <cstdio>
#include <memory>

#include "foldquest/driver/startup.hpp"
#include "foldquest/input/session.hpp"
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
  // Nothing is read from the console: the options file answers the source
  // question, and a question it does not answer is an input error.
  auto answers = ff::Reader::from_string("standard input", "");
  Session session(*answers);
  session.options_path = options_path;
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
