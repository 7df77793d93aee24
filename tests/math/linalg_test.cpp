// chol and matinv: worked examples, their error lines and factor checks.
#include "foldquest/math/linalg.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "foldquest/math/random.hpp"
#include "freeformat/writer.hpp"
#include "tests/support/expect_close.hpp"

namespace fq {
namespace {

using fqtest::Tol;

// Captures the console lines written while it lives.
class ConsoleCapture {
 public:
  ConsoleCapture() : f_(std::tmpfile()) { ff::console().attach(f_); }
  ~ConsoleCapture() {
    ff::console().attach(stdout);
    std::fclose(f_);
  }
  std::string text() {
    ff::console().flush();
    std::rewind(f_);
    std::string s;
    for (int c; (c = std::fgetc(f_)) != EOF;) s.push_back(static_cast<char>(c));
    return s;
  }

 private:
  std::FILE* f_;
};

SquareMatrix mat(std::initializer_list<double> v) { return SquareMatrix::from_row_major(std::vector<double>(v)); }

TEST(Chol, WorkedExamples) {
  ConsoleCapture console;
  const SquareMatrix i3 = chol(SquareMatrix::identity(3));
  for (std::size_t r = 0; r < 3; ++r)
    for (std::size_t c = 0; c < 3; ++c) EXPECT_EQ(i3(r, c), r == c ? 1.0 : 0.0);

  const SquareMatrix l = chol(mat({4, 2, 2, 3}));
  EXPECT_EQ(l(0, 0), 2.0);
  EXPECT_EQ(l(0, 1), 0.0);
  EXPECT_EQ(l(1, 0), 1.0);
  EXPECT_CLOSE(l(1, 1), std::sqrt(2.0), Tol::ulps(1));
  EXPECT_EQ(console.text(), "");
  EXPECT_EQ(chol(SquareMatrix()).size(), 0u);
}

TEST(Chol, ReadsOnlyTheLowerTriangle) {
  const SquareMatrix a = mat({4, 2, 2, 3});
  const SquareMatrix b = mat({4, -99, 2, 3});
  const SquareMatrix la = chol(a), lb = chol(b);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(la.data()[i], lb.data()[i]);
}

TEST(Chol, NotPositiveDefiniteMessage) {
  ConsoleCapture console;
  const SquareMatrix l = chol(mat({1, 2, 2, 1}));
  EXPECT_EQ(console.text(),
            " Error: Not positive definite\n"
            "           2\n"
            "   1.0000000000000000     \n"
            "   4.0000000000000000     \n");
  EXPECT_TRUE(std::isnan(l(1, 1)));
  EXPECT_EQ(l(0, 0), 1.0);
  EXPECT_EQ(l(1, 0), 2.0);
}

// The same test applies to the first column (there sum1 = 0): a zero or
// negative leading element is reported instead of silently giving
// infinities, and so is a NaN pivot; the NaN a failure leaves in later
// columns is not reported again.
TEST(Chol, FirstColumnAndNaNPivotsAreReported) {
  {
    ConsoleCapture console;
    const SquareMatrix l = chol(mat({-4, 1, 1, 3}));
    EXPECT_EQ(console.text(),
              " Error: Not positive definite\n"
              "           1\n"
              "  -4.0000000000000000     \n"
              "   0.0000000000000000     \n");
    EXPECT_TRUE(std::isnan(l(0, 0)));
  }
  {
    ConsoleCapture console;
    const SquareMatrix l = chol(mat({1, 0, 0, 0, 0, 0, 0, 0, 1}));  // fails at column 2 only
    EXPECT_EQ(console.text(),
              " Error: Not positive definite\n"
              "           2\n"
              "   0.0000000000000000     \n"
              "   0.0000000000000000     \n");
    EXPECT_TRUE(std::isnan(l(2, 2)));
  }
  {
    ConsoleCapture console;
    chol(mat({1, 0, 0, std::nan("")}));
    EXPECT_EQ(console.text(), " Error: Not positive definite\n           2\n" +
                                  (ff::Line() << std::nan("")).str() + "\n   0.0000000000000000     \n");
  }
}

TEST(Matinv, WorkedExamples) {
  ConsoleCapture console;
  const SquareMatrix x = matinv(mat({4, 3, 6, 3}));
  EXPECT_CLOSE(x(0, 0), -0.5, Tol::ulps(2));
  EXPECT_CLOSE(x(0, 1), 0.5, Tol::ulps(2));
  EXPECT_CLOSE(x(1, 0), 1.0, Tol::ulps(2));
  EXPECT_CLOSE(x(1, 1), -2.0 / 3.0, Tol::ulps(2));
  EXPECT_EQ(console.text(), "");
  EXPECT_EQ(matinv(SquareMatrix()).size(), 0u);
  EXPECT_EQ(matinv(mat({4})).data()[0], 0.25);
}

TEST(Matinv, ZeroPivotMessage) {
  ConsoleCapture console;
  // Invertible by a row exchange, but the first pivot is 0.
  const SquareMatrix x = matinv(mat({0, 1, 1, 0}));
  EXPECT_EQ(console.text(), " Error: Matrix cannot be inverted.\n");
  EXPECT_FALSE(std::isfinite(x(0, 0)) && std::isfinite(x(1, 1)));
}

// Seeded random matrices: L L^T reproduces A, and A X = I.
TEST(Factorisations, RandomMatricesReproduce) {
  // Products of O(1) entries over n = 8 terms: a few hundred roundings.
  constexpr Tol kRes = Tol::abs(1e-12, "matrix entry", "residual of O(1) products, n = 8");
  seed_random(20240611);
  constexpr std::size_t n = 8;
  SquareMatrix g(n);
  for (double& v : g.data()) v = uniform_generator().uniform() - 0.5;
  // A = G G^T + n I is symmetric positive definite and well conditioned.
  SquareMatrix a(n);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      double s = i == j ? static_cast<double>(n) : 0.0;
      for (std::size_t k = 0; k < n; ++k) s += g(i, k) * g(j, k);
      a(i, j) = s;
    }
  const SquareMatrix l = chol(a);
  const SquareMatrix x = matinv(a);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      double llt = 0, ax = 0;
      for (std::size_t k = 0; k < n; ++k) {
        llt += l(i, k) * l(j, k);
        ax += a(i, k) * x(k, j);
      }
      EXPECT_CLOSE(llt, a(i, j), kRes);
      EXPECT_CLOSE(ax, i == j ? 1.0 : 0.0, kRes);
      if (j > i) {
        EXPECT_EQ(l(i, j), 0.0);
      }
    }
}

TEST(SquareMatrixType, CheckedAccess) {
  SquareMatrix a(2);
  EXPECT_THROW(a(2, 0), std::out_of_range);
  EXPECT_THROW(a(0, 2), std::out_of_range);
  EXPECT_THROW(SquareMatrix::from_row_major(std::vector<double>(3)), std::invalid_argument);
}

}  // namespace
}  // namespace fq
