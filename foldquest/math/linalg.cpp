#include "foldquest/math/linalg.hpp"

#include <cmath>
#include <limits>

#include "freeformat/writer.hpp"

namespace fq {

SquareMatrix SquareMatrix::from_row_major(std::span<const double> values) {
  const auto n = static_cast<std::size_t>(std::llround(std::sqrt(static_cast<double>(values.size()))));
  if (n * n != values.size()) throw std::invalid_argument("SquareMatrix: value count is not a square");
  SquareMatrix m(n);
  for (std::size_t i = 0; i < values.size(); ++i) m.a_[i] = values[i];
  return m;
}

SquareMatrix SquareMatrix::identity(std::size_t n) {
  SquareMatrix m(n);
  for (std::size_t i = 0; i < n; ++i) m(i, i) = 1.0;
  return m;
}

namespace {
// The 1-based column number of an error line (matrices here are far smaller
// than 2^31 columns; larger ones are reported as the largest int).
int one_based(std::size_t p) {
  return p < static_cast<std::size_t>(std::numeric_limits<int>::max())
             ? static_cast<int>(p) + 1
             : std::numeric_limits<int>::max();
}
}  // namespace

SquareMatrix chol(const SquareMatrix& a) {
  const std::size_t n = a.size();
  SquareMatrix result(n);
  if (n == 0) return result;
  const std::span<const double> A = a.data();
  const std::span<double> L = result.data();
  // Row-major: element (i, j) at i*n + j; every index below is < n*n.
  bool failed = false;
  for (std::size_t p = 0; p < n; ++p) {
    double sum1 = 0.0;
    for (std::size_t k = 0; k < p; ++k) sum1 += L[p * n + k] * L[p * n + k];
    const double d = A[p * n + p] - sum1;
    L[p * n + p] = std::sqrt(d);
    // A NaN pivot is reported too, unless it only echoes an earlier failure
    // (whose NaN then runs through every later column).
    if (d <= 0.0 || (std::isnan(d) && !failed)) {
      failed = true;
      ff::say(ff::Line() << "Error: Not positive definite");
      ff::say(ff::Line() << one_based(p));
      ff::say(ff::Line() << A[p * n + p]);
      ff::say(ff::Line() << sum1);
    }
    const double inv = 1.0 / L[p * n + p];
    for (std::size_t i = p + 1; i < n; ++i) {
      double sum = 0.0;
      for (std::size_t k = 0; k < p; ++k) sum += L[i * n + k] * L[p * n + k];
      // The first column divides by l(1,1); later columns multiply by its
      // reciprocal, as the two are written.
      L[i * n + p] = p == 0 ? A[i * n] / L[0] : (A[i * n + p] - sum) * inv;
    }
  }
  return result;
}

SquareMatrix matinv(const SquareMatrix& c) {
  const std::size_t n = c.size();
  SquareMatrix result(n);
  if (n == 0) return result;
  const std::span<const double> C = c.data();
  std::vector<double> L(n * n, 0.0), U(n * n, 0.0), Y(n * n, 0.0);
  const auto pivot_check = [&](std::size_t k) {
    if (U[k * n + k] == 0.0) ff::say(ff::Line() << "Error: Matrix cannot be inverted.");
  };
  // LU without pivoting; L has a unit diagonal.
  L[0] = 1.0;
  U[0] = C[0];
  pivot_check(0);
  for (std::size_t i = 1; i < n; ++i) {
    U[i] = C[i];
    L[i * n] = C[i * n] / U[0];
  }
  for (std::size_t k = 1; k < n; ++k) {
    L[k * n + k] = 1.0;
    double sum = 0.0;
    for (std::size_t m = 0; m < k; ++m) sum += L[k * n + m] * U[m * n + k];
    U[k * n + k] = C[k * n + k] - sum;
    pivot_check(k);
    for (std::size_t j = k + 1; j < n; ++j) {
      double su = 0.0, sl = 0.0;
      for (std::size_t m = 0; m < k; ++m) {
        su += L[k * n + m] * U[m * n + j];
        sl += L[j * n + m] * U[m * n + k];
      }
      U[k * n + j] = C[k * n + j] - su;
      L[j * n + k] = (C[j * n + k] - sl) / U[k * n + k];
    }
  }
  // Y = L^-1, column by column.
  for (std::size_t j = 0; j < n; ++j) {
    Y[j] = j == 0 ? 1.0 : 0.0;
    for (std::size_t i = 1; i < n; ++i) {
      double sum = 0.0;
      for (std::size_t m = 0; m < i; ++m) sum += L[i * n + m] * Y[m * n + j];
      Y[i * n + j] = (i == j ? 1.0 : 0.0) - sum;
    }
  }
  // X = U^-1 Y, column by column.
  const std::span<double> X = result.data();
  for (std::size_t j = 0; j < n; ++j) {
    X[(n - 1) * n + j] = Y[(n - 1) * n + j] / U[(n - 1) * n + (n - 1)];
    for (std::size_t i = n - 1; i-- > 0;) {
      double sum = 0.0;
      for (std::size_t m = i + 1; m < n; ++m) sum += U[i * n + m] * X[m * n + j];
      X[i * n + j] = (Y[i * n + j] - sum) / U[i * n + i];
    }
  }
  return result;
}

}  // namespace fq
