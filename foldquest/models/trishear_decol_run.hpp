// Trishear over a ramp from a horizontal detachment: the option question and
// the model run.
//
// Parameter vector (1-based, as the system numbers parameters):
//   1 tipx            tip x: the initial tip (tiptosolve 1) or the final one (2)
//   2 tipy            tip y, of the same tip
//   3 slip            total slip, a magnitude (sense from slip_sense)
//   4 ramp_angle_deg  ramp angle from +x, degrees; above 90 the ramp rises to -x
//   5 phi_deg         trishear angle between each zone boundary and the fault
//   6 povers          P/S, tip propagation per unit slip
//   7 s               trishear shape exponent
//   8 decol_y         y of the detachment; only when decoly_at_tipy = 0 (with
//                     decoly_at_tipy = 1 the detachment lies at the initial
//                     tip's depth and the ramp rises from the initial tip)
// then the growth-stratum slips, the terrace slips and (fit type 5) the
// restored-state fit parameters, at the start indices of the run state.
#pragma once

#include <span>

#include "foldquest/state/run_state.hpp"
#include "foldquest/input/session.hpp"

namespace fq {

// The model's own parameter count: 8, or 7 with the detachment at the
// initial tip's depth.
inline int trishear_decol_nparams(int decoly_at_tipy) { return decoly_at_tipy == 1 ? 7 : 8; }

// Asks "Must detachment depth be at initial fault tip depth? (0/1)" until
// the answer is 0 or 1, stores it in state.fault.decoly_at_tipy and sets
// nparams to 7 (answer 1) or 8 (answer 0).
void trishear_decol_options(Session& session);

// Restores the data present under `params` through the detachment model's
// kinematics and stores the sum of the per-data-type scores in `output`.
// The failure value of the result type is stored instead when a growth or
// terrace slip exceeds the total slip, when phi is not below half the
// bend's obtuse angle, when (decoly_at_tipy = 0) the detachment is not
// strictly below the initial tip or the ramp never meets it, or when a
// restoration cannot be stepped.  Reads only `state`; owns its scratch;
// prints nothing of its own.  Any number of threads may call it at once.
// `params` must hold at least state.parameters.nparams values.
void run_model_decol(const RunState& state, double& output, std::span<const double> params);

}  // namespace fq
