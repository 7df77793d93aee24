#include "foldquest/methods/chain.hpp"

#include <cmath>

#include "foldquest/math/random.hpp"

namespace fq::chain {

std::vector<std::size_t> free_parameters(const Parameters& p) {
  std::vector<std::size_t> free;
  for (std::size_t j = 0; j < p.mins.size(); ++j)
    if (p.maxs[j] != p.mins[j]) free.push_back(j);
  return free;
}

std::vector<double> initial_model(const RunState& state) {
  const auto& p = state.parameters;
  const auto n = static_cast<std::size_t>(p.nparams);
  std::vector<double> params(n);
  std::size_t given = 0;
  if (state.method.init_mod_rand == 2) {
    given = std::min(n, state.method.init_model.size());
    for (std::size_t j = 0; j < given; ++j) params[j] = state.method.init_model[j];
  }
  auto& g = uniform_generator();
  for (std::size_t j = given; j < n; ++j) params[j] = (p.maxs[j] - p.mins[j]) * g.uniform() + p.mins[j];
  return params;
}

void print_initial_model(std::span<const double> params) {
  ff::Line line;
  line << "Initial Model: ";
  for (double v : params) line << v;
  ff::say(line);
}

bool out_of_bounds(std::span<const double> x, std::span<const std::size_t> free, const Parameters& p) {
  for (std::size_t j : free) {
    // Written so that a NaN coordinate is out of bounds.
    if (!(x[j] >= p.mins[j] && x[j] <= p.maxs[j])) return true;
  }
  return false;
}

bool accept(double lnpnew, double lnp, double u) {
  if (std::isnan(lnpnew)) return false;
  const double pacc = std::exp(lnpnew - lnp);
  const double p = pacc < 1 ? pacc : 1.0;  // a NaN pacc (current objective NaN) counts as 1
  return p > u;
}

void write_record(ff::Sink& results, double lnp, std::span<const double> params) {
  ff::Line line;
  line << lnp;
  for (double v : params) line << v;
  results.put(line);
}

void progress(std::int64_t model, std::int64_t nmodels) {
  if (model % 10000 == 0) ff::say(ff::Line() << "ran model " << model << " of " << nmodels);
}

void acceptance_line(float acc_count, std::int64_t nmodels) {
  const float ratio = acc_count / static_cast<float>(nmodels);
  ff::say(ff::Line() << "Acceptance Ratio = " << ratio);
}

}  // namespace fq::chain
