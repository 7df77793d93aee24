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

// Grid search: the number of grid models from the parameter ranges
// (nmodels_real, nmodels), with "N models will be run." or the line saying
// that the ranges are not whole numbers of steps.
void count_grid_models(Session& s);

// Grid Monte Carlo: the number of grid models to draw from (nmodels_poss).
// False, with the line saying that the ranges are not whole numbers of
// steps, when they are not (nmodels_poss is then 0).
bool count_mcgrid_models(Session& s);

// After the parameter file has been read again (fit type 5 adds the
// restored-state parameters after the method's questions), the grid the
// method will really run is the one of the final ranges: counted again and
// its line printed again.  Nothing for other methods or a single reading.
void recount_grid_after_second_reading(Session& s);

}  // namespace fq
