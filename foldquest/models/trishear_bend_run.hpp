// Trishear over a fault with a bend: the option dialogue and the model run.
//
// Parameter vector (1-based, as the system numbers parameters):
//   1 tipx        tip x: the initial tip (tiptosolve 1) or the final one (2)
//   2 tipy        tip y, of the same tip
//   3 slip        total slip, a magnitude (sense from slip_sense)
//   4 a1_deg      angle of segment 1 (above the bend) from +x, degrees
//   5 phi_deg     trishear angle between each zone boundary and the fault
//   6 povers      P/S, tip propagation per unit slip
//   7 s           trishear shape exponent
//   8 a2_deg      angle of segment 2 (below the bend) from +x, degrees
//   9 bendy       y of the bend; only when bend_at_tipy = 0 (with
//                 bend_at_tipy = 1 the bend is at the initial tip)
// then the growth-stratum slips, the terrace slips and (fit type 5) the
// restored-state fit parameters, at the start indices of the run state.
#pragma once

#include <span>

#include "foldquest/state/run_state.hpp"
#include "foldquest/input/session.hpp"

namespace fq {

// The bend model's own parameter count: 8 with the bend at the initial
// tip's depth, 9 with the bend's y a parameter.
inline int trishear_bend_param_count(int bend_at_tipy) { return bend_at_tipy == 1 ? 8 : 9; }

// Asks whether the bend lies at the initial tip's depth (only when the tip
// parameters give the initial tip) and, when the bend's y is a parameter,
// whether the initial tip may lie below the bend; sets bend_at_tipy,
// tipy_can_be_below_bend and nparams.
void trishear_bend_options(Session& session);

// The fault in the map frame: the bend and the map angles (radians) of the
// segments above (1) and below (2) it.
struct BendFault {
  double bendx = 0, bendy = 0;
  double a1 = 0, a2 = 0;
};

// A tip position on the fault and the segment it lies on (1 or 2).
struct TipOnFault {
  double x = 0, y = 0;
  int segment = 1;
};

// The tip-path rule.  The tip moves D = q P along the fault for a slip
// magnitude q, along (cos a_k, sin a_k) on segment k.
//   back:    from a later tip to the earlier one (segment 1 -> 2 at the bend
//            when the distance L to the bend is less than D)
//   forward: from an earlier tip to the later one (segment 2 -> 1 at the
//            bend when L < D)
TipOnFault bend_tip_back(const BendFault& fault, TipOnFault later, double D);
TipOnFault bend_tip_forward(const BendFault& fault, TipOnFault earlier, double D);

// Restores the data present under `params` through the bend kinematics and
// stores the sum of the per-data-type scores in `output`: the failure value
// of the result type when the model is rejected (a growth or terrace slip
// above the slip; segments on both sides of the vertical; the upper segment
// shallower than the lower; phi not below half the bend's obtuse angle; the
// initial tip below the bend where that is not allowed; no bend point on a
// horizontal segment) or cannot be stepped.  Reads only `state`; owns its
// scratch; prints nothing.  Any number of threads may call it at once.
void run_model_bend(const RunState& state, double& output, std::span<const double> params);

}  // namespace fq
