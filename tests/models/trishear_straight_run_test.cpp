// The straight-ramp model run: parameter unpacking, growth and terrace slip
// checks, the tip, the frames, the dip conversion, and end to end on a
// cross-section deformed forward with the kernels from known parameters.
#include "foldquest/models/trishear_straight_run.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/fit/err_and_prob.hpp"
#include "foldquest/fit/slot_check.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/trishear_straight.hpp"
#include "tests/fit/console_capture.hpp"
#include "tests/support/expect_close.hpp"
#include "tests/support/run_state_builder.hpp"

namespace {

using fq::Bed;
using fq::Options;
using fq::RunState;
using fq::Vec2;
using fqtest::set_beds;
using fqtest::set_dips;
using fqtest::set_faultpts;
using fqtest::Tol;

constexpr double pi = fq::Constants::pi;
constexpr double kLowestFloat = -3.4028234663852886e+38;

double run(const RunState& st, const std::vector<double>& params) {
  double out = -777.0;
  fq::run_model_str(st, out, params);
  return out;
}

Bed make_bed(std::vector<Vec2> pts, bool growth = false) {
  Bed b;
  b.npts = static_cast<int>(pts.size());
  b.pts = std::move(pts);
  b.growth = growth;
  return b;
}

// A run state with only the straight ramp's parameters and restoration by
// `inc` per step (slip_sense -1: data are restored).
RunState base_state(int fittype, int resulttype, double inc = 0.05) {
  RunState st;
  st.options.faulttype = 1;
  st.options.tiptosolve = 2;
  st.options.fittype = fittype;
  st.options.resulttype = resulttype;
  st.parameters.nparams = fq::kTrishearStrParams;
  st.parameters.slip_sense = -1;
  st.parameters.increment = -inc;
  st.parameters.v0 = -inc;
  st.parameters.sigma_bed = 0.5;
  st.parameters.sigma_dip = 2;
  st.parameters.sigma_terr = 0.5;
  st.parameters.sigma_fault = 0.5;
  st.parameters.lc = 5;
  return st;
}

void set_terraces(RunState& st, std::vector<Bed> terraces, std::vector<double> elev) {
  fqtest::set_terraces(st, std::move(terraces), std::move(elev), 0.5);
}

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// ---- dispatch and option hook ----------------------------------------------------

TEST(StraightRun, OptionsSetSevenParametersAndTheTableReachesTheRun) {
  auto in = ff::Reader::from_string("stdin", "");
  fq::Session session(*in);
  session.state.options.faulttype = 1;
  fq::choose_fault_options(session);
  EXPECT_EQ(session.state.parameters.nparams, 7);

  RunState st = base_state(1, 1);
  set_faultpts(st, {{1, 2}, {1, 3}});
  const std::vector<double> p{1, 2, 5, 30, 30, 1, 1};
  double out = -1;
  fq::choose_fault_model(st, out, p);
  EXPECT_EQ(out, run(st, p));
  st.options.faulttype = 0;
  out = -1;
  fq::choose_fault_model(st, out, p);
  EXPECT_EQ(out, -1);
}

TEST(StraightRun, FaultPointsAloneScoreTheirDistanceFromTheFaultLine) {
  // Tip (1, 2), ramp 30 degrees: (1 + 10 cos 30, 2 + 10 sin 30) is on the
  // fault; (1, 3) lies cos 30 from it.
  RunState st = base_state(1, 1);
  const double c = std::cos(30 * pi / 180), s = std::sin(30 * pi / 180);
  set_faultpts(st, {{1 + 10 * c, 2 + 10 * s}, {1, 3}});
  const auto kLen = Tol::abs(1e-12, "length", "rounding of 10-unit coordinates");
  EXPECT_CLOSE(run(st, {1, 2, 5, 30, 30, 1, 1}), std::sqrt(c * c / 2), kLen);
  // The given tip, not the final one, defines the line: with tiptosolve 1
  // the final tip lies on the same line, so the score is the same.
  st.options.tiptosolve = 1;
  EXPECT_CLOSE(run(st, {1, 2, 5, 30, 30, 1, 1}), std::sqrt(c * c / 2), kLen);
  // A ramp rising to -x: the line at 150 degrees through the tip.
  const double a150 = 150 * pi / 180;
  st.data.faultpts = {{1 + 10 * std::cos(a150), 2 + 10 * std::sin(a150)}};
  st.data.nfaultpts = 1;
  EXPECT_CLOSE(run(st, {1, 2, 5, 150, 30, 1, 1}), 0.0, kLen);
}

// ---- growth and terrace slips --------------------------------------------------------

RunState growth_state(int resulttype) {
  RunState st = base_state(1, resulttype);
  set_beds(st, {make_bed({{-20, 5}, {-19, 5}}), make_bed({{-20, 6}, {-19, 6}}, true),
                make_bed({{-20, 7}, {-19, 7}}), make_bed({{-20, 8}, {-19, 8}}, true)});
  return st;
}

TEST(StraightRun, GrowthSlipUpToTheTotalSlipPassesAndAboveFails) {
  for (int rt : {1, 2, 3, 4}) {
    const RunState st = growth_state(rt);
    EXPECT_TRUE(std::isfinite(run(st, {0, 0, 5, 30, 30, 1, 1, 2, 5}))) << rt;
    const double failed = run(st, {0, 0, 5, 30, 30, 1, 1, 2, 5.0001});
    if (rt == 1 || rt == 3) {
      EXPECT_TRUE(std::isnan(failed)) << rt;
    } else {
      EXPECT_EQ(failed, kLowestFloat) << rt;
    }
    // A NaN growth slip is ignored by the check (the bed then restores to
    // NaN); only the probabilities tell that from a failed model.
    if (rt == 2 || rt == 4) {
      EXPECT_NE(run(st, {0, 0, 5, 30, 30, 1, 1, 2, std::nan("")}), kLowestFloat) << rt;
    }
  }
}

TEST(StraightRun, TerraceSlipAboveTheTotalSlipFails) {
  RunState st = base_state(1, 2);
  set_terraces(st, {make_bed({{-20, 5}, {-19, 5}}), make_bed({{-20, 9}})}, {0, 0});
  EXPECT_NE(run(st, {0, 0, 5, 30, 30, 1, 1, 5, 1}), kLowestFloat);
  EXPECT_EQ(run(st, {0, 0, 5, 30, 30, 1, 1, 1, 6}), kLowestFloat);
  st.options.resulttype = 1;
  EXPECT_TRUE(std::isnan(run(st, {0, 0, 5, 30, 30, 1, 1, 1, 6})));
}

TEST(StraightRun, GrowthBedsTakeGrowthSlipsInOrderOfAppearance) {
  // One-point beds far behind the tip in the hanging wall move rigidly by
  // their slip along the 30 degree ramp: y falls by slip * sin 30.  Each
  // bed's known line is at its expected restored height; a bed given the
  // wrong slip misses it.
  RunState st = growth_state(2);
  st.options.fittype = 4;
  st.parameters.regslope = 0;
  const double s = std::sin(30 * pi / 180);
  st.parameters.intercepts = {5 - 5 * s, 6 - 2 * s, 7 - 5 * s, 8 - 3 * s};
  const double best = -8 * std::log(0.5);  // 4 beds of 2 points on their lines
  const auto kLogp = Tol::abs(1e-9, "log-probability", "rounding of positions near 20 units");
  EXPECT_CLOSE(run(st, {0, 0, 5, 30, 30, 1, 1, 2, 3}), best, kLogp);
  EXPECT_LT(run(st, {0, 0, 5, 30, 30, 1, 1, 3, 2}), best - 1);
}

// ---- tip, frames, angles ------------------------------------------------------------------

TEST(StraightRun, InitialTipIsCarriedUpTheRampToTheFinalTip) {
  // params (0, 0, 10, 30, 30, 2, 1) with tiptosolve 1: final tip 20 up the
  // ramp, at (20 cos 30, 20 sin 30).  The point 10 up the ramp and 1 above
  // it lies behind that tip in the hanging wall and restores rigidly by 10
  // down the ramp to (-sin 30, cos 30); measured from the initial tip it
  // would lie in the zone and deform.
  const double c = std::cos(30 * pi / 180), s = std::sin(30 * pi / 180);
  RunState st = base_state(4, 1);
  st.options.tiptosolve = 1;
  st.parameters.regslope = 0;
  st.parameters.intercepts = {c};
  set_beds(st, {make_bed({{10 * c - s, 10 * s + c}})});
  const std::vector<double> p{0, 0, 10, 30, 30, 2, 1};
  EXPECT_CLOSE(run(st, p), 0.0, Tol::abs(1e-14, "length", "rounding of 10-unit positions"));
  st.options.tiptosolve = 2;
  EXPECT_GT(run(st, p), 0.01);
}

TEST(StraightRun, TrishearAngleOfNinetyUsesTanEightyNine) {
  RunState st = base_state(3, 2);
  set_beds(st, {make_bed({{2, 1}, {4, 1.5}, {6, 1.2}, {8, 0.5}})});
  set_dips(st, {{3, 0.5}, {5, -0.5}}, {0.1, -0.2});
  const double at90 = run(st, {0, 0, 3, 30, 90, 1.5, 1});
  EXPECT_TRUE(std::isfinite(at90));
  EXPECT_EQ(at90, run(st, {0, 0, 3, 30, 89, 1.5, 1}));
}

// The same cross-section and its mirror image in x (ramp angle a and
// 180 - a, dips and the regional dip negated) score the same: the ramp
// direction is handled by the frames and the dip conversion alone.
TEST(StraightRun, MirrorImageScoresTheSame) {
  auto build = [](double sx) {
    RunState st = base_state(2, 2);
    st.parameters.regdipdeg = sx * 10;
    st.parameters.regslope = std::tan(sx * 10 * pi / 180);
    std::vector<Vec2> b1, b2;
    for (int i = 0; i <= 12; ++i) {
      const double x = -6 + i;
      b1.push_back({sx * x, 2 + 0.3 * std::sin(x)});
      b2.push_back({sx * x, 4 + 0.2 * x});
    }
    set_beds(st, {make_bed(b1), make_bed(b2)});
    set_dips(st, {{sx * 3, 1}, {sx * 5, 2.5}, {sx * -4, 3}}, {sx * 0.3, sx * -0.1, sx * 0.2});
    set_terraces(st, {make_bed({{sx * 2, 6}, {sx * 4, 6.3}, {sx * 6, 6.1}})}, {5});
    return st;
  };
  const RunState right = build(1), left = build(-1);
  for (int rt : {1, 2, 3, 4}) {
    RunState r = right, l = left;
    r.options.resulttype = l.options.resulttype = rt;
    for (const double ramp : {25.0, 60.0}) {
      const double a = run(r, {0, 0, 3, ramp, 30, 1.5, 1, 2});
      const double b = run(l, {0, 0, 3, 180 - ramp, 30, 1.5, 1, 2});
      ASSERT_TRUE(std::isfinite(a)) << rt;
      EXPECT_CLOSE(b, a, Tol::rel(1e-9, "", "mirror frames differ in rounding (single-precision pi)")) << rt;
    }
  }
}

TEST(StraightRun, RestoredDipsAreFoldedIntoPlusMinusNinety) {
  // Footwall dips (below and behind the tip) do not rotate.  Observed dips
  // of 100 and -80 degrees are the same axial direction; the restored 100
  // is reported as -80, so under fit type 3 both equal their mean.
  RunState st = base_state(3, 1);
  set_dips(st, {{-10, -10}, {-12, -10}}, {100 * pi / 180, -80 * pi / 180});
  EXPECT_CLOSE(run(st, {0, 0, 5, 30, 30, 0.5, 1}), 0.0, Tol::abs(1e-9, "degree", "rounding of 100 degrees"));
  st.data.dips = {-95 * pi / 180, 85 * pi / 180};
  EXPECT_CLOSE(run(st, {0, 0, 5, 30, 30, 0.5, 1}), 0.0, Tol::abs(1e-9, "degree", "rounding of 95 degrees"));

  // Unrotated dips keep their uncertainty: propagated, it comes back to
  // sigma_dip in degrees and scores as without propagation.
  st.options.resulttype = 2;
  st.data.dips = {10 * pi / 180, -20 * pi / 180};
  const double plain = run(st, {0, 0, 5, 30, 30, 0.5, 1});
  st.options.propagate = 1;
  EXPECT_CLOSE(run(st, {0, 0, 5, 30, 30, 0.5, 1}), plain, Tol::ulps(8));
}

TEST(StraightRun, PropagatedBedCovarianceIsTurnedBackToTheMapFrame) {
  // One zone point restored with its covariance, scored against a 45 degree
  // line: sigma depends on the covariance's orientation, so a covariance
  // left in the fault-tip frame (or turned the wrong way) scores otherwise.
  const double a = 30 * pi / 180;
  const fq::TipFrame frame(0, 0, a, 1);
  const Vec2 observed = frame.to_xy({5, 0.5});
  Vec2 q = frame.to_ze(observed);
  fq::Mat2 c{0.25, 0, 0, 0.25};
  ASSERT_TRUE(fq::trishear_point(fq::TrishearStr(-0.05, std::tan(a), -2, -0.05, 1.5, 1), q, &c));
  const Vec2 restored = frame.to_xy(q);
  const fq::Mat2 cm = frame.cov_to_xy(c);
  ASSERT_GT(std::abs(cm.b - c.b), 1e-3);  // the turn matters for this point
  const double sigma2 = (cm.a + 2 * cm.b + cm.d) / 2;  // t = 1
  const double r = std::abs(restored.x + restored.y) / std::sqrt(2.0);
  RunState st = base_state(4, 2);
  st.options.propagate = 1;
  st.parameters.regslope = 1;
  st.parameters.intercepts = {0};
  set_beds(st, {make_bed({observed})});
  EXPECT_CLOSE(run(st, {0, 0, 2, 30, 30, 1.5, 1}), -(0.5 * std::log(sigma2) + r * r / (2 * sigma2)),
               Tol::rel(1e-12, "", "same steps, different grouping of a few roundings"));
}

TEST(StraightRun, TerracesTakeTheirOwnSlips) {
  // One-point terraces far behind the tip in the hanging wall drop by
  // slip * sin 30 on restoration; each elevation at formation is set to its
  // expected restored height (terr_slope 0, so the residual is the height
  // difference).
  RunState st = base_state(1, 2);
  const double s = std::sin(30 * pi / 180);
  set_terraces(st, {make_bed({{-20, 10}}), make_bed({{-25, 12}})}, {10 - 1 * s, 12 - 4 * s});
  const double best = -2 * 0.5 * std::log(0.25 + 0.25);  // K = sigma_terr^2 + sigma_orig_elev^2
  EXPECT_CLOSE(run(st, {0, 0, 5, 30, 30, 1, 1, 1, 4}), best, Tol::abs(1e-9, "log-probability", "rounding"));
  EXPECT_LT(run(st, {0, 0, 5, 30, 30, 1, 1, 4, 1}), best - 1);
}

TEST(StraightRun, CheckedBuildsCatchAScoreSlotLeftUnwritten) {
  // An invalid fit type leaves the bed's score unwritten (after its
  // message); checked builds stop on it instead of summing a stale value.
  fqtest::ConsoleCapture console;
  RunState st = base_state(9, 2);
  set_beds(st, {make_bed({{2, 1}, {4, 1.5}})});
  if constexpr (fq::kCheckedBuild) {
    EXPECT_THROW(run(st, {0, 0, 1, 30, 30, 1, 1}), std::logic_error);
  } else {
    run(st, {0, 0, 1, 30, 30, 1, 1});
  }
  EXPECT_EQ(console.text(), " Error: Invalid FitType\n");
}

TEST(StraightRun, AnIncrementTooSmallToStepFailsTheModel) {
  RunState st = base_state(1, 2, 1e-9);
  set_beds(st, {make_bed({{2, 1}, {4, 1.5}})});
  EXPECT_EQ(run(st, {0, 0, 8, 30, 30, 1, 1}), kLowestFloat);
}

// ---- end to end on a forward-deformed section -------------------------------------

struct Truth {
  double tipx = 30, tipy = 10;  // initial tip
  double slip = 8, ramp_deg = 30, phi_deg = 30, povers = 1.5, s = 1.5;
  double growth_slip = 3;
  double terr_slip1 = 2, terr_slip2 = 5;
  std::vector<double> params() const {
    return {tipx, tipy, slip, ramp_deg, phi_deg, povers, s, growth_slip, terr_slip1, terr_slip2};
  }
};

// Forward deformation with the kernels: the points start in the state
// before faulting, at the tip position after `slip_before` of the total
// slip, and take `slip` more.
struct Forward {
  const Truth& t;
  double inc;
  fq::TipFrame frame_after(double slip_before) const {
    const double a = t.ramp_deg * pi / 180;
    const double d = slip_before * t.povers;
    return fq::TipFrame(t.tipx + d * std::cos(a), t.tipy + d * std::sin(a), a, 1);
  }
  fq::TrishearStr kernel(double slip) const {
    return fq::TrishearStr(inc, std::tan(t.phi_deg * pi / 180), slip, inc, t.povers, t.s);
  }
  std::vector<Vec2> points(std::vector<Vec2> pts, double slip_before, double slip) const {
    const fq::TipFrame f = frame_after(slip_before);
    const fq::TrishearStr k = kernel(slip);
    for (Vec2& p : pts) {
      p = f.to_ze(p);
      EXPECT_TRUE(fq::trishear_point(k, p, nullptr));
      p = f.to_xy(p);
    }
    return pts;
  }
  // A horizontal dip at `pos`, deformed: position and map dip (radians).
  std::pair<Vec2, double> dip(Vec2 pos) const {
    const fq::TipFrame f = frame_after(0);
    const double acute = t.ramp_deg * pi / 180;
    Vec2 p = f.to_ze(pos);
    double theta = acute, sigma = 0;
    EXPECT_TRUE(fq::trishear_dip(kernel(t.slip), p, theta, sigma));
    return {f.to_xy(p), theta - acute};
  }
};

std::vector<Vec2> horizontal(double y, double x0, double x1, double dx) {
  std::vector<Vec2> pts;
  for (double x = x0; x <= x1 + 1e-9; x += dx) pts.push_back({x, y});
  return pts;
}

// The observations of the section, deformed once: beds at heights 12, 14,
// 16 (the last a growth stratum laid down after 5 of the 8 units of slip),
// dips along bed 2, two terraces, fault points.  Forward increment 0.001:
// the synthetic data are far more accurate than any restoration tested
// against them.
struct SectionData {
  std::vector<Bed> beds, terraces;
  std::vector<Vec2> dip_pos, faultpts;
  std::vector<double> dips;
};

const SectionData& section_data() {
  static const SectionData data = [] {
    const Truth t;
    const Forward fw{t, 0.001};
    SectionData d;
    d.beds = {make_bed(fw.points(horizontal(12, 20, 60, 1), 0, t.slip)),
              make_bed(fw.points(horizontal(14, 20, 60, 1), 0, t.slip)),
              make_bed(fw.points(horizontal(16, 20, 60, 1), t.slip - t.growth_slip, t.growth_slip), true)};
    for (double x : {32.0, 36.0, 40.0, 44.0}) {
      const auto [p, dip] = fw.dip({x, 13});
      d.dip_pos.push_back(p);
      d.dips.push_back(dip);
    }
    d.terraces = {make_bed(fw.points(horizontal(20, 35, 50, 1.5), t.slip - t.terr_slip1, t.terr_slip1)),
                  make_bed(fw.points(horizontal(23, 38, 55, 1.5), t.slip - t.terr_slip2, t.terr_slip2))};
    const double a = t.ramp_deg * pi / 180;
    d.faultpts = {{t.tipx - 2 * std::cos(a), t.tipy - 2 * std::sin(a)},
                  {t.tipx - 7 * std::cos(a), t.tipy - 7 * std::sin(a)}};
    return d;
  }();
  return data;
}

// The run state of the section with the data types asked for.
RunState section(int fittype, int resulttype, double restore_inc, bool beds = true, bool dips = true,
                 bool terr = true, bool fault = true) {
  const SectionData& d = section_data();
  RunState st = base_state(fittype, resulttype, restore_inc);
  st.options.tiptosolve = 1;
  st.parameters.sigma_bed = 0.1;
  st.parameters.sigma_terr = 0.1;
  if (beds) {
    set_beds(st, d.beds);
    st.parameters.intercepts = {12, 14, 16};
  }
  if (dips) set_dips(st, d.dip_pos, d.dips);
  if (terr) set_terraces(st, d.terraces, {20, 23});
  if (fault) set_faultpts(st, d.faultpts);
  if (fittype == 5) {
    // One restored dip per bed, one for the dip data, one intercept per bed.
    st.options.fit_dips = 2;
    st.options.fit_beds = 1;
    st.parameters.nparam_start_restored_fit = st.parameters.nparams + 1;
    st.parameters.nrestored_fit_params = 2 * st.data.nbeds + (dips ? 1 : 0);
    st.parameters.nparams += st.parameters.nrestored_fit_params;
  }
  return st;
}

// Fit-type-5 parameters for the section: restored dips 0, true intercepts.
std::vector<double> with_restored_fit(const RunState& st, std::vector<double> p) {
  if (st.options.fittype != 5) return p;
  for (int i = 0; i < st.data.nbeds; ++i) p.push_back(0);
  if (st.options.has(Options::dattype_dips)) p.push_back(0);
  for (double b : {12.0, 14.0, 16.0}) p.push_back(b);
  return p;
}

// Keeps the layout of the section's parameter vector when data types are left out.
std::vector<double> params_for(const RunState& st, const Truth& t) {
  std::vector<double> p{t.tipx, t.tipy, t.slip, t.ramp_deg, t.phi_deg, t.povers, t.s};
  if (st.options.has(Options::dattype_beds)) p.push_back(t.growth_slip);
  if (st.options.has(Options::dattype_terr)) {
    p.push_back(t.terr_slip1);
    p.push_back(t.terr_slip2);
  }
  return with_restored_fit(st, p);
}

TEST(StraightRunSection, BedsRestoreStraightWithinAToleranceThatShrinksWithTheIncrement) {
  // Fit type 1, RMS: the score is the RMS distance (length units) of the
  // restored beds from horizontal lines.  The zone is stepped with an
  // explicit first-order scheme, so the restoration error is proportional
  // to the increment: for this section (8 units of slip, beds 2 units
  // apart) it measures 0.2 to 0.3 increments.  Tolerance: half an increment
  // for straightness, 0.6 increments for the return to the original height
  // (fit type 4 against the known lines); and each fourfold refinement must
  // at least halve the error.
  const Truth t;
  double previous = std::numeric_limits<double>::infinity();
  for (const double inc : {0.2, 0.05, 0.0125}) {
    const RunState st = section(1, 1, inc, true, false, false, false);
    const double rms = run(st, params_for(st, t));
    EXPECT_LT(rms, 0.5 * inc) << "increment " << inc;
    EXPECT_LT(rms, 0.5 * previous) << "increment " << inc;
    previous = rms;
    const RunState known = section(4, 1, inc, true, false, false, false);
    EXPECT_LT(run(known, params_for(known, t)), 0.6 * inc) << "increment " << inc;
  }
}

TEST(StraightRunSection, RestoredDipsAndTerracesComeBackFlat) {
  const Truth t;
  // Dips alone, fit type 1: RMS of the restored dips from 0, in degrees.
  // Measured 0.07 degrees at increment 0.0125; a kinematic fault (a wrong
  // frame sign, a wrong rotation) is off by degrees.
  const RunState dips = section(1, 1, 0.0125, false, true, false, false);
  EXPECT_LT(run(dips, params_for(dips, t)), 0.25);
  // Terraces alone: RMS distance from their surfaces at formation, in
  // length units; within one increment, like the beds.
  const RunState terr = section(1, 1, 0.0125, false, false, true, false);
  EXPECT_LT(run(terr, params_for(terr, t)), 0.0125);
}

TEST(StraightRunSection, TrueParametersScoreBetterThanPerturbedOnes) {
  const Truth t;
  for (int rt : {1, 2, 3, 4}) {
    const bool higher_better = rt == 2 || rt == 4;
    // RMS is meant for one data type, chi-square excludes fault points.
    const RunState st = rt == 1 ? section(1, rt, 0.05, true, false, false, false)
                                : section(1, rt, 0.05, true, true, true, rt != 3);
    const double truth = run(st, params_for(st, t));
    ASSERT_TRUE(std::isfinite(truth)) << rt;
    const auto perturbations = std::vector<std::pair<const char*, Truth>>{
        {"slip +1", [&] { Truth u = t; u.slip += 1; return u; }()},
        {"slip -1", [&] { Truth u = t; u.slip -= 1; return u; }()},
        {"tip x +1", [&] { Truth u = t; u.tipx += 1; return u; }()},
        {"tip y -1", [&] { Truth u = t; u.tipy -= 1; return u; }()},
        {"ramp +5", [&] { Truth u = t; u.ramp_deg += 5; return u; }()},
        {"phi +15", [&] { Truth u = t; u.phi_deg += 15; return u; }()},
        {"P/S +0.5", [&] { Truth u = t; u.povers += 0.5; return u; }()},
        {"growth slip +2", [&] { Truth u = t; u.growth_slip += 2; return u; }()},
    };
    for (const auto& [name, u] : perturbations) {
      const double other = run(st, params_for(st, u));
      if (higher_better) {
        EXPECT_LT(other, truth) << name << ", result type " << rt;
      } else {
        EXPECT_GT(other, truth) << name << ", result type " << rt;
      }
    }
  }
}

TEST(StraightRunSection, EveryDataTypeCombinationFitTypeAndResultTypeGivesAFiniteScore) {
  const Truth t;
  for (int mask = 1; mask < 16; ++mask) {
    const bool beds = mask & 1, dips = mask & 2, terr = mask & 4, fault = mask & 8;
    for (int ft = 1; ft <= 5; ++ft) {
      if ((ft == 4 || ft == 5) && !beds) continue;  // known lines and fitted intercepts need beds
      for (int rt = 1; rt <= 4; ++rt) {
        if (rt == 3 && fault) continue;  // refused at start-up
        for (int prop = 0; prop <= (rt == 2 || rt == 4 ? 1 : 0); ++prop) {
          RunState st = section(ft, rt, 0.1, beds, dips, terr, fault);
          st.options.propagate = prop;
          const double score = run(st, params_for(st, t));
          EXPECT_TRUE(std::isfinite(score)) << "types " << mask << " fit " << ft << " result " << rt << " propagate "
                                            << prop << ": " << score;
        }
      }
    }
  }
}

TEST(StraightRunSection, ThreadsCallingTheModelOnOneRunStateAgreeWithSequentialCalls) {
  const Truth t;
  const RunState st = section(1, 4, 0.1);
  std::vector<std::vector<double>> models;
  for (int i = 0; i < 12; ++i) {
    Truth u = t;
    u.slip += 0.1 * i;
    u.phi_deg += i;
    models.push_back(params_for(st, u));
  }
  std::vector<double> expected;
  for (const auto& p : models) {
    double out = 0;
    fq::choose_fault_model(st, out, p);
    expected.push_back(out);
  }
  constexpr int kThreads = 6;
  std::vector<std::vector<double>> got(kThreads, std::vector<double>(models.size()));
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&, k] {
      for (std::size_t i = 0; i < models.size(); ++i) {
        const std::size_t j = (i + static_cast<std::size_t>(k)) % models.size();
        fq::choose_fault_model(st, got[static_cast<std::size_t>(k)][j], models[j]);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int k = 0; k < kThreads; ++k)
    for (std::size_t i = 0; i < models.size(); ++i)
      EXPECT_TRUE(same_bits(got[static_cast<std::size_t>(k)][i], expected[i])) << "thread " << k << " model " << i;
}

}  // namespace
