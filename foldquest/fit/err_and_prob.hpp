// Misfit and probability of restored data: err_and_prob.
//
// A model run restores the observations under one parameter vector and asks
// this module how well the restored data fit the expected restored state.
// Each scoring call turns one data type into one number, as the run's result
// type says:
//   1  RMS error                      sqrt(mean of r^2)           lower is better
//   2  log-probability, uncorrelated  -sum(ln sigma + r^2/(2 sigma^2))   higher
//   3  chi-square                     sum (O - E)^2 / |O + E|     lower is better
//   4  log-probability, errors correlated along a bed (beds only; dips and
//      fault points score as 2)                                   higher
//
// The fit type sets what restored beds and dips are compared with.  A bed
// line of dip delta is y = b - t*x with t = tan(delta): t is the negated
// geometric slope, dips are positive down to the right.
//   1  horizontal line through the bed's mean height; dip reference 0
//   2  regional slope, best intercept; dip reference regdipdeg
//   3  least-squares line of the bed; dip reference the mean restored dip
//   4  regional slope, the bed's entered intercept; dip reference regdipdeg
//   5  restored dips and/or intercepts taken from the parameter vector
//      (restored_fit_params, layout at restored_bed_dip_param below)
//
// Thread safety: every function reads the run state (which nothing writes
// while models run) and writes only its arguments; concurrent calls on
// distinct arguments are safe.  Messages are whole lines on the console.
//
// Indices: bed and terrace numbers n are counted from 1, as the system
// numbers them; the output arrays are ordinary 0-based spans, so bed n
// writes element n - 1.
#pragma once

#include <limits>
#include <span>

#include "foldquest/state/run_state.hpp"
#include "foldquest/math/linalg.hpp"
#include "foldquest/math/vec2.hpp"

namespace fq {

// The score of a model that cannot be evaluated: a quiet NaN for the misfits
// (result types 1 and 3), the most negative single-precision value held as a
// double for the log-probabilities (2 and 4).
inline constexpr double kFailedLogProbability = -3.4028234663852886e+38;
inline double failed_model_output(int resulttype) {
  return (resulttype == 2 || resulttype == 4) ? kFailedLogProbability
                                              : std::numeric_limits<double>::quiet_NaN();
}

// ---- Restored-state fit parameters (fit type 5) ----------------------------
//
// p = restored_fit_params (1-based p(k) below), k = number of restored-dip
// parameters:
//   fit_dips 0: none (beds and dips use the regional dip)         k = 0
//   fit_dips 1: p(1) one restored dip for all beds and the dips    k = 1
//   fit_dips 2: p(n) restored dip of bed n, n = 1..nbeds; p(nbeds+1) the
//               restored dip of the dip data when dips are present
//                                                  k = nbeds (+1 with dips)
//   fit_beds 1: intercept of bed n is p(k + n).

// Number of restored-dip parameters k.
int n_restored_dip_params(const RunState& state);

// ---- Beds (and terraces combined like beds) --------------------------------

// Scores bed n (1-based) from its restored points and writes beds_output[n-1].
// cbed (one covariance per point, [[var x, cov], [cov, var y]]) is read only
// when propagate = 1 or, for the correlated probability, to form sigma;
// restored_fit_params only under fit type 5.
void calc_bed_err(const RunState& state, int n, std::span<const Vec2> thisbed, std::span<double> beds_output,
                  std::span<const Mat2> cbed, std::span<const double> restored_fit_params);

// Combines per-bed (or per-terrace) values: RMS over the per-bed mean squares
// for result type 1 (beds of different lengths weigh equally), the sum for 2,
// 3 and 4; any other result type leaves output_beds unchanged.
void calc_beds_err(const RunState& state, std::span<const double> beds_output_indiv, double& output_beds);

// Sum of r^2 / bedlength: the mean square of one bed.
double bed_ms(std::span<const double> r);
// sqrt(sum of ms_errs / their count).
double beds_rms(std::span<const double> ms_errs);
// -sum(ln sigma_i + r_i^2/(2 sigma_i^2)); -0.0 for an empty bed.
double bed_prob(std::span<const double> r, std::span<const double> sigma);
// Sum of the per-bed values.
double beds_prob(std::span<const double> lnpbeds);
double beds_chisq(std::span<const double> chisq_beds);
// Chi-square of the points against the line y = slope*x + b, each point
// compared with the foot of its perpendicular (slope 0: (x, b)); the x terms
// are summed first.  A zero denominator is not guarded (0/0 gives NaN).
double bed_chisq(std::span<const Vec2> bed, double b, double slope);

// ---- Dips -------------------------------------------------------------------

// Scores the restored dips (degrees, one per dip datum) into output_dips.
// sigma_dip_array (degrees) is read only when propagate = 1.
void calc_dip_err(const RunState& state, std::span<const double> restoreddips, double& output_dips,
                  std::span<const double> sigma_dip_array, std::span<const double> restored_fit_params);

// Reference dip (degrees) of the fit type; false (after "Error: Invalid
// FitType") for a fit type outside 1..5.
bool dip_reference(const RunState& state, std::span<const double> restoreddips,
                   std::span<const double> restored_fit_params, double& delta0);

double dips_prob(std::span<const double> r, std::span<const double> sigma);
double dips_rms(std::span<const double> r);
// sum r_i^2 / |d_i + delta0 + 2^-126|; 0 without dips.
double dips_chisq(std::span<const double> r, std::span<const double> restoreddips, double delta0);

// ---- Points on the fault ------------------------------------------------------

// Scores the fault points' distances r from the model fault into output_fault.
void calc_fault_pts_err(const RunState& state, std::span<const double> r, double& output_fault);

// ---- Correlated errors along a bed, terraces ---------------------------------

// Covariance of the residuals of one bed whose errors are correlated along
// it: c(i,j) = sigma_i * rho(i,j) * sigma_j, with rho the spherical model of
// the along-bed distance h (sum of the segment lengths from point i to j):
// g = h/lc, rho = 1 - 1.5 g + 0.5 g^3 for g < 1, else 0 (the diagonal too:
// an lc of 0 gives 0/0, which is not below 1, and so the zero matrix).
// bedpts and sigma have one entry per point.
SquareMatrix make_bed_correlation_matrix(std::span<const Vec2> bedpts, std::span<const double> sigma, double lc);

// Log-density of the residual vector r under the covariance c (one row and
// column per residual) up to its constant: -ln sqrt(det c) - r^T c^-1 r / 2,
// with c^-1 from matinv and the factor from chol.  The log
// determinant is the sum of the logarithms of the Cholesky diagonal, so long
// beds with small or large uncertainties neither underflow nor overflow.
// A covariance that is not positive definite or cannot be inverted gives the
// factorisations' messages and a non-finite result.
double bed_prob_cov(std::span<const double> r, const SquareMatrix& c);

// Scores terrace n (1-based) from its restored points (point 1 is the inner
// edge) and point covariances; writes terr_output_indiv[n-1].
void calc_terr_err(const RunState& state, int n, std::span<const Vec2> pts, std::span<double> terr_output_indiv,
                   std::span<const Mat2> cterr);

}  // namespace fq
