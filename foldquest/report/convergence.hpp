// Posterior summaries and convergence diagnostics of Markov chains.
//
// Definitions (Vehtari, Gelman, Simpson, Carpenter and Buerkner 2021,
// "Rank-normalization, folding, and localization: an improved R-hat for
// assessing convergence of MCMC", the ones Stan and ArviZ use):
//
//   m chains of n draws each, theta_ij draw i of chain j.
//   split       every chain cut into a first and a second half of
//               floor(n/2) draws (the middle draw of an odd chain is left
//               out), giving 2m chains.
//   z-scale     rank normalisation over all S pooled draws: r the rank (ties
//               take their average rank), z = Phi^-1((r - 3/8) / (S + 1/4)).
//   fold        zeta = |theta - median(theta)|, the draws' distance from
//               their pooled median.
//   basic R-hat on chains of n draws: W = mean of the chains' variances
//               (divisor n - 1), B/n = variance of the chain means (divisor
//               m - 1), var+ = (n - 1)/n W + B/n, R-hat = sqrt(var+ / W).
//   r_hat       max(basic R-hat of z-scale(split(theta)),
//                   basic R-hat of z-scale(split(fold(theta)))).
//   ESS         of chains of n draws: rho_t = 1 - (W - mean_j acov_j(t)) / var+
//               with acov_j(t) the chain's autocovariance at lag t (divisor n,
//               W from acov_j(0) n/(n-1)); the sum of rho_t is cut by Geyer's
//               initial positive sequence (pairs rho_2k + rho_2k+1 while
//               positive) made monotone, tau = -1 + 2 sum_{t<=T} rho_t
//               (+ the next even term when positive), at least 1/log10(mn),
//               and ESS = m n / tau.
//   ess_bulk    ESS of z-scale(split(theta)).
//   ess_tail    min of the ESS of the indicator chains I(theta <= q5) and
//               I(theta <= q95), split.
//   q5, q50, q95  quantiles of the pooled draws with linear interpolation
//               between order statistics (numpy's and R's default, type 7).
//   mean, sd    of the pooled draws, sd with divisor S - 1.
//
// A quantity that does not vary (a fixed parameter, or every chain stuck at
// one value) has no defined R-hat or ESS: they are NaN.  So are the
// diagnostics of chains with fewer than 4 draws.  All functions are pure and
// may be called from any thread.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace fq::conv {

// The draws of one quantity, one vector per chain (equal lengths).
using Chains = std::vector<std::vector<double>>;

// Quantile p in [0, 1] of the values (type 7); NaN for no values.
double quantile(std::vector<double> values, double p);

// Phi^-1(p) for p in (0, 1), to about 1e-15 relative.
double normal_quantile(double p);

// Each chain cut into its two halves of floor(n/2) draws.
Chains split_chains(const Chains& chains);

// Rank normalisation of all draws together (shape kept).
Chains z_scale(const Chains& chains);

// |theta - median| with the median of all draws together.
Chains fold(const Chains& chains);

// The basic R-hat and ESS of chains as given (no split, no ranks).
double rhat_basic(const Chains& chains);
double ess_basic(const Chains& chains);

// The rank-normalised split R-hat, the bulk ESS and the tail ESS.
double rhat(const Chains& chains);
double ess_bulk(const Chains& chains);
double ess_tail(const Chains& chains);

// Everything the summary table prints for one quantity, in its columns.
struct Summary {
  double mean = 0, sd = 0, q5 = 0, q50 = 0, q95 = 0;
  double ess_bulk = 0, ess_tail = 0, r_hat = 0;
};
Summary summarize(const Chains& chains);

// Chains of equal length: each cut to the shortest (dropping their ends).
Chains equal_lengths(Chains chains);

}  // namespace fq::conv
