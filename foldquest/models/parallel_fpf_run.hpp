// Parallel (kink-band) fault-propagation fold: the option dialogue and the
// model run.
//
// Parameter vector (1-based, as the system numbers parameters):
//   1 tipx        tip x: the initial tip (tiptosolve 1) or the final one (2)
//   2 tipy        tip y, of the same tip
//   3 slip        total slip, a magnitude (sense from slip_sense)
//   4 a_up_deg    angle of the upper fault segment from +x, degrees
//   5 a_low_deg   angle of the lower fault segment from +x, degrees
//   6 bendy       y of the bend; only when bend_at_tipy = 0 (with
//                 bend_at_tipy = 1 the bend is at the initial tip)
// then the growth-stratum slips, the terrace slips and (fit type 5) the
// restored-state fit parameters, at the start indices of the run state.
// There is no trishear angle, P/S or shape exponent: P/S follows from the
// fold's geometry.
#pragma once

#include <span>

#include "foldquest/state/run_state.hpp"
#include "foldquest/input/session.hpp"
#include "foldquest/models/parallel_fpf.hpp"

namespace fq {

// The model's own parameter count: 5 with the bend at the initial tip, 6
// with the bend's y a parameter.
inline int parallel_fpf_param_count(int bend_at_tipy) { return bend_at_tipy == 1 ? 5 : 6; }

// Asks whether the bend lies at the initial tip's depth (whatever the tip
// type); sets bend_at_tipy, tipy_can_be_below_bend = 0 and nparams.
void parallel_fpf_options(Session& session);

// The fold of one parameter vector in the map frame, after the checks and
// the geometry solution: what the model run restores with.
struct PfpfModel {
  PfpfGeometry geo;
  int ramp_dir = 1;
  double a_up = 0, a_low = 0;     // map angles, radians
  Vec2 bend, tip_init, tip_final;  // map frame
  double total_slip = 0;           // signed: the sense of the restoration
};

// Checks the fault parameters, solves the geometry and places the bend and
// the tips.  False when the model fails; the geometry's failures are
// reported through fq::diag with their messages (the segment rejections
// and an initial tip below the bend are silent).
bool pfpf_model(const RunState& state, std::span<const double> params, PfpfModel& model);

// The tip after a slip of magnitude q, going back from the final tip along
// the fault (D = P/S q q_slip).
Vec2 pfpf_tip_after(const PfpfModel& model, double q_slip);

// Restores the data present under `params` and stores the sum of the
// per-data-type scores in `output`: the failure value of the result type
// when the model is rejected (a growth or terrace slip above the slip;
// segments on both sides of the vertical; the lower segment steeper than
// the upper; no root for gamma1 or gamma_star, among them equal segment
// angles; P/S < 0; the initial tip below the bend; no bend point on a
// horizontal segment).  Reads only `state`; owns its scratch; draws no
// random number.  Any number of threads may call it at once.
void run_model_pfpf(const RunState& state, double& output, std::span<const double> params);

}  // namespace fq
