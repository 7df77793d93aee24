#include "foldquest/driver/run.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "foldquest/driver/cli.hpp"
#include "foldquest/driver/startup.hpp"
#include "foldquest/input/choose.hpp"
#include "foldquest/input/user_input.hpp"
#include "foldquest/report/diagnostics.hpp"

namespace fq {

std::optional<std::uint32_t> seed_from_environment() {
  const char* v = std::getenv("FOLDQUEST_SEED");
  if (v == nullptr || *v == '\0') return std::nullopt;
  return static_cast<std::uint32_t>(cli::parse_integer(v, "FOLDQUEST_SEED", 0, 4294967295LL));
}

int run_inversion(ff::Reader& console_in, const RunControl& control) {
  Session session(console_in);
  session.options_path = control.options_file;
  session.results_override = control.results;
  try {
    startup(session);
  } catch (const ff::InputError& e) {
    ff::console().flush();
    std::fprintf(stderr, "foldquest: input error: %s\n", e.what());
    return cli::kExitUsage;
  }

  // Whole seconds of a monotonic clock, truncated.
  const auto tstart = std::chrono::steady_clock::now();
  // From here on the run state is only read.
  const RunState& state = session.state;
  const std::int64_t nmodels = choose_method(state, session.results);
  const auto tend = std::chrono::steady_clock::now();
  // Diagnostics the model runs held back: one count line per message.
  diag::finish();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(tend - tstart).count();

  ff::say(ff::Line() << "Ran " << static_cast<std::int64_t>(nmodels) << " models in " << static_cast<int>(seconds)
                     << " seconds.");
  session.results.close();
  // A results file that could not be written whole (a full disk) must not
  // pass for a complete run.
  const bool lost = session.results.failed();
  if (lost) say("Error: the results file could not be written completely.");
  say("Finished");

  if (control.wait_for_enter) {
    // Keep a console window open until Enter; a closed standard input is
    // fine here, the run is complete.
    try {
      console_in.read_nothing("the final Enter");
    } catch (const ff::InputError&) {
    }
  }
  if (lost) {
    std::fprintf(stderr, "foldquest: error: writing the results file failed; its contents are incomplete\n");
    return cli::kExitFailure;
  }
  return cli::kExitOk;
}

}  // namespace fq
