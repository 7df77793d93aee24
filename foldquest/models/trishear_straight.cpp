// Trishear over a straight ramp: the model run.
//
// One call restores every data type present from its deformed state to its
// state before faulting and scores it:
//   beds       each bed through its slip (the total slip, or its growth slip
//              for a growth stratum, in order of appearance), scored against
//              the fit type's reference line, combined over beds
//   dips       every dip through the total slip, scored against the fit
//              type's reference dip
//   terraces   each terrace through its own slip, scored against its surface
//              at formation, combined like beds
//   fault pts  not restored: distance from the fault line through the tip
// The score is the sum of the four per-type values (0 for a type not present).
//
// Frames and signs (see geometry.hpp for the fault-tip frame):
//   slip        parameter 3, a magnitude
//   total_slip  slip * slip_sense: the signed restoration slip, same sign as
//               v0 and increment
//   ramp_angle  ramp angle from +x in radians; ramp_dir = -1 above pi/2 (the
//               ramp rises towards -x), ramp_acute = min(angle, pi - angle)
//   m           tan(phi), the slope of the zone boundaries; at phi = pi/2
//               exactly, tan(89 degrees) instead of the pole
//   tip         the frame origin: the final tip.  With tiptosolve = 1 the
//               parameters give the initial tip, and the final tip lies
//               slip * povers further up the ramp.
// A dip theta in the map frame (radians, positive down to the right) is
// theta * ramp_dir + ramp_acute in the fault-tip frame.
#include "foldquest/models/trishear_straight_run.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foldquest/fit/err_and_prob.hpp"
#include "foldquest/fit/slot_check.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/forward_beds.hpp"
#include "foldquest/models/run_common.hpp"
#include "foldquest/models/trishear_straight.hpp"

namespace fq {

void trishear_str_options(Session& session) { session.state.parameters.nparams = kTrishearStrParams; }

namespace {

constexpr double pi = Constants::pi;
constexpr double half_pi = pi / 2;  // 1.5707963705062866, exact

// Restores one bed or terrace (see restore_in_frames); the kernel returns
// the points relative to the final tip.  False when the kernel could not
// step the slip.
bool restore_points(const TipFrame& frame, const TrishearStr& kernel, std::span<const Vec2> pts,
                    std::span<Vec2> work, std::span<Mat2> cov, double sigma) {
  return restore_in_frames(frame, frame, pts, work, cov, sigma,
                           [&](std::span<Vec2> w, std::span<Mat2> c) { return trishear_func(kernel, w, c); });
}

// The fault of one parameter vector: its angles, the zone's slope and the
// tips, with the frame of the final tip (the origin of the data's frame).
struct StrFault {
  double slip = 0, total_slip = 0, povers = 0, s = 0;
  double ramp_angle = 0, ramp_acute = 0, m = 0;
  int ramp_dir = 1;
  Vec2 tip_init, tip_final;
  TipFrame frame;
};

StrFault str_fault(const RunState& state, std::span<const double> params) {
  if (params.size() < static_cast<std::size_t>(kTrishearStrParams))
    throw std::invalid_argument("run_model_str: " + std::to_string(params.size()) + " parameters, at least " +
                                std::to_string(kTrishearStrParams) + " needed");
  StrFault f;
  f.slip = params[2];
  f.povers = params[5];
  f.s = params[6];
  f.total_slip = f.slip * state.parameters.slip_sense;
  f.ramp_angle = params[3] * pi / 180;
  f.ramp_dir = f.ramp_angle > half_pi ? -1 : 1;
  f.ramp_acute = std::min(f.ramp_angle, pi - f.ramp_angle);
  const double phi = params[4] * pi / 180;
  f.m = zone_slope(phi);
  // The final tip lies slip * povers up the ramp from the initial one.
  const double d = f.slip * f.povers;
  const Vec2 given{params[0], params[1]};
  const Vec2 up{std::cos(f.ramp_angle), std::sin(f.ramp_angle)};
  if (state.options.tiptosolve == 1) {
    f.tip_init = given;
    f.tip_final = {given.x + d * up.x, given.y + d * up.y};
  } else {
    f.tip_final = given;
    f.tip_init = {given.x - d * up.x, given.y - d * up.y};
  }
  f.frame = TipFrame(f.tip_final.x, f.tip_final.y, f.ramp_acute, f.ramp_dir);
  return f;
}

}  // namespace

void run_model_str(const RunState& state, double& output, std::span<const double> params) {
  const Options& o = state.options;
  const Parameters& par = state.parameters;
  const DataModule& data = state.data;
  const double failed = failed_model_output(o.resulttype);

  const DataSwitches on(o);

  // 1. Fault parameters.
  const StrFault f = str_fault(state, params);
  const double tipx_param = params[0];
  const double tipy_param = params[1];
  const double slip = f.slip;
  const double povers = f.povers;
  const double s = f.s;
  const double total_slip = f.total_slip;

  // 2-4. Growth and terrace slips (none may exceed the slip) and the
  // restored-state fit parameters, read by the scoring under fit type 5 only.
  ExtraBlocks extra;
  if (!extra_blocks(state, params, slip, "run_model_str", extra)) {
    output = failed;
    return;
  }
  const std::vector<double> growth_slip = signed_slips(extra.growth, par.slip_sense);
  const std::vector<double> terr_slip = signed_slips(extra.terr, par.slip_sense);
  const std::span<const double> restored_fit_params = extra.restored_fit_params;

  // 5-6. Angles and the frame of the final tip.
  const double ramp_angle = f.ramp_angle;
  const int ramp_dir = f.ramp_dir;
  const double ramp_acute = f.ramp_acute;
  const double m = f.m;
  const TipFrame& frame = f.frame;

  // 7. Per-type scores.  In checked builds every type present starts as the
  // unwritten marker and must have been written by its scoring.
  TypeScores scores;

  const double v0 = par.v0;
  const double increment = par.increment;
  // The kernel constants of the total slip, built only when something is
  // restored (a run with fault points alone never calls a kernel).
  std::optional<TrishearStr> kernel_total;
  if (on.beds || on.dips) kernel_total.emplace(v0, m, total_slip, increment, povers, s);

  RestoreScratch scratch(state);

  // 8. Beds, each through its slip (the total slip, or its growth slip for
  // a growth stratum, in order of appearance).
  if (on.beds) {
    const bool ok = score_beds(state, growth_slip.size(), restored_fit_params, scratch, scores, "run_model_str",
                               [&](const Bed& bed, std::size_t growth, std::span<Vec2> pts, std::span<Mat2> c) {
                                 if (growth == kTotalSlip)
                                   return restore_points(frame, *kernel_total, bed.pts, pts, c, par.sigma_bed);
                                 const TrishearStr kernel(v0, m, growth_slip[growth], increment, povers, s);
                                 return restore_points(frame, kernel, bed.pts, pts, c, par.sigma_bed);
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
      throw std::invalid_argument("run_model_str: dip positions and dips differ in number");
    std::vector<Vec2> dipposze(nd);
    std::vector<double> dipsze(nd);
    std::vector<double> sigma_dip_array(nd, par.sigma_dip * pi / 180);
    for (std::size_t j = 0; j < nd; ++j) {
      dipposze[j] = frame.to_ze(data.dip_pos[j]);
      dipsze[j] = data.dips[j] * ramp_dir + ramp_acute;
    }
    if (!trishear_func_dip(*kernel_total, dipposze, dipsze, sigma_dip_array)) {
      output = failed;
      return;
    }
    if (kept_section()) keep_dip_positions(frame, dipposze);
    // Back to the map frame, in degrees within [-90, 90].
    const std::vector<double> restoreddips = restored_dips_degrees(dipsze, ramp_acute, ramp_dir, sigma_dip_array);
    calc_dip_err(state, restoreddips, scores.slot(Options::dattype_dips), sigma_dip_array, restored_fit_params);
    scores.check(Options::dattype_dips, "run_model_str: dips");
  }

  // 10. Terraces, each through its own slip.
  if (on.terr) {
    const bool ok = score_terraces(state, terr_slip.size(), scratch, scores, "run_model_str",
                                   [&](const Bed& terr, std::size_t n, std::span<Vec2> pts, std::span<Mat2> c) {
                                     const TrishearStr kernel(v0, m, terr_slip[n], increment, povers, s);
                                     return restore_points(frame, kernel, terr.pts, pts, c, par.sigma_terr);
                                   });
    if (!ok) {
      output = failed;
      return;
    }
  }

  // 11. Points on the fault: perpendicular distance from the fault line
  // through the given tip (the initial and the final tip both lie on it).
  if (on.fault) {
    // Chi-square is refused for fault points at start-up; its scoring leaves
    // the slot as it was, so the slot is checked only where it is written.
    const bool scored = o.resulttype != 3;
    if (scored) scores.mark(Options::dattype_faultpts);
    const double t = std::tan(ramp_angle);
    const double root = std::sqrt(t * t + 1);
    std::vector<double> fault_errs(data.faultpts.size());
    for (std::size_t i = 0; i < fault_errs.size(); ++i) {
      const Vec2 q = data.faultpts[i];
      fault_errs[i] = std::abs(((q.x - tipx_param) * t - q.y + tipy_param) / root);
    }
    calc_fault_pts_err(state, fault_errs, scores.slot(Options::dattype_faultpts));
    if (scored) scores.check(Options::dattype_faultpts, "run_model_str: fault points");
  }

  // 12. The fault for a kept section: one line through both tips, drawn
  // down-dip from the initial tip.
  if (kept_section()) {
    keep_fault("fault", {fault_reach(f.tip_init, ramp_angle), f.tip_final});
    keep_fault("initial tip", {f.tip_init});
    keep_fault("final tip", {f.tip_final});
  }

  // 13. The score.
  output = scores.sum();
}

// Forward: the restoration runs from the final tip through total_slip, the
// tip moving total_slip * povers along the ramp and the points coming back
// relative to the final tip.  Its inverse starts at the tip where that
// leaves it -- the initial tip when the restoration runs backwards (the
// usual sense), slip * povers beyond the final tip otherwise -- and runs the
// same kernel through -total_slip, the points coming back relative to that
// starting tip.
bool forward_beds_str(const RunState& state, std::span<const double> params, std::span<PointSet> beds) {
  const Parameters& par = state.parameters;
  const StrFault f = str_fault(state, params);
  TipFrame start = f.frame;
  if (f.total_slip < 0) {
    start.tipx = f.tip_init.x;
    start.tipy = f.tip_init.y;
  } else {
    const Vec2 t = f.frame.to_xy({f.total_slip * f.povers, 0});
    start.tipx = t.x;
    start.tipy = t.y;
  }
  const TrishearStr kernel(-par.v0, f.m, -f.total_slip, -par.increment, f.povers, f.s);
  for (PointSet& bed : beds) {
    for (Vec2& p : bed) p = start.to_ze(p);
    const bool ok = trishear_func(kernel, bed, {});
    for (Vec2& p : bed) p = start.to_xy(p);
    if (!ok) return false;
  }
  return true;
}

}  // namespace fq
