// The bend model run: the option dialogue, the tip-path rule, the
// rejections, fault-point distances, mirror images, parallel segments
// against the straight ramp, and sections deformed forward with the kernels
// and restored: straight within a tolerance that shrinks with the
// increment, with the tip passing the bend, with the bend at the initial
// tip, and with P/S > 1 on segment 2.
#include "foldquest/models/trishear_bend_run.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/driver/choose.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/trishear_straight_run.hpp"
#include "tests/fit/console_capture.hpp"
#include "tests/models/trishear_bend_forward.hpp"
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
using fqtest::BendTruth;
using fqtest::ForwardBend;
using fqtest::Tol;

constexpr double pi = fq::Constants::pi;
constexpr double kLowestFloat = -3.4028234663852886e+38;
double rad(double deg) { return deg * pi / 180; }

double run(const RunState& st, const std::vector<double>& params) {
  double out = -777.0;
  fq::run_model_bend(st, out, params);
  return out;
}

Bed make_bed(std::vector<Vec2> pts, bool growth = false) {
  Bed b;
  b.npts = static_cast<int>(pts.size());
  b.pts = std::move(pts);
  b.growth = growth;
  return b;
}

// Restoration by `inc` per step; the bend's y a parameter (9 parameters),
// the initial tip allowed below the bend.
RunState base_state(int fittype, int resulttype, double inc = 0.05, int tiptosolve = 2) {
  RunState st;
  st.options.faulttype = 3;
  st.options.tiptosolve = tiptosolve;
  st.options.fittype = fittype;
  st.options.resulttype = resulttype;
  st.fault.bend_at_tipy = 0;
  st.fault.tipy_can_be_below_bend = 1;
  st.parameters.nparams = 9;
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

bool failed(double score) { return std::isnan(score) || score == kLowestFloat; }

// ---- dialogue and dispatch ------------------------------------------------------------

struct Dialogue {
  int nparams, bend_at_tipy, below;
  std::string console;
};

Dialogue answer(int tiptosolve, const std::string& answers) {
  fqtest::ConsoleCapture console;
  auto in = ff::Reader::from_string("stdin", answers);
  fq::Session session(*in);
  session.state.options.tiptosolve = tiptosolve;
  session.state.options.faulttype = 3;
  fq::choose_fault_options(session);
  return {session.state.parameters.nparams, session.state.fault.bend_at_tipy,
          session.state.fault.tipy_can_be_below_bend, console.text()};
}

void set_terraces(RunState& st, std::vector<Bed> terraces, std::vector<double> elev) {
  fqtest::set_terraces(st, std::move(terraces), std::move(elev), 0.5);
}

TEST(BendRun, OptionDialogueSetsTheSwitchesAndTheParameterCount) {
  const std::string depth = " Must depth of fault bend be at initial fault tip depth? (0/1)\n";
  const std::string below = " Can initial tipy be below fault bend? (0/1)\n";
  const std::string invalid = " Invalid Command\n";
  // Initial tip given: the bend at its depth, after one refused answer.
  Dialogue d = answer(1, "2\n1\n");
  EXPECT_EQ(d.console, depth + invalid + depth);
  EXPECT_EQ(d.nparams, 8);
  EXPECT_EQ(d.bend_at_tipy, 1);
  EXPECT_EQ(d.below, 0);
  // The bend's depth free: then whether the initial tip may lie below it.
  d = answer(1, "0\n-1\n1\n");
  EXPECT_EQ(d.console, depth + below + invalid + below);
  EXPECT_EQ(d.nparams, 9);
  EXPECT_EQ(d.bend_at_tipy, 0);
  EXPECT_EQ(d.below, 1);
  // Final tip given: only the second question.
  d = answer(2, "0\n");
  EXPECT_EQ(d.console, below);
  EXPECT_EQ(d.nparams, 9);
  EXPECT_EQ(d.bend_at_tipy, 0);
  EXPECT_EQ(d.below, 0);

  RunState st = base_state(1, 1);
  set_faultpts(st, {{1, 2}});
  const std::vector<double> p{0, 0, 2, 60, 30, 1, 1, 30, -5};
  double out = -1;
  fq::choose_fault_model(st, out, p);
  EXPECT_EQ(out, run(st, p));
}

// ---- tip path ------------------------------------------------------------------------------

// Final tip on segment 1, 3 from the bend; slip 2 at P/S 2 moves the tip 4:
// the initial tip is 1 unit down segment 2 from the bend.  Forward from
// there by 4 comes back to the final tip.
TEST(BendRun, TipPathPassesTheBend) {
  fq::BendFault f;
  f.bendx = 10;
  f.bendy = 5;
  f.a1 = rad(60);
  f.a2 = rad(30);
  const fq::TipOnFault fin{10 + 3 * std::cos(f.a1), 5 + 3 * std::sin(f.a1), 1};
  const fq::TipOnFault init = fq::bend_tip_back(f, fin, 2 * 2.0);
  const auto kLen = Tol::abs(1e-14, "length", "a few roundings of values near 10");
  EXPECT_EQ(init.segment, 2);
  EXPECT_CLOSE((Vec2{init.x, init.y}), (Vec2{10 - std::cos(f.a2), 5 - std::sin(f.a2)}), kLen);
  const fq::TipOnFault again = fq::bend_tip_forward(f, init, 4);
  EXPECT_EQ(again.segment, 1);
  EXPECT_CLOSE((Vec2{again.x, again.y}), (Vec2{fin.x, fin.y}), kLen);
  // Short of the bend the tip keeps its segment.
  EXPECT_EQ(fq::bend_tip_back(f, fin, 2.5).segment, 1);
  EXPECT_EQ(fq::bend_tip_forward(f, init, 0.5).segment, 2);
}

// ---- rejections ------------------------------------------------------------------------------

TEST(BendRun, RejectionsOfTheBendsGeometry) {
  for (int rt : {1, 2}) {
    RunState st = base_state(1, rt);
    set_faultpts(st, {{1, 2}, {-3, -1}});
    // (tip x, tip y, slip, a1, phi, P/S, s, a2, bend y): final tip (0, 0)
    // on segment 1 above a bend at y = -5.
    auto p = [](double a1, double phi, double a2, double bendy = -5) {
      return std::vector<double>{0, 0, 2, a1, phi, 1, 1, a2, bendy};
    };
    EXPECT_TRUE(failed(run(st, p(60, 30, 120)))) << "segments on both sides of the vertical";
    EXPECT_TRUE(failed(run(st, p(90, 30, 100)))) << "90 is the right-hand side";
    EXPECT_FALSE(failed(run(st, p(120, 30, 150)))) << "both rising to -x: acute dips 60 and 30";
    EXPECT_TRUE(failed(run(st, p(30, 20, 60)))) << "upper segment shallower";
    EXPECT_TRUE(failed(run(st, p(150, 20, 120)))) << "upper segment shallower, rising to -x";
    EXPECT_FALSE(failed(run(st, p(35, 30, 35)))) << "parallel segments";
    // phi below half the bend's obtuse angle: (180 - 30)/2 = 75.
    EXPECT_TRUE(failed(run(st, p(60, 75, 30))));
    EXPECT_FALSE(failed(run(st, p(60, 74, 30))));
    EXPECT_TRUE(failed(run(st, p(120, 75, 150))));
    // At 31 over 11 the bound 80 computed in radians lies one ulp above
    // 80 degrees: equality must still be rejected.
    EXPECT_TRUE(failed(run(st, p(31, 80, 11))));
    EXPECT_FALSE(failed(run(st, p(31, 79.9, 11))));
    EXPECT_TRUE(failed(run(st, p(std::nan(""), 30, 20))));
    // The initial tip below the bend: slip 6 at P/S 1 takes the tip from
    // (0, 0) back 6 along segment 1 (60 degrees), below a bend at y = -4.
    const std::vector<double> below{0, 0, 6, 60, 30, 1, 1, 60, -4};
    st.fault.tipy_can_be_below_bend = 0;
    EXPECT_TRUE(failed(run(st, below)));
    st.fault.tipy_can_be_below_bend = 1;
    EXPECT_FALSE(failed(run(st, below)));
    // With the bend at the initial tip the model is scored (8 parameters).
    RunState at = base_state(1, rt, 0.05, 1);
    at.fault.bend_at_tipy = 1;
    at.parameters.nparams = 8;
    set_faultpts(at, {{1, 2}});
    EXPECT_FALSE(failed(run(at, {0, 0, 2, 60, 30, 1, 1, 30})));
  }
}

// ---- fault points ---------------------------------------------------------------------------

// Each point is measured against the segment on its side of the line that
// bisects the bend; the mirror image (angles 180 - a) measures the same.
TEST(BendRun, FaultPointsAreMeasuredFromTheSegmentOnTheirSideOfTheBend) {
  const double c1 = std::cos(rad(60)), s1 = std::sin(rad(60)), c2 = std::cos(rad(30)), s2 = std::sin(rad(30));
  // Bend at (2, -5) on the line of a final tip at (2 + 5 / tan 60, 0).
  const double bx = 2, by = -5;
  const std::vector<Vec2> pts{{bx + 4 * c1, by + 4 * s1},                      // on segment 1
                              {bx - 4 * c2, by - 4 * s2},                      // on segment 2
                              {bx + 4 * c1 - 0.5 * s1, by + 4 * s1 + 0.5 * c1},  // 0.5 off segment 1
                              {bx - 6 * c2 + 0.3 * s2, by - 6 * s2 - 0.3 * c2}}; // 0.3 off segment 2
  for (const double sx : {1.0, -1.0}) {
    RunState st = base_state(1, 1);
    std::vector<Vec2> mirrored;
    for (const Vec2& q : pts) mirrored.push_back({sx * q.x, q.y});
    set_faultpts(st, mirrored);
    const double a1 = sx > 0 ? 60 : 120, a2 = sx > 0 ? 30 : 150;
    const double tipx = sx * (bx + 5 / std::tan(rad(60)));
    // RMS of (0, 0, 0.5, 0.3).
    // The mirror of a fault at a is at 180 - a only up to the rounding of
    // the run's single-precision pi (about 1e-7 radian).
    EXPECT_CLOSE(run(st, {tipx, 0, 1, a1, 30, 1, 1, a2, by}), std::sqrt((0.25 + 0.09) / 4),
                 Tol::abs(1e-6, "length", "single-precision pi in the mirrored angles")) << sx;
  }
}

// ---- mirror images -----------------------------------------------------------------------------

// A section and its mirror image in x (angles a and 180 - a, dips and the
// regional dip negated) score the same, with the tip passing the bend.
TEST(BendRun, MirrorImageScoresTheSame) {
  auto build = [](double sx) {
    RunState st = base_state(2, 2);
    st.parameters.regdipdeg = sx * 10;
    st.parameters.regslope = std::tan(sx * 10 * pi / 180);
    std::vector<Vec2> b1, b2;
    for (int i = 0; i <= 14; ++i) {
      const double x = -8 + i;
      b1.push_back({sx * x, 2 + 0.3 * std::sin(x)});
      b2.push_back({sx * x, 4 + 0.2 * x});
    }
    set_beds(st, {make_bed(b1), make_bed(b2, true)});
    set_dips(st, {{sx * 3, 1}, {sx * 5, 2.5}, {sx * -4, 3}}, {sx * 0.3, sx * -0.1, sx * 0.2});
    set_terraces(st, {make_bed({{sx * 2, 6}, {sx * 4, 6.3}, {sx * 6, 6.1}})}, {5});
    set_faultpts(st, {{sx * -2, -2}, {sx * -5, -4}});
    return st;
  };
  const RunState right = build(1), left = build(-1);
  for (int rt : {1, 2, 3, 4}) {
    RunState r = right, l = left;
    r.options.resulttype = l.options.resulttype = rt;
    if (rt == 3) r.options.dattypes[3] = l.options.dattypes[3] = 0;  // chi-square: no fault points
    for (const double a1 : {40.0, 65.0}) {
      // Final tip (0, 0) on segment 1; the bend 1.5 below it; slip 3 at
      // P/S 1.5 takes the tip past the bend onto segment 2.
      const double a = run(r, {0, 0, 3, a1, 25, 1.5, 1.5, 20, -1.5, 2, 1});
      const double b = run(l, {0, 0, 3, 180 - a1, 25, 1.5, 1.5, 160, -1.5, 2, 1});
      ASSERT_FALSE(failed(a)) << rt;
      EXPECT_CLOSE(b, a, Tol::rel(1e-6, "", "180 - a mirrors a only up to single-precision pi")) << rt;
    }
  }
}

// ---- parallel segments -----------------------------------------------------------------------

// Parallel segments are a straight fault.  While the tip stays above the
// bend the bend model scores as the straight ramp with that angle.  When
// the tip passes the bend the slip is taken in two pieces, each restarting
// its zone steps, so the scores differ at first order in the increment.
TEST(BendRun, ParallelSegmentsScoreAsTheStraightRamp) {
  auto section = [](int faulttype, double inc) {
    RunState st = base_state(3, 2, inc);
    st.options.faulttype = faulttype;
    st.parameters.nparams = faulttype == 1 ? 7 : 9;
    std::vector<Vec2> b1, b2;
    for (int i = 0; i <= 24; ++i) {
      const double x = -6 + 0.5 * i;
      b1.push_back({x, 1.5 + 0.4 * std::sin(x)});
      b2.push_back({x, 3 + 0.1 * x * std::cos(x)});
    }
    set_beds(st, {make_bed(b1), make_bed(b2)});
    set_dips(st, {{2, 1}, {4, 2}, {-3, 2.5}}, {0.3, -0.1, 0.2});
    set_terraces(st, {make_bed({{1, 4}, {3, 4.3}, {5, 4.1}})}, {3});
    set_faultpts(st, {{-2, -2}, {-5, -3}});
    return st;
  };
  // Final tip (0, 0), slip 4, P/S 1.5: the tip goes back 6 along 35 degrees,
  // to y = -3.44.  A bend at y = -5 is never reached; one at y = -2 is.
  const double kNotReached = -5, kReached = -2;
  const auto kSame = Tol::rel(1e-9, "", "the same steps in a different order of roundings");
  for (const double inc : {0.1, 0.05}) {
    const double str = [&] {
      double out = 0;
      fq::run_model_str(section(1, inc), out, std::vector<double>{0, 0, 4, 35, 30, 1.5, 1.5, 3});
      return out;
    }();
    ASSERT_FALSE(failed(str));
    EXPECT_CLOSE(run(section(3, inc), {0, 0, 4, 35, 30, 1.5, 1.5, 35, kNotReached, 3}), str, kSame) << inc;
  }
  // The difference is at most about one zone step's worth of motion of
  // the zone points: measured 11 to 12 times the increment (log-probability
  // units for these beds).  It must stay within 15 increments and fall
  // tenfold from increment 0.2 to 0.0125.
  std::vector<double> differences;
  for (const double inc : {0.2, 0.1, 0.025, 0.0125}) {
    double str = 0;
    fq::run_model_str(section(1, inc), str, std::vector<double>{0, 0, 4, 35, 30, 1.5, 1.5, 3});
    const double difference = std::abs(run(section(3, inc), {0, 0, 4, 35, 30, 1.5, 1.5, 35, kReached, 3}) - str);
    EXPECT_LT(difference, 15 * inc) << inc;
    differences.push_back(difference);
  }
  EXPECT_LT(differences.back(), 0.1 * differences.front());
}

// ---- sections deformed forward and restored ---------------------------------------------------

// Horizontal beds at the given heights, deformed forward with the truth at
// a fine increment; a growth stratum at `growth_y` deposited after all but
// `growth_slip` of the slip (none when growth_slip is 0).
struct Section {
  std::vector<Bed> beds;
  std::vector<Vec2> dip_pos;
  std::vector<double> dips;
};

std::vector<Vec2> horizontal(double y, double x0, double x1, double dx) {
  std::vector<Vec2> pts;
  for (double x = x0; x <= x1 + 1e-9; x += dx) pts.push_back({x, y});
  return pts;
}

Section deform(const BendTruth& t, std::vector<double> heights, double x0, double x1, double growth_y = 0,
               double growth_slip = 0) {
  const ForwardBend fw(t, 0.0005);
  Section s;
  for (double y : heights) s.beds.push_back(make_bed(fw.points(horizontal(y, x0, x1, 0.5), 0, t.slip)));
  if (growth_slip > 0)
    s.beds.push_back(make_bed(fw.points(horizontal(growth_y, x0, x1, 0.5), t.slip - growth_slip, growth_slip), true));
  for (double x = x0 + 2; x <= x1 - 2; x += 3) {
    const auto [p, dip] = fw.dip({x, heights.front() + 0.5});
    s.dip_pos.push_back(p);
    s.dips.push_back(dip);
  }
  return s;
}

// Parameters of the truth for the run: the final tip (tiptosolve 2) or the
// initial one (1), the bend's y unless it is at the initial tip.
std::vector<double> truth_params(const BendTruth& t, int tiptosolve, bool bend_at_tipy) {
  const ForwardBend fw(t, 0.01);
  const fq::TipOnFault tip = tiptosolve == 1 ? fq::TipOnFault{t.init_x, t.init_y, 0} : fw.final_tip();
  std::vector<double> p{tip.x, tip.y, t.slip, t.a1_deg, t.phi_deg, t.povers, t.s, t.a2_deg};
  if (!bend_at_tipy) p.push_back(t.bendy);
  return p;
}

// RMS distance of the restored beds from horizontal lines (fit type 1,
// result type 1) and from their original heights (fit type 4), at three
// increments.  The zone is stepped with an explicit first-order scheme:
// measured 0.2 to 0.55 increments (straightness) and 0.2 to 0.75 (heights)
// on these sections.  Each must stay within one increment, and the
// straightness must at least halve with each fourfold refinement.
void expect_restores_straight(const BendTruth& t, const Section& s, const std::vector<double>& heights,
                              int tiptosolve, bool bend_at_tipy, double growth_slip = 0) {
  std::vector<double> p = truth_params(t, tiptosolve, bend_at_tipy);
  if (growth_slip > 0) p.push_back(growth_slip);
  double previous = std::numeric_limits<double>::infinity();
  for (const double inc : {0.2, 0.05, 0.0125}) {
    for (const int fittype : {1, 4}) {
      RunState st = base_state(fittype, 1, inc, tiptosolve);
      st.fault.bend_at_tipy = bend_at_tipy ? 1 : 0;
      st.fault.tipy_can_be_below_bend = 1;
      st.parameters.nparams = bend_at_tipy ? 8 : 9;
      st.parameters.regslope = 0;
      st.parameters.intercepts = heights;
      set_beds(st, s.beds);
      const double rms = run(st, p);
      EXPECT_LT(rms, inc) << "increment " << inc << " fit type " << fittype;
      if (fittype == 1) {
        EXPECT_LT(rms, 0.5 * previous) << "increment " << inc;
        previous = rms;
      }
    }
  }
}

// The tip starts 3 below the bend on segment 2 and ends 6 above it on
// segment 1; the beds over the bend are kinked and folded in the zone.
TEST(BendRunSection, BedsRestoreStraightWithTheTipPassingTheBend) {
  BendTruth t;
  t.init_x = -3 * std::cos(rad(25));
  t.init_y = -3 * std::sin(rad(25));
  t.bendy = 0;
  std::vector<double> heights{1, 2.5, 4};
  const Section s = deform(t, heights, -20, 25, 5.5, 2.5);
  heights.push_back(5.5);
  for (int tiptosolve : {1, 2}) {
    SCOPED_TRACE(testing::Message() << "tiptosolve " << tiptosolve);
    expect_restores_straight(t, s, heights, tiptosolve, false, 2.5);
  }
  // Dips on the lowest bed come back flat: RMS in degrees, fit type 1.
  RunState st = base_state(1, 1, 0.0125);
  st.fault.tipy_can_be_below_bend = 1;
  set_dips(st, s.dip_pos, s.dips);
  EXPECT_LT(run(st, truth_params(t, 2, false)), 0.5);
}

// The bend at the initial tip: every restoration by the total slip ends at
// the bend, and the points come back in segment 2's frame.  Turned back
// with segment 1's dip they would be rotated about the bend by the bend's
// angle.
TEST(BendRunSection, BedsRestoreStraightWithTheBendAtTheInitialTip) {
  BendTruth t;
  t.init_x = 0;
  t.init_y = 0;
  t.bendy = 0;
  t.a1_deg = 50;
  t.a2_deg = 20;
  const std::vector<double> heights{1, 2.5, 4};
  const Section s = deform(t, heights, -20, 25);
  expect_restores_straight(t, s, heights, 1, true);
}

// P/S > 1 with the tip on segment 2 all along (the bend far above): the
// zone's upper boundary overtakes hanging-wall points when restoring, and
// they must enter the zone for the restoration to converge.
TEST(BendRunSection, BedsRestoreStraightWithFastPropagationOnSegmentTwo) {
  BendTruth t;
  t.init_x = 0;
  t.init_y = 0;
  t.bendy = 30;
  t.slip = 4;
  t.povers = 2.5;
  t.a1_deg = 50;
  t.a2_deg = 30;
  const std::vector<double> heights{1, 2.5, 4, 6};
  const Section s = deform(t, heights, -15, 25);
  expect_restores_straight(t, s, heights, 2, false);
}

// ---- threads ----------------------------------------------------------------------------------

TEST(BendRunSection, ThreadsCallingTheModelOnOneRunStateAgreeWithSequentialCalls) {
  BendTruth t;
  t.init_x = -3 * std::cos(rad(25));
  t.init_y = -3 * std::sin(rad(25));
  const Section s = deform(t, {1, 2.5}, -10, 15);
  RunState st = base_state(1, 2, 0.1);
  st.fault.tipy_can_be_below_bend = 1;
  set_beds(st, s.beds);
  set_dips(st, s.dip_pos, s.dips);
  std::vector<std::vector<double>> models;
  for (int i = 0; i < 10; ++i) {
    std::vector<double> p = truth_params(t, 2, false);
    p[2] += 0.2 * i;
    p[4] += i;
    models.push_back(p);
  }
  std::vector<double> expected;
  for (const auto& p : models) expected.push_back(run(st, p));
  constexpr int kThreads = 4;
  std::vector<std::vector<double>> got(kThreads, std::vector<double>(models.size()));
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&, k] {
      for (std::size_t i = 0; i < models.size(); ++i) {
        const std::size_t j = (i + static_cast<std::size_t>(k)) % models.size();
        fq::run_model_bend(st, got[static_cast<std::size_t>(k)][j], models[j]);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int k = 0; k < kThreads; ++k)
    for (std::size_t i = 0; i < models.size(); ++i)
      EXPECT_EQ(std::bit_cast<std::uint64_t>(got[static_cast<std::size_t>(k)][i]),
                std::bit_cast<std::uint64_t>(expected[i]))
          << "thread " << k << " model " << i;
}

}  // namespace
