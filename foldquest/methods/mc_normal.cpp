// Monte Carlo from a multivariate normal proposal: every model is a draw of
// mean `means` and covariance `c` (from the proposal file), evaluated in
// parallel a block at a time; the results lines are written in the order of
// the draws.
// Draws are not clipped to the parameter file's ranges.
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>
#include <vector>

#include "foldquest/input/user_input.hpp"
#include "foldquest/math/linalg.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/methods.hpp"
#include "foldquest/methods/ranks.hpp"
#include "foldquest/report/progress.hpp"

namespace fq {

namespace {
// Models drawn, evaluated and written per block.
constexpr std::int64_t kBlockSize = 10000;
}  // namespace

void mcnormal_options(Session& s) {
  auto& p = s.state.parameters;
  auto& m = s.state.method;
  ff::say(ff::Line() << "Enter number of models to run: ");
  p.nmodels = s.opts().read_int64();
  ff::say(ff::Line() << p.nmodels << "models will be run.");
  m.dist_file = ask_existing_file(s.opts(), "Enter filename to read proposal distribution from: ");

  // The file: nparams means (one read), one skipped line, then one read per
  // row of the covariance matrix.
  auto in = ff::Reader::open_file(m.dist_file);
  const auto n = static_cast<std::size_t>(p.nparams > 0 ? p.nparams : 0);
  m.means = in->read_reals(n);
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

std::int64_t mc_normal_with(const RunState& state, ff::Sink& results, Evaluate evaluate) {
  const auto& p = state.parameters;
  const auto& m = state.method;
  const std::int64_t nmodels = p.nmodels;
  const SquareMatrix l = chol(SquareMatrix::from_row_major(m.c));
  if (nmodels < 1) return nmodels;
  // Seeded once for the whole run, before the threads start.
  chain::seed_for_run();
  const int n = p.nparams;
  // Blocks of models: drawn on this thread in model order, evaluated in
  // parallel, written in model order.  The file is then the same for any
  // number of threads (the one-thread file), and a fixed seed repeats it.
  // With several ranks (MPI) rank 0 draws, every rank evaluates its share of
  // the block, and rank 0 gathers and writes: the one-process file.
  const auto block = static_cast<std::size_t>(std::min(kBlockSize, nmodels));
  const auto un = static_cast<std::size_t>(n > 0 ? n : 0);
  std::vector<double> draws(block * un);  // model k's parameters at k * un
  std::vector<double> scores(block);
  const int nranks = ranks::size(), me = ranks::rank();
  for (std::int64_t first = 1; first <= nmodels; first += kBlockSize) {
    const std::int64_t count = std::min(kBlockSize, nmodels - first + 1);
    const auto ucount = static_cast<std::size_t>(count);
    if (me == 0) {
      for (std::size_t k = 0; k < ucount; ++k) {
        const std::vector<double> d = randnormal_multi(n, m.means, l);
        std::copy(d.begin(), d.end(), draws.begin() + static_cast<std::ptrdiff_t>(k * un));
      }
    }
    ranks::broadcast(std::span<double>(draws.data(), ucount * un));
    const std::pair<std::int64_t, std::int64_t> mine = ranks::share(count, me, nranks);
    const std::int64_t lo = mine.first, hi = mine.second;
#pragma omp parallel default(none) shared(state, evaluate, draws, scores, lo, hi, first, un)
    {
      if (first == 1) {
#pragma omp single
        ff::say(ff::Line() << "Starting " << omp_get_num_threads() << " threads");
      }
#pragma omp for schedule(guided, 100)
      for (std::int64_t k = lo; k < hi; ++k) {
        const auto i = static_cast<std::size_t>(k);
        double error = 0;
        evaluate(state, error, std::span<const double>(draws.data() + i * un, un));
        scores[i] = error;
        progress::advance();
      }
    }
    ranks::gather(std::span<double>(scores.data(), ucount));
    if (me != 0) continue;
    for (std::size_t i = 0; i < ucount; ++i) {
      const auto k = static_cast<std::int64_t>(i);
      chain::write_record(results, scores[i], std::span<const double>(draws.data() + i * un, un));
      const std::int64_t model = first + k;
      if (model % 10000 == 0) ff::say(ff::Line() << "ran model " << model << " of " << nmodels);
    }
  }
  return nmodels;
}

}  // namespace fq
