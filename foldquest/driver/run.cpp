#include "foldquest/driver/run.hpp"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

#include "foldquest/driver/cli.hpp"
#include "foldquest/driver/progress_display.hpp"
#include "foldquest/driver/startup.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/input/user_input.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/ranks.hpp"
#include "foldquest/report/diagnostics.hpp"

namespace fq {

std::optional<std::uint32_t> seed_from_environment() {
  const char* v = std::getenv("FOLDQUEST_SEED");
  if (v == nullptr || *v == '\0') return std::nullopt;
  return static_cast<std::uint32_t>(cli::parse_integer(v, "FOLDQUEST_SEED", 0, 4294967295LL));
}

namespace {

// The rank that runs chain k (0-based) of several: chains dealt out in turn.
int owner_of(int k) { return k % ranks::size(); }

// --chains K: the results file the start-up opened (and emptied) gives way
// to K files NAME.1 ... NAME.K; each rank opens those of its own chains
// (the others are null).
std::vector<std::unique_ptr<ff::Sink>> open_chain_results(Session& session, int chains) {
  session.results.close();
  std::remove(session.results_name.c_str());
  std::vector<std::unique_ptr<ff::Sink>> out;
  for (int k = 0; k < chains; ++k) {
    if (owner_of(k) != ranks::rank()) {
      out.push_back(nullptr);
      continue;
    }
    auto sink = std::make_unique<ff::Sink>();
    const std::string name = chain_results_name(session.results_name, k + 1);
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

// What a chain leaves for rank 0 to report.
struct ChainReport {
  int k = -1;  // 0-based
  std::int64_t count = 0;
  std::string failure, text;
};

// Reports as one text (to send between ranks) and back: per report the
// chain, the count and the two lengths on one line, then the two texts.
std::string pack(const std::vector<ChainReport>& reports) {
  std::string out;
  for (const auto& r : reports) {
    out += std::to_string(r.k) + " " + std::to_string(r.count) + " " + std::to_string(r.failure.size()) + " " +
           std::to_string(r.text.size()) + "\n" + r.failure + r.text;
  }
  return out;
}

std::vector<ChainReport> unpack(const std::string& packed) {
  std::vector<ChainReport> out;
  std::size_t at = 0;
  while (at < packed.size()) {
    const std::size_t eol = packed.find('\n', at);
    if (eol == std::string::npos) break;
    ChainReport r;
    std::size_t nfail = 0, ntext = 0;
    std::istringstream head(packed.substr(at, eol - at));
    head >> r.k >> r.count >> nfail >> ntext;
    at = eol + 1;
    if (!head || at + nfail + ntext > packed.size()) break;
    r.failure = packed.substr(at, nfail);
    r.text = packed.substr(at + nfail, ntext);
    at += nfail + ntext;
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace

std::string chain_results_name(const std::string& results, int k) { return results + "." + std::to_string(k); }

std::int64_t run_chains(const RunState& state, const std::string& results_name,
                        std::span<const std::unique_ptr<ff::Sink>> results, bool& stopped) {
  stopped = false;
  const auto chains = static_cast<int>(results.size());
  const Method* method = find_method(state.options.method);
  if (method == nullptr || chains == 0) return 0;
  const bool root = ranks::rank() == 0;
  // One run seed for every rank: rank 0's.
  const long long fixed = chain::run_seed();
  std::int64_t seed64 = fixed >= 0 ? fixed : static_cast<std::int64_t>(clock_seed());
  ranks::broadcast(std::span<std::int64_t>(&seed64, 1));
  const auto seed = static_cast<std::uint32_t>(seed64);
  std::vector<std::uint32_t> seeds;
  for (int k = 1; k <= chains; ++k) seeds.push_back(derived_seed(seed, static_cast<std::uint32_t>(k)));
  if (root) {
    std::fprintf(stderr, "foldquest: random seed %lu (chain k seeded from it and k)\n", static_cast<unsigned long>(seed));
    for (int k = 1; k <= chains; ++k) {
      std::fprintf(stderr, "foldquest: chain %d: random seed %lu, results %s\n", k,
                   static_cast<unsigned long>(seeds[static_cast<std::size_t>(k - 1)]),
                   chain_results_name(results_name, k).c_str());
    }
    std::fflush(stderr);
  }

  // Each chain of this rank runs on one thread with its own generator and
  // seed, its console lines kept in a temporary file; rank 0 prints them
  // after all chains, chain by chain.
  std::vector<int> mine;
  for (int k = 0; k < chains; ++k)
    if (results[static_cast<std::size_t>(k)] != nullptr) mine.push_back(k);
  const auto nmine = static_cast<int>(mine.size());
  std::vector<ChainReport> reports(mine.size());
  const int threads = std::max(1, std::min(nmine, omp_get_max_threads()));
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1) default(none) \
    shared(state, method, results, seeds, mine, reports, nmine)
  for (int j = 0; j < nmine; ++j) {
    ChainReport& report = reports[static_cast<std::size_t>(j)];
    report.k = mine[static_cast<std::size_t>(j)];
    const auto i = static_cast<std::size_t>(report.k);
    std::FILE* buffer = std::tmpfile();
    ff::Sink lines;
    if (buffer != nullptr) lines.attach(buffer);
    {
      const ff::ConsoleRedirect redirect(lines);
      UniformGenerator generator;
      const BindGenerator bind(generator);
      chain::set_thread_seed(seeds[i]);
      try {
        report.count = method->run(state, *results[i], choose_fault_model);
      } catch (const std::exception& e) {
        report.failure = e.what();
      }
      chain::set_thread_seed(-1);
    }
    if (buffer != nullptr) {
      report.text = read_back(buffer);
      lines.close();
      std::fclose(buffer);
    }
  }
  for (const auto& r : reports) stopped = stopped || !r.failure.empty();

  // Rank 0 gathers every rank's reports (its own when there is one rank).
  const std::vector<std::string> packed = ranks::gather_text(pack(reports));
  if (!root) return 0;
  std::vector<ChainReport> all(static_cast<std::size_t>(chains));
  for (const auto& text : packed)
    for (auto& r : unpack(text))
      if (r.k >= 0 && r.k < chains) all[static_cast<std::size_t>(r.k)] = std::move(r);

  std::int64_t total = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    ff::say(ff::Line() << "Chain " + std::to_string(i + 1) + " (seed " + std::to_string(seeds[i]) + "):");
    const std::string& t = all[i].text;
    std::size_t start = 0;
    while (start < t.size()) {
      std::size_t end = t.find('\n', start);
      if (end == std::string::npos) end = t.size();
      ff::console().put(std::string_view(t).substr(start, end - start));
      start = end + 1;
    }
    if (!all[i].failure.empty()) {
      ff::say(ff::Line() << "Error: chain " << static_cast<int>(i + 1) << " stopped: " << all[i].failure);
      std::fprintf(stderr, "foldquest: error: chain %d stopped early: %s\n", static_cast<int>(i + 1),
                   all[i].failure.c_str());
      stopped = true;
    }
    total += all[i].count;
  }
  return total;
}

int run_inversion(ff::Reader& console_in, const RunControl& control) {
  Session session(console_in);
  session.options_path = control.options_file;
  session.results_override = control.results;
  bool started = true;
  try {
    startup(session);
  } catch (const ff::InputError& e) {
    ff::console().flush();
    if (ranks::rank() == 0) std::fprintf(stderr, "foldquest: input error: %s\n", e.what());
    started = false;
  }
  // Every rank stops when one cannot start (the others would wait for it).
  if (!ranks::all_ok(started)) {
    if (started && ranks::rank() == 0) std::fprintf(stderr, "foldquest: another MPI rank could not start the run\n");
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
      if (ranks::rank() == 0)
        std::fprintf(stderr,
                     "foldquest: --chains runs Markov chains (methods 4, 5 and 6); the options file chooses method %d\n",
                     method);
      return cli::kExitUsage;
    }
    bool opened = true;
    try {
      chain_results = open_chain_results(session, control.chains);
    } catch (const ff::InputError& e) {
      ff::console().flush();
      std::fprintf(stderr, "foldquest: input error: %s\n", e.what());
      opened = false;
    }
    if (!ranks::all_ok(opened)) return cli::kExitUsage;
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
    // Under MPI, grid search and Monte Carlo share their models among the
    // ranks; a single chain is rank 0's alone.
    const bool shared_method = state.options.method >= 1 && state.options.method <= 3;
    if (control.chains > 0) nmodels = run_chains(state, session.results_name, chain_results, stopped);
    else if (ranks::rank() == 0 || shared_method) nmodels = choose_method(state, session.results);
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
    if (r == nullptr) continue;  // another rank's chain
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
