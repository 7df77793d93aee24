// Adaptive Metropolis: a Metropolis-Hastings chain whose multivariate
// normal proposal covariance is learned from the chain's own history.
//
// Over the d free parameters, with t the iteration:
//   proposal   xnew ~ N(x, C_t), C_t = c0 for t <= begin_adapt, else c
//   c0         diag(steps) taken as variances
//   mean_t     = ((t - 1) mean_{t-1} + x_t) / t
//   c_t        = w c_{t-1} + (sd / t) (t m' m'^T - (t + 1) m m^T + x x^T + eps I)
//              with m' = mean_{t-1}, m = mean_t, w = (t - 1)/t in single precision,
//              sd = 5.76 / d in single precision, eps = 1e-9 in single precision.
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
  float acc_count = 0;
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

    // Running mean and covariance of the visited states.
    const double td = static_cast<double>(t);
    old_mean = mean;
    for (std::size_t k = 0; k < d; ++k) mean[k] = ((td - 1) * old_mean[k] + x[k]) / td;
    const double w = static_cast<double>(static_cast<float>(t - 1) / static_cast<float>(t));
    for (std::size_t i = 0; i < d; ++i)
      for (std::size_t j = 0; j < d; ++j) {
        const double outer = td * old_mean[i] * old_mean[j] - (td + 1) * mean[i] * mean[j] + x[i] * x[j] +
                             (i == j ? eps : 0.0);
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
