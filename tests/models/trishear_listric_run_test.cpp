// The listric model's run: the option question, the fault and tips built
// from the parameter vector, the rejections, the mirror image, and end to
// end on sections deformed with the kernels from known parameters (both
// slip senses, growth strata, dips, terraces, fault points), with no
// diagnostic line from the true model and threads agreeing.
#include "foldquest/models/trishear_listric_run.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/driver/choose.hpp"
#include "foldquest/models/trishear_listric.hpp"
#include "foldquest/report/diagnostics.hpp"
#include "tests/models/trishear_listric_example_data.hpp"
#include "tests/support/capture.hpp"
#include "tests/support/expect_close.hpp"
#include "tests/support/run_state_builder.hpp"

namespace {

using fq::Bed;
using fq::ListricGeometry;
using fq::Options;
using fq::RunState;
using fq::Vec2;
using fqtest::set_beds;
using fqtest::set_dips;
using fqtest::set_faultpts;
using fqtest::Tol;
namespace ex = fqtest::listric_example;

constexpr double pi = fq::Constants::pi;
constexpr double kLowestFloat = -3.4028234663852886e+38;

double run(const RunState& st, const std::vector<double>& params) {
  double out = -777.0;
  fq::run_model_listric(st, out, params);
  return out;
}

Bed make_bed(std::vector<Vec2> pts, bool growth = false) {
  Bed b;
  b.npts = static_cast<int>(pts.size());
  b.pts = std::move(pts);
  b.growth = growth;
  return b;
}

RunState base_state(int tiptosolve, int resulttype, int decoly_at_tipy, double inc = 1, int slip_sense = -1) {
  RunState st;
  st.options.faulttype = 4;
  st.options.tiptosolve = tiptosolve;
  st.options.fittype = 1;
  st.options.resulttype = resulttype;
  st.fault.decoly_at_tipy = decoly_at_tipy;
  st.parameters.nparams = fq::trishear_listric_nparams(decoly_at_tipy);
  st.parameters.slip_sense = slip_sense;
  st.parameters.increment = inc * slip_sense;
  st.parameters.v0 = inc * slip_sense;
  st.parameters.sigma_bed = 4;
  st.parameters.sigma_dip = 2;
  st.parameters.sigma_terr = 4;
  st.parameters.sigma_fault = 5;
  return st;
}

// ---- the option question and the table ------------------------------------------------

TEST(ListricRun, OptionQuestionOnlyForTheInitialTip) {
  for (const auto& [answers, flag] : {std::pair{std::string("5\n1\n"), 1}, std::pair{std::string("0\n"), 0}}) {
    fqtest::ConsoleCapture console;
    auto in = ff::Reader::from_string("stdin", answers);
    fq::Session session(*in);
    session.state.options.faulttype = 4;
    session.state.options.tiptosolve = 1;
    fq::choose_fault_options(session);
    EXPECT_EQ(session.state.fault.decoly_at_tipy, flag);
    EXPECT_EQ(session.state.parameters.nparams, flag == 1 ? 8 : 9);
    std::vector<std::string> expected{" Must detachment depth be at initial fault tip depth? (0/1)"};
    if (flag == 1) {
      expected.push_back(" Invalid Command");
      expected.push_back(expected.front());
    }
    EXPECT_EQ(console.lines(), expected);
  }
  // The final tip: nothing asked, 9 parameters.
  fqtest::ConsoleCapture console;
  auto in = ff::Reader::from_string("stdin", "");
  fq::Session session(*in);
  session.state.options.faulttype = 4;
  session.state.options.tiptosolve = 2;
  session.state.fault.decoly_at_tipy = 1;
  fq::choose_fault_options(session);
  EXPECT_EQ(session.state.fault.decoly_at_tipy, 0);
  EXPECT_EQ(session.state.parameters.nparams, 9);
  EXPECT_TRUE(console.lines().empty());
  // Fault type 4 of the table reaches this model's run.
  RunState st = base_state(2, 1, 0);
  set_faultpts(st, {{1000, -2000}, {1800, -1600}});
  const std::vector<double> p = ex::true_model();
  double out = -1;
  fq::choose_fault_model(st, out, p);
  EXPECT_EQ(out, run(st, p));
  EXPECT_TRUE(std::isfinite(out));
}

// ---- geometry ------------------------------------------------------------------------------

TEST(ListricGeometry, DetachmentAtTheInitialTipPutsItAtTheBottomOfTheArc) {
  RunState st = base_state(1, 1, 1);
  ListricGeometry g;
  ASSERT_TRUE(fq::listric_geometry(st, std::vector<double>{100, -50, 20, 30, 20, 2, 1, 400}, g));
  EXPECT_EQ(g.cc.x, 100.0);
  EXPECT_EQ(g.cc.y, 350.0);
  EXPECT_EQ(g.theta0, 0.0);
  EXPECT_CLOSE(g.thetat, 40.0 / 400, Tol::ulps(4));  // 2 x 20 of propagation along the arc
}

TEST(ListricGeometry, TipsAlongTheFault) {
  RunState st = base_state(2, 1, 0);
  ListricGeometry g;
  ASSERT_TRUE(fq::listric_geometry(st, ex::true_model(), g));
  // The final tip on the straight segment (below the centre's level, but
  // beyond the arc's end), the initial tip 600 m of fault back.
  EXPECT_FALSE(g.final_on_arc);
  EXPECT_EQ(g.thetat, g.theta_max);
  const auto kLen = Tol::abs(1e-9, "m", "rounding of 1000 m values");
  EXPECT_CLOSE(g.final_to_arc_end + (g.theta_max - g.theta0) * g.rc, 600.0, kLen);
  EXPECT_CLOSE(std::hypot(g.tip_init.x - g.cc.x, g.tip_init.y - g.cc.y), g.rc, kLen);
  // The straight segment through the final tip is tangent to the arc.
  const double tm = g.theta_max;
  EXPECT_CLOSE((g.tip_final.x - g.cc.x) * std::sin(tm) - (g.tip_final.y - g.cc.y) * std::cos(tm), g.rc, kLen);
  // A given tip at or above the centre's level lies on the straight segment.
  ASSERT_TRUE(fq::listric_geometry(st, std::vector<double>{2000, 100, 100, 40, 20, 1, 1, 1500, -2000}, g));
  EXPECT_FALSE(g.final_on_arc);
  EXPECT_CLOSE((2000 - g.cc.x) * std::sin(tm) - (100 - g.cc.y) * std::cos(tm), 1500.0, kLen);
  // theta_max 120: the fault rises towards -x; the kinematics' frame has
  // theta_max 60 and the given tip's x mirrored.
  ASSERT_TRUE(fq::listric_geometry(st, std::vector<double>{-2000, 100, 100, 120, 20, 1, 1, 1500, -2000}, g));
  EXPECT_EQ(g.ramp_dir, -1);
  EXPECT_CLOSE(g.theta_max, 60 * pi / 180, Tol::ulps(4));
  EXPECT_EQ(g.tip_final.x, 2000.0);
  // The same geometry from the initial tip, propagated forward, gives back
  // the final tip.
  RunState st1 = base_state(1, 1, 0);
  ListricGeometry g1;
  ASSERT_TRUE(fq::listric_geometry(st, std::vector<double>{2000, 100, 100, 40, 20, 1, 1, 1500, -2000}, g));
  ASSERT_TRUE(fq::listric_geometry(
      st1, std::vector<double>{g.tip_init.x, g.tip_init.y, 100, 40, 20, 1, 1, 1500, -2000}, g1));
  EXPECT_CLOSE(g1.tip_final.x, 2000.0, kLen);
  EXPECT_CLOSE(g1.tip_final.y, 100.0, kLen);
}

TEST(ListricRun, Rejections) {
  for (const int rt : {1, 2}) {
    RunState st2 = base_state(2, rt, 0);
    set_faultpts(st2, {{1000, -2000}});
    RunState st1 = base_state(1, rt, 0);
    set_faultpts(st1, {{1000, -2000}});
    auto failed = [rt](double v) { return rt == 2 ? v == kLowestFloat : std::isnan(v); };
    std::vector<double> p = ex::true_model();
    p.pop_back();  // no growth strata here
    EXPECT_FALSE(failed(run(st2, p)));
    // Detachment above the given tip (equal is accepted: below, the initial
    // tip at the detachment's depth).
    auto q = p;
    q[8] = q[1] + 1;
    EXPECT_TRUE(failed(run(st2, q)));
    // phi not below half of max(theta_max, 180 - theta_max): 70 for 40 and 140.
    for (const double tm : {40.0, 140.0}) {
      q = p;
      q[3] = tm;
      q[0] = tm > 90 ? -p[0] : p[0];
      q[4] = 70;
      EXPECT_TRUE(failed(run(st2, q))) << tm;
      q[4] = 69.9;
      EXPECT_FALSE(failed(run(st2, q))) << tm;
    }
    // A final tip on the arc whose propagation runs past the bottom of it:
    // arc angle 0.2 with 0.2 rad of propagation passes; a little more fails.
    q = {1500 * std::sin(0.2), -500 - 1500 * std::cos(0.2), 100, 40, 20, 3, 1, 1500, -2000};
    EXPECT_FALSE(failed(run(st2, q)));
    q[2] = 101;
    EXPECT_TRUE(failed(run(st2, q)));
    // Initial tip below the detachment (the centre is placed behind a tip
    // below its level, so a tip is never behind it there).
    q = {0, -2001, 100, 40, 20, 1, 1, 1500, -2000};
    EXPECT_TRUE(failed(run(st1, q)));
    q = {0, -2000, 100, 40, 20, 1, 1, 1500, -2000};
    EXPECT_FALSE(failed(run(st1, q)));
    q = {-1, -1990, 100, 40, 20, 1, 1, 1500, -2000};
    EXPECT_FALSE(failed(run(st1, q)));

    // No arc, a tip running backwards, a negative slip.
    for (const auto& [j, v] : {std::pair{7, 0.0}, std::pair{5, -0.5}, std::pair{2, -10.0}}) {
      q = {0, -2000, 100, 40, 20, 1, 1, 1500, -2000};
      q[static_cast<std::size_t>(j)] = v;
      EXPECT_TRUE(failed(run(st1, q))) << j;
    }
    // A final tip below the detachment cannot lie on the fault.
    q = {2000, -2100, 100, 40, 20, 1, 1, 1500, -2000};
    EXPECT_TRUE(failed(run(st2, q)));
  }
}

TEST(ListricRun, GrowthOrTerraceSlipAboveTheTotalSlipFails) {
  RunState st = base_state(2, 1, 0);
  set_beds(st, {make_bed({{0, -1000}, {100, -1000}}), make_bed({{0, -300}, {100, -300}}, true)});
  std::vector<double> p = ex::true_model();
  p.back() = 400;
  EXPECT_FALSE(std::isnan(run(st, p)));
  p.back() = 400.5;
  EXPECT_TRUE(std::isnan(run(st, p)));
}

// ---- sections --------------------------------------------------------------------------

// The example's section without noise: beds (one growth stratum), dips on
// two beds, a terrace (the growth stratum again, through its own slip) and
// fault points.
struct Section {
  std::vector<Bed> beds;
  std::vector<Vec2> dip_pos;
  std::vector<double> dips;  // radians
  std::vector<Bed> terraces;
  std::vector<Vec2> faultpts;
};

std::vector<Vec2> row(double y0) {
  std::vector<Vec2> pts;
  for (double x = ex::kXStart; x <= ex::kXEnd; x += 100) pts.push_back({x, y0});
  return pts;
}

const Section& thrust_section() {
  static const Section s = [] {
    const ex::Geometry geo;
    Section out;
    for (const auto& b : ex::kBeds) out.beds.push_back(make_bed(geo.points(row(b.y0), 0, ex::kSlip)));
    out.beds.push_back(make_bed(geo.points(row(ex::kGrowthY0), ex::kSlip - ex::kGrowthSlip, ex::kGrowthSlip), true));
    out.terraces.push_back(make_bed(geo.points(row(ex::kGrowthY0), ex::kSlip - ex::kGrowthSlip, ex::kGrowthSlip)));
    for (double x = 0; x <= 3000; x += 250) {
      const auto [at, d] = geo.dip({x, -1300});
      out.dip_pos.push_back(at);
      out.dips.push_back(d * pi / 180);
    }
    const fq::ListricGeometry& g = geo.g;
    out.faultpts = {{g.cc.x - 500, g.cc.y - g.rc},
                    {g.cc.x + g.rc * std::sin(0.3), g.cc.y - g.rc * std::cos(0.3)},
                    {g.arc_end.x + 100 * std::cos(g.theta_max), g.arc_end.y + 100 * std::sin(g.theta_max)}};
    return out;
  }();
  return s;
}

RunState thrust_state(int resulttype, double inc, bool all_types = true) {
  const Section& s = thrust_section();
  RunState st = base_state(2, resulttype, 0, inc);
  set_beds(st, s.beds);
  st.parameters.intercepts = {};
  if (all_types) {
    set_dips(st, s.dip_pos, s.dips);
    fqtest::set_terraces(st, s.terraces, {ex::kGrowthY0}, 4);
    set_faultpts(st, s.faultpts);
  }
  return st;
}

std::vector<double> thrust_params(bool all_types = true) {
  std::vector<double> p = ex::true_model();  // ends with the growth slip
  if (all_types) p.push_back(ex::kGrowthSlip);  // the terrace's slip
  return p;
}

TEST(ListricRunSection, TrueModelRestoresTheBedsFlatWithinAToleranceThatShrinksWithTheIncrement) {
  // RMS distance of the restored beds from their best lines, in metres.
  const double coarse = run(thrust_state(1, 10, false), thrust_params(false));
  const double fine = run(thrust_state(1, 1, false), thrust_params(false));
  EXPECT_LT(fine, 1.0);
  EXPECT_LT(fine, coarse);
}

TEST(ListricRunSection, TrueParametersScoreBetterThanPerturbedOnes) {
  for (const int rt : {1, 2}) {
    const RunState st = thrust_state(rt, 2);
    const std::vector<double> truth = thrust_params();
    const double best = run(st, truth);
    ASSERT_TRUE(std::isfinite(best));
    const std::vector<std::pair<std::size_t, double>> nudges{{0, 50}, {1, 30}, {2, 50}, {3, 4},  {4, 8},
                                                             {5, 0.3}, {7, 200}, {8, 100}, {9, 60}};
    for (const auto& [j, d] : nudges) {
      auto p = truth;
      p[j] += d;
      const double other = run(st, p);
      if (rt == 1) {
        EXPECT_TRUE(std::isnan(other) || other > best) << "parameter " << j + 1;
      } else {
        EXPECT_LT(other, best) << "parameter " << j + 1;
      }
    }
  }
}

TEST(ListricRunSection, TrueModelPrintsNoDiagnostic) {
  fq::diag::finish();
  fqtest::ConsoleCapture console;
  for (const double inc : {1.0, 5.0}) {
    const RunState st = thrust_state(2, inc);
    EXPECT_TRUE(std::isfinite(run(st, thrust_params())));
  }
  EXPECT_TRUE(console.lines().empty()) << console.lines().front();
  EXPECT_EQ(fq::diag::finish(), 0);
}

// The example's own data files (with their noise), read from the
// generator's text: beds with their growth flags, dips, fault points.
RunState example_state() {
  const auto text = ex::files();
  RunState st = base_state(2, 2, 0, 5);  // as gridsearch.opt and params_grid.txt
  st.parameters.sigma_bed = 5;
  st.parameters.sigma_fault = 10;
  std::vector<Bed> beds;
  std::istringstream in(text.at("beds.txt"));
  std::string word;
  while (in >> word) {
    if (word == "bed" || word == "growth") {
      std::string name;
      in >> name;
      beds.push_back(make_bed({}, word == "growth"));
      continue;
    }
    double y = 0;
    in >> y;
    beds.back().pts.push_back({std::stod(word), y});
    beds.back().npts = static_cast<int>(beds.back().pts.size());
  }
  set_beds(st, beds);
  std::vector<Vec2> pos;
  std::vector<double> dips;
  std::istringstream din(text.at("dips.txt"));
  double x = 0, y = 0, d = 0;
  while (din >> x >> y >> d) {
    pos.push_back({x, y});
    dips.push_back(d * pi / 180);
  }
  set_dips(st, pos, dips);
  std::vector<Vec2> fault;
  std::istringstream fin(text.at("faultpts.txt"));
  while (fin >> x >> y) fault.push_back({x, y});
  set_faultpts(st, fault);
  return st;
}

TEST(ListricRunSection, ExampleTrueModelPrintsNoDiagnostic) {
  fq::diag::finish();
  fqtest::ConsoleCapture console;
  const RunState st = example_state();
  ASSERT_EQ(st.data.beds.size(), 4u);
  EXPECT_CLOSE(run(st, ex::true_model()), -265.2178, Tol::abs(1e-3, "log-probability", "the README's figure"));
  EXPECT_TRUE(console.lines().empty()) << console.lines().front();
  EXPECT_EQ(fq::diag::finish(), 0);
}

TEST(ListricRunSection, MirrorImageScoresTheSame) {
  // theta_max 140 (the fault rising towards -x) on the section mirrored in
  // x, with the tip's x mirrored, scores as theta_max 40 on the section.
  const RunState st = thrust_state(2, 2);
  RunState mirrored = st;
  for (Bed& b : mirrored.data.beds)
    for (Vec2& p : b.pts) p.x = -p.x;
  for (Bed& b : mirrored.data.terraces)
    for (Vec2& p : b.pts) p.x = -p.x;
  for (Vec2& p : mirrored.data.dip_pos) p.x = -p.x;
  for (double& d : mirrored.data.dips) d = -d;
  for (Vec2& p : mirrored.data.faultpts) p.x = -p.x;
  std::vector<double> p = thrust_params();
  const double direct = run(st, p);
  p[0] = -p[0];
  p[3] = 180 - p[3];
  EXPECT_CLOSE(run(mirrored, p), direct, Tol::rel(1e-9, "1", "the mirror changes only roundings"));
}

TEST(ListricRunSection, NormalSenseRestoresByRunningForward) {
  // slip_sense +1: the restoration runs the tip onward from the final tip.
  // Data made by running the kernels backwards from where that restoration
  // ends come back flat.
  RunState st = base_state(2, 1, 0, 1, +1);
  fq::ListricGeometry g;
  std::vector<double> p = ex::true_model();
  p.pop_back();
  ASSERT_TRUE(fq::listric_geometry(st, p, g));
  const double D = g.povers * g.slip;
  const Vec2 onward{g.tip_final.x + D * std::cos(g.theta_max), g.tip_final.y + D * std::sin(g.theta_max)};
  const fq::TrishearListric back(-1, g.phi, g.m, -g.slip, -1, g.povers, g.s, g.theta_max, g.theta_max, g.theta_max,
                                 onward, g.cc, g.rc);
  std::vector<Bed> beds;
  for (const double y0 : {-1900.0, -1300.0, -900.0, -400.0}) {
    auto pts = row(y0);
    for (Vec2& q : pts) ASSERT_EQ(fq::trishear_listric_point(back, q, nullptr), fq::ListricStatus::ok);
    beds.push_back(make_bed(pts));
  }
  set_beds(st, beds);
  EXPECT_LT(run(st, p), 1.0);
  auto q = p;
  q[2] += 50;
  EXPECT_GT(run(st, q), run(st, p));
}

TEST(ListricRunSection, ThreadsAgreeWithSequentialCalls) {
  const RunState st = thrust_state(2, 5);
  std::vector<std::vector<double>> models;
  for (int i = 0; i < 8; ++i) {
    auto p = thrust_params();
    p[2] += 10 * i;
    models.push_back(p);
  }
  std::vector<double> seq(models.size()), par(models.size());
  for (std::size_t i = 0; i < models.size(); ++i) seq[i] = run(st, models[i]);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < models.size(); ++i) threads.emplace_back([&, i] { par[i] = run(st, models[i]); });
  for (auto& t : threads) t.join();
  for (std::size_t i = 0; i < models.size(); ++i)
    EXPECT_EQ(std::bit_cast<std::uint64_t>(par[i]), std::bit_cast<std::uint64_t>(seq[i]));
}

}  // namespace
