// Metropolis-Hastings and the chain conventions the Markov-chain methods share.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>

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

TEST(ChainRules, Acceptance) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(fq::chain::accept(1.0, 0.0, 0.999999));   // uphill: pacc > 1
  EXPECT_TRUE(fq::chain::accept(-1.0, 0.0, 0.36));      // exp(-1) = 0.3679 > 0.36
  EXPECT_FALSE(fq::chain::accept(-1.0, 0.0, 0.37));
  EXPECT_FALSE(fq::chain::accept(nan, 0.0, 0.0));       // a not-a-number objective is rejected
  EXPECT_FALSE(fq::chain::accept(nan, nan, 0.0));
  EXPECT_TRUE(fq::chain::accept(-5.0, nan, 0.999));     // a not-a-number state gives way
  EXPECT_TRUE(fq::chain::accept(-inf, -inf, 0.999));    // pacc NaN counts as 1
}

TEST(ChainRules, BoundsTest) {
  fq::Parameters p;
  p.mins = {0, 5, -1};
  p.maxs = {1, 5, 1};
  const std::vector<std::size_t> free = fq::chain::free_parameters(p);
  ASSERT_EQ(free, (std::vector<std::size_t>{0, 2}));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(fq::chain::out_of_bounds(std::vector<double>{0, 99, 1}, free, p));  // on the bounds: inside
  EXPECT_TRUE(fq::chain::out_of_bounds(std::vector<double>{1.0000001, 5, 0}, free, p));
  EXPECT_TRUE(fq::chain::out_of_bounds(std::vector<double>{0.5, 5, -1.5}, free, p));
  EXPECT_TRUE(fq::chain::out_of_bounds(std::vector<double>{nan, 5, 0}, free, p));
}

TEST(ChainRules, InitialModel) {
  auto st = chain_state({0, 2, 10}, {1, 2, 20}, {1, 1, 1}, 0);
  for (int i = 0; i < 100; ++i) {
    const auto p = fq::chain::initial_model(st);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_GE(p[0], 0);
    EXPECT_LT(p[0], 1);
    EXPECT_EQ(p[1], 2);  // a fixed parameter takes its bound
    EXPECT_GE(p[2], 10);
    EXPECT_LT(p[2], 20);
  }
  // A specified model is taken as given, fixed parameters included; one
  // shorter than the vector (restored-state parameters added later) is
  // completed within the bounds.
  st.method.init_mod_rand = 2;
  st.method.init_model = {0.25, 7};
  const auto p = fq::chain::initial_model(st);
  EXPECT_EQ(p[0], 0.25);
  EXPECT_EQ(p[1], 7);
  EXPECT_GE(p[2], 10);
  EXPECT_LT(p[2], 20);
}

void flat(const fq::RunState&, double& out, std::span<const double>) { out = -1.0; }

TEST(MetropolisHastings, AllFixedAcceptsEveryProposal) {
  auto st = chain_state({1, 2}, {1, 2}, {0.1, 0.1}, 1000);
  ConsoleCapture console;
  ResultsCapture results;
  EXPECT_EQ(fq::mcmc_with(st, results.sink, flat), 1000);
  const auto rows = results.rows();
  ASSERT_EQ(rows.size(), 1000u);
  for (const auto& r : rows) EXPECT_EQ(r, (std::vector<double>{-1.0, 1.0, 2.0}));
  const auto lines = console.lines();
  EXPECT_EQ(lines.front().substr(0, 16), " Initial Model: ");
  EXPECT_EQ(lines.back(), " Acceptance Ratio =    1.00000000    ");
}

std::atomic<int> g_outside{0};
// A unit Gaussian centred on 3, defined only inside [-2, 8].
void gaussian(const fq::RunState&, double& out, std::span<const double> p) {
  if (p[0] < -2 || p[0] > 8) ++g_outside;
  out = -0.5 * (p[0] - 3) * (p[0] - 3);
}

TEST(MetropolisHastings, SamplesAOneParameterGaussian) {
  g_outside = 0;
  auto st = chain_state({-2}, {8}, {1.5}, 200000);
  ConsoleCapture console;
  ResultsCapture results;
  fq::mcmc_with(st, results.sink, gaussian);
  const auto rows = results.rows();
  ASSERT_EQ(rows.size(), 200000u);
  double mean = 0, sq = 0;
  for (const auto& r : rows) {
    EXPECT_EQ(r[0], -0.5 * (r[1] - 3) * (r[1] - 3));  // each record carries its own objective
    mean += r[1];
  }
  mean /= static_cast<double>(rows.size());
  for (const auto& r : rows) sq += (r[1] - mean) * (r[1] - mean);
  const double sd = std::sqrt(sq / static_cast<double>(rows.size()));
  // About 50000 effective draws: standard errors 0.005 (mean) and 0.004 (sd);
  // the tolerances are more than 8 of them, so any seed passes.
  EXPECT_NEAR(mean, 3.0, 0.05);
  EXPECT_NEAR(sd, 1.0, 0.04);  // truncation at 5 sd is negligible
  EXPECT_EQ(g_outside.load(), 0);  // out-of-bounds proposals are never evaluated
  int progress = 0;
  for (const auto& l : console.lines()) progress += l.find("ran model ") != std::string::npos;
  EXPECT_EQ(progress, 20);
}

void nan_above_five(const fq::RunState&, double& out, std::span<const double> p) {
  out = p[0] > 5 ? std::numeric_limits<double>::quiet_NaN() : -0.5 * p[0] * p[0] / 25;
}

TEST(MetropolisHastings, NotANumberObjectivesAreRejected) {
  auto st = chain_state({0}, {10}, {2}, 5000);
  st.method.init_mod_rand = 2;
  st.method.init_model = {1};
  ConsoleCapture console;
  ResultsCapture results;
  fq::mcmc_with(st, results.sink, nan_above_five);
  for (const auto& r : results.rows()) {
    EXPECT_LE(r[1], 5);
    EXPECT_FALSE(std::isnan(r[0]));
  }
}

TEST(MetropolisHastings, Dialogue) {
  // Typed at the console, where the refused 3 is asked again.
  std::istringstream typed("500\n3\n2\n1.0, 2.0\n3.0\n");
  ff::Reader in("-", typed);
  fq::Session s(in);
  s.state.parameters.nparams = 3;
  ConsoleCapture console;
  fq::mcmc_options(s);
  EXPECT_EQ(s.state.parameters.nmodels, 500);
  EXPECT_EQ(s.state.method.init_mod_rand, 2);
  EXPECT_EQ(s.state.method.init_model, (std::vector<double>{1.0, 2.0, 3.0}));
  const auto lines = console.lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], " Invalid Command");
  EXPECT_EQ(lines[4], " Enter initial values for all            3   parameters: ");
}

}  // namespace
