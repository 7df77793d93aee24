// Grid search: every model of the parameter grid, in blocks of 100000
// evaluated in parallel (split across MPI ranks too, when there are
// several); the main thread (of rank 0) writes each block's scores in model
// order, so line k of the results file belongs to grid model k whatever the
// number of threads and ranks.
#include <omp.h>

#include <cmath>
#include <span>
#include <utility>
#include <vector>

#include "foldquest/math/geometry.hpp"
#include "foldquest/methods/grid_common.hpp"
#include "foldquest/methods/methods.hpp"
#include "foldquest/methods/ranks.hpp"
#include "foldquest/report/progress.hpp"

namespace fq {

namespace {
constexpr std::int64_t kBufferSize = 100000;  // models per block
// 1e-5 held in single precision: the tolerance of the even-division check.
constexpr double kEvenTolerance = 9.999999747378752e-06;
// 2^63: every count below it fits a 64-bit integer.
constexpr double kInt64Limit = 9223372036854775808.0;
}  // namespace

void gridsearch_options(Session& s) {
  check_grid_steps(s);
  auto& p = s.state.parameters;
  double nmodels_real = 1;
  for (std::size_t i = 0; i < p.mins.size(); ++i) nmodels_real *= grid_values_real(p, i);
  if (!(std::fabs(nmodels_real) < kInt64Limit)) {
    throw ff::InputError(ff::InputError::Kind::bad_value,
                         "file '" + s.params_file +
                             "': the parameter grid has more models than can be counted (make some ranges "
                             "narrower or their steps larger)");
  }
  s.state.method.nmodels_real = nmodels_real;
  p.nmodels = std::llround(nmodels_real);  // halves away from zero
  if (std::fabs(static_cast<double>(p.nmodels) - nmodels_real) < kEvenTolerance) {
    ff::say(ff::Line() << p.nmodels << "models will be run.");
  } else {
    ff::say(ff::Line() << "Error: (max-min) is not evenly divisible by step for all parameters.");
  }
}

std::int64_t gridsearch_with(const RunState& state, ff::Sink& results, Evaluate evaluate) {
  const auto& p = state.parameters;
  const std::int64_t nmodels = p.nmodels;
  if (nmodels < 1) return nmodels;  // an empty grid: no block runs
  std::vector<std::int64_t> kback;
  try {
    kback = makekback(p.mins, p.maxs, p.steps);
    if (!grid_has_models(p)) {
      ff::say(ff::Line() << "Error: a parameter's upper bound lies below its lower bound; no model is run.");
      return 0;
    }
  } catch (const GridError& e) {
    ff::say(ff::Line() << "Error: " << e.what());
    return 0;
  }

  std::vector<double> write_buffer(static_cast<std::size_t>(kBufferSize));
  const auto n = static_cast<std::size_t>(p.nparams);
  std::int64_t model_last = 0;
  bool first_block = true;
  // With several ranks (MPI) each block is split into contiguous shares,
  // one per rank; rank 0 gathers the scores and writes the block.
  const int nranks = ranks::size(), me = ranks::rank();
  while (model_last < nmodels) {
    const std::int64_t block_end = std::min(model_last + kBufferSize, nmodels);
    const std::int64_t nblock = block_end - model_last;
    const std::pair<std::int64_t, std::int64_t> mine = ranks::share(nblock, me, nranks);
    const std::int64_t first = model_last + 1 + mine.first, last = model_last + mine.second;
#pragma omp parallel default(none) \
    shared(state, evaluate, p, kback, write_buffer, model_last, first, last, first_block, n)
    {
      if (first_block) {
#pragma omp single
        ff::say(ff::Line() << "Starting " << omp_get_num_threads() << " threads");
        // (the implicit barrier of `single` holds every thread until the line is out)
      }
      std::vector<double> params(n);
#pragma omp for schedule(guided, 100)
      for (std::int64_t model = first; model <= last; ++model) {
        modelparamsfromnum(model, params, kback, p.mins, p.steps);
        double rms = 0;
        evaluate(state, rms, params);
        write_buffer[static_cast<std::size_t>(model - model_last - 1)] = rms;
        progress::advance();
      }
    }
    first_block = false;
    ranks::gather(std::span<double>(write_buffer.data(), static_cast<std::size_t>(nblock)));
    model_last = block_end;
    if (me != 0) continue;
    ff::say(ff::Line() << "ran model" << model_last << " of " << nmodels);
    for (std::int64_t k = 0; k < nblock; ++k)
      results.put(ff::Line() << write_buffer[static_cast<std::size_t>(k)]);
  }
  return nmodels;
}

}  // namespace fq
