// foldquest: one inversion from start to end.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <new>

#include "foldquest/driver/interrupt.hpp"
#include "foldquest/driver/startup.hpp"
#include "foldquest/input/choose.hpp"
#include "foldquest/input/user_input.hpp"
#include "foldquest/report/diagnostics.hpp"

namespace {
// An allocation that failed (a run too large for the machine) ends the run
// with a message instead of an abort.
int out_of_memory() {
  ff::console().flush();
  std::fprintf(stderr, "foldquest: error: out of memory; the run needs more memory than this machine has\n");
  return 1;
}
}  // namespace

int main() {
  ff::Reader standard_input("-", std::cin);
  fq::Session session(standard_input);
  try {
    fq::startup(session);
  } catch (const ff::InputError& e) {
    ff::console().flush();
    std::fprintf(stderr, "foldquest: input error: %s\n", e.what());
    return 2;
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
  fq::watch_interrupts(session.results, session.results_name);

  // Whole seconds of a monotonic clock, truncated.
  const auto tstart = std::chrono::steady_clock::now();
  // From here on the run state is only read.
  const fq::RunState& state = session.state;
  std::int64_t nmodels = 0;
  try {
    nmodels = fq::choose_method(state, session.results);
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
  const auto tend = std::chrono::steady_clock::now();
  // Diagnostics the model runs held back: one count line per message.
  fq::diag::finish();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(tend - tstart).count();

  ff::say(ff::Line() << "Ran " << static_cast<std::int64_t>(nmodels) << " models in "
                     << static_cast<int>(seconds) << " seconds.");
  session.results.close();
  // A results file that could not be written whole (a full disk) must not
  // pass for a complete run.
  const bool lost = session.results.failed();
  if (lost) fq::say("Error: the results file could not be written completely.");
  fq::say("Finished");

  // Keep a console window open until Enter; a closed standard input is fine
  // here, the run is complete.
  try {
    standard_input.read_nothing("the final Enter");
  } catch (const ff::InputError&) {
  }
  if (lost) {
    std::fprintf(stderr, "foldquest: error: writing the results file failed; its contents are incomplete\n");
    return 1;
  }
  return 0;
}
