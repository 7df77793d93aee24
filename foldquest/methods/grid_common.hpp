// Grid bookkeeping shared by grid search and grid Monte Carlo.
#pragma once

#include "foldquest/input/session.hpp"

namespace fq {

// Refuses (ff::InputError naming the parameter file and line) a parameter
// whose bounds differ but whose step is zero, negative or not a number:
// such a range has no finite grid.  Equal bounds are one value whatever the
// step.
void check_grid_steps(const Session& s);

// a(i) = (maxs(i) - mins(i)) / steps(i) + 1, in double precision and not
// rounded; 1 for equal bounds.
double grid_values_real(const Parameters& p, std::size_t i);

// True when every parameter has at least one grid value, so that every model
// number from 1 up can be turned into a parameter vector.  Throws GridError
// (foldquest/math/geometry.hpp) when a count cannot be formed.
bool grid_has_models(const Parameters& p);

}  // namespace fq
