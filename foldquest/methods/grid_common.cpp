#include "foldquest/methods/grid_common.hpp"

#include <cmath>
#include <string>

#include "foldquest/math/geometry.hpp"

namespace fq {

void check_grid_steps(const Session& s) {
  const auto& p = s.state.parameters;
  for (std::size_t i = 0; i < p.mins.size(); ++i) {
    if (p.maxs[i] == p.mins[i]) continue;
    if (!(p.steps[i] > 0) || !std::isfinite(p.steps[i]) || !std::isfinite(p.maxs[i] - p.mins[i])) {
      throw ff::InputError(ff::InputError::Kind::bad_value,
                           "file '" + s.params_file + "', line " + std::to_string(i + 1) + ": parameter " +
                               std::to_string(i + 1) +
                               " has different bounds, so its grid step must be a positive number");
    }
  }
}

double grid_values_real(const Parameters& p, std::size_t i) {
  if (p.maxs[i] == p.mins[i]) return 1.0;
  return (p.maxs[i] - p.mins[i]) / p.steps[i] + 1.0;
}

bool grid_has_models(const Parameters& p) {
  for (std::size_t i = 0; i < p.mins.size(); ++i)
    if (grid_count(p.mins[i], p.maxs[i], p.steps[i], static_cast<int>(i + 1)) < 1) return false;
  return true;
}

void recount_grid_after_second_reading(Session& s) {
  if (s.params_readings < 2) return;
  auto& p = s.state.parameters;
  switch (s.state.options.method) {
    case 1:
      count_grid_models(s);
      break;
    case 2:
      // The number of models was answered with the first grid; a grid whose
      // ranges are not whole numbers of steps runs none, as when the first
      // reading was refused and the number never asked.
      if (!count_mcgrid_models(s)) {
        p.nmodels = 0;
        break;
      }
      ff::say(ff::Line() << p.nmodels << "models will be run.");
      break;
    default:
      break;
  }
}

}  // namespace fq
