// Trishear over a listric fault: the option question and the model run.
//
// Parameter vector (1-based, as the system numbers parameters):
//   1 tipx           tip x: the initial tip (tiptosolve 1) or the final one (2)
//   2 tipy           tip y, of the same tip
//   3 slip           total slip, a magnitude (sense from slip_sense)
//   4 theta_max_deg  dip of the straight segment, which is also the arc angle
//                    at which the arc ends; above 90 the fault rises to -x
//   5 phi_deg        trishear half-angle
//   6 povers         P/S, tip propagation per unit slip
//   7 s              trishear shape exponent
//   8 rc             radius of the arc
//   9 yd             y of the horizontal detachment; only when
//                    decoly_at_tipy = 0 (with 1 the detachment lies at the
//                    depth of the given initial tip)
// then the growth-stratum slips, the terrace slips and (fit type 5) the
// restored-state fit parameters, at the start indices of the run state.
#pragma once

#include <span>

#include "foldquest/state/run_state.hpp"
#include "foldquest/input/session.hpp"
#include "foldquest/math/vec2.hpp"

namespace fq {

// The model's own parameter count: 8 with the detachment at the initial
// tip's depth, else 9.
inline int trishear_listric_nparams(int decoly_at_tipy) { return decoly_at_tipy == 1 ? 8 : 9; }

// With tiptosolve = 1 asks "Must detachment depth be at initial fault tip
// depth? (0/1)" until the answer is 0 or 1; otherwise asks nothing and takes
// 0.  Stores the answer in state.fault.decoly_at_tipy and sets nparams.
void trishear_listric_options(Session& session);

// The fault and the tips of one parameter vector, in the kinematics' frame:
// x mirrored (x -> -x) when the fault rises towards -x (ramp_dir = -1), so
// that the fault always rises towards +x there.
struct ListricGeometry {
  int ramp_dir = 1;
  double theta_max = 0;   // acute: the straight segment's dip in the frame
  double phi = 0, m = 0, povers = 0, s = 0, slip = 0;
  double rc = 0;
  Vec2 cc;                // centre of the arc
  Vec2 arc_end;           // P(theta_max), where the straight segment starts
  Vec2 tip_init, tip_final;
  double theta0 = 0;      // initial tip's arc angle (theta_max on the straight)
  double thetat = 0;      // final tip's arc angle (theta_max on the straight)
  bool final_on_arc = true;
  double final_to_arc_end = 0;  // distance of the final tip from arc_end (0 on the arc)

  // The tip's arc angle after restoring through `slip_of_set` (signed) from
  // the final tip: the end angle of one restoration.
  double end_angle(double slip_of_set) const;
};

// Builds the geometry of `params` (at least the model's own parameter
// count).  False when the candidate is rejected: a detachment above the
// given tip (decoly_at_tipy = 0), phi not below half of max(theta_max,
// pi - theta_max), a given tip below the detachment or (initial tip) behind
// the centre, or (final tip) a propagation reaching past the bottom of the
// arc; a radius that is not positive, a negative P/S or slip; any NaN in
// the geometry also rejects.
bool listric_geometry(const RunState& state, std::span<const double> params, ListricGeometry& g);

// Restores the data present under `params` through the listric kinematics
// and stores the sum of the per-data-type scores in `output` (the result
// type's failure value when the candidate is rejected, a growth or terrace
// slip exceeds the total slip, or a restoration cannot be stepped).  Reads
// only `state`; any number of threads may call it at once.
void run_model_listric(const RunState& state, double& output, std::span<const double> params);

}  // namespace fq
