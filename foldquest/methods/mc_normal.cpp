// Monte Carlo from a multivariate normal proposal: every model is a draw of
// mean `means` and covariance `c` (from the proposal file), evaluated in
// parallel; each worker writes its results line whole, in completion order.
// Draws are not clipped to the parameter file's ranges.
#include <omp.h>

#include <cmath>
#include <string>
#include <vector>

#include "foldquest/input/choose.hpp"
#include "foldquest/input/user_input.hpp"
#include "foldquest/math/linalg.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/methods.hpp"

namespace fq {

void mcnormal_options(Session& s) {
  auto& p = s.state.parameters;
  auto& m = s.state.method;
  p.nmodels = ask_nmodels(s);
  ff::say(ff::Line() << p.nmodels << "models will be run.");
  m.dist_file = ask_input_file(s, "Enter filename to read proposal distribution from: ", "the proposal file");

  // The file: nparams means (one read), one skipped line, then one read per
  // row of the covariance matrix.
  auto in = ff::Reader::open_file(m.dist_file);
  const auto n = static_cast<std::size_t>(p.nparams > 0 ? p.nparams : 0);
  m.means = in->read_reals(n);
  for (std::size_t j = 0; j < n; ++j) {
    // A NaN or infinite mean would give a NaN parameter in every draw.
    if (!std::isfinite(m.means[j])) {
      throw ff::InputError(ff::InputError::Kind::bad_value,
                           in->where(in->line_number() - 1) + ": the mean of parameter " + std::to_string(j + 1) +
                               " must be a finite number");
    }
  }
  in->read_nothing("the separator line after the means");
  m.c.assign(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const auto row = in->read_reals(n);
    for (std::size_t j = 0; j < n; ++j) m.c[i * n + j] = row[j];
  }
  // Every draw goes through the Cholesky factor: a covariance without one
  // would give not-a-number parameters for the whole run.
  const SquareMatrix l = chol(SquareMatrix::from_row_major(m.c));
  for (std::size_t i = 0; i < n; ++i) {
    if (!(l(i, i) > 0) || !std::isfinite(l(i, i))) {
      throw ff::InputError(ff::InputError::Kind::bad_value,
                           "file '" + m.dist_file + "': the proposal covariance matrix is not positive definite");
    }
  }
}

std::int64_t mc_normal(const RunState& state, ff::Sink& results) {
  return mc_normal_with(state, results, choose_fault_model);
}

std::int64_t mc_normal_with(const RunState& state, ff::Sink& results, Evaluate evaluate) {
  const auto& p = state.parameters;
  const auto& m = state.method;
  const std::int64_t nmodels = p.nmodels;
  const SquareMatrix l = chol(SquareMatrix::from_row_major(m.c));
  if (nmodels < 1) return nmodels;
  // Seeded once for the whole run, before the threads start.
  chain::seed_for_run();
  const int n = p.nparams;
#pragma omp parallel default(none) shared(state, evaluate, m, l, results, nmodels, n)
  {
#pragma omp single
    ff::say(ff::Line() << "Starting " << omp_get_num_threads() << " threads");
#pragma omp for schedule(guided, 1000)
    for (std::int64_t model = 1; model <= nmodels; ++model) {
      const std::vector<double> params = randnormal_multi(n, m.means, l);
      double error = 0;
      evaluate(state, error, params);
      if (model % 10000 == 0) ff::say(ff::Line() << "ran model " << model << " of " << nmodels);
      chain::write_record(results, error, params);
    }
  }
  return nmodels;
}

}  // namespace fq
