// Trishear over a fault with a bend: the option dialogue and the model run.
//
// One call restores every data type present from its deformed state to its
// state before faulting (or before its own slip) and scores it, like the
// straight ramp's run; what differs is the fault: two segments joined at a
// bend, the tip possibly passing the bend while it propagates.
//
// Notation (map frame x right, y up; lengths in data units):
//   a1, a2          map angles of segment 1 (above the bend) and segment 2
//                   (below), radians; both at most pi/2 (ramp_dir = +1, the
//                   fault rises towards +x) or both above (ramp_dir = -1)
//   acute(k)        min(a_k, pi - a_k), the acute dip of segment k; the
//                   upper segment is at least as steep: acute(1) >= acute(2)
//   bend            (bendx, bendy): bendy is parameter 9, or the initial
//                   tip's y when bend_at_tipy = 1 (the bend is then the
//                   initial tip); bendx puts it on the given tip's segment
//   D = q P         tip travel for a slip magnitude q
//   tip paths       initial tip (slip), growth tips (growth slip) and
//                   terrace tips (terrace slip), by the tip-path rule from
//                   the final tip, or from the given initial tip forward
//   frames          the data go into the frame of the final tip on its
//                   segment; the kernel returns them relative to the tip
//                   after the item's slip, in the frame of the segment the
//                   kernel ended on (TrishearBend::end_segment), and they go
//                   back to the map with that tip and that segment's dip
// A dip theta in the map frame (radians, positive down to the right) is
// theta ramp_dir + acute(seg) in the frame of segment seg.
#include "foldquest/models/trishear_bend_run.hpp"

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
#include "foldquest/input/user_input.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/forward_beds.hpp"
#include "foldquest/models/run_common.hpp"
#include "foldquest/models/trishear_bend.hpp"

namespace fq {

void trishear_bend_options(Session& session) {
  RunState& st = session.state;
  if (st.options.tiptosolve == 1) {
    st.fault.bend_at_tipy = ask_flag(session, {"Must depth of fault bend be at initial fault tip depth? (0/1)"});
    st.fault.tipy_can_be_below_bend = 0;
    if (st.fault.bend_at_tipy == 1) {
      st.parameters.nparams = trishear_bend_param_count(1);
      return;
    }
  } else {
    st.fault.bend_at_tipy = 0;
    st.fault.tipy_can_be_below_bend = 0;
  }
  st.parameters.nparams = trishear_bend_param_count(0);
  st.fault.tipy_can_be_below_bend = ask_flag(session, {"Can initial tipy be below fault bend? (0/1)"});
}

// Back from a later tip by D:
//   on segment 2:             later - D (cos a2, sin a2), segment 2
//   on segment 1, L < D:      later - L (cos a1, sin a1) - (D - L)(cos a2, sin a2),
//                             segment 2 (L = distance to the bend)
//   on segment 1, otherwise:  later - D (cos a1, sin a1), segment 1
TipOnFault bend_tip_back(const BendFault& f, TipOnFault later, double D) {
  const double c1 = std::cos(f.a1), s1 = std::sin(f.a1), c2 = std::cos(f.a2), s2 = std::sin(f.a2);
  if (later.segment == 2) return {later.x - D * c2, later.y - D * s2, 2};
  const double dx = later.x - f.bendx, dy = later.y - f.bendy;
  const double L = std::sqrt(dx * dx + dy * dy);
  if (L < D) return {later.x - L * c1 - (D - L) * c2, later.y - L * s1 - (D - L) * s2, 2};
  return {later.x - D * c1, later.y - D * s1, 1};
}

// Forward from an earlier tip by D:
//   on segment 1:             earlier + D (cos a1, sin a1), segment 1
//   on segment 2, L < D:      earlier + L (cos a2, sin a2) + (D - L)(cos a1, sin a1),
//                             segment 1
//   on segment 2, otherwise:  earlier + D (cos a2, sin a2), segment 2
TipOnFault bend_tip_forward(const BendFault& f, TipOnFault earlier, double D) {
  const double c1 = std::cos(f.a1), s1 = std::sin(f.a1), c2 = std::cos(f.a2), s2 = std::sin(f.a2);
  if (earlier.segment == 1) return {earlier.x + D * c1, earlier.y + D * s1, 1};
  const double dx = earlier.x - f.bendx, dy = earlier.y - f.bendy;
  const double L = std::sqrt(dx * dx + dy * dy);
  if (L < D) return {earlier.x + L * c2 + (D - L) * c1, earlier.y + L * s2 + (D - L) * s1, 1};
  return {earlier.x + D * c2, earlier.y + D * s2, 2};
}

namespace {

constexpr double pi = Constants::pi;
constexpr double half_pi = pi / 2;  // 1.5707963705062866, exact

// The geometry of one model: angles, slope, bend, tips and the frame of the
// final tip.
struct BendModel {
  int ramp_dir = 1;
  std::array<double, 2> acute{};
  BendFault fault;
  TipOnFault init, final_tip;
  // Where the restoration of the whole slip leaves the tip: the initial
  // tip when it runs the slip backwards (a parameter file's sense of 1);
  // with a sense of -1 it runs the slip forwards and the tip goes on up the
  // fault (and may cross the bend), as the kernel moves it.
  bool up_dip = false;
  TipOnFault restored;
  double povers = 0, s = 0, m = 0;

  double acute_of(int seg) const { return acute[static_cast<std::size_t>(seg - 1)]; }
  TipFrame frame(const TipOnFault& tip, int seg) const { return TipFrame(tip.x, tip.y, acute_of(seg), ramp_dir); }
  // The tip after a restoration by a slip of magnitude q from the final tip.
  TipOnFault tip_after(double q) const {
    const double d = std::abs(q) * povers;
    return up_dip ? bend_tip_forward(fault, final_tip, d) : bend_tip_back(fault, final_tip, d);
  }
};

// Restores one bed or terrace through kernel k: into the frame of the final
// tip, through the slip, and back with the tip after the slip and the
// segment the kernel ended on.  `cov`, when not empty, starts as
// diag(sigma^2, sigma^2) (isotropic: its turn into the frame is the
// identity) and is turned back to the map frame.
bool restore_points(const BendModel& g, const TrishearBend& k, const TipOnFault& tip_after,
                    std::span<const Vec2> pts, std::span<Vec2> work, std::span<Mat2> cov, double sigma) {
  return restore_in_frames(g.frame(g.final_tip, g.final_tip.segment), g.frame(tip_after, k.end_segment()), pts, work,
                           cov, sigma,
                           [&](std::span<Vec2> w, std::span<Mat2> c) { return trishear_func_bend(k, w, c); });
}

// The geometry of one parameter vector.  False when it is refused.
bool bend_model(const RunState& state, std::span<const double> params, BendModel& g) {
  const Options& o = state.options;
  const bool bend_at_tipy = state.fault.bend_at_tipy == 1;
  const int nfault = trishear_bend_param_count(state.fault.bend_at_tipy);
  if (params.size() < static_cast<std::size_t>(nfault))
    throw std::invalid_argument("run_model_bend: " + std::to_string(params.size()) + " parameters, at least " +
                                std::to_string(nfault) + " needed");
  const double tipx_param = params[0];
  const double tipy_param = params[1];
  const double slip = params[2];
  const double a1_deg = params[3];
  const double phi_deg = params[4];
  const double povers = params[5];
  const double a2_deg = params[7];
  const double bendy = bend_at_tipy ? tipy_param : params[8];

  // Angles, and the rejections of the bend's geometry.  Each test is
  // written so that a NaN angle rejects the model.
  g = BendModel{};
  g.povers = povers;
  g.s = params[6];
  g.fault.a1 = a1_deg * pi / 180;
  g.fault.a2 = a2_deg * pi / 180;
  const double a1 = g.fault.a1, a2 = g.fault.a2;
  // Both segments on one side of the vertical: rising towards +x (both at
  // most pi/2) or towards -x (both above).
  const bool both_right = a1 <= half_pi && a2 <= half_pi;
  const bool both_left = a1 > half_pi && a2 > half_pi;
  if (!both_right && !both_left) return false;
  g.ramp_dir = both_left ? -1 : 1;
  g.acute = {std::min(a1, pi - a1), std::min(a2, pi - a2)};
  // The upper segment at least as steep as the lower.
  if (!(g.acute[0] >= g.acute[1])) return false;
  // phi below half the bend's obtuse angle, max(|a1 - a2|, pi - |a1 - a2|)/2,
  // so that the zone's boundary stays below the bisector.  The same bound
  // is also taken in degrees, the parameters' own unit, so that phi exactly
  // at the bound is rejected whatever the rounding of the radians.
  const double phi = phi_deg * pi / 180;
  const double dd = std::abs(a1 - a2);
  const double dd_deg = std::abs(a1_deg - a2_deg);
  if (!(phi < std::max(dd / 2, (pi - dd) / 2)) || !(phi_deg < std::max(dd_deg / 2, (180 - dd_deg) / 2)))
    return false;
  g.m = zone_slope(phi);

  // The bend and the tips.  The given tip is on segment 2 below the
  // bend, else on segment 1; the bend is where its segment reaches bendy.
  const TipOnFault given{tipx_param, tipy_param, tipy_param < bendy ? 2 : 1};
  g.fault.bendy = bendy;
  if (bend_at_tipy || tipy_param == bendy) {
    g.fault.bendx = tipx_param;  // the bend at the tip
  } else {
    g.fault.bendx = tipx_param - (tipy_param - bendy) / std::tan(given.segment == 1 ? a1 : a2);
  }
  // A horizontal segment never reaches another depth: no bend point.
  if (!std::isfinite(g.fault.bendx)) return false;
  const double travel = slip * povers;
  if (o.tiptosolve == 1) {
    g.init = given;
    g.final_tip = bend_tip_forward(g.fault, given, travel);
  } else {
    g.final_tip = given;
    g.init = bend_tip_back(g.fault, given, travel);
  }
  if (state.fault.tipy_can_be_below_bend == 0 && !(bendy <= g.init.y)) return false;
  // The kernel runs the slip backwards (the tip down the fault) for v0 < 0
  // (or NaN), else forwards.
  g.up_dip = state.parameters.v0 >= 0;
  g.restored = g.up_dip ? bend_tip_forward(g.fault, g.final_tip, travel) : g.init;
  return true;
}

}  // namespace

void run_model_bend(const RunState& state, double& output, std::span<const double> params) {
  const Options& o = state.options;
  const Parameters& par = state.parameters;
  const DataModule& data = state.data;
  const double failed = failed_model_output(o.resulttype);

  const DataSwitches on(o);

  // 1. Fault parameters.
  const int nfault = trishear_bend_param_count(state.fault.bend_at_tipy);
  if (params.size() < static_cast<std::size_t>(nfault))
    throw std::invalid_argument("run_model_bend: " + std::to_string(params.size()) + " parameters, at least " +
                                std::to_string(nfault) + " needed");
  const double slip = params[2];
  const double total_slip = slip * par.slip_sense;

  // 2-4. Growth and terrace slips (none may exceed the slip; NaN values
  // are ignored, a value equal to the slip passes) and the restored-state fit
  // parameters, read by the scoring under fit type 5 only.
  ExtraBlocks extra;
  if (!extra_blocks(state, params, slip, "run_model_bend", extra)) {
    output = failed;
    return;
  }
  const std::span<const double> growth_block = extra.growth, terr_block = extra.terr;
  const std::span<const double> restored_fit_params = extra.restored_fit_params;

  // 5-6. Angles, the bend and the tips (the model fails when the geometry
  // is refused).
  BendModel g;
  if (!bend_model(state, params, g)) {
    output = failed;
    return;
  }
  const double a1 = g.fault.a1, a2 = g.fault.a2;
  const double povers = g.povers, s = g.s, m = g.m;
  const int seg_final = g.final_tip.segment;
  const TipFrame final_frame = g.frame(g.final_tip, seg_final);
  const Vec2 bendze = final_frame.to_ze({g.fault.bendx, g.fault.bendy});

  // 7. Per-type scores.  In checked builds every type present starts as the
  // unwritten marker and must have been written by its scoring.
  TypeScores scores;

  const double v0 = par.v0;
  const double increment = par.increment;
  auto kernel_for = [&](double signed_slip) {
    return TrishearBend(v0, m, signed_slip, increment, povers, s, bendze, g.acute[0], g.acute[1], seg_final);
  };
  std::optional<TrishearBend> kernel_total;
  if (on.beds || on.dips) kernel_total.emplace(kernel_for(total_slip));

  RestoreScratch scratch(state);

  // 8. Beds: each through its slip (the total slip, or its growth slip for
  // a growth stratum, in order of appearance), back with the tip after that
  // slip.
  if (on.beds) {
    const bool ok = score_beds(
        state, growth_block.size(), restored_fit_params, scratch, scores, "run_model_bend",
        [&](const Bed& bed, std::size_t growth, std::span<Vec2> pts, std::span<Mat2> c) {
          if (growth == kTotalSlip)
            return restore_points(g, *kernel_total, g.restored, bed.pts, pts, c, par.sigma_bed);
          const double q = growth_block[growth];
          return restore_points(g, kernel_for(q * par.slip_sense), g.tip_after(q), bed.pts, pts, c, par.sigma_bed);
        });
    if (!ok) {
      output = failed;
      return;
    }
  }

  // 9. Dips, through the total slip: into the frame of the final tip's
  // segment, back with the dip of the segment the kernel ended on.
  if (on.dips) {
    scores.mark(Options::dattype_dips);
    const std::size_t nd = data.dips.size();
    if (data.dip_pos.size() != nd)
      throw std::invalid_argument("run_model_bend: dip positions and dips differ in number");
    const double acute_start = g.acute_of(seg_final);
    std::vector<Vec2> dipposze(nd);
    std::vector<double> dipsze(nd);
    std::vector<double> sigma_dip_array(nd, par.sigma_dip * pi / 180);
    for (std::size_t j = 0; j < nd; ++j) {
      dipposze[j] = final_frame.to_ze(data.dip_pos[j]);
      dipsze[j] = data.dips[j] * g.ramp_dir + acute_start;
    }
    if (!trishear_func_dip_bend(*kernel_total, dipposze, dipsze, sigma_dip_array)) {
      output = failed;
      return;
    }
    // The kernel returns the positions relative to the tip after the slip,
    // in the frame of the segment it ended on.
    if (kept_section()) keep_dip_positions(g.frame(g.restored, kernel_total->end_segment()), dipposze);
    const double acute_end = g.acute_of(kernel_total->end_segment());
    const std::vector<double> restoreddips = restored_dips_degrees(dipsze, acute_end, g.ramp_dir, sigma_dip_array);
    calc_dip_err(state, restoreddips, scores.slot(Options::dattype_dips), sigma_dip_array, restored_fit_params);
    scores.check(Options::dattype_dips, "run_model_bend: dips");
  }

  // 10. Terraces, each through its own slip and back with its own tip.
  if (on.terr) {
    const bool ok = score_terraces(
        state, terr_block.size(), scratch, scores, "run_model_bend",
        [&](const Bed& terr, std::size_t n, std::span<Vec2> pts, std::span<Mat2> c) {
          const double q = terr_block[n];
          return restore_points(g, kernel_for(q * par.slip_sense), g.tip_after(q), terr.pts, pts, c, par.sigma_terr);
        });
    if (!ok) {
      output = failed;
      return;
    }
  }

  // 11. Points on the fault: distance to the segment on the point's side of
  // the line through the bend that bisects it,
  //   y > bendy - (x - bendx) ramp_dir t_ax,  t_ax = tan((pi - acute(1) - acute(2))/2)
  // (segment 1 above it), |t (x - bendx) - y + bendy| / sqrt(t^2 + 1) with
  // t = tan of that segment's map angle.
  if (on.fault) {
    const bool scored = o.resulttype != 3;
    if (scored) scores.mark(Options::dattype_faultpts);
    const double t_ax = std::tan((pi - g.acute[0] - g.acute[1]) / 2);
    const double t1 = std::tan(a1), t2 = std::tan(a2);
    const double root1 = std::sqrt(t1 * t1 + 1), root2 = std::sqrt(t2 * t2 + 1);
    const double bx = g.fault.bendx, by = g.fault.bendy;
    std::vector<double> fault_errs(data.faultpts.size());
    for (std::size_t i = 0; i < fault_errs.size(); ++i) {
      const Vec2 q = data.faultpts[i];
      const bool upper = q.y > by - (q.x - bx) * g.ramp_dir * t_ax;
      const double t = upper ? t1 : t2;
      fault_errs[i] = std::abs(t * (q.x - bx) - q.y + by) / (upper ? root1 : root2);
    }
    calc_fault_pts_err(state, fault_errs, scores.slot(Options::dattype_faultpts));
    if (scored) scores.check(Options::dattype_faultpts, "run_model_bend: fault points");
  }

  // 12. The fault for a kept section: segment 2 up to the bend, segment 1
  // from the bend to the final tip (or segment 2 alone when the tip has not
  // reached the bend).
  if (kept_section()) {
    const Vec2 bend{g.fault.bendx, g.fault.bendy};
    const Vec2 tip_final{g.final_tip.x, g.final_tip.y};
    if (g.final_tip.segment == 1) {
      keep_fault("segment 2", {fault_reach(bend, a2), bend});
      keep_fault("segment 1", {bend, tip_final});
    } else {
      keep_fault("segment 2", {fault_reach(tip_final, a2), tip_final});
    }
    keep_fault("bend", {bend});
    keep_fault("initial tip", {Vec2{g.restored.x, g.restored.y}});
    keep_fault("final tip", {tip_final});
  }

  // 13. The score.
  output = scores.sum();
}

// Forward: the restoration takes the data from the frame of the final tip
// through total_slip and back to the map with the initial tip on the segment
// its kernel ended on.  The inverse starts there: the bend in that frame,
// the same kernel through -total_slip, and back to the map with the final
// tip on the segment the forward kernel ended on.
bool forward_beds_bend(const RunState& state, std::span<const double> params, std::span<PointSet> beds) {
  const Parameters& par = state.parameters;
  BendModel g;
  if (!bend_model(state, params, g)) return false;
  const double total_slip = params[2] * par.slip_sense;
  const Vec2 bend{g.fault.bendx, g.fault.bendy};
  const int seg_final = g.final_tip.segment;
  const Vec2 bendze_final = g.frame(g.final_tip, seg_final).to_ze(bend);
  const TrishearBend back(par.v0, g.m, total_slip, par.increment, g.povers, g.s, bendze_final, g.acute[0],
                          g.acute[1], seg_final);
  const int seg_init = back.end_segment();
  const TipFrame start = g.frame(g.restored, seg_init);
  const TrishearBend kernel(-par.v0, g.m, -total_slip, -par.increment, g.povers, g.s, start.to_ze(bend),
                            g.acute[0], g.acute[1], seg_init);
  const TipFrame end = g.frame(g.final_tip, kernel.end_segment());
  for (PointSet& bed : beds) {
    for (Vec2& p : bed) p = start.to_ze(p);
    const bool ok = trishear_func_bend(kernel, bed, {});
    for (Vec2& p : bed) p = end.to_xy(p);
    if (!ok) return false;
  }
  return true;
}

}  // namespace fq
