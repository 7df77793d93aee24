#include "foldquest/methods/chain.hpp"

#include <atomic>
#include <cmath>
#include <cstdio>

#include "foldquest/math/random.hpp"
#include "foldquest/methods/ranks.hpp"
#include "foldquest/report/progress.hpp"

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

Start start(const RunState& state, Evaluate evaluate) {
  Start s;
  seed_for_run();
  s.params = initial_model(state);
  print_initial_model(s.params);
  evaluate(state, s.lnp, s.params);
  s.free = free_parameters(state.parameters);
  for (std::size_t j : s.free) {
    s.x.push_back(s.params[j]);
    s.steps.push_back(state.parameters.steps[j]);
  }
  return s;
}

void with_free(std::span<const double> params, std::span<const std::size_t> free, std::span<const double> x,
               std::vector<double>& out) {
  out.assign(params.begin(), params.end());
  for (std::size_t k = 0; k < free.size(); ++k) out[free[k]] = x[k];
}

SquareMatrix diagonal(std::span<const double> v) {
  SquareMatrix m(v.size());
  for (std::size_t k = 0; k < v.size(); ++k) m(k, k) = v[k];
  return m;
}

bool out_of_bounds(std::span<const double> x, std::span<const std::size_t> free, const Parameters& p) {
  for (std::size_t j : free) {
    // Written so that a NaN coordinate is out of bounds.
    if (!(x[j] >= p.mins[j] && x[j] <= p.maxs[j])) return true;
  }
  return false;
}

double acceptance_probability(double lnpnew, double lnp, double beta) {
  if (std::isnan(lnpnew)) return 0.0;
  const double pacc = std::exp((lnpnew - lnp) * beta);
  return pacc < 1 ? pacc : 1.0;  // a NaN pacc counts as 1
}

bool accept(double lnpnew, double lnp, double u) { return acceptance_probability(lnpnew, lnp) > u; }

namespace {
std::atomic<long long> g_run_seed{-1};
thread_local long long t_thread_seed = -1;
}  // namespace

void seed_for_run() {
  if (t_thread_seed >= 0) {
    seed_random(static_cast<std::uint32_t>(t_thread_seed));
    return;
  }
  const long long fixed = g_run_seed.load();
  const std::uint32_t t = fixed >= 0 ? static_cast<std::uint32_t>(fixed) : clock_seed();
  seed_random(t);
  if (ranks::rank() != 0) return;  // every rank has the same seed; one line
  // Standard error, so that the console transcript stays as it always was;
  // one whole line, flushed at once.
  std::fprintf(stderr, "foldquest: random seed %lu\n", static_cast<unsigned long>(t));
  std::fflush(stderr);
}

void set_run_seed(long long t) { g_run_seed.store(t < 0 ? -1 : t); }
void set_thread_seed(long long t) { t_thread_seed = t < 0 ? -1 : t; }
long long run_seed() { return g_run_seed.load(); }
void set_test_seed(long long t) { set_run_seed(t); }

double ram_eta(std::int64_t n, std::size_t d) {
  const float w = std::pow(static_cast<float>(n), -0.6666666865348816f);
  const float e = static_cast<float>(d) * w;
  return static_cast<double>(e < 1.0f ? e : 1.0f);
}

double am_sd(std::size_t d) { return static_cast<double>(5.76f / static_cast<float>(d)); }

void ram_update(SquareMatrix& c, SquareMatrix& s, std::span<const double> u, double eta, double alpha) {
  const std::size_t d = u.size();
  if (d == 0) return;
  double uu = 0;
  for (double v : u) uu += v * v;
  const double k = eta * (alpha - pdes) / uu;
  // M = I + k u u^T; c = s M s^T = s s^T + k (s u)(s u)^T.
  SquareMatrix m(d);
  for (std::size_t i = 0; i < d; ++i)
    for (std::size_t j = 0; j < d; ++j) m(i, j) = (i == j ? 1.0 : 0.0) + k * u[i] * u[j];
  SquareMatrix sm(d);
  for (std::size_t i = 0; i < d; ++i)
    for (std::size_t j = 0; j < d; ++j) {
      double acc = 0;
      for (std::size_t l = 0; l < d; ++l) acc += s(i, l) * m(l, j);
      sm(i, j) = acc;
    }
  for (std::size_t i = 0; i < d; ++i)
    for (std::size_t j = 0; j < d; ++j) {
      double acc = 0;
      for (std::size_t l = 0; l < d; ++l) acc += sm(i, l) * s(j, l);
      c(i, j) = acc;
    }
  s = chol(c);
}

void print_covariance(const char* title, const SquareMatrix& c) {
  ff::say(ff::Line() << title);
  for (std::size_t i = 0; i < c.size(); ++i) {
    ff::Line line;
    for (std::size_t j = 0; j < c.size(); ++j) line << static_cast<float>(c(i, j));
    ff::say(line);
  }
}

void write_record(ff::Sink& results, double lnp, std::span<const double> params) {
  ff::Line line;
  line << lnp;
  for (double v : params) line << v;
  results.put(line);
}

void progress(std::int64_t model, std::int64_t nmodels) {
  fq::progress::advance();
  if (model % 10000 == 0) ff::say(ff::Line() << "ran model " << model << " of " << nmodels);
}

void acceptance_line(float acc_count, std::int64_t nmodels) {
  const float ratio = acc_count / static_cast<float>(nmodels);
  ff::say(ff::Line() << "Acceptance Ratio = " << ratio);
}

}  // namespace fq::chain
