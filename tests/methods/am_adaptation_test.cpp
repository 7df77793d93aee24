// Adaptive Metropolis's running mean and covariance: the adapted covariance
// is the chain's own (the initial state included), so it does not depend on
// where the origin of the coordinates lies, and a target far from the
// origin (map coordinates) is sampled as well as one at it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/methods.hpp"
#include "tests/support/capture.hpp"

namespace fs = std::filesystem;

namespace {

using fqtest::ConsoleCapture;
using fqtest::ResultsCapture;

class Seeded : public ::testing::Test {
 protected:
  void SetUp() override { fq::chain::set_test_seed(2024); }
  void TearDown() override { fq::chain::set_test_seed(-1); }
};

// The shift of every coordinate of the problem, set by each test.
double g_shift = 0;

// A correlated two-parameter Gaussian centred at (1, -2) + shift: standard
// deviations 2 and 1, correlation 0.8 (covariance [[4, 1.6], [1.6, 1]]).
void shifted_gaussian(const fq::RunState&, double& out, std::span<const double> p) {
  const double a = (p[0] - g_shift - 1) / 2, b = p[1] - g_shift + 2, r = 0.8;
  out = -(a * a - 2 * r * a * b + b * b) / (2 * (1 - r * r));
}

fq::RunState shifted_state(double shift, std::int64_t nmodels, int begin_adapt) {
  fq::RunState st;
  st.options.resulttype = 2;
  st.parameters.nparams = 2;
  st.parameters.mins = {shift - 20, shift - 20};
  st.parameters.maxs = {shift + 20, shift + 20};
  st.parameters.steps = {0.1, 0.1};
  st.parameters.nmodels = nmodels;
  st.method.init_mod_rand = 2;
  st.method.init_model = {shift + 3, shift - 1};
  st.method.begin_adapt = begin_adapt;
  return st;
}

struct AmRun {
  std::vector<std::vector<double>> rows;  // lnp, p1, p2 per iteration
  std::vector<std::string> console;
  std::vector<double> cov;  // the final covariance, row by row
  int errors = 0;           // "Error: ..." lines (factor not positive definite)
};

AmRun run_am(double shift, std::int64_t nmodels, int begin_adapt) {
  g_shift = shift;
  const fq::RunState st = shifted_state(shift, nmodels, begin_adapt);
  AmRun run;
  {
    ConsoleCapture console;
    ResultsCapture results;
    fq::am_with(st, results.sink, shifted_gaussian);
    run.rows = results.rows();
    run.console = console.lines();
  }
  for (std::size_t i = 0; i < run.console.size(); ++i) {
    if (run.console[i].find("Error:") != std::string::npos) ++run.errors;
    if (run.console[i] == " Final Covariance matrix:") {
      for (std::size_t r = 1; r <= 2 && i + r < run.console.size(); ++r) {
        std::istringstream in(run.console[i + r]);
        double v;
        while (in >> v) run.cov.push_back(v);
      }
    }
  }
  return run;
}

// The covariance of the chain's states, the initial state x0 included,
// normalised by the number of steps t: what the recursion adds up to.
std::vector<double> chain_covariance(const std::vector<double>& x0, const std::vector<std::vector<double>>& rows,
                                     double shift) {
  std::vector<std::vector<double>> xs{{x0[0] - shift, x0[1] - shift}};
  for (const auto& r : rows) xs.push_back({r[1] - shift, r[2] - shift});
  const double n = static_cast<double>(xs.size());
  double m0 = 0, m1 = 0;
  for (const auto& x : xs) {
    m0 += x[0];
    m1 += x[1];
  }
  m0 /= n;
  m1 /= n;
  double c00 = 0, c01 = 0, c11 = 0;
  for (const auto& x : xs) {
    c00 += (x[0] - m0) * (x[0] - m0);
    c01 += (x[0] - m0) * (x[1] - m1);
    c11 += (x[1] - m1) * (x[1] - m1);
  }
  const double t = n - 1;
  return {c00 / t, c01 / t, c01 / t, c11 / t};
}

// The same chain with every coordinate of the problem (bounds, initial
// model, target) moved by 1e5: the same draws give the same moves, and the
// adapted covariance must be the same.  With the mean taken over x1 ... xt
// only, the covariance picked up (x0 x0^T - m m^T)/t, of order 1e10 / t
// here, and its factor failed from the first adapted step.
TEST_F(Seeded, AdaptedCovarianceDoesNotDependOnTheOrigin) {
  const AmRun at_origin = run_am(0, 3000, 500);
  const AmRun far = run_am(1e5, 3000, 500);
  EXPECT_EQ(at_origin.errors, 0);
  EXPECT_EQ(far.errors, 0);
  ASSERT_EQ(at_origin.cov.size(), 4u);
  ASSERT_EQ(far.cov.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    // Printed in single precision.  The states differ by the rounding of
    // 1e5 + x (1e-11); written as t m' m'^T - (t + 1) m m^T + x x^T the
    // update cancelled terms of order t |m|^2 = 3e13 and its rounding left
    // about 1e-4; the fault's extra term was of order 1e3.
    EXPECT_NEAR(far.cov[i], at_origin.cov[i], 1e-6 * (1 + std::abs(at_origin.cov[i]))) << i;
  }
  // And it is sd times the covariance of the states visited, x0 included
  // (sd = 2.88 for two parameters; sd eps = 2.9e-9 is below the tolerance).
  const double sd = fq::chain::am_sd(2);
  const std::vector<double> x0{1e5 + 3, 1e5 - 1};
  const auto cv = chain_covariance(x0, far.rows, 1e5);
  for (std::size_t i = 0; i < 4; ++i) {
    // The single-precision weights (t - 1)/t shift the recursion from the
    // plain sum by a few 1e-8 per step.
    EXPECT_NEAR(far.cov[i], sd * cv[i], 1e-4 * (1 + std::abs(sd * cv[i]))) << i;
  }
}

// A target centred 1e5 from the origin is sampled with its mean and
// covariance, and the chain keeps moving after adaptation begins.
TEST_F(Seeded, TargetFarFromTheOriginIsSampled) {
  const double shift = 1e5;
  const AmRun run = run_am(shift, 100000, 2000);
  EXPECT_EQ(run.errors, 0);
  ASSERT_EQ(run.rows.size(), 100000u);
  const std::size_t skip = 5000;
  const double n = static_cast<double>(run.rows.size() - skip);
  double m0 = 0, m1 = 0;
  for (std::size_t i = skip; i < run.rows.size(); ++i) {
    m0 += run.rows[i][1] - shift;
    m1 += run.rows[i][2] - shift;
  }
  m0 /= n;
  m1 /= n;
  double v0 = 0, v1 = 0, c01 = 0;
  std::size_t moves = 0;
  for (std::size_t i = skip; i < run.rows.size(); ++i) {
    const double a = run.rows[i][1] - shift - m0, b = run.rows[i][2] - shift - m1;
    v0 += a * a;
    v1 += b * b;
    c01 += a * b;
    moves += run.rows[i][1] != run.rows[i - 1][1];
  }
  v0 /= n;
  v1 /= n;
  c01 /= n;
  // About 95000 states with autocorrelation times of tens of steps:
  // standard errors near 0.03 (means) and 0.07 (variance 4); tolerances are
  // about 5 of them.
  EXPECT_NEAR(m0, 1.0, 0.17);
  EXPECT_NEAR(m1, -2.0, 0.09);
  EXPECT_NEAR(v0, 4.0, 0.5);
  EXPECT_NEAR(v1, 1.0, 0.13);
  EXPECT_NEAR(c01, 1.6, 0.22);
  // An adapted proposal of scale 2.4 / sqrt(d) accepts about a quarter of
  // its moves in two dimensions; the frozen chain of the fault accepted
  // almost none.
  EXPECT_GT(static_cast<double>(moves) / n, 0.15);
}

// The straight-ramp example (tip x near 2000) under Adaptive Metropolis
// with adaptation from step 2000: the adapted covariance stays positive
// definite and the chain moves on.  With the mean over x1 ... xt, and also
// with the right mean but the update formed as a difference of terms of
// order t |m|^2, every adapted step printed "Error: Not positive definite"
// and the chain froze.
TEST(AdaptiveMetropolisOnTheExample, AdaptedChainKeepsMoving) {
  const fs::path src = fs::path(FOLDQUEST_SOURCE_DIR) / "examples" / "straight_ramp";
  const fs::path dir = fs::temp_directory_path() / "fq_am_straight_ramp";
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const auto& e : fs::directory_iterator(src))
    if (e.is_regular_file()) fs::copy_file(e.path(), dir / e.path().filename());
  std::ofstream(dir / "am.opt") << "3\n1 2 3\nbeds.txt\ndips.txt\nfaultpts.txt\n2\n1\nparams_mcmc.txt\n"
                                   "5\n4000\n2\n1900 -450 500 30 30 1.5 1 200\n2000\n"
                                   "1\n2\n1\n5.0\n2.0\n10.0\nam_results.txt\n";
  std::ofstream(dir / "am.in") << "2\nam.opt\n\n";
  const std::string cmd = "cd '" + dir.string() + "' && '" FOLDQUEST_EXE "' < am.in > am.out 2> am.err";
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << cmd;
  std::ifstream out(dir / "am.out");
  int not_pd = 0;
  for (std::string l; std::getline(out, l);) not_pd += l.find("Not positive definite") != std::string::npos;
  EXPECT_EQ(not_pd, 0);
  // Distinct states among the 2000 adapted steps: the frozen chain had one.
  std::ifstream res(dir / "am_results.txt");
  std::vector<std::string> records;
  for (std::string l; std::getline(res, l);) records.push_back(l);
  ASSERT_EQ(records.size(), 4000u);
  std::size_t moves = 0;
  for (std::size_t i = 2001; i < records.size(); ++i) moves += records[i] != records[i - 1];
  EXPECT_GT(moves, 20u);
  fs::remove_all(dir);
}

}  // namespace
