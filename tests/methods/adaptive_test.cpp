// Adaptive Metropolis, Robust Adaptive Metropolis and Adaptive Parallel
// Tempering: one-step rules from a known state, and sampling of targets with
// known answers on a seeded generator.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <limits>

#include "foldquest/math/linalg.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/methods.hpp"
#include "tests/support/capture.hpp"

namespace {

using fqtest::ConsoleCapture;
using fqtest::ResultsCapture;

fq::RunState chain_state(std::vector<double> mins, std::vector<double> maxs, std::vector<double> steps,
                         std::int64_t nmodels) {
  fq::RunState st;
  st.options.resulttype = 2;
  st.parameters.nparams = static_cast<int>(mins.size());
  st.parameters.mins = std::move(mins);
  st.parameters.maxs = std::move(maxs);
  st.parameters.steps = std::move(steps);
  st.parameters.nmodels = nmodels;
  st.method.init_mod_rand = 1;
  return st;
}

// Seeds every run of a test with a fixed seed, and restores clock seeding.
class Seeded : public ::testing::Test {
 protected:
  void SetUp() override { fq::chain::set_test_seed(12345); }
  void TearDown() override { fq::chain::set_test_seed(-1); }
};

// The value of a line "<title> v1 v2 ..." as numbers.
std::vector<double> numbers_after(const std::string& line, const std::string& title) {
  std::istringstream in(line.substr(line.find(title) + title.size()));
  std::vector<double> v;
  std::string w;
  while (in >> w) v.push_back(std::stod(w));
  return v;
}

std::string line_starting(const std::vector<std::string>& lines, const std::string& start) {
  for (const auto& l : lines)
    if (l.rfind(" " + start, 0) == 0) return l;
  return "";
}

// A correlated two-parameter Gaussian: means (1, -2), sd (2, 1), correlation 0.8.
void gaussian2(const fq::RunState&, double& out, std::span<const double> p) {
  const double a = (p[0] - 1) / 2, b = p[1] + 2, r = 0.8;
  out = -(a * a - 2 * r * a * b + b * b) / (2 * (1 - r * r));
}

struct Moments {
  double m0 = 0, m1 = 0, v0 = 0, v1 = 0, c01 = 0;
};
Moments moments(const std::vector<std::vector<double>>& rows, std::size_t skip) {
  Moments m;
  const double n = static_cast<double>(rows.size() - skip);
  for (std::size_t i = skip; i < rows.size(); ++i) {
    m.m0 += rows[i][1];
    m.m1 += rows[i][2];
  }
  m.m0 /= n;
  m.m1 /= n;
  for (std::size_t i = skip; i < rows.size(); ++i) {
    const double a = rows[i][1] - m.m0, b = rows[i][2] - m.m1;
    m.v0 += a * a;
    m.v1 += b * b;
    m.c01 += a * b;
  }
  m.v0 /= n;
  m.v1 /= n;
  m.c01 /= n;
  return m;
}

// Target covariance [[4, 1.6], [1.6, 1]].  About 200000 states with
// autocorrelation times of tens of steps: standard errors near 0.02 (means)
// and 0.05 (variance 4); tolerances are about 5 of them.
void expect_target(const Moments& m) {
  EXPECT_NEAR(m.m0, 1.0, 0.12);
  EXPECT_NEAR(m.m1, -2.0, 0.06);
  EXPECT_NEAR(m.v0, 4.0, 0.35);
  EXPECT_NEAR(m.v1, 1.0, 0.09);
  EXPECT_NEAR(m.c01, 1.6, 0.15);
}

TEST_F(Seeded, AdaptiveMetropolisSamplesACorrelatedGaussian) {
  auto st = chain_state({-20, -20}, {20, 20}, {0.1, 0.1}, 200000);
  st.method.begin_adapt = 1000;
  ConsoleCapture console;
  ResultsCapture results;
  fq::am_with(st, results.sink, gaussian2);
  const auto rows = results.rows();
  ASSERT_EQ(rows.size(), 200000u);
  expect_target(moments(rows, 5000));
  // The final covariance is the chain's, scaled by sd = 2.88.
  const auto lines = console.lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 4], " Final Covariance matrix:");
  const auto row1 = numbers_after(lines[lines.size() - 3], "");
  ASSERT_EQ(row1.size(), 2u);
  EXPECT_NEAR(row1[0], 2.88 * 4, 2.88 * 0.4);
}

TEST_F(Seeded, AdaptiveMetropolisBeforeAdaptationIsMetropolisWithRootSteps) {
  // steps 0.25 as variances give the standard deviation 0.5 that plain
  // Metropolis-Hastings takes directly: the same draws, the same chain.
  auto am_st = chain_state({-20, -20}, {20, 20}, {0.25, 0.25}, 3000);
  am_st.method.begin_adapt = 3000;
  auto mh_st = chain_state({-20, -20}, {20, 20}, {0.5, 0.5}, 3000);
  ConsoleCapture console;
  ResultsCapture am_results, mh_results;
  fq::am_with(am_st, am_results.sink, gaussian2);
  fq::mcmc_with(mh_st, mh_results.sink, gaussian2);
  EXPECT_EQ(am_results.lines(), mh_results.lines());
}

double g_start = 0;
// 0 at the start point, far lower anywhere else: every proposal is rejected.
void only_start(const fq::RunState&, double& out, std::span<const double> p) {
  out = (p[0] == g_start && p[1] == g_start) ? 0.0 : -1e300;
}

TEST_F(Seeded, AdaptiveMetropolisAfterOneRejectedStep) {
  auto st = chain_state({-5, -5}, {5, 5}, {1, 1}, 1);
  st.method.init_mod_rand = 2;
  st.method.init_model = {0.5, 0.5};
  g_start = 0.5;
  st.method.begin_adapt = 10;
  ConsoleCapture console;
  ResultsCapture results;
  fq::am_with(st, results.sink, only_start);
  // The outer products cancel exactly: c = sd * eps * I.
  const float expect = static_cast<float>(fq::chain::am_sd(2) * static_cast<double>(1e-9f));
  const auto lines = console.lines();
  EXPECT_EQ(lines[lines.size() - 3], " " + ff::format_float(expect) + " " + ff::format_float(0.0f));
  EXPECT_EQ(lines[lines.size() - 2], " " + ff::format_float(0.0f) + " " + ff::format_float(expect));
  EXPECT_EQ(fq::chain::am_sd(1), 5.760000228881836);
  EXPECT_EQ(fq::chain::am_sd(3), 1.9200000762939453);
}

TEST(RobustAdaptiveStep, EtaAndRankOneUpdate) {
  for (std::int64_t n = 1; n <= 7; ++n) EXPECT_EQ(fq::chain::ram_eta(n, 4), 1.0) << n;
  EXPECT_LT(fq::chain::ram_eta(8, 4), 1.0);
  EXPECT_NEAR(fq::chain::ram_eta(1000, 4), 4 * std::pow(1000.0, -2.0 / 3), 1e-6);
  EXPECT_EQ(fq::chain::pdes, 0.23399999737739563);

  fq::SquareMatrix c0 = fq::SquareMatrix::from_row_major(std::vector<double>{4, 1, 1, 2});
  const fq::SquareMatrix s0 = fq::chol(c0);
  const std::vector<double> u = {0.3, -1.2};
  {  // alpha = pdes: the factor is unchanged (to rounding).
    fq::SquareMatrix c = c0, s = s0;
    fq::chain::ram_update(c, s, u, 0.7, fq::chain::pdes);
    for (std::size_t i = 0; i < 2; ++i)
      for (std::size_t j = 0; j < 2; ++j) EXPECT_NEAR(s(i, j), s0(i, j), 1e-15);
  }
  {  // Out of bounds (alpha 0) with eta 1: c loses 0.234 (s u^)(s u^)^T.
    fq::SquareMatrix c = c0, s = s0;
    fq::chain::ram_update(c, s, u, 1.0, 0.0);
    const double norm = std::sqrt(u[0] * u[0] + u[1] * u[1]);
    const double su0 = (s0(0, 0) * u[0]) / norm, su1 = (s0(1, 0) * u[0] + s0(1, 1) * u[1]) / norm;
    EXPECT_NEAR(c(0, 0), 4 - fq::chain::pdes * su0 * su0, 1e-14);
    EXPECT_NEAR(c(0, 1), 1 - fq::chain::pdes * su0 * su1, 1e-14);
    EXPECT_NEAR(c(1, 1), 2 - fq::chain::pdes * su1 * su1, 1e-14);
    EXPECT_EQ(c(0, 1), c(1, 0));
  }
}

TEST_F(Seeded, RobustAdaptiveMetropolisSamplesACorrelatedGaussian) {
  auto st = chain_state({-20, -20}, {20, 20}, {0.1, 0.1}, 200000);
  ConsoleCapture console;
  ResultsCapture results;
  fq::ram_with(st, results.sink, gaussian2);
  const auto rows = results.rows();
  ASSERT_EQ(rows.size(), 200000u);
  expect_target(moments(rows, 5000));
  // The acceptance rate is driven to 0.234.
  const auto ratio = numbers_after(line_starting(console.lines(), "Acceptance Ratio ="), "=");
  ASSERT_EQ(ratio.size(), 1u);
  EXPECT_NEAR(ratio[0], 0.234, 0.01);
  int progress = 0;
  for (const auto& l : console.lines()) progress += l.find("ran model ") != std::string::npos;
  EXPECT_EQ(progress, 200);  // every 1000 iterations
}

void flat(const fq::RunState&, double& out, std::span<const double>) { out = 0; }

TEST_F(Seeded, RobustAdaptiveMetropolisEndsOnANotANumberFactor) {
  // Every move is accepted and widens the proposal until the covariance
  // overflows and its factor becomes not a number.
  auto st = chain_state({-1e300, -1e300}, {1e300, 1e300}, {1e300, 1e300}, 1000);
  ConsoleCapture console;
  ResultsCapture results;
  fq::ram_with(st, results.sink, flat);
  const auto lines = console.lines();
  const std::string stop = line_starting(lines, "Error: S is NaN at model ");
  ASSERT_FALSE(stop.empty());
  const auto at = numbers_after(stop, "model ");
  ASSERT_EQ(at.size(), 1u);
  // No record for the iteration that ended the chain; the ratio is over all 1000.
  EXPECT_EQ(results.lines().size(), static_cast<std::size_t>(at[0]) - 1);
  const auto ratio = numbers_after(line_starting(lines, "Acceptance Ratio ="), "=");
  // Almost every move was accepted: over the records the ratio would be near
  // 1, over the 1000 requested it is near at / 1000.
  const double accepted = ratio[0] * 1000;
  EXPECT_NEAR(accepted, std::round(accepted), 1e-3);
  EXPECT_LE(accepted, at[0]);
  EXPECT_GT(accepted, 0.9 * at[0]);
}

TEST_F(Seeded, TemperingLadderAndExchanges) {
  auto st = chain_state({-1, -1}, {1, 1}, {0.1, 0.1}, 300);
  st.method.nlevels = 3;
  ConsoleCapture console;
  ResultsCapture results;
  fq::apt_with(st, results.sink, flat);
  EXPECT_EQ(results.lines().size(), 300u);
  const auto lines = console.lines();
  const auto beta = numbers_after(line_starting(lines, "Initial beta values:"), ":");
  EXPECT_EQ(beta, (std::vector<double>{1, 0.2689414213699951, 0.15536240349696362}));
  // Equal objectives: every exchange is accepted.
  const auto swaps = numbers_after(line_starting(lines, "Acceptance ratio for swaps ="), "=");
  EXPECT_EQ(swaps, (std::vector<double>{1.0}));
  for (int l = 1; l <= 3; ++l) EXPECT_FALSE(line_starting(lines, "Acceptance Ratio for level").empty());
  EXPECT_EQ(line_starting(lines, "Final Covariance matrix for level 1:"),
            " Final Covariance matrix for level 1:");
}

// Two narrow modes at -5 and +5 with a deep valley between them.
void two_modes(const fq::RunState&, double& out, std::span<const double> p) {
  const double a = (p[0] + 5) / 0.5, b = (p[0] - 5) / 0.5;
  out = std::log(std::exp(-0.5 * a * a) + std::exp(-0.5 * b * b) + 1e-300) + -0.5 * p[1] * p[1];
}

TEST_F(Seeded, TemperingVisitsBothModesWhereOneChainDoesNot) {
  auto st = chain_state({-10, -3}, {10, 3}, {0.05, 0.05}, 20000);
  st.method.init_mod_rand = 2;
  st.method.init_model = {-5, 0};
  st.method.nlevels = 6;
  ConsoleCapture console;
  ResultsCapture tempered, single;
  fq::apt_with(st, tempered.sink, two_modes);
  auto mh = st;
  mh.parameters.steps = {0.5, 0.5};
  fq::mcmc_with(mh, single.sink, two_modes);
  auto fraction_right = [](const std::vector<std::vector<double>>& rows) {
    double right = 0;
    for (const auto& r : rows) right += r[1] > 0;
    return right / static_cast<double>(rows.size());
  };
  // The cold chain spends about half its time in each mode.
  EXPECT_NEAR(fraction_right(tempered.rows()), 0.5, 0.2);
  // A single chain started in the left mode stays there (the valley is 50
  // log units deep).
  EXPECT_EQ(fraction_right(single.rows()), 0.0);
}

TEST_F(Seeded, TemperingWithOneThreadIsReproducible) {
  auto st = chain_state({-10, -3}, {10, 3}, {0.05, 0.05}, 2000);
  st.method.nlevels = 4;
  const int saved = omp_get_max_threads();
  omp_set_num_threads(1);
  ConsoleCapture console;
  ResultsCapture a, b;
  fq::apt_with(st, a.sink, two_modes);
  fq::apt_with(st, b.sink, two_modes);
  omp_set_num_threads(saved);
  EXPECT_EQ(a.lines(), b.lines());
}

TEST_F(Seeded, TemperingWithSeveralThreads) {
  // Run under ThreadSanitizer in CI: levels move in parallel.
  auto st = chain_state({-10, -3}, {10, 3}, {0.05, 0.05}, 500);
  st.method.nlevels = 5;
  const int saved = omp_get_max_threads();
  omp_set_num_threads(3);
  ConsoleCapture console;
  ResultsCapture results;
  fq::apt_with(st, results.sink, two_modes);
  omp_set_num_threads(saved);
  EXPECT_EQ(results.lines().size(), 500u);
}

TEST(AdaptiveDialogues, LevelsAndAdaptationStart) {
  // Refused level counts are asked again at the console.
  std::istringstream typed("100\n1\n1\n0\n4\n");
  ff::Reader in("-", typed);
  fq::Session s(in);
  s.state.parameters.nparams = 2;
  ConsoleCapture console;
  fq::apt_options(s);
  EXPECT_EQ(s.state.method.nlevels, 4);
  int errors = 0;
  for (const auto& l : console.lines()) errors += l == " Error: Must have 2 or more levels for APT algorithm.";
  EXPECT_EQ(errors, 2);
  // An options file cannot answer again.
  s.options_file = ff::Reader::from_string("opts", "100\n1\n1\n4\n");
  EXPECT_THROW(fq::apt_options(s), ff::InputError);
  s.options_file = ff::Reader::from_string("opts", "100\n1\n250\n");
  fq::am_options(s);
  EXPECT_EQ(s.state.method.begin_adapt, 250);
}

}  // namespace
