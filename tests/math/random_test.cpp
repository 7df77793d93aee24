// The process generator and the normal draws.  Every test seeds explicitly.
#include "foldquest/math/random.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/math/linalg.hpp"
#include "tests/support/expect_close.hpp"

namespace fq {
namespace {

using fqtest::Tol;

std::vector<double> uniforms(int n) {
  std::vector<double> u;
  for (int i = 0; i < n; ++i) u.push_back(uniform_generator().uniform());
  return u;
}

TEST(Generator, SeedingIsReproducible) {
  seed_random(12345);
  const auto a = uniforms(100);
  seed_random(12345);
  EXPECT_EQ(uniforms(100), a);
  seed_random(12346);  // a neighbouring seed gives an unrelated stream
  const auto b = uniforms(100);
  int equal = 0;
  for (int i = 0; i < 100; ++i) equal += a[static_cast<std::size_t>(i)] == b[static_cast<std::size_t>(i)];
  EXPECT_EQ(equal, 0);
  // seed_from(t) is the seed vector t, t + 37, ..., wrapping at 2^32.
  std::vector<std::uint32_t> v;
  for (std::uint32_t i = 0; i < UniformGenerator::seed_size; ++i) v.push_back(0xFFFFFFF0u + 37u * i);
  uniform_generator().seed(v);
  const auto c = uniforms(10);
  seed_random(0xFFFFFFF0u);
  EXPECT_EQ(uniforms(10), c);
  EXPECT_THROW(uniform_generator().seed(std::vector<std::uint32_t>(3)), std::invalid_argument);
}

// Mean and variance of 200000 uniforms within 5 standard errors, and the
// range [0, 1).
TEST(Generator, UniformMoments) {
  seed_random(7);
  constexpr int n = 200000;
  double sum = 0, sum2 = 0, lo = 1, hi = 0;
  for (int i = 0; i < n; ++i) {
    const double u = uniform_generator().uniform();
    sum += u;
    sum2 += u * u;
    lo = std::min(lo, u);
    hi = std::max(hi, u);
  }
  EXPECT_GE(lo, 0.0);
  EXPECT_LT(hi, 1.0);
  const double mean = sum / n, var = sum2 / n - mean * mean;
  EXPECT_NEAR(mean, 0.5, 5 * std::sqrt(1.0 / 12 / n));
  EXPECT_NEAR(var, 1.0 / 12, 5 * std::sqrt(1.0 / 180 / n));  // var of u^2 ~ 1/180
  float f = uniform_generator().uniform_float();
  EXPECT_GE(f, 0.0f);
  EXPECT_LT(f, 1.0f);
}

// n = 1 draws one pair, n = 3 two pairs: the next uniform tells.
TEST(Normal, DrawsWholePairs) {
  const std::vector<double> mu{0, 0, 0}, sd{1, 1, 1};
  seed_random(99);
  const auto ref = uniforms(6);
  seed_random(99);
  randnormal(1, mu, sd);
  EXPECT_EQ(uniform_generator().uniform(), ref[2]);
  seed_random(99);
  randnormal(3, mu, sd);
  EXPECT_EQ(uniform_generator().uniform(), ref[4]);
}

// The cosine value goes to the first entry and the sine to the second, each
// with its own mean and standard deviation.
TEST(Normal, BoxMullerPairing) {
  seed_random(4242);
  const auto u = uniforms(2);
  seed_random(4242);
  const std::vector<double> mu{10, -3}, sd{2, 0.5};
  const auto v = randnormal(2, mu, sd);
  const double r = std::sqrt(-2 * std::log(1 - u[0]));
  const double th = 6.2831854820251465 * u[1];
  EXPECT_CLOSE(v[0], r * std::cos(th) * 2 + 10, Tol::ulps(2));
  EXPECT_CLOSE(v[1], r * std::sin(th) * 0.5 - 3, Tol::ulps(2));
}

TEST(Normal, ZeroSpreadGivesTheMean) {
  seed_random(1);
  const std::vector<double> mu{1.25, -7, 3e10}, sd{0, 0, 0};
  EXPECT_EQ(randnormal(3, mu, sd), mu);
  const SquareMatrix l0(3);
  EXPECT_EQ(randnormal_multi(3, mu, l0), mu);
  EXPECT_TRUE(randnormal(0, mu, sd).empty());
  EXPECT_THROW(randnormal(4, mu, sd), std::invalid_argument);
}

// Mean 0 and variance 1 within 5 standard errors over 200000 values (odd n
// exercises the discarded sine).
TEST(Normal, Moments) {
  seed_random(31337);
  constexpr int n = 200001;
  const std::vector<double> mu(n, 0.0), sd(n, 1.0);
  const auto v = randnormal(n, mu, sd);
  double sum = 0, sum2 = 0, sum4 = 0;
  for (double x : v) {
    ASSERT_TRUE(std::isfinite(x));
    sum += x;
    sum2 += x * x;
    sum4 += x * x * x * x;
  }
  EXPECT_NEAR(sum / n, 0.0, 5 / std::sqrt(n));
  EXPECT_NEAR(sum2 / n, 1.0, 5 * std::sqrt(2.0 / n));
  EXPECT_NEAR(sum4 / n, 3.0, 5 * std::sqrt(96.0 / n));  // var of x^4 = 105 - 9
}

// Sample covariance of l z + mu against l l^T: 100000 draws, 5 standard
// errors of each entry (entries of order 1, standard error < 0.01).
TEST(Normal, MultivariateCovariance) {
  seed_random(2718);
  const SquareMatrix cov = SquareMatrix::from_row_major(std::vector<double>{4, 1.2, 1.2, 1});
  const SquareMatrix l = chol(cov);
  const std::vector<double> mu{1, -2};
  constexpr int n = 100000;
  double s0 = 0, s1 = 0, s00 = 0, s01 = 0, s11 = 0;
  for (int i = 0; i < n; ++i) {
    const auto x = randnormal_multi(2, mu, l);
    s0 += x[0];
    s1 += x[1];
    s00 += x[0] * x[0];
    s01 += x[0] * x[1];
    s11 += x[1] * x[1];
  }
  const double m0 = s0 / n, m1 = s1 / n;
  EXPECT_NEAR(m0, 1, 5 * 2 / std::sqrt(n));
  EXPECT_NEAR(m1, -2, 5 * 1 / std::sqrt(n));
  EXPECT_NEAR(s00 / n - m0 * m0, 4, 5 * 4 * std::sqrt(2.0 / n));
  EXPECT_NEAR(s01 / n - m0 * m1, 1.2, 5 * std::sqrt((4 * 1 + 1.2 * 1.2) / n));
  EXPECT_NEAR(s11 / n - m1 * m1, 1, 5 * std::sqrt(2.0 / n));
}

// Threads drawing pairs at once: every pair any thread receives is one
// consecutive pair of the sequential stream, and together they are all of
// them (a pair is never split, no draw is lost or repeated).
TEST(Generator, PairsAreNeverSplitBetweenThreads) {
  constexpr int threads = 4, pairs_each = 2000;
  seed_random(555);
  std::map<double, double> seq;  // first of each pair -> second
  for (int i = 0; i < threads * pairs_each; ++i) {
    const double a = uniform_generator().uniform();
    seq[a] = uniform_generator().uniform();
  }
  seed_random(555);
  std::vector<std::vector<std::pair<double, double>>> got(threads);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&got, t] {
      for (int i = 0; i < pairs_each; ++i) got[static_cast<std::size_t>(t)].push_back(uniform_generator().uniform_pair());
    });
  }
  for (auto& th : pool) th.join();
  std::size_t matched = 0;
  for (const auto& g : got)
    for (const auto& [a, b] : g) {
      const auto it = seq.find(a);
      ASSERT_NE(it, seq.end());
      EXPECT_EQ(it->second, b);
      seq.erase(it);
      ++matched;
    }
  EXPECT_EQ(matched, static_cast<std::size_t>(threads * pairs_each));
  EXPECT_TRUE(seq.empty());
}

TEST(Generator, ClockSeedGivesUsableDraws) {
  init_random_seed();
  const double u = uniform_generator().uniform();
  EXPECT_GE(u, 0.0);
  EXPECT_LT(u, 1.0);
}

}  // namespace
}  // namespace fq
