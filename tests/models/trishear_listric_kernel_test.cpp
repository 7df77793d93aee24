// Listric kernels: zero slip, the listric turn, the flat's stop on the
// vertical through the centre, the tip path, agreement with the straight
// ramp, dip factors and carried covariances against finite differences,
// dips against pairs of moved points, forward-then-restore sections in both
// slip senses, and the fault-point distances.
#include "foldquest/models/trishear_listric.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/math/geometry.hpp"
#include "foldquest/models/trishear_decol.hpp"
#include "foldquest/report/diagnostics.hpp"
#include "tests/support/expect_close.hpp"

namespace {

using fq::ListricStatus;
using fq::Mat2;
using fq::TrishearListric;
using fq::Vec2;
using fqtest::Tol;

// A fault with its centre at the origin, radius 10, arc ending at 0.6 rad.
constexpr double kRc = 10, kTm = 0.6, kPhi = 0.4, kS = 1;
const Vec2 kCc{0, 0};

Vec2 arc_pt(double th) { return {kCc.x + kRc * std::sin(th), kCc.y - kRc * std::cos(th)}; }
Vec2 arc_end() { return arc_pt(kTm); }
Vec2 on_straight(double dist) {
  return {arc_end().x + dist * std::cos(kTm), arc_end().y + dist * std::sin(kTm)};
}

// Kernel whose tip starts at arc angle th (th >= kTm: on the straight
// segment, dist beyond the arc's end) and runs `slip` with |inc|.
TrishearListric kernel(double slip, double inc, double P, double th, double dist = 0) {
  const double sgn = slip < 0 ? -1 : 1;
  const bool on_arc = th < kTm;
  const Vec2 tip = on_arc ? arc_pt(th) : on_straight(dist);
  // End angle of this call's slip.
  double th_end;
  if (sgn < 0) {
    th_end = on_arc ? th + P * slip / kRc : kTm - std::max(-P * slip - dist, 0.0) / kRc;
  } else {
    th_end = on_arc ? std::min(th + P * slip / kRc, kTm) : kTm;
  }
  return TrishearListric(sgn * inc, kPhi, std::tan(kPhi), slip, sgn * inc, P, kS, kTm, th_end,
                         on_arc ? th : kTm, tip, kCc, kRc);
}

Vec2 move(const TrishearListric& k, Vec2 p, Mat2* c = nullptr) {
  EXPECT_EQ(fq::trishear_listric_point(k, p, c), ListricStatus::ok);
  return p;
}

TEST(ListricKernel, ZeroSlipChangesNothing) {
  const TrishearListric k = kernel(0, 0.1, 1.5, 0.3);
  std::vector<Vec2> pts{{-5, -8}, {3, -9}, {12, 0}, {6, -12}};
  const auto before = pts;
  std::vector<Mat2> cov(pts.size(), Mat2{2, 0.5, 0.5, 3});
  EXPECT_EQ(fq::trishear_func_listric(k, pts, cov), ListricStatus::ok);
  std::vector<double> dips{0.1, -0.2, 0.3, 0}, sig{0.05, 0.05, 0.05, 0.05};
  auto pos = before;
  EXPECT_EQ(fq::trishear_func_dip_listric(k, pos, dips, sig), ListricStatus::ok);
  for (std::size_t i = 0; i < pts.size(); ++i) {
    EXPECT_EQ(pts[i].x, before[i].x);
    EXPECT_EQ(pts[i].y, before[i].y);
    EXPECT_EQ(cov[i].b, 0.5);
    EXPECT_EQ(pos[i].x, before[i].x);
    EXPECT_EQ(sig[i], 0.05);
  }
  EXPECT_EQ(dips[0], 0.1);
}

TEST(ListricKernel, ListricPointKeepsItsDistanceFromTheCentre) {
  // Deep points behind the tip's radial line, forwards and backwards, with
  // the tip on the arc (P/S 0.2: the point stays behind the radial line) and
  // on the straight segment.
  const auto kLen = Tol::abs(1e-12, "length", "rounding of sin/cos of 10-unit radii");
  for (const double slip : {0.7, -0.4, 1.9}) {
    const TrishearListric k = slip < 0 ? kernel(slip, 0.05, 0.2, 0.5) : kernel(slip, 0.05, 1.5, 0.6, 2);
    for (const Vec2 p0 : {Vec2{1, -6}, Vec2{2.5, -8}, Vec2{0.5, -9.5}}) {
      const Vec2 p = move(k, p0);
      EXPECT_CLOSE(std::hypot(p.x, p.y), std::hypot(p0.x, p0.y), kLen);
      EXPECT_CLOSE(std::atan2(p.x, -p.y), std::atan2(p0.x, -p0.y) + slip / std::hypot(p0.x, p0.y),
                   Tol::abs(1e-12, "rad", "rounding"));
    }
  }
}

TEST(ListricKernel, FlatPointBelowTheCentreStopsExactlyOnTheVerticalAndTurnsOn) {
  // 3 units from the vertical through the centre; a slip of exactly 3 puts
  // it on the vertical, 4 turns it one unit along its circle of radius 7.
  const Vec2 p0{-3, -7};
  EXPECT_EQ(move(kernel(3, 0.1, 0.2, 0.1), p0).x, 0.0);
  EXPECT_EQ(move(kernel(3, 0.1, 0.2, 0.1), p0).y, -7.0);
  const Vec2 p = move(kernel(4, 0.1, 0.2, 0.1), p0);
  EXPECT_CLOSE(std::hypot(p.x, p.y), 7.0, Tol::abs(1e-12, "length", "rounding"));
  EXPECT_CLOSE(std::atan2(p.x, -p.y), 1.0 / 7, Tol::abs(1e-12, "rad", "rounding"));
}

TEST(ListricKernel, TipPathSplitsTheSlip) {
  // Forwards from the straight segment: no arc slip at all.
  const TrishearListric a = kernel(5, 0.1, 1.5, kTm, 2);
  EXPECT_EQ(a.sremcurve(), 0.0);
  EXPECT_EQ(a.sremstr(), 5.0);
  // Backwards from 3 units up the segment with P/S 1.5: 2 of slip there.
  const TrishearListric b = kernel(-5, 0.1, 1.5, kTm, 3);
  EXPECT_CLOSE(b.sremstr(), -2.0, Tol::ulps(4));
  EXPECT_CLOSE(b.sremcurve(), -3.0, Tol::ulps(4));
  EXPECT_TRUE(b.check_tip_path());
  // Forwards from the arc at 0.3: (0.6 - 0.3) 10 / 1.5 = 2 on the arc.
  const TrishearListric c = kernel(5, 0.1, 1.5, 0.3);
  EXPECT_CLOSE(c.sremcurve(), 2.0, Tol::ulps(4));
  EXPECT_CLOSE(c.sremstr(), 3.0, Tol::ulps(4));
  // A set restored by less than the total slip ends at its own angle; the
  // check compares with that angle (it used to fire for every such set).
  fq::diag::finish();
  const TrishearListric growth = kernel(-1, 0.1, 1.5, kTm, 0.5);
  EXPECT_TRUE(growth.check_tip_path());
  EXPECT_EQ(fq::diag::count("Error: Tip does not end at theta0"), 0);
  const TrishearListric wrong(-0.1, kPhi, std::tan(kPhi), -1, -0.1, 1.5, kS, kTm, 0.2, kTm, on_straight(0.5), kCc,
                              kRc);
  EXPECT_FALSE(wrong.check_tip_path());
  EXPECT_EQ(fq::diag::count("Error: Tip does not end at theta0"), 1);
  fq::diag::finish();
}

TEST(ListricKernel, TipOnTheStraightSegmentAgreesWithTheStraightRamp) {
  // Forwards (tip never enters the arc): to rounding.  Backwards while the
  // tip stays on the segment (P/S 0.5, 3 of slip, 2 units up): to rounding.
  const fq::TipFrame frame(on_straight(2).x, on_straight(2).y, kTm, 1);
  const auto kLen = Tol::abs(1e-9, "length", "map and tip-frame arithmetic round differently");
  for (const double slip : {4.0, -3.0}) {
    const double P = slip > 0 ? 1.5 : 0.5;
    const TrishearListric k = kernel(slip, 0.05, P, kTm, 2);
    const double inc = slip > 0 ? 0.05 : -0.05;
    const fq::TrishearStr ks(inc, std::tan(kPhi), slip, inc, P, kS);
    for (const Vec2 p0 : {Vec2{12, -3}, Vec2{9, -7}, Vec2{15, -8}, Vec2{9, -4}, Vec2{20, 2}, Vec2{11, -9}}) {
      const Vec2 p = move(k, p0);
      Vec2 q = frame.to_ze(p0);
      ASSERT_TRUE(fq::trishear_point(ks, q, nullptr));
      q = frame.to_xy(q);
      EXPECT_CLOSE(p.x, q.x, kLen) << p0.x << " " << p0.y << " slip " << slip;
      EXPECT_CLOSE(p.y, q.y, kLen) << p0.x << " " << p0.y << " slip " << slip;
    }
  }
}

TEST(ListricKernel, HugeRadiusAgreesWithTheStraightRamp) {
  // Radius 1e6 and the tip on the arc at 0.5 rad: over a few units of slip
  // the arc is straight to about (4)^2 / 1e6.
  const double rc = 1e6, th = 0.5, P = 1.5, slip = 3;
  const Vec2 cc{-rc * std::sin(th), rc * std::cos(th)};  // tip at the origin
  const TrishearListric k(0.05, kPhi, std::tan(kPhi), slip, 0.05, P, kS, 1.2, th + P * slip / rc, th, {0, 0}, cc,
                          rc);
  const fq::TrishearStr ks(0.05, std::tan(kPhi), slip, 0.05, P, kS);
  const fq::TipFrame frame(0, 0, th, 1);
  for (const Vec2 p0 : {Vec2{2, 2}, Vec2{-3, 1}, Vec2{3, -1}, Vec2{4, 1}}) {
    Vec2 p = p0;
    ASSERT_EQ(fq::trishear_listric_point(k, p, nullptr), ListricStatus::ok);
    Vec2 q = frame.to_ze(p0);
    ASSERT_TRUE(fq::trishear_point(ks, q, nullptr));
    q = frame.to_xy(q);
    EXPECT_CLOSE(p.x, q.x, Tol::abs(1e-4, "length", "curvature of a 1e6 arc over 5 units"));
    EXPECT_CLOSE(p.y, q.y, Tol::abs(1e-4, "length", "curvature of a 1e6 arc over 5 units"));
  }
}

TEST(ListricKernel, WithoutPropagationTheStraightHangingWallMovesInALine) {
  // P/S 0: the tip stands still on the arc; a point beyond its radial line
  // and above the zone moves along the fault's direction at the tip (the
  // circle of radius rc / P through it has become a line).
  const double th = 0.3;
  const Vec2 e{std::cos(th), std::sin(th)}, n{-std::sin(th), std::cos(th)};
  const Vec2 p0{arc_pt(th).x + e.x + 5 * n.x, arc_pt(th).y + e.y + 5 * n.y};
  for (const double P : {0.0, 1e-12}) {
    const Vec2 p = move(kernel(1, 0.1, P, th), p0);
    EXPECT_CLOSE(p.x, p0.x + e.x, Tol::abs(1e-12, "length", "rounding"));
    EXPECT_CLOSE(p.y, p0.y + e.y, Tol::abs(1e-12, "length", "rounding"));
  }
}

// ---- dip maps -------------------------------------------------------------------------

TEST(ListricKernel, DipFactorsAreDerivativesOfTheirDipMaps) {
  const double h = 1e-6;
  const auto kFd = Tol::abs(1e-7, "1", "central difference of step 1e-6");
  for (const double dip : {-0.7, -0.2, 0.0, 0.3, 0.9}) {
    for (const double k : {-0.4, 0.25}) {
      const double fd =
          (fq::listric_turn_dip(dip + h, 0.3, k).dip - fq::listric_turn_dip(dip - h, 0.3, k).dip) / (2 * h);
      EXPECT_CLOSE(fq::listric_turn_dip(dip, 0.3, k).factor, std::abs(fd), kFd) << dip << " " << k;
    }
    const Mat2 j = fq::crossing_jacobian({1, 0}, {std::cos(0.6), std::sin(0.6)}, {std::cos(0.3), std::sin(0.3)}, -0.2);
    const double fd = (fq::kink_dip(j, dip + h).dip - fq::kink_dip(j, dip - h).dip) / (2 * h);
    EXPECT_CLOSE(fq::kink_dip(j, dip).factor, std::abs(fd), kFd) << dip;
  }
  // The written listric factor evaluated at the new dip differs: dip 0,
  // theta 0.3, r 8, S 2 has derivative 1.157.
  EXPECT_CLOSE(fq::listric_turn_dip(0, 0.3, 0.25).factor, 1.157, Tol::abs(1e-3, "1", "three decimals"));
}

TEST(ListricKernel, KinkThroughAFixedAxialSurfaceIsTheKinkBandRule) {
  // With the tip on the straight segment the axial surface is fixed: the
  // Jacobian's dip map equals the kink rule of the detachment model, the
  // straight segment playing the ramp (flat to straight: dip - K, which
  // takes a horizontal bed to -theta_max).
  const auto kPiDiff = Tol::abs(1e-7, "rad", "the detachment's rule adds the run's pi, 4.4e-8 above pi");
  for (const double t : {0.3, 0.6, 1.1}) {
    const Vec2 n{std::cos(t / 2), std::sin(t / 2)}, flat{1, 0}, str{std::cos(t), std::sin(t)};
    for (const double dip : {-0.4, 0.0, 0.2, 0.5}) {
      const fq::KinkedDip fwd = fq::kink_dip(fq::crossing_jacobian(flat, str, n, 0), dip);
      const fq::RefoldedDip ref = fq::refold_flat_to_ramp(dip + t, t);
      EXPECT_CLOSE(fwd.dip, std::remainder(ref.theta - t, std::numbers::pi), kPiDiff);
      EXPECT_CLOSE(fwd.factor, ref.factor, Tol::abs(1e-12, "1", "rounding"));
      const fq::KinkedDip back = fq::kink_dip(fq::crossing_jacobian(str, flat, n, 0), dip);
      const fq::RefoldedDip ref2 = fq::refold_ramp_to_flat(dip + t, t);
      EXPECT_CLOSE(back.dip, std::remainder(ref2.theta - t, std::numbers::pi), kPiDiff);
      EXPECT_CLOSE(back.factor, ref2.factor, Tol::abs(1e-12, "1", "rounding"));
    }
    EXPECT_CLOSE(fq::kink_dip(fq::crossing_jacobian(flat, str, n, 0), 0).dip, -t, Tol::abs(1e-12, "rad", "rounding"));
  }
}

// ---- covariances ----------------------------------------------------------------------

// J of the point map by central differences, and the kernel's J C J^T with
// C = I, for one point.
void expect_cov_matches_fd(const TrishearListric& k, Vec2 p0, const char* what) {
  const double h = 1e-6;
  auto f = [&](Vec2 p) { return move(k, p); };
  const Vec2 px1 = f({p0.x + h, p0.y}), px0 = f({p0.x - h, p0.y});
  const Vec2 py1 = f({p0.x, p0.y + h}), py0 = f({p0.x, p0.y - h});
  const Mat2 j{(px1.x - px0.x) / (2 * h), (py1.x - py0.x) / (2 * h), (px1.y - px0.y) / (2 * h),
               (py1.y - py0.y) / (2 * h)};
  const Mat2 want = j * transpose(j);
  Mat2 c{1, 0, 0, 1};
  move(k, p0, &c);
  const auto kTol = Tol::abs(2e-5, "length^2", "central difference of step 1e-6 on unit-size entries");
  EXPECT_CLOSE(c.a, want.a, kTol) << what;
  EXPECT_CLOSE(c.b, want.b, kTol) << what;
  EXPECT_CLOSE(c.d, want.d, kTol) << what;
}

TEST(ListricKernel, CarriedCovarianceIsJCJtOfThePointMap) {
  // No boundary: a listric point turning.
  expect_cov_matches_fd(kernel(0.8, 0.05, 0.2, 0.5), {2, -7}, "listric only");
  // One boundary: flat to listric (continuous velocity).
  expect_cov_matches_fd(kernel(3, 0.05, 0.2, 0.5), {-1, -7}, "flat to listric");
  // One kink: straight to flat above the centre, backwards, tip on the
  // straight segment (fixed axial surface).
  expect_cov_matches_fd(kernel(-3, 0.05, 0.5, kTm, 5), {1.5, 3}, "straight to flat, fixed surface");
  // One kink while the axial surface turns with the tip on the arc.
  expect_cov_matches_fd(kernel(-2, 0.05, 1.5, 0.55), {1.5, 3}, "straight to flat, turning surface");
  // Two boundaries: straight to listric to flat, backwards.
  expect_cov_matches_fd(kernel(-6, 0.05, 0.5, kTm, 1), {8, -5}, "straight, listric, flat");
  // Zone steps with the frame turning along the arc (the frame's Jacobian).
  expect_cov_matches_fd(kernel(1, 0.05, 1.5, 0.3), {arc_pt(0.3).x + 2, arc_pt(0.3).y + 0.5}, "zone on the arc");
}

// ---- sections -------------------------------------------------------------------------

struct RoundTrip {
  double worst;  // largest distance from the start
  double worst_dip;
  Vec2 at_dip;  // where the worst dip started
};

// Horizontal beds (and zero dips at the same points) moved by `slip` and back.
RoundTrip round_trip(double inc, double P, double slip, double th_start, double dist = 0) {
  std::vector<Vec2> pts;
  // (No row through the centre itself, where the flat, the arc and the
  // straight domain meet and a point's side is a matter of rounding.)
  for (const double y : {-9.5, -8.0, -6.0, -3.0, 0.7, 3.0})
    for (double x = -15; x <= 25; x += 0.5) pts.push_back({x, y});
  const auto orig = pts;
  std::vector<double> dips(pts.size(), 0.0), sig(pts.size(), 0.01);
  auto pos = pts;
  const TrishearListric there = kernel(slip, inc, P, th_start, dist);
  EXPECT_EQ(fq::trishear_func_listric(there, pts, {}), ListricStatus::ok);
  EXPECT_EQ(fq::trishear_func_dip_listric(there, pos, dips, sig), ListricStatus::ok);
  // The tip where the first run left it.
  double th = th_start, d = dist;
  if (th_start < kTm) {
    const double end = th_start + P * slip / kRc;
    if (end > kTm) {
      d = (end - kTm) * kRc;
      th = kTm;
    } else {
      th = end;
    }
  } else {
    d = dist + P * slip;
    if (d < 0) {
      th = kTm + d / kRc;
      d = 0;
    }
  }
  const TrishearListric back = kernel(-slip, inc, P, th, d);
  EXPECT_EQ(fq::trishear_func_listric(back, pts, {}), ListricStatus::ok);
  EXPECT_EQ(fq::trishear_func_dip_listric(back, pos, dips, sig), ListricStatus::ok);
  RoundTrip r{0, 0, {}};
  for (std::size_t i = 0; i < pts.size(); ++i) {
    r.worst = std::max(r.worst, std::hypot(pts[i].x - orig[i].x, pts[i].y - orig[i].y));
    if (std::abs(dips[i]) > r.worst_dip) {
      r.worst_dip = std::abs(dips[i]);
      r.at_dip = orig[i];
    }
  }
  return r;
}

TEST(ListricSection, ForwardThenRestoreComesBackWithAMisfitOfFirstOrderInTheIncrement) {
  // Observed: the largest misfit falls about tenfold per tenfold smaller
  // increment (first order: scans and whole zone steps at the ends).
  struct Case {
    double P, slip, th, dist;
  };
  for (const Case c : {Case{1.5, 4, 0.2, 0}, Case{0.7, 4, 0.2, 0}, Case{1.5, -4, kTm, 3}}) {
    const RoundTrip coarse = round_trip(0.1, c.P, c.slip, c.th, c.dist);
    const RoundTrip fine = round_trip(0.01, c.P, c.slip, c.th, c.dist);
    EXPECT_LT(fine.worst, 0.03) << c.P << " " << c.slip;
    EXPECT_LT(fine.worst, coarse.worst / 4) << c.P << " " << c.slip;
    EXPECT_LT(fine.worst_dip, 0.05) << c.P << " " << c.slip << " at " << fine.at_dip.x << " " << fine.at_dip.y;
  }
}

TEST(ListricSection, DipsFollowPairsOfMovedPoints) {
  // A horizontal bed's dip moved by the dip kernel equals the direction
  // between two close points of the bed moved by the point kernel, across
  // every domain (the frame dip turning the right way along the arc, the
  // flat/straight kink taking a horizontal bed to -theta, the listric factor).
  // The points of a pair 0.1 apart may cross a boundary a few increments
  // apart (the forward scan, whole zone steps), which turns the pair by up
  // to about increment / 0.1.
  for (const double slip : {3.0, 6.0}) {
    const TrishearListric k = kernel(slip, 0.001, 1.5, 0.2);
    for (const Vec2 p0 : {Vec2{-2, 1}, Vec2{3, -8}, Vec2{-4, 2}, Vec2{1, -6}, Vec2{6, -6}, Vec2{-1, -9},
                          Vec2{12, -3}, Vec2{9, -6}}) {
      const double e = 0.05;
      const Vec2 a = move(k, {p0.x - e, p0.y}), b = move(k, {p0.x + e, p0.y});
      double dip = 0, sig = 1;
      Vec2 pos = p0;
      ASSERT_EQ(fq::trishear_listric_dip(k, pos, dip, sig), ListricStatus::ok);
      const double pair = std::atan(-(b.y - a.y) / (b.x - a.x));
      EXPECT_CLOSE(dip, pair, Tol::abs(0.015, "rad", "pairs 0.1 apart with steps of 0.001"))
          << p0.x << " " << p0.y << " slip " << slip;
    }
  }
}

// ---- fault points ----------------------------------------------------------------------

TEST(ListricFaultPoints, DistanceFromTheSegmentBeneathThePoint) {
  const auto kLen = Tol::abs(1e-12, "length", "rounding");
  const double th = 0.5;
  // On the detachment, the arc and the straight segment: 0.
  EXPECT_CLOSE(fq::fault_pt_dist_listric({-5, -10}, th, kCc, kRc), 0.0, kLen);
  EXPECT_CLOSE(fq::fault_pt_dist_listric(arc_pt(0.3), th, kCc, kRc), 0.0, kLen);
  const Vec2 on_line{arc_pt(th).x + 4 * std::cos(th), arc_pt(th).y + 4 * std::sin(th)};
  EXPECT_CLOSE(fq::fault_pt_dist_listric(on_line, th, kCc, kRc), 0.0, kLen);
  // One unit off each: above the detachment, inside the arc, above the line.
  EXPECT_CLOSE(fq::fault_pt_dist_listric({-5, -9}, th, kCc, kRc), 1.0, kLen);
  EXPECT_CLOSE(fq::fault_pt_dist_listric({0.9 * arc_pt(0.3).x, 0.9 * arc_pt(0.3).y}, th, kCc, kRc), 1.0, kLen);
  EXPECT_CLOSE(fq::fault_pt_dist_listric({on_line.x - std::sin(th), on_line.y + std::cos(th)}, th, kCc, kRc), 1.0,
               kLen);
  // Above the centre on the flat side of the axial surface: the detachment.
  EXPECT_CLOSE(fq::fault_pt_dist_listric({-1, 2}, th, kCc, kRc), 12.0, kLen);
}

}  // namespace
