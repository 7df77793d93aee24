// Bend kernels: the slip pieces and the turn between them, the crossing of
// the bisector (rigid moves and the dip's kink), parallel segments, a tip
// ending within rounding of the bend, the covariances and the
// dip-uncertainty factors against finite differences, the zone step shared
// with the straight ramp, and the progress check.
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/state/run_state.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/models/trishear_bend.hpp"
#include "foldquest/models/trishear_straight.hpp"
#include "tests/support/expect_close.hpp"

namespace fq {
namespace {

using fqtest::Tol;

constexpr double pi = Constants::pi;
double rad(double deg) { return deg * pi / 180; }

// Rigid moves through a few trigonometric values: a few roundings of
// values up to about 100.
constexpr Tol kRigid = Tol::abs(1e-12, "length", "a few roundings of values up to 100");
constexpr Tol kAngle = Tol::abs(1e-12, "radian", "a few roundings of angles");

// Segment 1 at 60 degrees over segment 2 at 30: d = 30 degrees, bisector at
// 75 degrees from the fault.
const double kD1 = rad(60), kD2 = rad(30), kD = kD1 - kD2;

TrishearBend bend(double inc, double total, double P, Vec2 bendze, double m = std::tan(rad(20)), double s = 1.5,
                  double d1 = kD1, double d2 = kD2, int seg = 0) {
  return TrishearBend(inc, m, total, inc, P, s, bendze, d1, d2, seg);
}

Vec2 moved(const TrishearBend& k, Vec2 p, Mat2* c = nullptr) {
  EXPECT_TRUE(trishear_bend_point(k, p, c));
  return p;
}

TEST(BendKernel, ZeroSlipChangesNothing) {
  // The bend behind the tip, and at the tip itself (where any slip towards
  // it would split at once): no slip, no turn.
  for (const Vec2 bz : {Vec2{-3, 0}, Vec2{0, 0}, Vec2{4, 0}}) {
    for (const double inc : {-0.1, 0.1}) {
      const TrishearBend k = bend(inc, 0.0, 2, bz);
      EXPECT_EQ(k.npieces(), 1);
      std::vector<Vec2> pts{{-10, 5}, {5, 0.5}, {5, -10}, {0, 0}, {-20, 1}};
      std::vector<Mat2> cov(pts.size(), Mat2{2, 0.5, 0.5, 3});
      const auto pts0 = pts;
      ASSERT_TRUE(trishear_func_bend(k, pts, cov));
      std::vector<Vec2> pos = pts0;
      std::vector<double> dips(pts.size(), 0.3), sig(pts.size(), 0.05);
      ASSERT_TRUE(trishear_func_dip_bend(k, pos, dips, sig));
      for (std::size_t i = 0; i < pts.size(); ++i) {
        EXPECT_CLOSE(pts[i], pts0[i], Tol::exact());
        EXPECT_CLOSE(pos[i], pts0[i], Tol::exact());
        EXPECT_CLOSE(cov[i], (Mat2{2, 0.5, 0.5, 3}), Tol::exact());
        EXPECT_EQ(dips[i], 0.3);
        EXPECT_EQ(sig[i], 0.05);
      }
    }
  }
}

// Restoring with the tip on segment 1, 3 units above the bend, by 4 units
// of slip at P/S 1: the tip reaches the bend after 3, the rest is taken on
// segment 2.  A point far below the fault stays in the footwall throughout:
// it moves only by the tip's retreat, and between the pieces it is turned
// by the difference of the acute dips (30 degrees) into segment 2's frame.
// Deforming with the tip 2 below the bend on segment 2 is the mirror case.
TEST(BendKernel, TipPassingTheBendSplitsTheSlipAndTurnsEveryPointBetweenThePieces) {
  {
    const TrishearBend k = bend(-0.25, -4, 1, {-3, 0});
    ASSERT_EQ(k.npieces(), 2);
    EXPECT_EQ(k.start_segment(), 1);
    EXPECT_EQ(k.end_segment(), 2);
    EXPECT_CLOSE(k.piece(0).slip, 3.0, Tol::ulps(2));
    EXPECT_CLOSE(k.piece(1).slip, 1.0, Tol::ulps(4));
    Mat2 c{2, 0.5, 0.5, 1};
    const Vec2 p = moved(k, {10, -100}, &c);
    const Vec2 after_first = rot2d(Vec2{13, -100}, kD);
    EXPECT_CLOSE(p, (Vec2{after_first.x + 1, after_first.y}), kRigid);
    const Mat2 r{std::cos(kD), -std::sin(kD), std::sin(kD), std::cos(kD)};
    EXPECT_CLOSE(c, (r * Mat2{2, 0.5, 0.5, 1}) * transpose(r), Tol::abs(1e-15, "length^2", "one rotation"));
    Vec2 pos{10, -100};
    double theta = 0.4, sigma = 0.03;
    ASSERT_TRUE(trishear_bend_dip(k, pos, theta, sigma));
    EXPECT_CLOSE(pos, p, Tol::exact());
    EXPECT_CLOSE(theta, 0.4 + kD2 - kD1, kAngle);
    EXPECT_EQ(sigma, 0.03);
  }
  {
    const TrishearBend k = bend(0.25, 3, 1, {2, 0});
    ASSERT_EQ(k.npieces(), 2);
    EXPECT_EQ(k.start_segment(), 2);
    EXPECT_EQ(k.end_segment(), 1);
    const Vec2 p = moved(k, {10, -100});
    const Vec2 after_first = rot2d(Vec2{8, -100}, -kD);
    EXPECT_CLOSE(p, (Vec2{after_first.x - 1, after_first.y}), kRigid);
  }
  // Away from the bend, or with too little slip to reach it: one piece.
  EXPECT_EQ(bend(0.25, 3, 1, {-3, 0}).npieces(), 1);    // deforming away from it
  EXPECT_EQ(bend(-0.25, -3, 1, {4, 0}).npieces(), 1);   // restoring away from it
  EXPECT_EQ(bend(-0.25, -2.5, 1, {-3, 0}).npieces(), 1);  // short of it
}

// A hanging-wall point above segment 1, 20 units up from the bend, restored
// by 15 units (P/S 1: the tip never reaches the bend): it moves back along
// segment 1 until it meets the bisector, then parallel to segment 2,
// (cos d, -sin d) per unit slip, for the rest.  Its dip is refolded once,
// at the crossing, by the kink formula; its covariance is sheared once, by
// the crossing's Jacobian I + w grad(rb)^T with w = (1 - cos d, sin d) and
// rb = zb + eta/tb - zeta.
TEST(BendKernel, HangingWallPointCrossesTheBisectorOnceThenMovesParallelToSegmentTwo) {
  const TrishearBend k = bend(-0.1, -15, 1, {-20, 0});
  ASSERT_EQ(k.npieces(), 1);
  const double tb = std::tan((pi - kD) / 2);
  EXPECT_CLOSE(k.tan_bisect(), tb, Tol::ulps(1));
  const Vec2 p0{-10, 5};
  const double rb = -20 + 5 / tb + 10;  // slip to the bisector, about -8.66
  const double rest = -15 - rb;
  const Vec2 expected{-10 + (std::cos(kD) - 1) * rest, 5 - std::sin(kD) * rest};
  Mat2 c{1, 0.2, 0.2, 3};
  EXPECT_CLOSE(moved(k, p0, &c), expected, kRigid);
  const Mat2 j{1 - (1 - std::cos(kD)), (1 - std::cos(kD)) / tb, -std::sin(kD), 1 + std::sin(kD) / tb};
  EXPECT_CLOSE(c, (j * Mat2{1, 0.2, 0.2, 3}) * transpose(j), Tol::abs(1e-14, "length^2", "one product of 2x2"));
  Vec2 pos = p0;
  double theta = 0.2, sigma = 0.05;
  ASSERT_TRUE(trishear_bend_dip(k, pos, theta, sigma));
  EXPECT_CLOSE(pos, expected, kRigid);
  const DipKink kink = bend_kink_into_other(0.2, kD);
  EXPECT_CLOSE(theta, kink.theta, Tol::exact());
  EXPECT_CLOSE(sigma, 0.05 * kink.factor, Tol::exact());
  // Stopped short of the bisector the point and its dip keep to segment 1.
  Vec2 short_pos = p0;
  double short_theta = 0.2, short_sigma = 0.05;
  ASSERT_TRUE(trishear_bend_dip(bend(-0.1, -8, 1, {-20, 0}), short_pos, short_theta, short_sigma));
  EXPECT_CLOSE(short_pos, (Vec2{-10, 5}), kRigid);
  EXPECT_EQ(short_theta, 0.2);
}

// A point exactly on the bisector: restoring, it goes on with segment 2's
// hanging wall for the whole slip (refolded once); deforming, with segment
// 1's (not refolded).
TEST(BendKernel, PointExactlyOnTheBisector) {
  const TrishearBend back = bend(-0.1, -3, 1, {-20, 0});
  const double tb = back.tan_bisect();
  const Vec2 on{-18, 2 * tb};
  Vec2 pos = on;
  double theta = -0.1, sigma = 1;
  ASSERT_TRUE(trishear_bend_dip(back, pos, theta, sigma));
  EXPECT_CLOSE(pos, (Vec2{-18 - 3 * (std::cos(kD) - 1), 2 * tb + 3 * std::sin(kD)}), kRigid);
  EXPECT_CLOSE(theta, bend_kink_into_other(-0.1, kD).theta, Tol::exact());

  Vec2 fpos = on;
  double ftheta = -0.1, fsigma = 1;
  ASSERT_TRUE(trishear_bend_dip(bend(0.1, 3, 1, {-20, 0}), fpos, ftheta, fsigma));
  EXPECT_CLOSE(fpos, on, kRigid);
  EXPECT_EQ(ftheta, -0.1);
  EXPECT_EQ(fsigma, 1.0);
}

// Parallel segments: the bisector's tangent computed with the run's pi is a
// large negative number, so the kernel takes the perpendicular limit, and a
// bend that the tip does not reach changes nothing: every point moves as on
// the straight ramp.  (With the raw tangent the hanging wall behind the
// perpendicular would be taken for footwall and left behind.)
// Segments within 1e-7 radian of parallel are treated alike: there the
// tangent passes through its pole.
TEST(BendKernel, ParallelSegmentsMoveAsTheStraightRamp) {
  const double a = rad(35), m = std::tan(rad(25)), s = 1.5, P = 0.5;
  for (const double d : {0.0, 5e-8, 8.7e-8, 1e-7}) {
    const TrishearBend k(-0.05, m, -8, -0.05, P, s, {-6, 0}, a, a - d);
    EXPECT_TRUE(k.parallel()) << d;
    ASSERT_EQ(k.npieces(), 1);
    const TrishearStr str(-0.05, m, -8, -0.05, P, s);
    for (const Vec2 p0 : {Vec2{-10, 3}, Vec2{-3, 1}, Vec2{-12, -2}, Vec2{4, 0.5}, Vec2{6, -2}, Vec2{2, 4}}) {
      Vec2 p = p0, q = p0;
      Mat2 cp{1, 0, 0, 1}, cq{1, 0, 0, 1};
      ASSERT_TRUE(trishear_bend_point(k, p, &cp));
      ASSERT_TRUE(trishear_point(str, q, &cq));
      // The straight ramp returns positions relative to the tip at the start;
      // the bend kernel relative to the tip after the slip, 8 P further back.
      EXPECT_CLOSE(p, (Vec2{q.x + 8 * P, q.y}), Tol::abs(1e-6, "length", "the same steps, shifted; d up to 1e-7"))
          << p0.x << "," << p0.y;
      // The same steps, and for d > 0 a crossing of the bisector whose
      // shear, I + (1 - cos d, sin d) grad^T, is of order d.
      EXPECT_CLOSE(cp, cq, Tol::abs(d == 0 ? 1e-9 : 1e-6, "length^2", "the same steps; a shear of order d"));
    }
  }
  // A bend of a degree is a bend.
  EXPECT_FALSE(TrishearBend(-0.05, m, -8, -0.05, P, s, {-6, 0}, a, a - rad(1)).parallel());
}

// The zone step is the straight ramp's: with the tip on segment 2 and the
// bend far ahead, a zone point, its covariance and a dip there move exactly
// as on a straight ramp; so does a hanging-wall point that the zone's upper
// boundary reaches when restoring with P/S > 1 (with the tip on segment 2
// the bisector plays no part).
TEST(BendKernel, OnSegmentTwoAwayFromTheBendTheKernelIsTheStraightRamps) {
  const double m = std::tan(rad(30)), s = 2;
  for (const double P : {0.8, 2.5}) {
    const TrishearBend k = bend(-0.05, -4, P, {100, 0}, m, s);
    const TrishearStr str(-0.05, m, -4, -0.05, P, s);
    for (const Vec2 p0 : {Vec2{6, 0.5}, Vec2{8, -2}, Vec2{-1, 1}, Vec2{-3, 0.2}}) {
      SCOPED_TRACE(testing::Message() << "P " << P << " at " << p0.x << "," << p0.y);
      Vec2 p = p0, q = p0;
      Mat2 cp{1, 0.1, 0.1, 1}, cq{1, 0.1, 0.1, 1};
      ASSERT_TRUE(trishear_bend_point(k, p, &cp));
      ASSERT_TRUE(trishear_point(str, q, &cq));
      const auto kShift = Tol::abs(1e-12, "length", "the same steps, shifted by 4 P");
      EXPECT_CLOSE(p, (Vec2{q.x + 4 * P, q.y}), kShift);
      EXPECT_CLOSE(cp, cq, Tol::abs(1e-12, "length^2", "the same steps"));
      Vec2 dp = p0, dq = p0;
      double tp = 0.3, tq = 0.3, sp = 0.1, sq = 0.1;
      ASSERT_TRUE(trishear_bend_dip(k, dp, tp, sp));
      ASSERT_TRUE(trishear_dip(str, dq, tq, sq));
      EXPECT_CLOSE(tp, tq, kAngle);
      EXPECT_CLOSE(sp, sq, Tol::abs(1e-14, "radian", "the same steps"));
    }
  }
  // The P/S > 1 case deforms the hanging-wall point: it did enter the zone.
  Vec2 hw{-1, 1};
  ASSERT_TRUE(trishear_bend_point(bend(-0.05, -4, 2.5, {100, 0}, m, s), hw, nullptr));
  EXPECT_GT(std::abs(hw.y - 1), 0.01);
}

// With the bend at the initial tip every restoration by the total slip ends
// at the bend.  Whether rounding puts the distance a hair above or below
// |total| P must not matter: the tip reaches the bend in each case, the
// second piece is empty, the points come back in segment 2's frame, and a
// zone point takes the same steps.  (The slip is not a whole number of
// increments: whether 60 steps of 0.1 reach 6 is the rounding of their sum,
// as on the straight ramp.)
TEST(BendKernel, TipEndingWithinRoundingOfTheBend) {
  const double T = 6.03, P = 1.5, inc = -0.1;
  std::vector<Vec2> results;
  for (const double rel : {-1e-12, -1e-15, 0.0, 1e-15, 1e-12}) {
    const TrishearBend k = bend(inc, -T, P, {-T * P * (1 + rel), 0});
    ASSERT_EQ(k.npieces(), 2) << rel;
    EXPECT_EQ(k.piece(1).slip, 0.0) << rel;
    EXPECT_EQ(k.end_segment(), 2) << rel;
    results.push_back(moved(k, {3, 0.4}));
  }
  for (const Vec2& p : results)
    EXPECT_CLOSE(p, results[2], Tol::abs(1e-9, "length", "the bend's position differs by 1e-11"));
  // A tip starting within rounding of the bend takes an empty first piece.
  const TrishearBend at = bend(inc, -T, P, {-1e-14, 0});
  ASSERT_EQ(at.npieces(), 2);
  EXPECT_EQ(at.piece(0).slip, 0.0);
  EXPECT_EQ(at.piece(1).slip, T);
  // Well short of the bend: one piece.
  EXPECT_EQ(bend(inc, -T, P, {-T * P * (1 + 1e-6), 0}).npieces(), 1);
}

// ---------------------------------------------------------------------------
// Covariances: J C J^T with J the derivative of the whole map.  Where a
// point crosses the bisector its velocity jumps, and the crossing shears its
// neighbourhood: a covariance left unchanged there (as for a rigid move)
// fails the check.  (No case enters the zone from a rigid domain: the
// zone's whole increments make the stepped map a sawtooth in the entry
// point, whose slope is not the one to carry.)

Mat2 central_jacobian(const std::function<Vec2(Vec2)>& f, Vec2 p) {
  const double eps = 1e-6;
  const Vec2 fxp = f({p.x + eps, p.y}), fxm = f({p.x - eps, p.y});
  const Vec2 fyp = f({p.x, p.y + eps}), fym = f({p.x, p.y - eps});
  return {(fxp.x - fxm.x) / (2 * eps), (fyp.x - fym.x) / (2 * eps), (fxp.y - fxm.y) / (2 * eps),
          (fyp.y - fym.y) / (2 * eps)};
}

TEST(BendKernel, CovarianceFollowsTheDerivativeOfTheWholeMap) {
  constexpr Tol kCov = Tol::abs(1e-7, "length^2", "central differences, step 1e-6, through up to 80 steps");
  const Mat2 c0{2, 0.3, 0.3, 0.5};
  struct Case {
    const char* name;
    TrishearBend k;
    Vec2 p;
    bool crosses;  // crosses the bisector once, without a zone step
  };
  for (const double P : {0.5, 2.0}) {
    const double tb = std::tan((pi - kD) / 2);
    // A point behind the bisector through the bend at -20, 0.8 of slip from it.
    const Vec2 behind{-18, 2 * tb + 3};
    const double m = std::tan(rad(20)), s = 1.5;
    const std::vector<Case> cases{
        {"restoring across the bisector", bend(-0.1, -15, P, {-20, 0}), {-10, 5}, true},
        {"deforming across the bisector", bend(0.1, 6, P, {-20, 0}), behind, true},
        {"restoring within segment 1's hanging wall", bend(-0.1, -5, P, {-20, 0}), {-10, 5}, false},
        {"restoring from the zone", bend(-0.1, -6, P, {-3, 0}), {4, 1}, false},
        {"restoring across the bisector, then past the bend", bend(-0.1, -9, 1, {-3, 0}), {-1, 2}, true},
        {"deforming past the bend, then across the bisector", bend(0.1, 6, 1, {2, 0}), {-1, 0.5}, true},
        // Parallel segments, and segments 5e-8 from parallel: the limit of a
        // bisector perpendicular to the fault, whose shear vanishes with d.
        {"parallel, restoring across", bend(-0.1, -5, P, {-6, 0}, m, s, kD1, kD1), {-4, 1}, false},
        {"parallel, deforming across", bend(0.1, 5, P, {-6, 0}, m, s, kD1, kD1), {-8, 1}, false},
        {"nearly parallel, restoring across", bend(-0.1, -5, P, {-6, 0}, m, s, kD1, kD1 - 5e-8), {-4, 1}, false},
        {"nearly parallel, deforming across", bend(0.1, 5, P, {-6, 0}, m, s, kD1, kD1 - 5e-8), {-8, 1}, false},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << ", P " << P);
      const Mat2 j = central_jacobian([&](Vec2 q) { return moved(c.k, q); }, c.p);
      Mat2 cv = c0;
      moved(c.k, c.p, &cv);
      EXPECT_CLOSE(cv, (j * c0) * transpose(j), kCov);
      if (c.crosses) {
        // The crossing does shear: the check above tells a carried
        // covariance from one left as it was (or only turned).
        Mat2 unchanged = c0;
        if (c.k.npieces() == 2) {
          const double a = c.k.start_segment() == 1 ? kD : -kD;
          const Mat2 r{std::cos(a), -std::sin(a), std::sin(a), std::cos(a)};
          unchanged = (r * c0) * transpose(r);
        }
        EXPECT_FALSE(fqtest::close(unchanged, (j * c0) * transpose(j), kCov));
      }
    }
  }
}

// Crossing twice: deformed forward across the bisector onto segment 1's
// hanging wall, then restored back across it, by more slip than it came.
// The rigid path there and back is a translation, so the two crossings'
// Jacobians must undo each other: carried in one direction only, the
// covariance would come back sheared.
TEST(BendKernel, CovarianceThroughTwoCrossingsComesBackUnsheared) {
  const double tb = std::tan((pi - kD) / 2);
  const Vec2 behind{-18, 2 * tb + 3};
  for (const double P : {0.5, 2.0}) {
    const double T1 = 6, T2 = 9;
    const TrishearBend forward = bend(0.1, T1, P, {-20, 0});
    const TrishearBend back = bend(-0.1, -T2, P, {-20 - T1 * P, 0});
    ASSERT_EQ(back.npieces(), 1);
    const auto f = [&](Vec2 q) { return moved(back, moved(forward, q)); };
    const Mat2 j = central_jacobian(f, behind);
    const Mat2 c0{2, 0.3, 0.3, 0.5};
    Mat2 cv = c0;
    const Vec2 mid = moved(forward, behind, &cv);
    EXPECT_FALSE(fqtest::close(cv, c0, Tol::abs(1e-3, "length^2", "sheared by the first crossing")));
    moved(back, mid, &cv);
    EXPECT_CLOSE(cv, (j * c0) * transpose(j), Tol::abs(1e-7, "length^2", "central differences, step 1e-6"));
    EXPECT_CLOSE(cv, c0, Tol::abs(1e-12, "length^2", "two crossings that undo each other"));
  }
}

// ---------------------------------------------------------------------------
// Dip uncertainty: every factor is |d theta' / d theta| of its dip map.

double central_difference(double (*f)(double, double), double theta, double d) {
  const double h = 1e-6;
  return (f(theta + h, d) - f(theta - h, d)) / (2 * h);
}
double into_other(double theta, double d) { return bend_kink_into_other(theta, d).theta; }
double onto_tip(double theta, double d) { return bend_kink_onto_tip_segment(theta, d).theta; }

TEST(BendKernel, KinkFactorsAreTheDerivativesOfTheirDipMaps) {
  const auto kDerivative = Tol::abs(1e-7, "", "central difference, step 1e-6");
  double worst_written = 0;
  for (const double d_deg : {5.0, 20.0, 30.0, 50.0}) {
    const double d = rad(d_deg);
    for (double theta = -1.4; theta <= 1.4; theta += 0.1) {
      SCOPED_TRACE(testing::Message() << "d " << d_deg << " theta " << theta);
      // Both crossings: restoring into the other segment's hanging wall,
      // deforming back onto the tip's segment.
      EXPECT_CLOSE(bend_kink_into_other(theta, d).factor, std::abs(central_difference(into_other, theta, d)),
                   kDerivative);
      EXPECT_CLOSE(bend_kink_onto_tip_segment(theta, d).factor,
                   std::abs(central_difference(onto_tip, theta, d)), kDerivative);
      // The two crossings undo each other (a dip is a direction modulo pi).
      EXPECT_CLOSE(std::remainder(onto_tip(into_other(theta, d), d) - theta, pi), 0.0,
                   Tol::abs(1e-6, "radian", "the kink formulas hold the run's single-precision pi"));
      // The factor 1 + G(u) of the deforming crossing, as first written,
      // is not its derivative: the check above would catch it.
      const double u = theta - d;
      worst_written = std::max(worst_written, std::abs(std::abs(1 + bend_kink_g(u, d)) -
                                                       std::abs(central_difference(onto_tip, theta, d))));
    }
  }
  EXPECT_GT(worst_written, 0.5);
}

// Through the whole kernel, the dip uncertainty is scaled by the derivative
// of the final dip with respect to the first (positions do not depend on
// the dip): a restoration across the bisector, and a deformation that
// brings a point over segment 2 across the bisector and on into the zone.
TEST(BendKernel, KernelDipFactorsAgreeWithFiniteDifferences) {
  struct Case {
    const char* name;
    TrishearBend k;
    Vec2 p;
  };
  const std::vector<Case> cases{
      {"restoring across the bisector", bend(-0.1, -15, 1, {-20, 0}), {-10, 5}},
      {"deforming across the bisector into the zone", bend(0.1, 30, 0.5, {-20, 0}, std::tan(rad(30))), {-25, 8}},
      {"restoring from the zone", bend(-0.1, -6, 2, {-3, 0}), {4, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto final_dip = [&](double theta0, double* sigma) {
      Vec2 pos = c.p;
      double theta = theta0, sig = 1;
      EXPECT_TRUE(trishear_bend_dip(c.k, pos, theta, sig));
      if (sigma != nullptr) *sigma = sig;
      return theta;
    };
    for (const double theta0 : {-0.6, -0.1, 0.25, 0.7}) {
      double sigma = 0;
      final_dip(theta0, &sigma);
      const double h = 1e-6;
      const double fd = (final_dip(theta0 + h, nullptr) - final_dip(theta0 - h, nullptr)) / (2 * h);
      EXPECT_CLOSE(sigma, std::abs(fd), Tol::rel(1e-6, "", "central difference, step 1e-6")) << theta0;
    }
  }
  // The deforming case does cross the bisector and enter the zone.
  Vec2 p{-25, 8};
  double theta = 0.25, sigma = 1;
  ASSERT_TRUE(trishear_bend_dip(cases[1].k, p, theta, sigma));
  EXPECT_NE(sigma, 1.0);
}

// ---------------------------------------------------------------------------
// Progress and limits.

TEST(BendKernel, APointThatStopsMakingProgressIsReportedNotLoopedOn) {
  TrishearBend k = bend(-0.1, -6, 2, {-3, 0});
  Vec2 p{4, 1};
  ASSERT_TRUE(trishear_bend_point(k, p, nullptr));  // about 60 zone steps
  k.limit_passes(10);
  std::vector<Vec2> pts{{4, 1}, {-40, -40}};
  std::vector<Mat2> cov(2, Mat2{1, 0, 0, 1});
  EXPECT_FALSE(trishear_func_bend(k, pts, cov));
  EXPECT_TRUE(std::isnan(pts[0].x) && std::isnan(cov[0].a));
  EXPECT_FALSE(std::isnan(pts[1].x));  // a footwall point needs one pass per piece
  // An increment too small to step the slip is refused whole.
  Vec2 q{4, 1};
  EXPECT_FALSE(trishear_bend_point(bend(-1e-9, -6, 2, {-3, 0}), q, nullptr));
  EXPECT_TRUE(std::isnan(q.x));
}

}  // namespace
}  // namespace fq
