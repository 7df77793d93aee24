// The kink-fold model run: the option dialogue, the segment rejections and
// their messages, the tip travel and the bend at the initial tip, mirror
// images, and sections deformed forward with the kernels and restored by
// the model run (beds, growth strata and dips flat again to rounding) for
// both senses of slip and both bend options; the same score on every call
// and on every thread.
#include "foldquest/models/parallel_fpf_run.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/driver/choose.hpp"
#include "foldquest/report/diagnostics.hpp"
#include "tests/fit/console_capture.hpp"
#include "tests/support/expect_close.hpp"
#include "tests/support/run_state_builder.hpp"

namespace {

using fq::Bed;
using fq::RunState;
using fq::Vec2;
using fqtest::Tol;

constexpr double pi = fq::Constants::pi;
constexpr double kLowestFloat = -3.4028234663852886e+38;

RunState base_state(int tiptosolve, int bend_at_tipy, int slip_sense = -1, int resulttype = 1) {
  RunState st;
  st.options.faulttype = 5;
  st.options.tiptosolve = tiptosolve;
  st.options.fittype = 1;
  st.options.resulttype = resulttype;
  st.fault.bend_at_tipy = bend_at_tipy;
  st.parameters.nparams = fq::parallel_fpf_param_count(bend_at_tipy);
  st.parameters.slip_sense = slip_sense;
  st.parameters.increment = 5.0 * slip_sense;
  st.parameters.v0 = st.parameters.increment;
  st.parameters.sigma_bed = 0.5;
  st.parameters.sigma_dip = 2;
  st.parameters.sigma_fault = 0.5;
  return st;
}

double run(const RunState& st, const std::vector<double>& params) {
  double out = -777.0;
  fq::run_model_pfpf(st, out, params);
  return out;
}

Bed make_bed(std::vector<Vec2> pts, bool growth = false) {
  Bed b;
  b.npts = static_cast<int>(pts.size());
  b.pts = std::move(pts);
  b.growth = growth;
  return b;
}

// ---- dialogue ----------------------------------------------------------------------

TEST(PfpfRun, DialogueAsksTheBendQuestionWhateverTheTipType) {
  for (const int tip : {1, 2}) {
    fqtest::ConsoleCapture console;
    auto in = ff::Reader::from_string("stdin", "3\n0\n");
    fq::Session session(*in);
    session.state.options.tiptosolve = tip;
    session.state.options.faulttype = 5;
    session.state.fault.tipy_can_be_below_bend = 1;
    fq::choose_fault_options(session);
    EXPECT_EQ(session.state.parameters.nparams, 6);
    EXPECT_EQ(session.state.fault.bend_at_tipy, 0);
    EXPECT_EQ(session.state.fault.tipy_can_be_below_bend, 0);
    const std::string q =
        " Must depth of fault bend be at initial fault tip depth? (0/1)\n Choosing 0 may not work properly.\n";
    EXPECT_EQ(console.text(), q + " Invalid Command\n" + q);
  }
  fqtest::ConsoleCapture console;
  auto in = ff::Reader::from_string("stdin", "1\n");
  fq::Session session(*in);
  session.state.options.faulttype = 5;
  fq::choose_fault_options(session);
  EXPECT_EQ(session.state.parameters.nparams, 5);
  EXPECT_EQ(session.state.fault.bend_at_tipy, 1);
}

// ---- rejections ----------------------------------------------------------------------

TEST(PfpfRun, SegmentRejectionsFailWithTheResultTypesFailureValue) {
  fqtest::ConsoleCapture console;
  for (const int rt : {1, 2}) {
    RunState st = base_state(2, 0, -1, rt);
    fqtest::set_faultpts(st, {{0, 0}});
    auto failed = [&](double s) { return rt == 1 ? std::isnan(s) : s == kLowestFloat; };
    EXPECT_FALSE(failed(run(st, {0, 0, 100, 30, 10, -200})));
    EXPECT_TRUE(failed(run(st, {0, 0, 100, 10, 30, -200}))) << "lower steeper than upper";
    EXPECT_TRUE(failed(run(st, {0, 0, 100, 100, 30, -200}))) << "segments both sides of the vertical";
    EXPECT_TRUE(failed(run(st, {0, 0, 100, 30, 30, -200}))) << "equal angles";
    EXPECT_TRUE(failed(run(st, {0, 0, 100, 70, 0, -200}))) << "steep over flat: no gamma_star";
    // An initial tip below the bend always fails: the final tip 100 m above
    // the bend travels back P/S q 100 = 234 m.
    EXPECT_TRUE(failed(run(st, {0, 0, 100, 30, 10, -20})));
    EXPECT_FALSE(failed(run(st, {0, 0, 100, 30, 10, -150})));
    // Parameters that are not numbers fail, whichever they are.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t k = 0; k < 6; ++k) {
      std::vector<double> p{0, 0, 100, 30, 10, -150};
      p[k] = nan;
      EXPECT_TRUE(failed(run(st, p))) << "parameter " << k + 1;
    }
    RunState at_tip = base_state(1, 1, -1, rt);
    fqtest::set_faultpts(at_tip, {{0, 0}});
    EXPECT_TRUE(failed(run(at_tip, {0, 0, nan, 30, 10})));
    EXPECT_TRUE(failed(run(at_tip, {nan, 0, 100, 30, 10})));
  }
  fq::diag::finish();
}

TEST(PfpfRun, GeometryFailuresPrintTheirMessageAtMostTenTimesThenACount) {
  RunState st = base_state(2, 0);
  fqtest::set_faultpts(st, {{0, 0}});
  fqtest::ConsoleCapture console;
  fq::diag::finish();
  for (int i = 0; i < 12; ++i) run(st, {0, 0, 100, 30, 30, -200});
  EXPECT_EQ(fq::diag::count(fq::kPfpfNoGammaStar), 12);
  // Segment rejections are silent.
  run(st, {0, 0, 100, 10, 30, -200});
  EXPECT_EQ(fq::diag::finish(), 2);
  const std::string line = " Error: No solution for gamma_star found within desired precision.\n";
  std::string want;
  for (int i = 0; i < 10; ++i) want += line;
  want += " Error: No solution for gamma_star found within desired precision. (2 more times)\n";
  EXPECT_EQ(console.text(), want);
}

// ---- tips and bend ---------------------------------------------------------------------

TEST(PfpfRun, SegmentsRisingTowardsMinusXWorkInTheMirroredFrame) {
  const RunState st = base_state(2, 0);
  fq::PfpfModel m, n;
  ASSERT_TRUE(fq::pfpf_model(st, std::vector<double>{0, 0, 100, 150, 170, -300}, m));
  ASSERT_TRUE(fq::pfpf_model(st, std::vector<double>{0, 0, 100, 30, 10, -300}, n));
  EXPECT_EQ(m.ramp_dir, -1);
  EXPECT_EQ(n.ramp_dir, 1);
  const auto kAngle = Tol::abs(1e-15, "rad", "30 and 180 - 150 degrees in the run's radians");
  EXPECT_CLOSE(m.geo.theta_up, 30 * pi / 180, kAngle);
  EXPECT_CLOSE(m.geo.theta_low, 10 * pi / 180, kAngle);
  // The bend and the tips are the mirror images of the 30/10 fault's.
  // 150 degrees in the run's radians is not exactly pi - 30 degrees (the
  // single-precision pi against tan's true period): 2e-7 of the lengths.
  const auto kPos = Tol::abs(1e-3, "length", "single-precision pi: 2e-7 of 500-unit lengths");
  EXPECT_CLOSE(m.bend.x, -n.bend.x, kPos);
  EXPECT_EQ(m.bend.y, n.bend.y);
  EXPECT_CLOSE(m.tip_init.x, -n.tip_init.x, kPos);
  EXPECT_CLOSE(m.tip_init.y, n.tip_init.y, kPos);
  // Working frame and back: x mirrored, covariance off-diagonals negated.
  const Vec2 p{3, 4};
  EXPECT_EQ(fq::mirror_x(fq::mirror_x(p, -1), -1).x, 3);
  const fq::Mat2 c = fq::mirror_x(fq::Mat2{1, 0.5, 0.5, 2}, -1);
  EXPECT_EQ(c.b, -0.5);
  EXPECT_EQ(c.c, -0.5);
  EXPECT_EQ(c.a, 1);
}

TEST(PfpfRun, TheTipTravelsPoverSTimesQTimesTheSlip) {
  const RunState st = base_state(1, 0);
  fq::PfpfModel m;
  ASSERT_TRUE(fq::pfpf_model(st, std::vector<double>{100, 50, 200, 35, 10, -300}, m));
  const double d = std::hypot(m.tip_final.x - m.tip_init.x, m.tip_final.y - m.tip_init.y);
  EXPECT_CLOSE(d, m.geo.povers * m.geo.q * 200, Tol::rel(1e-14, "length", "one product and a hypot"));
  // Not P/S slip (the lower segment is not flat: q differs from 1).
  EXPECT_GT(std::abs(d - m.geo.povers * 200), 10);
  EXPECT_EQ(m.tip_init.x, 100);
  EXPECT_EQ(m.tip_init.y, 50);
}

TEST(PfpfRun, BendAtTheInitialTipLiesBehindTheFinalTipForBothSlipSenses) {
  for (const int sense : {-1, 1}) {
    const RunState st = base_state(2, 1, sense);
    fq::PfpfModel m;
    ASSERT_TRUE(fq::pfpf_model(st, std::vector<double>{100, 50, 200, 35, 10}, m)) << sense;
    const double D = m.geo.povers * m.geo.q * 200;
    EXPECT_CLOSE(m.bend.x, 100 - D * std::cos(35 * pi / 180), Tol::rel(1e-14, "length", "one product"));
    EXPECT_CLOSE(m.bend.y, 50 - D * std::sin(35 * pi / 180), Tol::rel(1e-14, "length", "one product"));
    EXPECT_EQ(m.tip_init.x, m.bend.x);
    EXPECT_EQ(m.tip_init.y, m.bend.y);
  }
  // And with the initial tip given, the bend is that tip.
  const RunState st = base_state(1, 1);
  fq::PfpfModel m;
  ASSERT_TRUE(fq::pfpf_model(st, std::vector<double>{100, 50, 200, 35, 10}, m));
  EXPECT_EQ(m.bend.x, 100);
  EXPECT_EQ(m.bend.y, 50);
}

TEST(PfpfRun, FaultPointsAreMeasuredFromTheSegmentOnTheirSideOfTheBend) {
  RunState st = base_state(2, 0, -1, 1);
  // Bend at (0, 0) below the final tip on the upper segment at 45 degrees;
  // a point on each segment, and one 3 m above the lower one.
  const double c = std::cos(20 * pi / 180), s = std::sin(20 * pi / 180);
  fqtest::set_faultpts(st, {{50, 50}, {-100 * c, -100 * s}, {-100 * c, -100 * s + 3 / c}});
  const double rms = run(st, {100, 100, 10, 45, 20, 0});
  EXPECT_CLOSE(rms, std::sqrt(9.0 / 3),
               Tol::abs(1e-5, "length", "45 degrees with the run's single-precision pi is 2e-8 rad off"));
}

// ---- forward then restore ----------------------------------------------------------------

// A section made forward so that the model run restores it: flat beds (one
// a growth stratum) and horizontal dips are taken to the run's starting
// fold after each item's slip q and moved back by -q.  The run's start:
// the final tip, and pte up K by the whole slip when restoring backwards.
struct Section {
  std::vector<Bed> beds;
  std::vector<Bed> terraces;  // slips 0.7 and 1 of the slip
  std::vector<double> terrace_slips, terrace_elev;
  std::vector<Vec2> dip_pos;
  std::vector<double> dips;
};

Section make_section(const RunState& st, const std::vector<double>& params, double growth_slip) {
  fq::PfpfModel m;
  EXPECT_TRUE(fq::pfpf_model(st, params, m));
  const int dir = m.ramp_dir;
  const double total = m.total_slip;
  const double f0 = total < 0 ? -total : 0.0;
  auto start_after = [&](double q) {
    fq::PfpfStart s;
    s.bend = fq::mirror_x(m.bend, dir);
    const Vec2 t = fq::mirror_x(m.tip_final, dir);
    s.tip = {t.x + m.geo.vt.x * q, t.y + m.geo.vt.y * q};
    s.pte = fq::pfpf_pte(m.geo, s.tip, f0 + q);
    return s;
  };
  Section sec;
  const double x0 = m.bend.x - 600 * dir;
  auto bed = [&](double y0, double q, bool growth, std::vector<Bed>* to = nullptr) {
    std::vector<Vec2> pts;
    for (int i = 0; i < 60; ++i) pts.push_back({0.3 + 20.0 * i, y0});  // working frame, from the bend back
    for (Vec2& p : pts) p.x += dir * x0;
    const fq::PfpfStart s = start_after(q);
    fq::pfpf_points(m.geo, s, -q, pts, {});
    for (Vec2& p : pts) p = fq::mirror_x(p, dir);
    (to ? to : &sec.beds)->push_back(make_bed(pts, growth));
  };
  const double by = m.bend.y;
  bed(by + 100.3, total, false);
  bed(by + 250.7, total, false);
  bed(by + 400.1, growth_slip * st.parameters.slip_sense, true);
  sec.terrace_slips = {0.7 * params[2], params[2]};
  for (std::size_t n = 0; n < 2; ++n) {
    sec.terrace_elev.push_back(by + 300.5 + 20.0 * static_cast<double>(n));
    bed(sec.terrace_elev.back(), sec.terrace_slips[n] * st.parameters.slip_sense, false, &sec.terraces);
  }
  const fq::PfpfStart s = start_after(total);
  for (int i = 0; i < 40; ++i) {
    Vec2 p{dir * x0 + 0.7 + 30.0 * i, by + 180.2};
    double dip = 0, sigma = 0;
    fq::pfpf_dip(m.geo, s, -total, p, dip, sigma);
    sec.dip_pos.push_back(fq::mirror_x(p, dir));
    sec.dips.push_back(dip * dir);
  }
  return sec;
}

struct RestoreCase {
  int tiptosolve, bend_at_tipy, slip_sense;
  std::vector<double> params;  // fault parameters
};

class PfpfForwardRestore : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(PfpfForwardRestore, BedsGrowthStrataAndDipsComeBackFlat) {
  const RestoreCase& c = GetParam();
  RunState st = base_state(c.tiptosolve, c.bend_at_tipy, c.slip_sense);
  std::vector<double> params = c.params;
  const double growth = 0.4 * params[2];
  const Section sec = make_section(st, params, growth);
  fqtest::set_beds(st, sec.beds);
  params.push_back(growth);
  // Every bed comes back flat: the RMS distance from a flat line is
  // rounding, not a tolerance that shrinks with an increment.
  EXPECT_CLOSE(run(st, params), 0.0, Tol::abs(1e-9, "length", "rounding of a few rigid moves"));
  // The growth stratum needs its own slip: restored through the total slip
  // it is not flat.
  std::vector<double> wrong = params;
  wrong.back() = params[2];
  EXPECT_GT(run(st, wrong), 1);

  // Terraces, each through its own slip, back at their elevations at
  // formation on horizontal surfaces.
  RunState stt = base_state(c.tiptosolve, c.bend_at_tipy, c.slip_sense);
  fqtest::set_terraces(stt, sec.terraces, sec.terrace_elev, 0.5);
  std::vector<double> pt = c.params;
  pt.insert(pt.end(), sec.terrace_slips.begin(), sec.terrace_slips.end());
  EXPECT_CLOSE(run(stt, pt), 0.0, Tol::abs(1e-9, "length", "rounding of a few rigid moves"));
  // Each terrace needs its own slip.
  std::vector<double> swapped = pt;
  std::swap(swapped[swapped.size() - 1], swapped[swapped.size() - 2]);
  EXPECT_GT(run(stt, swapped), 1);
  RunState sd = base_state(c.tiptosolve, c.bend_at_tipy, c.slip_sense);
  fqtest::set_dips(sd, sec.dip_pos, sec.dips);
  EXPECT_CLOSE(run(sd, c.params), 0.0, Tol::abs(1e-9, "degree", "rounding of a few kinks"));
}

const RestoreCase kRestoreCases[] = {
    {2, 0, -1, {1000, 500, 300, 35, 10, 0}},   {1, 0, -1, {800, 200, 250, 30, 0, 0}},
    {2, 1, -1, {1000, 500, 300, 45, 20}},      {1, 1, -1, {0, 0, 200, 30, 10}},
    {2, 0, 1, {1000, 500, 300, 35, 10, 0}},    {2, 1, 1, {1000, 500, 300, 35, 10}},
    {2, 0, -1, {1000, 500, 300, 145, 170, 0}}, {1, 1, 1, {0, 0, 200, 150, 175}},
};
INSTANTIATE_TEST_SUITE_P(Cases, PfpfForwardRestore, ::testing::ValuesIn(kRestoreCases));

// ---- mirror images, determinism, threads ------------------------------------------------

TEST(PfpfRun, MirroredSectionScoresAsTheOriginal) {
  RunState a = base_state(2, 0, -1, 2), b = base_state(2, 0, -1, 2);
  a.parameters.nparams = b.parameters.nparams = 6;
  std::vector<Vec2> pts, mirrored;
  for (int i = 0; i < 50; ++i) {
    const Vec2 p{-300 + 23.0 * i, 40 + 0.01 * i * i};
    pts.push_back(p);
    mirrored.push_back({-p.x, p.y});
  }
  fqtest::set_beds(a, {make_bed(pts)});
  fqtest::set_beds(b, {make_bed(mirrored)});
  fqtest::set_dips(a, {{100, 80}, {300, 90}}, {0.3, -0.1});
  fqtest::set_dips(b, {{-100, 80}, {-300, 90}}, {-0.3, 0.1});
  a.options.propagate = b.options.propagate = 1;
  // 150/170 is 30/10 mirrored.
  const double sa = run(a, {400, 100, 150, 30, 10, -100});
  const double sb = run(b, {-400, 100, 150, 150, 170, -100});
  ASSERT_TRUE(std::isfinite(sa));
  // 30 and 180 - 150 degrees differ in their last bit in radians, and
  // gamma_star is bisected only to |g| < 0.001, which a last bit can move.
  EXPECT_CLOSE(sb, sa, Tol::rel(1e-5, "log-probability", "gamma_star's bisection stops at |g| < 0.001"));
}

TEST(PfpfRun, TheSameModelScoresTheSameOnEveryCallAndOnEightThreads) {
  RunState st = base_state(2, 0, -1, 2);
  st.options.propagate = 1;
  std::vector<Vec2> pts;
  for (int i = 0; i < 50; ++i) pts.push_back({-300 + 23.0 * i, 40 + 0.01 * i * i});
  fqtest::set_beds(st, {make_bed(pts)});
  const std::vector<double> p{400, 100, 150, 33, 7, -100};
  const double first = run(st, p);
  ASSERT_TRUE(std::isfinite(first));
  std::vector<double> got(8);
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < got.size(); ++k)
    threads.emplace_back([&, k] {
      for (int i = 0; i < 20; ++i) got[k] = run(st, p);
    });
  for (auto& th : threads) th.join();
  for (const double g : got) EXPECT_EQ(g, first);
}

}  // namespace
