// Dense square matrices, the Cholesky factor and the inverse.
//
// chol and matinv are pure functions of their arguments; they allocate their
// work arrays per call and may run on several threads at once.  Their error
// lines go to the console as whole lines.
#pragma once

#include <cstddef>
#include <span>
#include <stdexcept>
#include <vector>

namespace fq {

// An n x n matrix of doubles, row-major, indexed from 0.  Element access is
// checked (std::out_of_range).
class SquareMatrix {
 public:
  SquareMatrix() = default;
  explicit SquareMatrix(std::size_t n, double fill = 0.0) : n_(n), a_(n * n, fill) {}
  // From n*n row-major values (std::invalid_argument when the count is not a
  // square).
  static SquareMatrix from_row_major(std::span<const double> values);
  static SquareMatrix identity(std::size_t n);

  std::size_t size() const { return n_; }
  double& operator()(std::size_t i, std::size_t j) { return a_.at(index(i, j)); }
  double operator()(std::size_t i, std::size_t j) const { return a_.at(index(i, j)); }
  std::span<double> data() { return a_; }
  std::span<const double> data() const { return a_; }

 private:
  std::size_t index(std::size_t i, std::size_t j) const {
    if (i >= n_ || j >= n_) throw std::out_of_range("SquareMatrix index");
    return i * n_ + j;
  }
  std::size_t n_ = 0;
  std::vector<double> a_;
};

// Lower-triangular Cholesky factor l of a symmetric matrix a (a = l l^T),
// column by column (Cholesky-Crout); only the lower triangle and diagonal of
// a are read, the strict upper triangle of l is 0.  For column p (1-based)
//   sum1 = sum_{k<p} l(p,k)^2,  l(p,p) = sqrt(a(p,p) - sum1),
//   l(i,p) = (a(i,p) - sum_{k<p} l(i,k) l(p,k)) * (1 / l(p,p))   for i > p.
// When a(p,p) - sum1 is not positive four console lines are written:
// "Error: Not positive definite", then p, then a(p,p), then sum1; the
// factorisation goes on and returns what the arithmetic gives (NaN or
// infinite entries).  The check covers the first column too (sum1 = 0), and
// a pivot that is NaN from the input (not from an earlier reported column)
// is reported the same way.
SquareMatrix chol(const SquareMatrix& a);

// Inverse of a square matrix by LU factorisation without pivoting (Doolittle,
// unit diagonal in L), then one forward and one back substitution per column
// of the identity.  Each pivot U(k,k) exactly 0 writes one console line
// "Error: Matrix cannot be inverted."; the computation goes on and returns
// what the arithmetic gives.  A matrix that needs row exchanges (a zero
// leading pivot) is reported although it may be invertible.
SquareMatrix matinv(const SquareMatrix& c);

}  // namespace fq
