// Trishear over a ramp from a horizontal detachment: the option question and
// the model run.
//
// One call restores every data type present from its deformed state to its
// state before faulting and scores it, as the straight ramp's run does:
//   beds       each bed through its slip (the total slip, or its growth slip
//              for a growth stratum, in order of appearance)
//   dips       every dip through the total slip
//   terraces   each terrace through its own slip
//   fault pts  not restored: distance from the nearer fault segment (the
//              ramp or the detachment)
// The score is the sum of the four per-type values (0 for a type not present).
//
// Notation (map frame x right, y up; lengths in data units; angles in
// radians inside, degrees in the parameter vector):
//   slip        parameter 3, a magnitude; total_slip = slip * slip_sense,
//               the signed restoration slip (same sign as v0, increment)
//   ramp_angle  ramp angle from +x; ramp_dir = -1 above pi/2 (the ramp
//               rises towards -x), ramp_acute = min(angle, pi - angle)
//   tan_ramp    tan(ramp_angle): slope of the ramp line in the map
//   m           tan(phi); at phi = pi/2 exactly, tan(89 degrees)
//   d           slip * povers: how far the tip grew up the ramp
//   tip_init    the tip before faulting, tip_final the present tip;
//               tip_final = tip_init + d (cos ramp_angle, sin ramp_angle)
//   decolxy     the bend (xb, yb), where the ramp leaves the detachment
//               y = yb: the initial tip itself when decoly_at_tipy = 1, else
//               the point of the ramp line through the final tip at
//               yb = parameter 8,
//                 xb = x_final - (y_final - yb) / tan_ramp
//   decolze     the bend in the fault-tip frame of the final tip; only its
//               first coordinate (how far the bend lies behind the tip,
//               along the ramp, negative) enters the kinematics
// The data's fault-tip frame is that of the final tip; a dip theta of the
// map frame is theta * ramp_dir + ramp_acute in it.
//
// Rejections (the model fails with its result type's failure value):
//   - a growth or terrace slip above the total slip (as the straight ramp);
//   - phi >= max(ramp_angle, pi - ramp_angle) / 2, half the bend's obtuse
//     angle: the zone would reach past the axial surface (NaN phi too);
//   - decoly_at_tipy = 0 and not yb < y_init: the detachment must lie
//     strictly below the initial tip;
//   - decoly_at_tipy = 0 and a bend that is not a finite point: a ramp
//     parallel to the detachment (0 degrees) never meets it; the bend's x
//     would be infinite, and neither the axial surface nor the fault
//     points' nearer segment would mean anything.
#include "foldquest/models/trishear_decol_run.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foldquest/fit/err_and_prob.hpp"
#include "foldquest/fit/slot_check.hpp"
#include "foldquest/input/user_input.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/forward_beds.hpp"
#include "foldquest/models/run_common.hpp"
#include "foldquest/models/trishear_decol.hpp"

namespace fq {

void trishear_decol_options(Session& session) {
  const int answer = ask_flag(session, {"Must detachment depth be at initial fault tip depth? (0/1)"});
  session.state.fault.decoly_at_tipy = answer;
  session.state.parameters.nparams = trishear_decol_nparams(answer);
}

namespace {

constexpr double pi = Constants::pi;
constexpr double half_pi = pi / 2;  // 1.5707963705062866, exact

// Restores one bed or terrace (see restore_in_frames); the kernel returns
// the points relative to the final tip.
DecolStatus restore_points(const TipFrame& frame, const TrishearDecol& kernel, std::span<const Vec2> pts,
                           std::span<Vec2> work, std::span<Mat2> cov, double sigma) {
  return restore_in_frames(frame, frame, pts, work, cov, sigma,
                           [&](std::span<Vec2> w, std::span<Mat2> c) { return trishear_func_decol(kernel, w, c); });
}

// Distance of the fault point q from the nearer fault segment.  The line
// through the bend (xb, yb) bisecting the bend's angle,
//   y = yb - (x - xb) ramp_dir tan((pi - ramp_acute)/2),
// divides the section: above it the ramp is nearer, below it the detachment.
//   ramp:        |(x - xb) tan_ramp - y + yb| / sqrt(tan_ramp^2 + 1)
//   detachment:  |y - yb|
// The tangent is computed with the run's pi; for a ramp within about 1e-7
// rad of horizontal it passes its pole (negative, or above 1e8), and the
// bisector is then taken as its limit, the vertical through the bend (as
// the kernels take the axial surface).
struct FaultSegments {
  Vec2 bend;
  double dir, tan_axis, tan_ramp, root;
  bool vertical_axis;

  FaultSegments(Vec2 b, int ramp_dir, double ramp_acute, double ramp_angle)
      : bend(b), dir(ramp_dir), tan_axis(std::tan((pi - ramp_acute) / 2)), tan_ramp(std::tan(ramp_angle)) {
    root = std::sqrt(tan_ramp * tan_ramp + 1);
    vertical_axis = !(tan_axis > 0 && tan_axis <= 1e8);
  }

  double distance(Vec2 q) const {
    const double u = (q.x - bend.x) * dir;  // towards the ramp's side
    const bool ramp_side = vertical_axis ? (u > 0 || (u == 0 && q.y > bend.y)) : q.y > bend.y - u * tan_axis;
    if (ramp_side) return std::abs((q.x - bend.x) * tan_ramp - q.y + bend.y) / root;
    return std::abs(q.y - bend.y);
  }
};

// The fault of one parameter vector: angles, the zone's slope, the tips,
// the bend and the frame of the final tip.  False when the geometry is
// refused (see the rejections above).
struct DecolFault {
  double ramp_angle = 0, ramp_acute = 0, m = 0;
  int ramp_dir = 1;
  Vec2 tip_init, tip_final, decolxy;
  TipFrame frame;
};

bool decol_fault(const RunState& state, std::span<const double> params, DecolFault& f) {
  const bool decol_at_tip = state.fault.decoly_at_tipy == 1;
  const int nfault = trishear_decol_nparams(state.fault.decoly_at_tipy);
  if (params.size() < static_cast<std::size_t>(nfault))
    throw std::invalid_argument("run_model_decol: " + std::to_string(params.size()) + " parameters, at least " +
                                std::to_string(nfault) + " needed");
  const double tipx_param = params[0];
  const double tipy_param = params[1];
  const double slip = params[2];
  const double ramp_angle_deg = params[3];
  const double phi_deg = params[4];
  const double povers = params[5];
  f = DecolFault{};

  // The zone may not reach past the axial surface: phi must be below half
  // the bend's obtuse angle, max(angle, pi - angle)/2.
  const double ramp_angle = ramp_angle_deg * pi / 180;
  f.ramp_angle = ramp_angle;
  f.ramp_dir = ramp_angle > half_pi ? -1 : 1;
  f.ramp_acute = std::min(ramp_angle, pi - ramp_angle);
  const double tan_ramp = std::tan(ramp_angle);
  const double phi = phi_deg * pi / 180;
  if (!(phi < 0.5 * std::max(ramp_angle, pi - ramp_angle))) return false;
  f.m = zone_slope(phi);

  // The tips and the bend.
  const double d = slip * povers;
  const double cos_a = std::cos(ramp_angle), sin_a = std::sin(ramp_angle);
  f.tip_init = {tipx_param, tipy_param};
  f.tip_final = {tipx_param, tipy_param};
  if (state.options.tiptosolve == 1) {
    f.tip_final = {tipx_param + d * cos_a, tipy_param + d * sin_a};
  } else {
    f.tip_init = {tipx_param - d * cos_a, tipy_param - d * sin_a};
  }
  f.decolxy = f.tip_init;
  if (!decol_at_tip) {
    const double yb = params[7];
    if (!(yb < f.tip_init.y)) return false;
    f.decolxy = {f.tip_final.x - (f.tip_final.y - yb) / tan_ramp, yb};
    if (!std::isfinite(f.decolxy.x)) return false;
  }
  f.frame = TipFrame(f.tip_final.x, f.tip_final.y, f.ramp_acute, f.ramp_dir);
  return true;
}

}  // namespace

void run_model_decol(const RunState& state, double& output, std::span<const double> params) {
  const Options& o = state.options;
  const Parameters& par = state.parameters;
  const DataModule& data = state.data;
  const double failed = failed_model_output(o.resulttype);

  const DataSwitches on(o);

  // 1. Fault parameters.
  const int nfault = trishear_decol_nparams(state.fault.decoly_at_tipy);
  if (params.size() < static_cast<std::size_t>(nfault))
    throw std::invalid_argument("run_model_decol: " + std::to_string(params.size()) + " parameters, at least " +
                                std::to_string(nfault) + " needed");
  const double slip = params[2];
  const double povers = params[5];
  const double s = params[6];
  const double total_slip = slip * par.slip_sense;

  // 2-4. Growth and terrace slips (none may exceed the slip) and the
  // restored-state fit parameters, read by the scoring under fit type 5 only.
  ExtraBlocks extra;
  if (!extra_blocks(state, params, slip, "run_model_decol", extra)) {
    output = failed;
    return;
  }
  const std::vector<double> growth_slip = signed_slips(extra.growth, par.slip_sense);
  const std::vector<double> terr_slip = signed_slips(extra.terr, par.slip_sense);
  const std::span<const double> restored_fit_params = extra.restored_fit_params;

  // 5-6. Angles, the tips and the bend (the model fails when the geometry
  // is refused).
  DecolFault f;
  if (!decol_fault(state, params, f)) {
    output = failed;
    return;
  }
  const double ramp_angle = f.ramp_angle;
  const int ramp_dir = f.ramp_dir;
  const double ramp_acute = f.ramp_acute;
  const double m = f.m;
  const Vec2 tip_init = f.tip_init, tip_final = f.tip_final, decolxy = f.decolxy;
  const TipFrame& frame = f.frame;
  const double decol_zeta = frame.to_ze(decolxy).x;

  // 7. Per-type scores.  In checked builds every type present starts as the
  // unwritten marker and must have been written by its scoring.
  TypeScores scores;

  const double v0 = par.v0;
  const double increment = par.increment;
  auto kernel_for = [&](double slip_of_item) {
    return TrishearDecol(v0, m, slip_of_item, increment, povers, s, decol_zeta, ramp_acute);
  };
  std::optional<TrishearDecol> kernel_total;
  if (on.beds || on.dips) kernel_total.emplace(kernel_for(total_slip));

  RestoreScratch scratch(state);

  // 8. Beds, each through its slip (the total slip, or its growth slip for
  // a growth stratum, in order of appearance).
  if (on.beds) {
    const bool ok = score_beds(state, growth_slip.size(), restored_fit_params, scratch, scores, "run_model_decol",
                               [&](const Bed& bed, std::size_t growth, std::span<Vec2> pts, std::span<Mat2> c) {
                                 const DecolStatus status =
                                     growth == kTotalSlip
                                         ? restore_points(frame, *kernel_total, bed.pts, pts, c, par.sigma_bed)
                                         : restore_points(frame, kernel_for(growth_slip[growth]), bed.pts, pts, c,
                                                          par.sigma_bed);
                                 return status == DecolStatus::ok;
                               });
    if (!ok) {
      output = failed;
      return;
    }
  }

  // 9. Dips, through the total slip (growth slips never apply to dips).
  if (on.dips) {
    scores.mark(Options::dattype_dips);
    const std::size_t nd = data.dips.size();
    if (data.dip_pos.size() != nd)
      throw std::invalid_argument("run_model_decol: dip positions and dips differ in number");
    std::vector<Vec2> dipposze(nd);
    std::vector<double> dipsze(nd);
    std::vector<double> sigma_dip_array(nd, par.sigma_dip * pi / 180);
    for (std::size_t j = 0; j < nd; ++j) {
      dipposze[j] = frame.to_ze(data.dip_pos[j]);
      dipsze[j] = data.dips[j] * ramp_dir + ramp_acute;
    }
    if (trishear_func_dip_decol(*kernel_total, dipposze, dipsze, sigma_dip_array) != DecolStatus::ok) {
      output = failed;
      return;
    }
    if (kept_section()) keep_dip_positions(frame, dipposze);
    // Back to the map frame, in degrees within [-90, 90].
    const std::vector<double> restoreddips = restored_dips_degrees(dipsze, ramp_acute, ramp_dir, sigma_dip_array);
    calc_dip_err(state, restoreddips, scores.slot(Options::dattype_dips), sigma_dip_array, restored_fit_params);
    scores.check(Options::dattype_dips, "run_model_decol: dips");
  }

  // 10. Terraces, each through its own slip.
  if (on.terr) {
    const bool ok = score_terraces(
        state, terr_slip.size(), scratch, scores, "run_model_decol",
        [&](const Bed& terr, std::size_t n, std::span<Vec2> pts, std::span<Mat2> c) {
          return restore_points(frame, kernel_for(terr_slip[n]), terr.pts, pts, c, par.sigma_terr) ==
                 DecolStatus::ok;
        });
    if (!ok) {
      output = failed;
      return;
    }
  }

  // 11. Points on the fault: distance from the nearer segment.
  if (on.fault) {
    // Chi-square is refused for fault points at start-up; its scoring leaves
    // the slot as it was, so the slot is checked only where it is written.
    const bool scored = o.resulttype != 3;
    if (scored) scores.mark(Options::dattype_faultpts);
    const FaultSegments segments(decolxy, ramp_dir, ramp_acute, ramp_angle);
    std::vector<double> fault_errs(data.faultpts.size());
    for (std::size_t i = 0; i < fault_errs.size(); ++i) fault_errs[i] = segments.distance(data.faultpts[i]);
    calc_fault_pts_err(state, fault_errs, scores.slot(Options::dattype_faultpts));
    if (scored) scores.check(Options::dattype_faultpts, "run_model_decol: fault points");
  }

  // 12. The fault for a kept section: the detachment behind the bend, the
  // ramp from the bend to the final tip.
  if (RestoredSection* kept = kept_section()) {
    keep_fault("detachment", {{decolxy.x - kept->reach * ramp_dir, decolxy.y}, decolxy});
    keep_fault("ramp", {decolxy, tip_final});
    keep_fault("bend", {decolxy});
    keep_fault("initial tip", {tip_init});
    keep_fault("final tip", {tip_final});
  }

  // 13. The score.
  output = scores.sum();
}

// Forward: as for the straight ramp (trishear_straight.cpp), from the tip
// where the restoration leaves it, with the bend's zeta taken in that tip's
// frame.
bool forward_beds_decol(const RunState& state, std::span<const double> params, std::span<PointSet> beds) {
  const Parameters& par = state.parameters;
  DecolFault f;
  if (!decol_fault(state, params, f)) return false;
  const double povers = params[5], s = params[6];
  const double total_slip = params[2] * par.slip_sense;
  TipFrame start = f.frame;
  const Vec2 t = total_slip < 0 ? f.tip_init : f.frame.to_xy({total_slip * povers, 0});
  start.tipx = t.x;
  start.tipy = t.y;
  const double decol_zeta = start.to_ze(f.decolxy).x;
  const TrishearDecol kernel(-par.v0, f.m, -total_slip, -par.increment, povers, s, decol_zeta, f.ramp_acute);
  for (PointSet& bed : beds) {
    for (Vec2& p : bed) p = start.to_ze(p);
    const DecolStatus status = trishear_func_decol(kernel, bed, {});
    for (Vec2& p : bed) p = start.to_xy(p);
    if (status != DecolStatus::ok) return false;
  }
  return true;
}

}  // namespace fq
