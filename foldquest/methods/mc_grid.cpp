// Grid Monte Carlo: models of the parameter grid drawn uniformly with
// repetition and evaluated in parallel, a block at a time; the results lines
// (score, then the parameters) are written in the order of the draws.
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "foldquest/math/geometry.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/methods/grid_common.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/methods.hpp"
#include "foldquest/methods/ranks.hpp"
#include "foldquest/report/progress.hpp"

namespace fq {

namespace {

// Models drawn, evaluated and written per block.
constexpr std::int64_t kBlockSize = 10000;

// 1e-5 in single precision.
constexpr float kEvenTolerance = 9.99999974737875e-06f;

// A model number drawn uniformly from 1 ... n (n >= 1) in 64-bit integer
// arithmetic: 64 random bits from a pair of uniforms, rejected above the
// largest multiple of n so that every number is equally likely.
std::int64_t draw_model_number(std::int64_t n) {
  auto& g = uniform_generator();
  const auto un = static_cast<std::uint64_t>(n);
  const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() -
                              std::numeric_limits<std::uint64_t>::max() % un;
  for (;;) {
    const auto [u1, u2] = g.uniform_pair();
    // Each uniform carries 53 random bits: take 32 from each.
    const auto hi = static_cast<std::uint64_t>(u1 * 4294967296.0);
    const auto lo = static_cast<std::uint64_t>(u2 * 4294967296.0);
    const std::uint64_t v = (hi << 32) | lo;
    if (v < limit) return static_cast<std::int64_t>(v % un) + 1;
  }
}

}  // namespace

void mcgrid_options(Session& s) {
  check_grid_steps(s);
  auto& p = s.state.parameters;
  double product = 1;
  for (std::size_t i = 0; i < p.mins.size(); ++i) product *= grid_values_real(p, i);
  const auto nmodels_real = static_cast<float>(product);
  // The even-division check, in single precision as it always was (it
  // decides whether the number of models is asked, so options files depend
  // on it).
  const float rounded = std::round(nmodels_real);
  if (!(std::fabs(rounded - nmodels_real) < kEvenTolerance)) {
    ff::say(ff::Line() << "Error: (max-min) is not evenly divisible by step for all parameters.");
    return;
  }
  // The models to draw from: the exact 64-bit count of the grid.
  std::int64_t count = 1;
  try {
    const auto kback = makekback(p.mins, p.maxs, p.steps);
    if (!grid_has_models(p)) count = 0;
    else if (!kback.empty()) count = kback[0] * grid_count(p.mins[0], p.maxs[0], p.steps[0], 1);
  } catch (const GridError& e) {
    throw ff::InputError(ff::InputError::Kind::bad_value, "file '" + s.params_file + "': " + e.what());
  }
  s.state.method.nmodels_poss = count;
  ff::say(ff::Line() << "Enter number of models to run: ");
  p.nmodels = s.opts().read_int64();
  ff::say(ff::Line() << p.nmodels << "models will be run.");
}

std::int64_t montecarlo_grid_with(const RunState& state, ff::Sink& results, Evaluate evaluate) {
  const auto& p = state.parameters;
  const std::int64_t nmodels = p.nmodels;
  const std::int64_t nposs = state.method.nmodels_poss;
  if (nmodels < 1) return nmodels;
  std::vector<std::int64_t> kback;
  try {
    kback = makekback(p.mins, p.maxs, p.steps);
    if (nposs < 1 || !grid_has_models(p)) {
      ff::say(ff::Line() << "Error: the parameter grid holds no model.");
      return 0;
    }
  } catch (const GridError& e) {
    ff::say(ff::Line() << "Error: " << e.what());
    return 0;
  }
  // Seeded once for the whole run, before the threads start.
  chain::seed_for_run();
  const auto n = static_cast<std::size_t>(p.nparams);
  // Blocks of models: the model numbers are drawn on this thread in model
  // order, the block is evaluated in parallel, and the lines are written in
  // model order.  The file is then the same for any number of threads
  // (the one-thread file), and a fixed seed repeats it exactly.
  std::vector<std::int64_t> numbers(static_cast<std::size_t>(std::min(kBlockSize, nmodels)));
  std::vector<double> scores(numbers.size());
  std::vector<double> params(n);
  // With several ranks (MPI) rank 0 draws, every rank evaluates its share of
  // the block, and rank 0 gathers and writes: the one-process file.
  const int nranks = ranks::size(), me = ranks::rank();
  for (std::int64_t first = 1; first <= nmodels; first += kBlockSize) {
    const std::int64_t count = std::min(kBlockSize, nmodels - first + 1);
    if (me == 0)
      for (std::int64_t k = 0; k < count; ++k) numbers[static_cast<std::size_t>(k)] = draw_model_number(nposs);
    ranks::broadcast(std::span<std::int64_t>(numbers.data(), static_cast<std::size_t>(count)));
    const std::pair<std::int64_t, std::int64_t> mine = ranks::share(count, me, nranks);
    const std::int64_t lo = mine.first, hi = mine.second;
#pragma omp parallel default(none) shared(state, evaluate, p, kback, numbers, scores, lo, hi, first, n)
    {
      if (first == 1) {
#pragma omp single
        ff::say(ff::Line() << "Starting " << omp_get_num_threads() << " threads");
      }
      std::vector<double> block_params(n);
#pragma omp for schedule(guided, 100)
      for (std::int64_t k = lo; k < hi; ++k) {
        const auto i = static_cast<std::size_t>(k);
        modelparamsfromnum(numbers[i], block_params, kback, p.mins, p.steps);
        double rms = 0;
        evaluate(state, rms, block_params);
        scores[i] = rms;
        progress::advance();
      }
    }
    ranks::gather(std::span<double>(scores.data(), static_cast<std::size_t>(count)));
    if (me != 0) continue;
    for (std::int64_t k = 0; k < count; ++k) {
      const auto i = static_cast<std::size_t>(k);
      modelparamsfromnum(numbers[i], params, kback, p.mins, p.steps);
      chain::write_record(results, scores[i], params);
      const std::int64_t model = first + k;
      if (model % 10000 == 0) ff::say(ff::Line() << "ran model " << model << " of " << nmodels);
    }
  }
  return nmodels;
}

}  // namespace fq
