// Trishear over a straight ramp: the option hook and the model run.
//
// Parameter vector (1-based, as the system numbers parameters):
//   1 tipx            tip x: the initial tip (tiptosolve 1) or the final one (2)
//   2 tipy            tip y, of the same tip
//   3 slip            total slip, a magnitude (sense from slip_sense)
//   4 ramp_angle_deg  ramp angle from +x, degrees; above 90 the ramp rises to -x
//   5 phi_deg         trishear angle between each zone boundary and the fault
//   6 povers          P/S, tip propagation per unit slip
//   7 s               trishear shape exponent
// then the growth-stratum slips, the terrace slips and (fit type 5) the
// restored-state fit parameters, at the start indices of the run state.
#pragma once

#include <span>

#include "foldquest/state/run_state.hpp"
#include "foldquest/input/session.hpp"

namespace fq {

// The straight ramp's own parameter count.
inline constexpr int kTrishearStrParams = 7;

// Sets nparams to the straight ramp's 7 parameters; asks nothing.
void trishear_str_options(Session& session);

// Restores the data present under `params` through the straight-ramp
// kinematics and stores the sum of the per-data-type scores in `output`
// (the failure value of the result type when a growth or terrace slip
// exceeds the total slip, or when the restoration cannot be stepped).
// Reads only `state`; owns its scratch; prints nothing of its own.  Any
// number of threads may call it at once, each with its own output and
// params.  `params` must hold at least state.parameters.nparams values.
void run_model_str(const RunState& state, double& output, std::span<const double> params);

}  // namespace fq
