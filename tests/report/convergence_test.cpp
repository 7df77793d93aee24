// Convergence diagnostics against known answers: hand-computed values,
// independent draws (ESS = number of draws), AR(1) chains whose ESS is known
// in closed form, and chains that disagree in location or in scale.
#include "foldquest/report/convergence.hpp"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "tests/support/expect_close.hpp"

namespace {

using fq::conv::Chains;
using fqtest::Tol;

// m chains of n draws of x_t = phi x_{t-1} + sqrt(1 - phi^2) e_t, started
// from the stationary N(0, 1), then sd * x + mean.  Its integrated
// autocorrelation time is (1 + phi) / (1 - phi), so the ESS of m n draws is
// m n (1 - phi) / (1 + phi).
Chains ar1(std::size_t m, std::size_t n, double phi, unsigned seed, double mean = 0, double sd = 1) {
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> e(0.0, 1.0);
  Chains c(m, std::vector<double>(n));
  const double k = std::sqrt(1 - phi * phi);
  for (auto& chain : c) {
    double x = e(gen);
    for (double& v : chain) {
      v = sd * x + mean;
      x = phi * x + k * e(gen);
    }
  }
  return c;
}

TEST(Convergence, QuantilesInterpolateBetweenOrderStatistics) {
  const std::vector<double> v{4, 1, 3, 2};
  EXPECT_CLOSE(fq::conv::quantile(v, 0.5), 2.5, Tol::ulps(2));
  EXPECT_CLOSE(fq::conv::quantile(v, 0.05), 1.15, Tol::ulps(4));
  EXPECT_CLOSE(fq::conv::quantile(v, 0.95), 3.85, Tol::ulps(4));
  EXPECT_CLOSE(fq::conv::quantile(v, 0), 1.0, Tol::exact());
  EXPECT_CLOSE(fq::conv::quantile(v, 1), 4.0, Tol::exact());
  EXPECT_TRUE(std::isnan(fq::conv::quantile({}, 0.5)));
}

TEST(Convergence, NormalQuantileKnownValues) {
  // Values of Phi^-1 to 16 digits (tables of the normal distribution).
  EXPECT_CLOSE(fq::conv::normal_quantile(0.5), 0.0, Tol::abs(1e-15, "z", "rounding"));
  EXPECT_CLOSE(fq::conv::normal_quantile(0.975), 1.959963984540054, Tol::rel(1e-14, "z", "two Halley steps"));
  EXPECT_CLOSE(fq::conv::normal_quantile(0.025), -1.959963984540054, Tol::rel(1e-14, "z", "two Halley steps"));
  EXPECT_CLOSE(fq::conv::normal_quantile(0.8413447460685429), 1.0, Tol::rel(1e-14, "z", "two Halley steps"));
  EXPECT_CLOSE(fq::conv::normal_quantile(1e-10), -6.361340902404056, Tol::rel(1e-13, "z", "far tail"));
  EXPECT_TRUE(std::isnan(fq::conv::normal_quantile(std::nan(""))));
  EXPECT_TRUE(std::isinf(fq::conv::normal_quantile(0)));
}

TEST(Convergence, BasicRhatByHand) {
  // Chains 1..4 and 5..8: means 2.5 and 6.5, variances 5/3 each, so W = 5/3,
  // B/n = var(2.5, 6.5) = 8, var+ = 3/4 W + 8 = 9.25, R-hat = sqrt(5.55).
  const Chains c{{1, 2, 3, 4}, {5, 6, 7, 8}};
  EXPECT_CLOSE(fq::conv::rhat_basic(c), std::sqrt(5.55), Tol::ulps(8));
  // Split keeps the first and last floor(n/2) draws: the middle one of an
  // odd chain is left out.
  const Chains s = fq::conv::split_chains({{1, 2, 3, 4, 5}});
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0], (std::vector<double>{1, 2}));
  EXPECT_EQ(s[1], (std::vector<double>{4, 5}));
}

TEST(Convergence, RankNormalisationAveragesTies) {
  // Ranks 1, 2.5, 2.5, 4 of S = 4: z = Phi^-1((r - 3/8) / 4.25).
  const Chains z = fq::conv::z_scale({{0, 5}, {5, 9}});
  EXPECT_CLOSE(z[0][1], z[1][0], Tol::exact());
  EXPECT_CLOSE(z[0][0], fq::conv::normal_quantile(0.625 / 4.25), Tol::exact());
  EXPECT_CLOSE(z[0][1], fq::conv::normal_quantile(2.125 / 4.25), Tol::exact());
  EXPECT_CLOSE(z[1][1], -z[0][0], Tol::ulps(4));
}

TEST(Convergence, IndependentDrawsHaveFullEssAndRhatNearOne) {
  const Chains c = ar1(4, 2000, 0.0, 11);
  const auto s = fq::conv::summarize(c);
  // Sampling scatter of an ESS estimate from 8000 draws is a few percent.
  EXPECT_NEAR(s.ess_bulk / 8000, 1.0, 0.1);
  EXPECT_NEAR(s.ess_tail / 8000, 1.0, 0.15);
  EXPECT_LT(s.r_hat, 1.01);
  EXPECT_NEAR(s.mean, 0.0, 0.05);
  EXPECT_NEAR(s.sd, 1.0, 0.05);
  EXPECT_NEAR(s.q5, -1.6449, 0.08);
  EXPECT_NEAR(s.q95, 1.6449, 0.08);
}

TEST(Convergence, Ar1ChainsGiveTheirKnownEss) {
  struct Case {
    double phi;
    double tol;  // relative, the estimator's scatter at this length
  };
  for (const Case k : {Case{0.5, 0.1}, Case{0.9, 0.15}, Case{-0.3, 0.1}}) {
    SCOPED_TRACE(k.phi);
    const std::size_t m = 4, n = 20000;
    const double known = static_cast<double>(m * n) * (1 - k.phi) / (1 + k.phi);
    const Chains c = ar1(m, n, k.phi, 7, 3.0, 2.0);
    EXPECT_NEAR(fq::conv::ess_basic(c) / known, 1.0, k.tol);
    EXPECT_NEAR(fq::conv::ess_bulk(c) / known, 1.0, k.tol);
    EXPECT_LT(fq::conv::rhat(c), 1.01);
  }
}

TEST(Convergence, ChainsFromDifferentDistributionsGiveLargeRhat) {
  // One chain sitting one standard deviation away from three others: the
  // location disagreement shows in the bulk.
  Chains shifted = ar1(4, 1000, 0.3, 5);
  for (double& v : shifted[3]) v += 1.0;
  EXPECT_GT(fq::conv::rhat(shifted), 1.1);

  // Same location, three times the spread in one chain: invisible to the
  // bulk, caught by the folded (tail) half of the rank-normalised R-hat.
  Chains wide = ar1(4, 1000, 0.0, 6);
  for (double& v : wide[0]) v *= 3.0;
  const double bulk_only = fq::conv::rhat_basic(fq::conv::z_scale(fq::conv::split_chains(wide)));
  EXPECT_LT(bulk_only, 1.05);
  EXPECT_GT(fq::conv::rhat(wide), 1.05);

  // A single drifting chain: its halves disagree.
  Chains drift = ar1(1, 2000, 0.0, 8);
  for (std::size_t i = 0; i < drift[0].size(); ++i) drift[0][i] += 3.0 * static_cast<double>(i) / 2000.0;
  EXPECT_GT(fq::conv::rhat(drift), 1.1);
}

TEST(Convergence, RankBasedDiagnosticsIgnoreMonotoneTransforms) {
  // A heavy-tailed transform (exp of a normal) changes nothing in the ranks.
  const Chains c = ar1(4, 500, 0.6, 9);
  Chains e = c;
  for (auto& chain : e)
    for (double& v : chain) v = std::exp(3 * v);
  EXPECT_CLOSE(fq::conv::ess_bulk(e), fq::conv::ess_bulk(c), Tol::exact());
}

TEST(Convergence, UndefinedCasesAreNaN) {
  const Chains fixed(3, std::vector<double>(100, 2.5));
  const auto s = fq::conv::summarize(fixed);
  EXPECT_CLOSE(s.mean, 2.5, Tol::exact());
  EXPECT_CLOSE(s.sd, 0.0, Tol::exact());
  EXPECT_TRUE(std::isnan(s.r_hat));
  EXPECT_TRUE(std::isnan(s.ess_bulk));
  EXPECT_TRUE(std::isnan(s.ess_tail));
  EXPECT_TRUE(std::isnan(fq::conv::rhat({{1, 2, 3}})));  // too short to split
  EXPECT_TRUE(std::isnan(fq::conv::ess_bulk({})));
  // Unequal lengths are cut to the shortest.
  const Chains eq = fq::conv::equal_lengths({{1, 2, 3, 4}, {5, 6}});
  EXPECT_EQ(eq[0].size(), 2u);
}

}  // namespace
