// Parallel fault-propagation fold: the option dialogue and the model run.
//
// One call restores every data type present from its deformed state to its
// state before faulting (or before its own slip) and scores it, like the
// trishear models' runs.  What differs:
//   - P/S is solved from the segment angles (pfpf_solve), with no random
//     number: the same model scores the same on every call;
//   - the data are not turned into a fault-tip frame: they are only
//     mirrored in x when the fault rises towards -x (the working frame),
//     moved by the piecewise-rigid kernels, and mirrored back;
//   - the fold at the final state is described by the final tip and pte,
//     the point where the forelimb's axial surfaces meet, which lies up K
//     from the tip by the fold's whole slip.  Every data set starts from
//     that one final fold, whatever part of the slip it saw (a growth
//     stratum or a terrace saw only its own slip).
//
// Notation (map frame x right, y up; lengths in data units):
//   a_up, a_low   map angles of the upper and lower segments, radians; both
//                 at most pi/2 (ramp_dir = +1) or both above (ramp_dir = -1)
//   theta_up/low  their acute dips; theta_low <= theta_up
//   D = P/S q Q   the tip's travel for a slip magnitude Q (the tip moves at
//                 vt = P/S q per unit slip)
//   bend          bend_at_tipy = 0: y is parameter 6, on the given tip's
//                 segment; bend_at_tipy = 1: the initial tip; when the final
//                 tip is given, final tip - (cos a_up, sin a_up) D
//   tips          by the tip-path rule of the bend model with D above
#include "foldquest/models/parallel_fpf_run.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "foldquest/fit/err_and_prob.hpp"
#include "foldquest/input/user_input.hpp"
#include "foldquest/models/forward_beds.hpp"
#include "foldquest/models/restored_section.hpp"
#include "foldquest/models/run_common.hpp"
#include "foldquest/models/trishear_bend_run.hpp"
#include "foldquest/report/diagnostics.hpp"

namespace fq {

void parallel_fpf_options(Session& session) {
  RunState& st = session.state;
  st.fault.bend_at_tipy = ask_flag(
      session, {"Must depth of fault bend be at initial fault tip depth? (0/1)", "Choosing 0 may not work properly."});
  st.parameters.nparams = parallel_fpf_param_count(st.fault.bend_at_tipy);
  st.fault.tipy_can_be_below_bend = 0;
}

namespace {

constexpr double pi = Constants::pi;
constexpr double half_pi = pi / 2;

BendFault fault_of(const PfpfModel& m) { return BendFault{m.bend.x, m.bend.y, m.a_up, m.a_low}; }

}  // namespace

bool pfpf_model(const RunState& state, std::span<const double> params, PfpfModel& model) {
  const int nfault = parallel_fpf_param_count(state.fault.bend_at_tipy);
  if (params.size() < static_cast<std::size_t>(nfault))
    throw std::invalid_argument("run_model_pfpf: " + std::to_string(params.size()) + " parameters, at least " +
                                std::to_string(nfault) + " needed");
  const bool bend_at_tipy = state.fault.bend_at_tipy == 1;
  const double tipx = params[0], tipy = params[1], slip = params[2];
  model = PfpfModel{};
  model.total_slip = slip * state.parameters.slip_sense;
  model.a_up = params[3] * pi / 180;
  model.a_low = params[4] * pi / 180;
  const double a_up = model.a_up, a_low = model.a_low;

  // A slip that is not a finite number moves nothing: no model.
  if (!std::isfinite(slip)) return false;
  // Both segments on one side of the vertical (a NaN angle fails).
  const bool both_right = a_up <= half_pi && a_low <= half_pi;
  const bool both_left = a_up > half_pi && a_low > half_pi;
  if (!both_right && !both_left) return false;
  model.ramp_dir = both_left ? -1 : 1;
  const double theta_up = std::min(a_up, pi - a_up), theta_low = std::min(a_low, pi - a_low);

  switch (pfpf_solve(theta_up, theta_low, model.geo)) {
    case PfpfFailure::none: break;
    case PfpfFailure::segments: return false;
    case PfpfFailure::gamma1: diag::report(kPfpfNoGamma1); return false;
    case PfpfFailure::gamma_star: diag::report(kPfpfNoGammaStar); return false;
    case PfpfFailure::povers:
      if (model.geo.povers < 0) diag::report(kPfpfNegativePoverS);
      return false;
  }

  // The tip travels D = P/S q slip along the upper segment.
  const double travel = model.geo.povers * model.geo.q * slip;
  const Vec2 up_dir{std::cos(a_up), std::sin(a_up)};
  if (bend_at_tipy) {
    if (state.options.tiptosolve == 1) {
      model.bend = {tipx, tipy};
      model.tip_init = model.bend;
      model.tip_final = {tipx + travel * up_dir.x, tipy + travel * up_dir.y};
    } else {
      model.tip_final = {tipx, tipy};
      model.bend = {tipx - travel * up_dir.x, tipy - travel * up_dir.y};
      model.tip_init = model.bend;  // the initial tip IS the bend, exactly
    }
  } else {
    const double bendy = params[5];
    const int seg = bendy <= tipy ? 1 : 2;
    model.bend.y = bendy;
    model.bend.x = tipy == bendy ? tipx : tipx - (tipy - bendy) / std::tan(seg == 1 ? a_up : a_low);
    // A horizontal segment never reaches another depth: no bend point.
    if (!std::isfinite(model.bend.x)) return false;
    const TipOnFault given{tipx, tipy, seg};
    const BendFault f = fault_of(model);
    TipOnFault other;
    if (state.options.tiptosolve == 1) {
      other = bend_tip_forward(f, given, travel);
      model.tip_init = {given.x, given.y};
      model.tip_final = {other.x, other.y};
    } else {
      other = bend_tip_back(f, given, travel);
      model.tip_final = {given.x, given.y};
      model.tip_init = {other.x, other.y};
    }
  }
  // The initial tip may not lie below the bend, and every place must be a
  // number (a tip parameter that is not one fails the model).
  if (!(model.tip_init.y >= model.bend.y)) return false;
  for (const Vec2 p : {model.bend, model.tip_init, model.tip_final})
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
  return true;
}

Vec2 pfpf_tip_after(const PfpfModel& model, double q_slip) {
  const double travel = model.geo.povers * model.geo.q * std::abs(q_slip);
  const TipOnFault t = bend_tip_back(fault_of(model), TipOnFault{model.tip_final.x, model.tip_final.y, 1}, travel);
  return {t.x, t.y};
}

namespace {

// Restores one bed or terrace through `signed_slip` from the final fold:
// into the working frame, through the kernels, back to the map.  `cov`,
// when not empty, starts as diag(sigma^2, sigma^2) (the mirror leaves it
// unchanged) and is mirrored back.
void restore_points(const PfpfModel& m, const PfpfStart& start, double signed_slip, std::span<const Vec2> pts,
                    std::span<Vec2> work, std::span<Mat2> cov, double sigma) {
  for (std::size_t i = 0; i < pts.size(); ++i) work[i] = mirror_x(pts[i], m.ramp_dir);
  const double var = sigma * sigma;
  for (Mat2& c : cov) c = Mat2{var, 0, 0, var};
  pfpf_points(m.geo, start, signed_slip, work, cov);
  for (Vec2& p : work) p = mirror_x(p, m.ramp_dir);
  for (Mat2& c : cov) c = mirror_x(c, m.ramp_dir);
}

}  // namespace

void run_model_pfpf(const RunState& state, double& output, std::span<const double> params) {
  const Options& o = state.options;
  const Parameters& par = state.parameters;
  const DataModule& data = state.data;
  const double failed = failed_model_output(o.resulttype);

  const int nfault = parallel_fpf_param_count(state.fault.bend_at_tipy);
  if (params.size() < static_cast<std::size_t>(nfault))
    throw std::invalid_argument("run_model_pfpf: " + std::to_string(params.size()) + " parameters, at least " +
                                std::to_string(nfault) + " needed");
  const double slip = params[2];

  // Growth and terrace slips (none may exceed the slip; NaN values are
  // ignored, a value equal to the slip passes) and the restored-state fit
  // parameters, read by the scoring under fit type 5 only.
  ExtraBlocks extra;
  if (!extra_blocks(state, params, slip, "run_model_pfpf", extra)) {
    output = failed;
    return;
  }

  // The geometry, the bend and the tips.
  PfpfModel m;
  if (!pfpf_model(state, params, m)) {
    output = failed;
    return;
  }
  const int dir = m.ramp_dir;
  // The final fold in the working frame.  Restoring backwards
  // (total_slip < 0), pte lies up K from the final tip by the whole slip, so
  // that the restoration closes the fold whatever part of the slip a data
  // set saw.  Forwards (a normal slip sense) the fold starts closed, at the
  // tip.
  PfpfStart start;
  start.bend = mirror_x(m.bend, dir);
  start.tip = mirror_x(m.tip_final, dir);
  start.pte = pfpf_pte(m.geo, start.tip, m.total_slip < 0 ? -m.total_slip : 0.0);

  TypeScores scores;
  RestoreScratch scratch(state);

  if (o.has(Options::dattype_beds)) {
    const std::span<const double> growth_block = extra.growth;
    const bool ok = score_beds(state, growth_block.size(), extra.restored_fit_params, scratch, scores,
                               "run_model_pfpf",
                               [&](const Bed& bed, std::size_t growth, std::span<Vec2> pts, std::span<Mat2> c) {
                                 const double q = growth == kTotalSlip ? m.total_slip
                                                                       : growth_block[growth] * par.slip_sense;
                                 restore_points(m, start, q, bed.pts, pts, c, par.sigma_bed);
                                 return true;
                               });
    if (!ok) {
      output = failed;
      return;
    }
  }

  // Dips, through the total slip; growth slips never apply to dips.
  if (o.has(Options::dattype_dips)) {
    scores.mark(Options::dattype_dips);
    const std::size_t nd = data.dips.size();
    if (data.dip_pos.size() != nd)
      throw std::invalid_argument("run_model_pfpf: dip positions and dips differ in number");
    std::vector<Vec2> dippos(nd);
    std::vector<double> dips(nd);
    std::vector<double> sigma_dip_array(nd, par.sigma_dip * pi / 180);
    for (std::size_t j = 0; j < nd; ++j) {
      dippos[j] = mirror_x(data.dip_pos[j], dir);
      dips[j] = data.dips[j] * dir;
    }
    pfpf_dips(m.geo, start, m.total_slip, dippos, dips, sigma_dip_array);
    if (kept_section()) keep_dip_positions_mirrored(dir, dippos);
    const std::vector<double> restoreddips = restored_dips_degrees(dips, 0.0, dir, sigma_dip_array);
    calc_dip_err(state, restoreddips, scores.slot(Options::dattype_dips), sigma_dip_array,
                 extra.restored_fit_params);
    scores.check(Options::dattype_dips, "run_model_pfpf: dips");
  }

  if (o.has(Options::dattype_terr)) {
    const std::span<const double> terr_block = extra.terr;
    const bool ok = score_terraces(state, terr_block.size(), scratch, scores, "run_model_pfpf",
                                   [&](const Bed& terr, std::size_t n, std::span<Vec2> pts, std::span<Mat2> c) {
                                     restore_points(m, start, terr_block[n] * par.slip_sense, terr.pts, pts, c,
                                                    par.sigma_terr);
                                     return true;
                                   });
    if (!ok) {
      output = failed;
      return;
    }
  }

  // Points on the fault: distance to the segment on the point's side of
  // the line through the bend,
  //   y > bendy - (x - bendx) ramp_dir t_ax,  t_ax = tan((pi - theta_up - theta_low)/2)
  // (the upper segment above it), |t (x - bendx) - y + bendy| / sqrt(t^2 + 1)
  // with t = tan of that segment's map angle.
  if (o.has(Options::dattype_faultpts)) {
    const bool scored = o.resulttype != 3;
    if (scored) scores.mark(Options::dattype_faultpts);
    const double t_ax = std::tan((pi - m.geo.theta_up - m.geo.theta_low) / 2);
    const double t1 = std::tan(m.a_up), t2 = std::tan(m.a_low);
    const double root1 = std::sqrt(t1 * t1 + 1), root2 = std::sqrt(t2 * t2 + 1);
    const double bx = m.bend.x, by = m.bend.y;
    std::vector<double> fault_errs(data.faultpts.size());
    for (std::size_t i = 0; i < fault_errs.size(); ++i) {
      const Vec2 q = data.faultpts[i];
      const bool upper = q.y > by - (q.x - bx) * dir * t_ax;
      const double t = upper ? t1 : t2;
      fault_errs[i] = std::abs(t * (q.x - bx) - q.y + by) / (upper ? root1 : root2);
    }
    calc_fault_pts_err(state, fault_errs, scores.slot(Options::dattype_faultpts));
    if (scored) scores.check(Options::dattype_faultpts, "run_model_pfpf: fault points");
  }

  // The fault for a kept section: the lower segment up to the bend, the
  // upper one from the bend to the final tip.
  if (kept_section()) {
    keep_fault("lower segment", {fault_reach(m.bend, m.a_low), m.bend});
    keep_fault("upper segment", {m.bend, m.tip_final});
    keep_fault("bend", {m.bend});
    keep_fault("initial tip", {m.tip_init});
    keep_fault("final tip", {m.tip_final});
  }

  output = scores.sum();
}

// Forward: the restoration starts from the final fold (the final tip, pte
// up K by the whole slip when it runs backwards) and moves the tip by
// total_slip at vt.  The inverse starts with the tip where that leaves it
// and pte where the restoration leaves it (the fold closed, for the usual
// sense), and moves the points through -total_slip.  A point that lands in
// no domain or stops crossing fails the model: a synthetic section must not
// hold a point the kinematics could not move.
bool forward_beds_pfpf(const RunState& state, std::span<const double> params, std::span<PointSet> beds) {
  PfpfModel m;
  if (!pfpf_model(state, params, m)) return false;
  const int dir = m.ramp_dir;
  const double total = m.total_slip;
  const double fold_slip_at_final = total < 0 ? -total : 0.0;
  PfpfStart start;
  start.bend = mirror_x(m.bend, dir);
  const Vec2 t = mirror_x(m.tip_final, dir);
  start.tip = {t.x + m.geo.vt.x * total, t.y + m.geo.vt.y * total};
  start.pte = pfpf_pte(m.geo, start.tip, fold_slip_at_final + total);
  for (PointSet& bed : beds) {
    for (Vec2& p : bed) p = mirror_x(p, dir);
    const std::int64_t lost = pfpf_points(m.geo, start, -total, bed, {});
    for (Vec2& p : bed) p = mirror_x(p, dir);
    if (lost != 0) return false;
  }
  return true;
}

}  // namespace fq
