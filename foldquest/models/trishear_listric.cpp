// Trishear over a listric fault: the option question and the model run.
//
// One call restores every data type present and scores it, as the straight
// ramp's run does:
//   beds       each bed through its slip (the total slip, or its growth slip)
//   dips       every dip through the total slip
//   terraces   each terrace through its own slip
//   fault pts  not restored: distance from the fault of the final tip
//
// Geometry (in the kinematics' frame, where the fault rises towards +x: the
// data's x is mirrored when theta_max is above 90 degrees; lengths in data
// units, angles in radians):
//   theta_max  acute dip of the straight segment; the arc ends there
//   yd         the detachment's y; ccy = yd + rc
//   (x1, y1)   the given tip.  Below the centre's level it lies on the
//              circle: ccx = x1 - sqrt(rc^2 - (y1 - ccy)^2) and its arc angle
//              is theta1 = atan((x1 - ccx) / (ccy - y1)); it lies on the arc
//              when 0 <= theta1 < theta_max, else (or at or above the
//              centre's level) on the straight segment, and then
//                ccx = x1 - rc sin tm - (y1 - ccy + rc cos tm) cos tm / sin tm
//   D          P * slip: how far the tip grew along the fault
//   tips       the initial tip lies D behind the final one along the fault
//              (along the straight segment, then the arc)
// Restoration starts from the final tip.  Each restored set (beds, a growth
// stratum, a terrace, the dips) is given the arc angle at which ITS slip
// leaves the tip, so the tip-path check of the kinematics holds for a set
// restored by less than the total slip too.
#include "foldquest/models/trishear_listric_run.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foldquest/fit/err_and_prob.hpp"
#include "foldquest/input/user_input.hpp"
#include "foldquest/models/forward_beds.hpp"
#include "foldquest/models/restored_section.hpp"
#include "foldquest/models/run_common.hpp"
#include "foldquest/models/trishear_listric.hpp"

namespace fq {

void trishear_listric_options(Session& session) {
  RunState& st = session.state;
  int answer = 0;
  if (st.options.tiptosolve == 1)
    answer = ask_flag(session, {"Must detachment depth be at initial fault tip depth? (0/1)"});
  st.fault.decoly_at_tipy = answer;
  st.parameters.nparams = trishear_listric_nparams(answer);
}

namespace {

constexpr double pi = Constants::pi;
constexpr double half_pi = pi / 2;

bool finite(Vec2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }

}  // namespace

double ListricGeometry::end_angle(double slip_of_set) const {
  const double d = povers * slip_of_set;  // signed advance of the tip
  if (d >= 0) {
    if (!final_on_arc) return theta_max;
    return std::min(thetat + d / rc, theta_max);
  }
  const double back = -d;
  if (!final_on_arc) return theta_max - std::max(back - final_to_arc_end, 0.0) / rc;
  return thetat - back / rc;
}

bool listric_geometry(const RunState& state, std::span<const double> params, ListricGeometry& g) {
  const Options& o = state.options;
  const bool decol_at_tip = state.fault.decoly_at_tipy == 1;
  const int nfault = trishear_listric_nparams(state.fault.decoly_at_tipy);
  if (params.size() < static_cast<std::size_t>(nfault))
    throw std::invalid_argument("run_model_listric: " + std::to_string(params.size()) + " parameters, at least " +
                                std::to_string(nfault) + " needed");
  g = ListricGeometry{};
  const double y1 = params[1];
  const double yd = decol_at_tip ? y1 : params[8];
  if (!decol_at_tip && yd > y1) return false;
  g.slip = params[2];
  const double tm_full = params[3] * pi / 180;
  g.ramp_dir = tm_full > half_pi ? -1 : 1;
  const double tm = std::min(tm_full, pi - tm_full);
  g.theta_max = tm;
  g.phi = params[4] * pi / 180;
  if (!(g.phi < 0.5 * std::max(tm_full, pi - tm_full))) return false;
  g.m = zone_slope(g.phi);
  g.povers = params[5];
  g.s = params[6];
  g.rc = params[7];
  // No arc, a tip that would run backwards along the fault, or a negative
  // slip (whose sense would oppose the run's): no tip path to follow.
  if (!(g.rc > 0) || !(g.povers >= 0) || !(g.slip >= 0)) return false;

  const double x1 = params[0] * g.ramp_dir;
  const double ccy = yd + g.rc;
  const double ctm = std::cos(tm), stm = std::sin(tm);
  double ccx = 0;
  double theta1 = tm;
  if (y1 < ccy) {
    ccx = x1 - std::sqrt(g.rc * g.rc - (y1 - ccy) * (y1 - ccy));
    theta1 = std::atan((x1 - ccx) / (ccy - y1));
  }
  const bool given_on_arc = theta1 >= 0 && theta1 < tm;
  if (!given_on_arc) {
    theta1 = tm;
    ccx = x1 - g.rc * stm - (y1 - ccy + g.rc * ctm) * ctm / stm;
  }
  g.cc = {ccx, ccy};
  g.arc_end = {ccx + g.rc * stm, ccy - g.rc * ctm};
  const Vec2 given{x1, y1};
  const Vec2 e{ctm, stm};
  const double D = g.povers * g.slip;
  auto arc_point = [&](double th) { return Vec2{ccx + g.rc * std::sin(th), ccy - g.rc * std::cos(th)}; };

  if (o.tiptosolve == 1) {
    // The given tip is the initial one.
    if (!(yd <= y1) || !(x1 - ccx >= 0)) return false;
    g.tip_init = given;
    g.theta0 = theta1;
    if (!given_on_arc) {
      g.tip_final = {given.x + D * e.x, given.y + D * e.y};
      g.thetat = tm;
      g.final_on_arc = false;
    } else {
      const double L = (tm - theta1) * g.rc;
      if (L < D) {
        g.tip_final = {g.arc_end.x + (D - L) * e.x, g.arc_end.y + (D - L) * e.y};
        g.thetat = tm;
        g.final_on_arc = false;
      } else {
        g.thetat = theta1 + D / g.rc;
        g.tip_final = arc_point(g.thetat);
      }
    }
  } else {
    // The given tip is the final one.
    if (!(yd <= y1)) return false;
    g.tip_final = given;
    if (given_on_arc) {
      if (theta1 < D / g.rc) return false;
      g.thetat = theta1;
      g.theta0 = theta1 - D / g.rc;
      g.tip_init = arc_point(g.theta0);
    } else {
      g.thetat = tm;
      g.final_on_arc = false;
      const double Ls = std::hypot(given.x - g.arc_end.x, given.y - g.arc_end.y);
      if (tm < (D - Ls) / g.rc) return false;
      if (Ls < D) {
        g.theta0 = tm - (D - Ls) / g.rc;
        g.tip_init = arc_point(g.theta0);
      } else {
        g.theta0 = tm;
        g.tip_init = {given.x - D * e.x, given.y - D * e.y};
      }
    }
  }
  if (!g.final_on_arc) g.final_to_arc_end = std::hypot(g.tip_final.x - g.arc_end.x, g.tip_final.y - g.arc_end.y);
  return finite(g.cc) && finite(g.tip_final) && finite(g.tip_init) && std::isfinite(g.thetat) &&
         std::isfinite(g.theta0) && std::isfinite(g.m) && std::isfinite(D);
}

namespace {

// Restores one bed or terrace into `work` (map frame); `cov`, when not empty,
// starts as diag(sigma^2, sigma^2) (unchanged by the mirror) and ends as each
// point's covariance in the map frame.
ListricStatus restore_points(const ListricGeometry& g, const TrishearListric& kernel, std::span<const Vec2> pts,
                             std::span<Vec2> work, std::span<Mat2> cov, double sigma) {
  const double dir = g.ramp_dir;
  for (std::size_t i = 0; i < pts.size(); ++i) work[i] = {pts[i].x * dir, pts[i].y};
  const double var = sigma * sigma;
  for (Mat2& c : cov) c = Mat2{var, 0, 0, var};
  const ListricStatus status = trishear_func_listric(kernel, work, cov);
  for (Vec2& p : work) p.x *= dir;
  for (Mat2& c : cov) {
    c.b *= dir;
    c.c *= dir;
  }
  return status;
}

}  // namespace

void run_model_listric(const RunState& state, double& output, std::span<const double> params) {
  const Options& o = state.options;
  const Parameters& par = state.parameters;
  const DataModule& data = state.data;
  const double failed = failed_model_output(o.resulttype);

  // 1-3. The fault and the tips (rejections first), then the growth and
  // terrace slips and the restored-state fit parameters.
  ListricGeometry g;
  if (!listric_geometry(state, params, g)) {
    output = failed;
    return;
  }
  ExtraBlocks extra;
  if (!extra_blocks(state, params, g.slip, "run_model_listric", extra)) {
    output = failed;
    return;
  }
  const std::vector<double> growth_slip = signed_slips(extra.growth, par.slip_sense);
  const std::vector<double> terr_slip = signed_slips(extra.terr, par.slip_sense);
  const std::span<const double> restored_fit_params = extra.restored_fit_params;
  const double total_slip = g.slip * par.slip_sense;

  auto kernel_for = [&](double slip_of_set) {
    return TrishearListric(par.v0, g.phi, g.m, slip_of_set, par.increment, g.povers, g.s, g.theta_max,
                           g.end_angle(slip_of_set), g.thetat, g.tip_final, g.cc, g.rc);
  };
  const bool beds_on = o.has(Options::dattype_beds);
  const bool dips_on = o.has(Options::dattype_dips);
  std::optional<TrishearListric> kernel_total;
  if (beds_on || dips_on) kernel_total.emplace(kernel_for(total_slip));

  TypeScores scores;
  RestoreScratch scratch(state);

  if (beds_on) {
    const bool ok = score_beds(state, growth_slip.size(), restored_fit_params, scratch, scores, "run_model_listric",
                               [&](const Bed& bed, std::size_t growth, std::span<Vec2> pts, std::span<Mat2> c) {
                                 const ListricStatus status =
                                     growth == kTotalSlip
                                         ? restore_points(g, *kernel_total, bed.pts, pts, c, par.sigma_bed)
                                         : restore_points(g, kernel_for(growth_slip[growth]), bed.pts, pts, c,
                                                          par.sigma_bed);
                                 return status == ListricStatus::ok;
                               });
    if (!ok) {
      output = failed;
      return;
    }
  }

  if (dips_on) {
    scores.mark(Options::dattype_dips);
    const std::size_t nd = data.dips.size();
    if (data.dip_pos.size() != nd)
      throw std::invalid_argument("run_model_listric: dip positions and dips differ in number");
    std::vector<Vec2> pos(nd);
    std::vector<double> dips(nd);
    std::vector<double> sigma_dip_array(nd, par.sigma_dip * pi / 180);
    for (std::size_t j = 0; j < nd; ++j) {
      pos[j] = {data.dip_pos[j].x * g.ramp_dir, data.dip_pos[j].y};
      dips[j] = data.dips[j] * g.ramp_dir;
    }
    if (trishear_func_dip_listric(*kernel_total, pos, dips, sigma_dip_array) != ListricStatus::ok) {
      output = failed;
      return;
    }
    if (kept_section()) keep_dip_positions_mirrored(g.ramp_dir, pos);
    // Back to the map frame (times ramp_dir), in degrees within [-90, 90].
    const std::vector<double> restoreddips = restored_dips_degrees(dips, 0.0, g.ramp_dir, sigma_dip_array);
    calc_dip_err(state, restoreddips, scores.slot(Options::dattype_dips), sigma_dip_array, restored_fit_params);
    scores.check(Options::dattype_dips, "run_model_listric: dips");
  }

  if (o.has(Options::dattype_terr)) {
    const bool ok = score_terraces(state, terr_slip.size(), scratch, scores, "run_model_listric",
                                   [&](const Bed& terr, std::size_t n, std::span<Vec2> pts, std::span<Mat2> c) {
                                     return restore_points(g, kernel_for(terr_slip[n]), terr.pts, pts, c,
                                                           par.sigma_terr) == ListricStatus::ok;
                                   });
    if (!ok) {
      output = failed;
      return;
    }
  }

  if (o.has(Options::dattype_faultpts)) {
    const bool scored = o.resulttype != 3;
    if (scored) scores.mark(Options::dattype_faultpts);
    std::vector<double> fault_errs(data.faultpts.size());
    for (std::size_t i = 0; i < fault_errs.size(); ++i) {
      const Vec2 q{data.faultpts[i].x * g.ramp_dir, data.faultpts[i].y};
      fault_errs[i] = fault_pt_dist_listric(q, g.thetat, g.cc, g.rc);
    }
    calc_fault_pts_err(state, fault_errs, scores.slot(Options::dattype_faultpts));
    if (scored) scores.check(Options::dattype_faultpts, "run_model_listric: fault points");
  }

  // The fault for a kept section, in the map frame: the detachment behind
  // the arc's foot, the arc up to theta_max (or to the final tip while it is
  // on the arc) and the straight segment to the final tip.
  if (RestoredSection* kept = kept_section()) {
    const auto map = [&](Vec2 p) { return Vec2{p.x * g.ramp_dir, p.y}; };
    const Vec2 foot{g.cc.x, g.cc.y - g.rc};
    keep_fault("detachment", {map({foot.x - kept->reach, foot.y}), map(foot)});
    const double arc_top = g.final_on_arc ? g.thetat : g.theta_max;
    constexpr int kArcPieces = 32;
    std::vector<Vec2> arc;
    for (int i = 0; i <= kArcPieces; ++i) {
      const double th = arc_top * i / kArcPieces;
      arc.push_back(map({g.cc.x + g.rc * std::sin(th), g.cc.y - g.rc * std::cos(th)}));
    }
    keep_fault("arc", std::move(arc));
    if (!g.final_on_arc) keep_fault("straight segment", {map(g.arc_end), map(g.tip_final)});
    keep_fault("initial tip", {map(g.tip_init)});
    keep_fault("final tip", {map(g.tip_final)});
  }

  output = scores.sum();
}

// Forward: the restoration starts at the final tip and ends at the arc angle
// end_angle(total_slip); the inverse starts there, at that tip, and ends at
// the final tip's angle.  Backwards (the usual sense) the restoration ends
// at the initial tip; forwards it carries the tip on by slip * povers along
// the arc and the straight segment.
bool forward_beds_listric(const RunState& state, std::span<const double> params, std::span<PointSet> beds) {
  const Parameters& par = state.parameters;
  ListricGeometry g;
  if (!listric_geometry(state, params, g)) return false;
  const double total_slip = g.slip * par.slip_sense;
  double theta_start = g.theta0;
  Vec2 tip_start = g.tip_init;
  if (total_slip > 0) {
    const double d = g.povers * total_slip;
    const Vec2 e{std::cos(g.theta_max), std::sin(g.theta_max)};
    theta_start = g.end_angle(total_slip);
    if (!g.final_on_arc) {
      tip_start = {g.tip_final.x + d * e.x, g.tip_final.y + d * e.y};
    } else if (theta_start < g.theta_max) {
      tip_start = {g.cc.x + g.rc * std::sin(theta_start), g.cc.y - g.rc * std::cos(theta_start)};
    } else {
      const double beyond = d - (g.theta_max - g.thetat) * g.rc;  // along the straight segment
      tip_start = {g.arc_end.x + beyond * e.x, g.arc_end.y + beyond * e.y};
    }
  }
  const TrishearListric kernel(-par.v0, g.phi, g.m, -total_slip, -par.increment, g.povers, g.s, g.theta_max,
                               g.thetat, theta_start, tip_start, g.cc, g.rc);
  const double dir = g.ramp_dir;
  for (PointSet& bed : beds) {
    for (Vec2& p : bed) p.x *= dir;
    const ListricStatus status = trishear_func_listric(kernel, bed, {});
    for (Vec2& p : bed) p.x *= dir;
    if (status != ListricStatus::ok) return false;
  }
  return true;
}

}  // namespace fq
