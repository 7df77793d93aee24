// Robust Adaptive Metropolis: proposals x + S u with u standard normal; after
// every iteration the factor S is reshaped so that the acceptance rate is
// driven towards pdes = 0.234:
//   M = I + eta_n (alpha_n - pdes) u u^T / (u^T u),  C = S M S^T,  S = chol(C)
//   eta_n = min(1, d n^(-2/3))
// where alpha_n is the move's acceptance probability (0 out of bounds).
// Sequential.
#include <cmath>
#include <vector>

#include "foldquest/math/linalg.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/methods.hpp"
#include "foldquest/report/progress.hpp"

namespace fq {

void ram_options(Session& s) { ask_chain_options(s); }

std::int64_t ram_with(const RunState& state, ff::Sink& results, Evaluate evaluate) {
  const auto& p = state.parameters;
  const std::int64_t nmodels = p.nmodels;
  auto [params, lnp, free, x, steps] = chain::start(state, evaluate);
  const std::size_t d = free.size();
  std::vector<double> xnew(d), u(d);
  const std::vector<double> mu_stand(d, 0.0), sigma_stand(d, 1.0);
  SquareMatrix c = chain::diagonal(steps);
  SquareMatrix s = chol(c);

  std::vector<double> new_params;
  float acc_count = 0;
  auto& g = uniform_generator();
  for (std::int64_t n = 1; n <= nmodels; ++n) {
    randnormal(static_cast<int>(d), mu_stand, sigma_stand, u);
    for (std::size_t i = 0; i < d; ++i) {
      double jump = 0;
      for (std::size_t j = 0; j <= i; ++j) jump += s(i, j) * u[j];
      xnew[i] = x[i] + jump;
    }
    chain::with_free(params, free, xnew, new_params);
    double alpha = 0;
    if (!chain::out_of_bounds(new_params, free, p)) {
      double lnpnew = 0;
      evaluate(state, lnpnew, new_params);
      alpha = chain::acceptance_probability(lnpnew, lnp);
      if (alpha > g.uniform()) {
        acc_count += 1;
        x = xnew;
        params = new_params;
        lnp = lnpnew;
      }
    }
    chain::ram_update(c, s, u, chain::ram_eta(n, d), alpha);
    if (d > 0 && std::isnan(s(d - 1, d - 1))) {
      ff::say(ff::Line() << "Error: S is NaN at model " << n);
      break;
    }
    chain::write_record(results, lnp, params);
    progress::advance();
    if (n % 1000 == 0) ff::say(ff::Line() << "ran model " << n << " of " << nmodels);
  }
  chain::print_covariance("Final Covariance matrix:", c);
  chain::acceptance_line(acc_count, nmodels);
  return nmodels;
}

}  // namespace fq
