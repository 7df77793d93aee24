// Adaptive Parallel Tempering: a ladder of L chains sampling
// exp(beta_l * objective), 1 = beta_1 > beta_2 > ... > beta_L.
//
//   moves      every level takes one robust adaptive Metropolis step per
//              sweep with its own factor S_l, accepted with probability
//              min(1, exp((lnpnew - lnp_l) beta_l)); the levels of a sweep
//              run in parallel, each level on exactly one thread
//   exchange   after the sweep, on the main thread: a pair (k, k + 1), k
//              uniform over 1 ... L - 1, swaps states with probability
//              min(1, exp((lnp_{k+1} - lnp_k)(beta_k - beta_{k+1})))
//   ladder     temp_1 = 1, temp_{i+1} = temp_i + exp(rho_i), beta = 1/temp;
//              rho_k += (n + 1)^(-0.6) (alpha_swap - pdes) after every attempt
// Only the cold chain (level 1) is written, one record per sweep.
#include <omp.h>

#include <cmath>
#include <vector>

#include "foldquest/input/user_input.hpp"
#include "foldquest/math/linalg.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/methods.hpp"

namespace fq {

void apt_options(Session& s) {
  ask_chain_options(s);
  say("Enter number of temperature levels to use: ");
  for (;;) {
    s.state.method.nlevels = s.opts().read_int32();
    if (s.state.method.nlevels >= 2) return;
    say("Error: Must have 2 or more levels for APT algorithm.");
  }
}

namespace {

// The state of one level, written during a sweep only by the thread that
// owns the level.
struct Level {
  std::vector<double> x;       // free values
  std::vector<double> params;  // full vector
  double lnp = 0;
  SquareMatrix c, s;
  float acc_count = 0;
};

void ladder(const std::vector<double>& rho, std::vector<double>& beta) {
  double temp = 1;
  beta[0] = 1;
  for (std::size_t i = 0; i < rho.size(); ++i) {
    temp += std::exp(rho[i]);
    beta[i + 1] = 1 / temp;
  }
}

}  // namespace

std::int64_t apt_with(const RunState& state, ff::Sink& results, Evaluate evaluate) {
  const auto& p = state.parameters;
  const std::int64_t nmodels = p.nmodels;
  const int nlevels = state.method.nlevels;
  if (nlevels < 2) return 0;  // the dialogue never lets this through
  const auto L = static_cast<std::size_t>(nlevels);

  const chain::Start start = chain::start(state, evaluate);
  const auto& free = start.free;
  const std::size_t d = free.size();
  std::vector<Level> levels(L);
  for (auto& lv : levels) {
    lv.params = start.params;
    lv.lnp = start.lnp;
    lv.x = start.x;
    lv.c = chain::diagonal(start.steps);
    lv.s = chol(lv.c);
  }
  std::vector<double> rho(L - 1, 1.0), beta(L);
  ladder(rho, beta);
  {
    ff::Line line;
    line << "Initial beta values: ";
    for (double b : beta) line << b;
    ff::say(line);
  }

  const std::vector<double> mu_stand(d, 0.0), sigma_stand(d, 1.0);
  float acc_count_sw = 0;
  auto& g = uniform_generator();
  for (std::int64_t n = 1; n <= nmodels; ++n) {
    const double eta = chain::ram_eta(n, d);

    // One move per level; a static schedule gives each thread a contiguous
    // block of levels (with one thread: levels 1 ... L in order).
#pragma omp parallel for schedule(static) default(none) \
    shared(levels, L, d, free, p, state, evaluate, beta, eta, mu_stand, sigma_stand, g, n)
    for (std::size_t l = 0; l < L; ++l) {
      Level& lv = levels[l];
      std::vector<double> u(d), xnew(d);
      randnormal(static_cast<int>(d), mu_stand, sigma_stand, u);
      for (std::size_t i = 0; i < d; ++i) {
        double jump = 0;
        for (std::size_t j = 0; j <= i; ++j) jump += lv.s(i, j) * u[j];
        xnew[i] = lv.x[i] + jump;
      }
      std::vector<double> new_params;
      chain::with_free(lv.params, free, xnew, new_params);
      double alpha = 0;
      if (!chain::out_of_bounds(new_params, free, p)) {
        double lnpnew = 0;
        evaluate(state, lnpnew, new_params);
        alpha = chain::acceptance_probability(lnpnew, lv.lnp, beta[l]);
        if (alpha > g.uniform()) {
          lv.acc_count += 1;
          lv.x = xnew;
          lv.params = std::move(new_params);
          lv.lnp = lnpnew;
        }
      }
      chain::ram_update(lv.c, lv.s, u, eta, alpha);
      if (d > 0 && std::isnan(lv.s(d - 1, d - 1))) {
        ff::say(ff::Line() << "Error: S is NaN at model " << n);
        ff::say(ff::Line() << "level = " << static_cast<int>(l + 1));
      }
    }

    // One exchange attempt between neighbours, then the ladder adapts.
    const double v = g.uniform();
    const auto k = static_cast<std::size_t>(static_cast<double>(L - 1) * v);  // 0 ... L-2, v < 1
    const double a = std::exp((levels[k + 1].lnp - levels[k].lnp) * (beta[k] - beta[k + 1]));
    const double alpha_sw = a < 1 ? a : 1.0;  // NaN counts as 1
    if (g.uniform() < alpha_sw) {
      std::swap(levels[k].x, levels[k + 1].x);
      std::swap(levels[k].params, levels[k + 1].params);
      std::swap(levels[k].lnp, levels[k + 1].lnp);
      acc_count_sw += 1;
    }
    const float gain = std::pow(static_cast<float>(n + 1), -0.6000000238418579f);
    rho[k] += static_cast<double>(gain) * (alpha_sw - chain::pdes);
    ladder(rho, beta);

    chain::write_record(results, levels[0].lnp, levels[0].params);
    chain::progress(n, nmodels);
  }

  chain::print_covariance("Final Covariance matrix for level 1:", levels[0].c);
  for (std::size_t l = 0; l < L; ++l) {
    const float ratio = levels[l].acc_count / static_cast<float>(nmodels);
    ff::say(ff::Line() << "Acceptance Ratio for level " << static_cast<int>(l + 1) << " = " << ratio);
  }
  ff::say(ff::Line() << "Acceptance ratio for swaps = " << acc_count_sw / static_cast<float>(nmodels));
  ff::Line line;
  line << "Final Beta Values: ";
  for (double b : beta) line << b;
  ff::say(line);
  return nmodels;
}

}  // namespace fq
