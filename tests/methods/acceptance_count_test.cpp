// Acceptance counters of the Markov-chain methods past 2^24 accepted moves:
// a single-precision count stops growing at 16777216 (adding 1 rounds back
// to it), so a long chain reported a ratio below the true one.
#include <gtest/gtest.h>
#include <omp.h>

#include <string>
#include <vector>

#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/methods.hpp"
#include "tests/support/capture.hpp"

namespace {

using fqtest::ConsoleCapture;

// 2^24 + 8 iterations: every move accepted gives the ratio 1 exactly; a
// count stuck at 2^24 gives 0.99999952.
constexpr std::int64_t kPastSinglePrecision = (std::int64_t{1} << 24) + 8;

// No parameter to move: each proposal is the current state, evaluated and
// accepted (pacc = 1 exceeds every uniform draw).  (No parameter at all
// keeps each of the 2^24 records to one number.)
fq::RunState all_fixed(std::int64_t nmodels) {
  fq::RunState st;
  st.options.resulttype = 2;
  st.parameters.nparams = 0;
  st.parameters.nmodels = nmodels;
  st.method.init_mod_rand = 1;
  st.method.begin_adapt = 10;
  st.method.nlevels = 2;
  return st;
}

void flat(const fq::RunState&, double& out, std::span<const double>) { out = 0; }

std::vector<std::string> lines_starting(const std::vector<std::string>& lines, const std::string& start) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (l.rfind(" " + start, 0) == 0) out.push_back(l);
  return out;
}

// The ratio 1 as it follows a text: a separator blank, then the field.
const std::string kOne = " " + ff::format_float(1.0f);

TEST(AcceptanceCounts, RatioPastSinglePrecisionCounts) {
  EXPECT_EQ(fq::chain::acceptance_ratio(kPastSinglePrecision, kPastSinglePrecision), 1.0f);
  EXPECT_EQ(fq::chain::acceptance_ratio(20000000, 40000000), 0.5f);
  // Below 2^24 the ratio is the single-precision quotient it always was.
  EXPECT_EQ(fq::chain::acceptance_ratio(1234567, 9999991), 1234567.0f / 9999991.0f);
  EXPECT_EQ(fq::chain::acceptance_ratio(1, 3), 1.0f / 3.0f);
}

// Each method runs 2^24 + 8 iterations of a chain with nothing to move (the
// results are discarded) and must report every move accepted.
using Method = std::int64_t (*)(const fq::RunState&, ff::Sink&, fq::Evaluate);
//
// 2^24 iterations take seconds per method in an optimised build and many
// times that under the sanitizers, whose checks the shorter chain tests
// give the same code paths: there the runs are skipped.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

std::vector<std::string> run_past_single_precision(Method method) {
  const fq::RunState st = all_fixed(kPastSinglePrecision);
  ConsoleCapture console;
  ff::Sink discard;  // no file: lines are dropped
  method(st, discard, flat);
  return console.lines();
}

TEST(AcceptanceCounts, MetropolisHastingsCountsPast16777216) {
  if (kSanitized) GTEST_SKIP() << "2^24 iterations: run in the optimised build";
  const auto ratios = lines_starting(run_past_single_precision(fq::mcmc_with), "Acceptance Ratio = ");
  EXPECT_EQ(ratios, (std::vector<std::string>{" Acceptance Ratio = " + kOne}));
}

TEST(AcceptanceCounts, AdaptiveMetropolisCountsPast16777216) {
  if (kSanitized) GTEST_SKIP() << "2^24 iterations: run in the optimised build";
  const auto ratios = lines_starting(run_past_single_precision(fq::am_with), "Acceptance Ratio = ");
  EXPECT_EQ(ratios, (std::vector<std::string>{" Acceptance Ratio = " + kOne}));
}

TEST(AcceptanceCounts, RobustAdaptiveMetropolisCountsPast16777216) {
  if (kSanitized) GTEST_SKIP() << "2^24 iterations: run in the optimised build";
  const auto ratios = lines_starting(run_past_single_precision(fq::ram_with), "Acceptance Ratio = ");
  EXPECT_EQ(ratios, (std::vector<std::string>{" Acceptance Ratio = " + kOne}));
}

TEST(AcceptanceCounts, ParallelTemperingCountsPast16777216) {
  if (kSanitized) GTEST_SKIP() << "2^24 iterations: run in the optimised build";
  // One thread: the sweep's region then costs least.
  const int saved = omp_get_max_threads();
  omp_set_num_threads(1);
  const auto lines = run_past_single_precision(fq::apt_with);
  omp_set_num_threads(saved);
  const auto levels = lines_starting(lines, "Acceptance Ratio for level ");
  ASSERT_EQ(levels.size(), 2u);
  for (const auto& l : levels) EXPECT_EQ(l.substr(l.find(" =")), " = " + kOne);
  // Equal objectives on both levels: every exchange is accepted too.
  EXPECT_EQ(lines_starting(lines, "Acceptance ratio for swaps = "),
            (std::vector<std::string>{" Acceptance ratio for swaps = " + kOne}));
}

}  // namespace
