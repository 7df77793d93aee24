// Random-walk Metropolis-Hastings: each free parameter moves by an
// independent normal step of standard deviation `steps`; the chain's
// stationary distribution is proportional to exp(objective).  Sequential.
#include <vector>

#include "foldquest/input/user_input.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/methods.hpp"

namespace fq {

void ask_chain_options(Session& s) {
  auto& p = s.state.parameters;
  auto& m = s.state.method;
  ff::say(ff::Line() << "Enter number of models to run: ");
  p.nmodels = s.opts().read_int64();
  for (;;) {
    ff::say(ff::Line() << "Should initial model be (1) random or (2) specified?");
    m.init_mod_rand = s.opts().read_int32();
    if (m.init_mod_rand == 1) return;
    if (m.init_mod_rand == 2) break;
    say("Invalid Command");
  }
  ff::say(ff::Line() << "Enter initial values for all " << p.nparams << "  parameters: ");
  m.init_model = s.opts().read_reals(static_cast<std::size_t>(p.nparams > 0 ? p.nparams : 0));
}

void mcmc_options(Session& s) { ask_chain_options(s); }

std::int64_t mcmc_with(const RunState& state, ff::Sink& results, Evaluate evaluate) {
  const auto& p = state.parameters;
  const std::int64_t nmodels = p.nmodels;
  auto [params, lnp, free, x, sigma_jump] = chain::start(state, evaluate);
  const auto ntosolve = free.size();
  std::vector<double> xnew(ntosolve), new_params;
  float acc_count = 0;
  auto& g = uniform_generator();
  for (std::int64_t model = 1; model <= nmodels; ++model) {
    randnormal(static_cast<int>(ntosolve), x, sigma_jump, xnew);
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
    chain::write_record(results, lnp, params);
    chain::progress(model, nmodels);
  }
  chain::acceptance_line(acc_count, nmodels);
  return nmodels;
}

}  // namespace fq
