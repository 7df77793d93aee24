// Adaptive Metropolis: a Metropolis-Hastings chain whose multivariate
// normal proposal covariance is learned from the chain's own history.
//
// Over the d free parameters, with t the iteration:
//   proposal   xnew ~ N(x, C_t), C_t = c0 for t <= begin_adapt, else c
//   c0         diag(steps) taken as variances
//   mean_t     = (t mean_{t-1} + x_t) / (t + 1),  mean_0 = x_0
//   c_t        = w c_{t-1} + (sd / t) (t m' m'^T - (t + 1) m m^T + x x^T + eps I)
//              with m' = mean_{t-1}, m = mean_t, w = (t - 1)/t in single precision,
//              sd = 5.76 / d in single precision, eps = 1e-9 in single precision.
// mean_t is the mean of the t + 1 states x_0 ... x_t (the initial model
// included), and the recursion then gives
//   c_t = sd cov(x_0 ... x_t) + sd eps I   (cov normalised by t),
// whatever the origin of the coordinates.  (A mean over x_1 ... x_t alone
// leaves a term sd (x_0 x_0^T - m m^T) / t in c that grows with the square
// of the coordinates and makes c indefinite for map coordinates.)
// With that mean, t m' m'^T - (t + 1) m m^T + x x^T = t/(t + 1) (x - m')(x - m')^T,
// and the update is computed in the second form, which does not cancel.
// The update uses the state after the accept/reject decision, so a rejected
// proposal counts the repeated state.  Sequential.
#include <vector>

#include "foldquest/input/user_input.hpp"
#include "foldquest/math/linalg.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/methods.hpp"

namespace fq {

void am_options(Session& s) {
  ask_chain_options(s);
  say("Enter model number after which to begin using adapted covariance matrix");
  s.state.method.begin_adapt = s.opts().read_int32();
}

std::int64_t am_with(const RunState& state, ff::Sink& results, Evaluate evaluate) {
  const auto& p = state.parameters;
  const std::int64_t nmodels = p.nmodels;
  auto [params, lnp, free, x, steps] = chain::start(state, evaluate);
  const std::size_t d = free.size();
  const SquareMatrix c0 = chain::diagonal(steps);
  SquareMatrix c(d);
  std::vector<double> mean = x, old_mean(d);
  const double sd = chain::am_sd(d);
  const double eps = static_cast<double>(1e-9f);

  std::vector<double> new_params;
  std::int64_t acc_count = 0;
  auto& g = uniform_generator();
  for (std::int64_t t = 1; t <= nmodels; ++t) {
    const SquareMatrix l = chol(t > state.method.begin_adapt ? c : c0);
    const std::vector<double> xnew = randnormal_multi(static_cast<int>(d), x, l);
    chain::with_free(params, free, xnew, new_params);
    if (!chain::out_of_bounds(new_params, free, p)) {
      double lnpnew = 0;
      evaluate(state, lnpnew, new_params);
      if (chain::accept(lnpnew, lnp, g.uniform())) {
        acc_count += 1;
        x = xnew;
        params = new_params;
        lnp = lnpnew;
      }
    }

    // Running mean and covariance of the visited states x_0 ... x_t.
    const double td = static_cast<double>(t);
    old_mean = mean;
    for (std::size_t k = 0; k < d; ++k) mean[k] = (td * old_mean[k] + x[k]) / (td + 1);
    const double w = static_cast<double>(static_cast<float>(t - 1) / static_cast<float>(t));
    // t m' m'^T - (t + 1) m m^T + x x^T, formed as t/(t + 1) (x - m')(x - m')^T:
    // equal in exact arithmetic, but the left side cancels terms of order
    // t |m|^2, whose rounding swamps the regularising sd eps at map-sized
    // coordinates and leaves the covariance indefinite in the directions the
    // chain has hardly explored.
    const double k_new = td / (td + 1);
    for (std::size_t i = 0; i < d; ++i)
      for (std::size_t j = 0; j < d; ++j) {
        const double outer = k_new * (x[i] - old_mean[i]) * (x[j] - old_mean[j]) + (i == j ? eps : 0.0);
        c(i, j) = w * c(i, j) + (sd / td) * outer;
      }

    chain::write_record(results, lnp, params);
    chain::progress(t, nmodels);
  }
  chain::print_covariance("Final Covariance matrix:", c);
  chain::acceptance_line(acc_count, nmodels);
  return nmodels;
}

}  // namespace fq
