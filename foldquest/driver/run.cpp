#include "foldquest/driver/run.hpp"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "foldquest/driver/cli.hpp"
#include "foldquest/driver/progress_display.hpp"
#include "foldquest/driver/startup.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/input/user_input.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/report/diagnostics.hpp"

namespace fq {

std::optional<std::uint32_t> seed_from_environment() {
  const char* v = std::getenv("FOLDQUEST_SEED");
  if (v == nullptr || *v == '\0') return std::nullopt;
  return static_cast<std::uint32_t>(cli::parse_integer(v, "FOLDQUEST_SEED", 0, 4294967295LL));
}

namespace {

// --chains K: the results file the start-up opened (and emptied) gives way
// to K files NAME.1 ... NAME.K.
std::vector<std::unique_ptr<ff::Sink>> open_chain_results(Session& session, int chains) {
  session.results.close();
  std::remove(session.results_name.c_str());
  std::vector<std::unique_ptr<ff::Sink>> out;
  for (int k = 1; k <= chains; ++k) {
    auto sink = std::make_unique<ff::Sink>();
    const std::string name = chain_results_name(session.results_name, k);
    if (!sink->open(name))
      throw ff::InputError(ff::InputError::Kind::cannot_open, "cannot open results file '" + name + "' for writing");
    out.push_back(std::move(sink));
  }
  return out;
}

// The whole text of a temporary file.
std::string read_back(std::FILE* f) {
  std::string text;
  std::fflush(f);
  std::rewind(f);
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  return text;
}

}  // namespace

std::string chain_results_name(const std::string& results, int k) { return results + "." + std::to_string(k); }

std::int64_t run_chains(const RunState& state, const std::string& results_name,
                        std::span<const std::unique_ptr<ff::Sink>> results, bool& stopped) {
  stopped = false;
  const auto chains = static_cast<int>(results.size());
  const Method* method = find_method(state.options.method);
  if (method == nullptr || chains == 0) return 0;
  const long long fixed = chain::run_seed();
  const std::uint32_t seed = fixed >= 0 ? static_cast<std::uint32_t>(fixed) : clock_seed();
  std::fprintf(stderr, "foldquest: random seed %lu (chain k seeded from it and k)\n", static_cast<unsigned long>(seed));
  std::vector<std::uint32_t> seeds;
  for (int k = 1; k <= chains; ++k) {
    seeds.push_back(derived_seed(seed, static_cast<std::uint32_t>(k)));
    std::fprintf(stderr, "foldquest: chain %d: random seed %lu, results %s\n", k, static_cast<unsigned long>(seeds.back()),
                 chain_results_name(results_name, k).c_str());
  }
  std::fflush(stderr);

  // Each chain runs on one thread with its own generator and seed, its
  // console lines kept in a temporary file and printed after all chains,
  // chain by chain.
  std::vector<std::int64_t> counts(static_cast<std::size_t>(chains), 0);
  std::vector<std::string> texts(static_cast<std::size_t>(chains));
  std::vector<std::string> failures(static_cast<std::size_t>(chains));
  const int threads = std::min(chains, omp_get_max_threads());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1) default(none) \
    shared(state, method, results, seeds, counts, texts, failures, chains)
  for (int k = 0; k < chains; ++k) {
    const auto i = static_cast<std::size_t>(k);
    std::FILE* buffer = std::tmpfile();
    ff::Sink lines;
    if (buffer != nullptr) lines.attach(buffer);
    {
      const ff::ConsoleRedirect redirect(lines);
      UniformGenerator generator;
      const BindGenerator bind(generator);
      chain::set_thread_seed(seeds[i]);
      try {
        counts[i] = method->run(state, *results[i], choose_fault_model);
      } catch (const std::exception& e) {
        failures[i] = e.what();
      }
      chain::set_thread_seed(-1);
    }
    if (buffer != nullptr) {
      texts[i] = read_back(buffer);
      lines.close();
      std::fclose(buffer);
    }
  }

  std::int64_t total = 0;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    ff::say(ff::Line() << "Chain " + std::to_string(i + 1) + " (seed " + std::to_string(seeds[i]) + "):");
    const std::string& t = texts[i];
    std::size_t start = 0;
    while (start < t.size()) {
      std::size_t end = t.find('\n', start);
      if (end == std::string::npos) end = t.size();
      ff::console().put(std::string_view(t).substr(start, end - start));
      start = end + 1;
    }
    if (!failures[i].empty()) {
      ff::say(ff::Line() << "Error: chain " << static_cast<int>(i + 1) << " stopped: " << failures[i]);
      stopped = true;
    }
    total += counts[i];
  }
  for (std::size_t i = 0; i < failures.size(); ++i)
    if (!failures[i].empty()) {
      std::fprintf(stderr, "foldquest: error: chain %d stopped early: %s\n", static_cast<int>(i + 1),
                   failures[i].c_str());
    }
  return total;
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

  // From here on the run state is only read.
  const RunState& state = session.state;
  std::vector<std::unique_ptr<ff::Sink>> chain_results;
  if (control.chains > 0) {
    const int method = state.options.method;
    if (method != 4 && method != 5 && method != 6) {
      session.results.close();
      std::remove(session.results_name.c_str());  // made empty by the start-up
      ff::console().flush();
      std::fprintf(stderr,
                   "foldquest: --chains runs Markov chains (methods 4, 5 and 6); the options file chooses method %d\n",
                   method);
      return cli::kExitUsage;
    }
    try {
      chain_results = open_chain_results(session, control.chains);
    } catch (const ff::InputError& e) {
      ff::console().flush();
      std::fprintf(stderr, "foldquest: input error: %s\n", e.what());
      return cli::kExitUsage;
    }
  }

  // Whole seconds of a monotonic clock, truncated.
  const auto tstart = std::chrono::steady_clock::now();
  bool stopped = false;  // a chain ended by an exception
  std::int64_t nmodels = 0;
  {
    // The models the display counts to (the chains' steps added up; a sum
    // that would overflow is capped).
    const std::int64_t per_chain = std::max<std::int64_t>(state.parameters.nmodels, 0);
    const std::int64_t copies = std::max(1, control.chains);
    const std::int64_t total = per_chain > INT64_MAX / copies ? INT64_MAX : per_chain * copies;
    const ProgressDisplay display(total, control.progress);
    nmodels = control.chains > 0 ? run_chains(state, session.results_name, chain_results, stopped)
                                 : choose_method(state, session.results);
  }
  const auto tend = std::chrono::steady_clock::now();
  // Diagnostics the model runs held back: one count line per message.
  diag::finish();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(tend - tstart).count();

  ff::say(ff::Line() << "Ran " << static_cast<std::int64_t>(nmodels) << " models in " << static_cast<int>(seconds)
                     << " seconds.");
  session.results.close();
  // A results file that could not be written whole (a full disk) must not
  // pass for a complete run.
  bool lost = session.results.failed() || stopped;
  for (auto& r : chain_results) {
    r->close();
    lost = lost || r->failed();
  }
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
