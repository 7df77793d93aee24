// Kernels of trishear over a ramp from a horizontal detachment: the rigid
// domains, crossings of the axial surface (positions, covariances, dips and
// their uncertainties against derivatives of the maps), round trips, a ramp
// parallel to the detachment, and progress of every point.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/math/geometry.hpp"
#include "foldquest/models/trishear_decol.hpp"
#include "tests/support/expect_close.hpp"

namespace fq {
namespace {

using fqtest::Tol;

const double kPi = std::acos(-1.0);
// The run's pi (pi rounded to single precision), which the kinematics uses
// for the axial surface and the refolding: 8.7e-8 above pi.
constexpr double kRunPi = 3.1415927410125732;
double rad(double deg) { return deg * kPi / 180; }

// Rigid moves of values up to 100: a few roundings.
constexpr Tol kRigid = Tol::abs(1e-12, "length", "a few roundings of values up to 100");

bool finite(Vec2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }
bool finite(const Mat2& c) {
  return std::isfinite(c.a) && std::isfinite(c.b) && std::isfinite(c.c) && std::isfinite(c.d);
}

// A 30 degree ramp whose bend lies `bend` behind the tip, phi = 25 degrees.
struct Ramp {
  double delta = rad(30), m = std::tan(rad(25)), povers = 1, s = 1, bend = -30;
  TrishearDecol kernel(double total, double inc) const {
    return TrishearDecol(inc, m, total, inc, povers, s, bend, delta);
  }
  double t() const { return std::tan((kRunPi - delta) / 2); }
};

Vec2 moved(const TrishearDecol& k, Vec2 p, Mat2* cov = nullptr) {
  EXPECT_EQ(trishear_decol_point(k, p, cov), DecolStatus::ok);
  return p;
}

// ---------------------------------------------------------------------------
// Rigid domains.

TEST(DecolKernel, ZeroSlipChangesNothing) {
  const Ramp su;
  const TrishearDecol k = su.kernel(0.0, -0.1);
  std::vector<Vec2> pts{{-10, 5}, {-40, 10}, {5, 0.5}, {5, -10}, {0, 0}, {-35, -1}};
  std::vector<Mat2> cov(pts.size(), Mat2{2, 0.5, 0.5, 3});
  const auto pts0 = pts;
  ASSERT_EQ(trishear_func_decol(k, pts, cov), DecolStatus::ok);
  std::vector<Vec2> pos = pts0;
  std::vector<double> dips(pts.size(), 0.3), sig(pts.size(), 0.05);
  ASSERT_EQ(trishear_func_dip_decol(k, pos, dips, sig), DecolStatus::ok);
  for (std::size_t i = 0; i < pts.size(); ++i) {
    EXPECT_CLOSE(pts[i], pts0[i], Tol::exact());
    EXPECT_CLOSE(pos[i], pts0[i], Tol::exact());
    EXPECT_CLOSE(cov[i], (Mat2{2, 0.5, 0.5, 3}), Tol::exact());
    EXPECT_EQ(dips[i], 0.3);
    EXPECT_EQ(sig[i], 0.05);
  }
}

// Away from the axial surface and the zone each domain moves rigidly, in
// either sense of slip: the ramp's hanging wall by the slip along the ramp,
// the flat's parallel to the detachment, the footwall not at all (slip
// forwards; backwards the footwall ahead of the tip can meet the zone).
// Covariances and dips do not change.
TEST(DecolKernel, RigidDomainsMoveWithTheirSegment) {
  Ramp su;
  for (double povers : {0.0, 0.5, 1.0, 2.0}) {
    su.povers = povers;
    for (double total : {-6.0, -1.5, 2.5, 6.0}) {
      SCOPED_TRACE(testing::Message() << "povers " << povers << " total " << total);
      const double inc = total < 0 ? -0.25 : 0.25;
      const TrishearDecol k = su.kernel(total, inc);
      // Ramp hanging wall: behind the tip, 20 from the axial surface.
      Mat2 c{2, 0.5, 0.5, 1};
      EXPECT_CLOSE(moved(k, {-5, 8}, &c), (Vec2{-5 + total, 8}), kRigid);
      EXPECT_CLOSE(c, (Mat2{2, 0.5, 0.5, 1}), Tol::exact());
      // Flat hanging wall: behind the axial surface, above the detachment.
      const Vec2 flat{-45, 12};
      EXPECT_CLOSE(moved(k, flat, &c), (Vec2{flat.x + total * std::cos(su.delta), flat.y - total * std::sin(su.delta)}),
                   kRigid);
      EXPECT_CLOSE(c, (Mat2{2, 0.5, 0.5, 1}), Tol::exact());
      Vec2 pos = flat;
      double dip = 0.7, sigma = 0.1;
      ASSERT_EQ(trishear_decol_dip(k, pos, dip, sigma), DecolStatus::ok);
      EXPECT_EQ(dip, 0.7);
      EXPECT_EQ(sigma, 0.1);
      if (total > 0) {
        // Footwall: below the detachment behind the bend (even above the
        // ramp's line), below the ramp, ahead of the tip below the zone.
        for (Vec2 p : {Vec2{-50, 2}, Vec2{-50, -5}, Vec2{-10, -3}, Vec2{20, -30}}) {
          EXPECT_CLOSE(moved(k, p, &c), p, kRigid);
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The axial surface.

// The refolding formulas add and subtract the run's pi: a dip comes out
// within (run pi - pi) of the kink's, after one refolding each way within
// twice that.
// (The second refolding multiplies the first one's offset by its
// derivative, up to about 3.)
constexpr Tol kRefold = Tol::abs(1e-6, "rad", "the run's pi is 8.7e-8 above pi");

// Slip backwards carries a ramp hanging-wall point down the ramp to the
// axial surface after S_bis = zeta_b + eta/t - zeta; it crosses once and
// then moves parallel to the detachment for the rest of the slip.  Its dip
// is refolded once, and a bed parallel to the ramp (dip 0) comes out
// parallel to the detachment (dip delta).
TEST(DecolKernel, RestoredRampPointCrossesOnceThenFollowsTheDetachment) {
  const Ramp su;  // P = 1: the zone never catches a hanging-wall point
  const Vec2 p0{-10, 3};
  const double s_bis = su.bend + p0.y / su.t() - p0.x;  // about -19.2
  const double cd = std::cos(su.delta), sd = std::sin(su.delta);
  for (double total : {-5.0, -19.0, -19.5, -25.0, -29.0}) {
    SCOPED_TRACE(total);
    const TrishearDecol k = su.kernel(total, -0.1);
    Vec2 expected{p0.x + total, p0.y};
    if (total < s_bis) {
      const double after = total - s_bis;  // slip along the flat
      expected = {p0.x + s_bis + after * cd, p0.y - after * sd};
      // Still on the line of the detachment's direction through the crossing.
      const Vec2 cross{p0.x + s_bis, p0.y};
      EXPECT_CLOSE(std::atan2(expected.y - cross.y, cross.x - expected.x), su.delta, Tol::abs(1e-12, "rad", "rounding"));
    }
    EXPECT_CLOSE(moved(k, p0), expected, kRigid);
    for (double th0 : {0.0, 0.3, -0.4}) {
      Vec2 pos = p0;
      double th = th0, sigma = 0.1;
      ASSERT_EQ(trishear_decol_dip(k, pos, th, sigma), DecolStatus::ok);
      const RefoldedDip r = total < s_bis ? refold_ramp_to_flat(th0, su.delta) : RefoldedDip{th0, 1};
      EXPECT_EQ(th, r.theta);
      EXPECT_EQ(sigma, 0.1 * r.factor);
    }
  }
  Vec2 pos = p0;
  double th = 0, sigma = 0.1;
  ASSERT_EQ(trishear_decol_dip(su.kernel(-25, -0.1), pos, th, sigma), DecolStatus::ok);
  EXPECT_CLOSE(th, su.delta, kRefold);
}

// Slip forwards carries a flat point to the axial surface; it is placed on
// it and then moves along the ramp.  A bed parallel to the detachment
// (dip delta) comes out parallel to the ramp (dip 0).
TEST(DecolKernel, FlatPointCrossesOntoTheRampWhenSlipRunsForwards) {
  Ramp su;
  su.povers = 0.5;
  const Vec2 p0{-45, 12};
  const double cd = std::cos(su.delta), sd = std::sin(su.delta), t = su.t();
  // Slip to the axial surface, relative to the fixed bend.
  const double s_cross = (p0.y - (p0.x - su.bend) * t) / (t * cd + sd);
  ASSERT_GT(s_cross, 1);
  const double total = s_cross + 4;
  const Vec2 on_axial{p0.x + s_cross * cd, p0.y - s_cross * sd};
  EXPECT_CLOSE(on_axial.y, (on_axial.x - su.bend) * t, Tol::abs(1e-12, "length", "rounding"));
  EXPECT_CLOSE(moved(su.kernel(total, 0.1), p0), (Vec2{on_axial.x + 4, on_axial.y}), kRigid);
  Vec2 pos = p0;
  double th = su.delta, sigma = 0.1;
  ASSERT_EQ(trishear_decol_dip(su.kernel(total, 0.1), pos, th, sigma), DecolStatus::ok);
  EXPECT_CLOSE(th, 0.0, kRefold);
}

// A point exactly on the axial surface (to rounding: its side is then
// either).  Slip backwards it takes the whole slip along the flat; slip
// forwards, along the ramp.
TEST(DecolKernel, PointExactlyOnTheAxialSurface) {
  const Ramp su;
  const double cd = std::cos(su.delta), sd = std::sin(su.delta);
  for (double eta : {0.5, 3.0, 7.0}) {
    const Vec2 p0{su.bend + eta / su.t(), eta};
    SCOPED_TRACE(eta);
    EXPECT_CLOSE(moved(su.kernel(-6, -0.1), p0), (Vec2{p0.x - 6 * cd, p0.y + 6 * sd}), kRigid);
    EXPECT_CLOSE(moved(su.kernel(6, 0.1), p0), (Vec2{p0.x + 6, p0.y}), kRigid);
  }
}

// ---------------------------------------------------------------------------
// Dip refolding and its uncertainty factor.

// Each factor must be |d theta' / d theta| of its own map.  The flat-to-ramp
// factor as first written, |1 + G(psi)|, is |2 - d theta'/d theta| instead:
// it is checked here to fail, so the test can tell the two apart.
double g_of(double u, double d) {
  return 4 * std::sin(u) * (std::sin(u + d) - std::sin(u)) /
         (2 * std::cos(2 * u) - 3 + std::cos(d) - 2 * std::cos(2 * u + d));
}

TEST(DecolKernel, RefoldingFactorsAreTheDerivativesOfTheDipMaps) {
  // Central differences with eps 1e-6 of maps of order 1: error ~1e-10.
  constexpr Tol kDeriv = Tol::abs(1e-7, "", "central differences, eps 1e-6");
  const double eps = 1e-6;
  int literal_wrong = 0;
  for (double deg : {5.0, 20.0, 30.0, 45.0, 60.0, 85.0}) {
    const double delta = rad(deg);
    for (double th = -1.4; th <= 1.4; th += 0.2) {
      SCOPED_TRACE(testing::Message() << "delta " << deg << " theta " << th);
      for (auto map : {refold_flat_to_ramp, refold_ramp_to_flat}) {
        // Differences of theta mod pi (the map may wrap by pi between the
        // two evaluations).
        const double deriv = std::remainder(map(th + eps, delta).theta - map(th - eps, delta).theta, kPi) / (2 * eps);
        EXPECT_CLOSE(map(th, delta).factor, std::abs(deriv), kDeriv);
      }
      const double psi = th - delta;
      const double deriv = std::remainder(refold_flat_to_ramp(th + eps, delta).theta -
                                              refold_flat_to_ramp(th - eps, delta).theta, kPi) / (2 * eps);
      literal_wrong += !fqtest::close(std::abs(1 + g_of(psi, delta)), std::abs(deriv), kDeriv);
    }
  }
  EXPECT_GT(literal_wrong, 50);
}

// The two refoldings undo each other (mod pi), and each is the kink of a
// material line: material on the axial surface stays, and the direction of
// one side's motion becomes the other's.
TEST(DecolKernel, RefoldingsAreInverseKinks) {
  for (double deg : {10.0, 30.0, 60.0, 90.0}) {
    const double delta = rad(deg), beta = delta / 2;
    const Vec2 axial{std::sin(beta), std::cos(beta)};   // along the axial surface
    const Vec2 ramp{1, 0}, flat{std::cos(delta), -std::sin(delta)};
    // Direction t = alpha axial + gamma from  ->  alpha axial + gamma to.
    const auto kink = [&](double th, Vec2 from, Vec2 to) {
      const Vec2 dir{std::cos(th), -std::sin(th)};
      const double det = axial.x * from.y - axial.y * from.x;
      const double alpha = (dir.x * from.y - dir.y * from.x) / det;
      const double gamma = (axial.x * dir.y - axial.y * dir.x) / det;
      return std::atan2(-(alpha * axial.y + gamma * to.y), alpha * axial.x + gamma * to.x);
    };
    for (double th = -1.5; th <= 1.5; th += 0.25) {
      SCOPED_TRACE(testing::Message() << deg << " " << th);
      EXPECT_CLOSE(std::remainder(refold_flat_to_ramp(th, delta).theta - kink(th, flat, ramp), kPi), 0.0, kRefold);
      EXPECT_CLOSE(std::remainder(refold_ramp_to_flat(th, delta).theta - kink(th, ramp, flat), kPi), 0.0, kRefold);
      EXPECT_CLOSE(std::remainder(refold_ramp_to_flat(refold_flat_to_ramp(th, delta).theta, delta).theta - th, kPi), 0.0,
                   kRefold);
    }
  }
}

// Through the whole kernel, positions do not depend on the dip, so the
// final sigma / initial sigma must be |d theta_out / d theta_in|: through
// a crossing alone, and through a crossing and the zone.  Both senses of
// slip (slip forwards restores a normal fault).
TEST(DecolKernel, DipUncertaintyIsTheDerivativeOfTheDipThroughTheKernel) {
  constexpr Tol kFactor = Tol::rel(1e-6, "relative", "central differences through up to 60 steps");
  Ramp su;
  for (double povers : {0.5, 2.0}) {
    su.povers = povers;
    struct Case {
      Vec2 p;
      double total;
    };
    // Backwards: ramp to flat, and near the tip (with P = 2 the zone
    // catches the point first).  Forwards: flat to ramp, and then (P = 0.5)
    // into the zone.
    for (const Case& c : {Case{{-25, 3}, -8}, Case{{-2, 4}, -14}, Case{{-45, 12}, 22}, Case{{-36, 14}, 30}}) {
      for (double th0 : {-0.8, 0.0, 0.35, 1.1}) {
        SCOPED_TRACE(testing::Message() << "P " << povers << " from " << c.p.x << "," << c.p.y << " dip " << th0);
        const double inc = c.total < 0 ? -0.5 : 0.5;
        const TrishearDecol k = su.kernel(c.total, inc);
        const auto out = [&](double th) {
          Vec2 q = c.p;
          double sg = 1;
          EXPECT_EQ(trishear_decol_dip(k, q, th, sg), DecolStatus::ok);
          return std::pair{th, sg};
        };
        const double eps = 1e-6;
        const double deriv = std::remainder(out(th0 + eps).first - out(th0 - eps).first, kPi) / (2 * eps);
        EXPECT_CLOSE(out(th0).second, std::abs(deriv), kFactor);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Covariances.

// The covariance must be J C J^T with J the derivative of the whole map.
// Where a point crosses the axial surface its velocity jumps, and the
// crossing shears its neighbourhood: a covariance left unchanged there (as
// for a rigid move) fails the check.  (No case enters the zone from a rigid
// domain: the zone's whole increments make the stepped map a sawtooth in
// the entry point, whose slope is not the one to propagate.)
TEST(DecolKernel, CovarianceFollowsTheDerivativeOfTheWholeMap) {
  constexpr Tol kCov = Tol::abs(1e-7, "length^2", "central differences through up to 60 steps");
  Ramp su;
  struct Case {
    Vec2 p;
    double total;
    bool crosses_only;  // no zone step: a rigid move but for the crossing
  };
  for (double povers : {0.5, 2.0}) {
    su.povers = povers;
    for (const Case& c : {Case{{-25, 3}, -8, true}, Case{{-45, 12}, 22, true}, Case{{8, 1}, -6, false},
                          Case{{6, 0.5}, 3, false}}) {
      SCOPED_TRACE(testing::Message() << "P " << povers << " from " << c.p.x << "," << c.p.y);
      const double inc = c.total < 0 ? -0.5 : 0.5;
      const TrishearDecol k = su.kernel(c.total, inc);
      const double eps = 1e-6;
      const auto f = [&](Vec2 q) { return moved(k, q); };
      const Vec2 fxp = f({c.p.x + eps, c.p.y}), fxm = f({c.p.x - eps, c.p.y});
      const Vec2 fyp = f({c.p.x, c.p.y + eps}), fym = f({c.p.x, c.p.y - eps});
      const Mat2 j{(fxp.x - fxm.x) / (2 * eps), (fyp.x - fym.x) / (2 * eps), (fxp.y - fxm.y) / (2 * eps),
                   (fyp.y - fym.y) / (2 * eps)};
      const Mat2 c0{2, 0.3, 0.3, 0.5};
      Mat2 cv = c0;
      moved(k, c.p, &cv);
      EXPECT_CLOSE(cv, (j * c0) * transpose(j), kCov);
      if (c.crosses_only) {
        EXPECT_FALSE(fqtest::close(c0, (j * c0) * transpose(j), kCov));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Round trip: horizontal beds deformed forward from the initial tip and
// restored from the final tip with the same parameters come back where they
// started.  The kink at the axial surface is exact; the zone's explicit
// first-order steps make the round trip wrong by O(h).  Measured 1.6 h to
// 3.0 h (P = 3); allowed 4 h, and a fourfold smaller h must at least halve
// it.
double round_trip_error(double h, double povers, double s, double bend_behind_initial_tip) {
  const double slip = 10, m = std::tan(rad(30)), delta = rad(35);
  const TipFrame initial(0, 0, delta, 1);
  std::vector<Vec2> start;
  // Odd heights: no bed lies on the detachment itself (y = 0 when it is at
  // the initial tip), the fault, whose points belong to both sides.
  for (double y = -7; y <= 7; y += 2)
    for (double x = -40; x <= 40; x += 0.5) start.push_back(initial.to_ze({x, y}));
  auto pts = start;
  const double bend_init = -bend_behind_initial_tip;
  EXPECT_EQ(trishear_func_decol(pts, h, m, slip, h, povers, s, bend_init, delta, {}), DecolStatus::ok);
  for (Vec2& p : pts) p.x -= povers * slip;  // into the frame of the final tip
  const double bend_final = bend_init - povers * slip;
  EXPECT_EQ(trishear_func_decol(pts, -h, m, -slip, -h, povers, s, bend_final, delta, {}), DecolStatus::ok);
  double worst = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const Vec2 back{pts[i].x + povers * slip, pts[i].y};
    worst = std::max(worst, std::hypot(back.x - start[i].x, back.y - start[i].y));
  }
  return worst;
}

TEST(DecolKernel, DeformThenRestoreReturnsTheBeds) {
  for (double bend : {0.0, 12.0}) {  // the detachment at the initial tip, or below it
    for (double povers : {0.5, 2.0, 3.0}) {
      for (double s : {1.0, 3.0}) {
        SCOPED_TRACE(testing::Message() << "bend " << bend << " povers " << povers << " s " << s);
        const double e1 = round_trip_error(0.2, povers, s, bend);
        const double e2 = round_trip_error(0.05, povers, s, bend);
        EXPECT_LT(e1, 4 * 0.2);
        EXPECT_LT(e2, 4 * 0.05);
        EXPECT_LT(e2, e1 / 2);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// A ramp parallel to the detachment: the axial surface is perpendicular to
// both.  With the run's pi, tan((pi - 0)/2) is about -2.3e7, and with that
// tangent every hanging-wall point would count as flat and skip the zone;
// a little steeper, the tangent passes its pole.  The kernel takes the
// infinite tangent for ramps within about 1e-7 rad of flat, and the results
// over angles on both sides of the pole join those of a ramp 1e-6 rad
// steep.
TEST(DecolKernel, RampParallelToTheDetachmentJoinsTheSteeperRamps) {
  ASSERT_LT(std::tan(kRunPi / 2), 0);
  for (double inc : {0.1, -0.1}) {
    const double total = 60 * inc;
    const TrishearDecol near(inc, 0.4, total, inc, 0.5, 1.5, -20, 1e-6);
    EXPECT_EQ(TrishearDecol(inc, 0.4, total, inc, 0.5, 1.5, -20, 0.0).tan_bisect(),
              std::numeric_limits<double>::infinity());
    // (8.742278012618954e-8: the tangent is 1.6e16, the pole.)
    for (double delta : {0.0, 5e-8, 8.742278012618954e-8, 8.75e-8, 1e-7, 3e-7}) {
      const TrishearDecol flat(inc, 0.4, total, inc, 0.5, 1.5, -20, delta);
      for (Vec2 p : {Vec2{3, 1.5}, Vec2{1, 0.2}, Vec2{-10, 2}, Vec2{-25, 3}, Vec2{10, -1}, Vec2{6, 3}}) {
        SCOPED_TRACE(testing::Message() << inc << " delta " << delta << " from " << p.x << "," << p.y);
        Mat2 c1{1, 0, 0, 1}, c2{1, 0, 0, 1};
        // A ramp 1e-6 rad steeper moves points by about 1e-6 of their travel.
        const Tol kNear = Tol::abs(1e-4, "length", "1e-6 rad of ramp over 6 units of slip");
        EXPECT_CLOSE(moved(flat, p, &c1), moved(near, p, &c2), kNear);
        EXPECT_CLOSE(c1, c2, Tol::abs(1e-4, "length^2", "1e-6 rad of ramp"));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Progress: no NaN from finite input, no endless loop.

// The per-point rules exactly as first written out (no turning of steps, no
// rigid-side rule, no caps but the one here).  Used only to show that the
// sweep below reaches inputs where they never finish.
bool literal_finishes(Vec2 p, double inc, double m, double total, double P, double s, double zb0, double delta) {
  const double tb = std::tan(0.5 * std::max(delta, kRunPi - delta)), td = std::tan(delta);
  const double sd = std::sin(delta), cd = std::cos(delta);
  const int sign = inc >= 0 ? 1 : -1;
  double x = p.x, y = p.y, slip = 0;
  int loc = 0;
  for (int pass = 0; pass < 20000; ++pass) {
    if (!(std::abs(slip) < std::abs(total))) return std::isfinite(x) && std::isfinite(y);
    const double r = total - slip, xd = zb0 - slip * P;
    if (loc == 0) {
      loc = -1;
      if (y > 0 && y >= m * x) {
        if (y <= (x - xd) * tb) loc = 1;
        else if (!(y < (xd - x) * td)) loc = 2;
      }
      if (loc == -1) loc = (x >= xd && y > -m * x) ? 3 : 4;
    }
    double step = 0;
    if (loc == 1) {
      if (sign == 1) {
        if ((r * (1 - P) + x) * m < y) step = r;
        else { step = (y / m - x) / (1 - P); loc = 3; }
      } else {
        const double stri = (y / m - x) / (1 - P), sbis = xd + y / tb - x;
        if (stri > sbis && stri > r && P > 1) { step = stri; loc = 3; }
        else if (sbis <= r) step = r;
        else { step = sbis; loc = 2; }
      }
      x += step - step * P;
    } else if (loc == 2) {
      if (y - r * sd > (x + r * cd - xd) * tb) {
        step = r; y -= r * sd; x += r * cd - r * P;
      } else {
        step = sign * (y - (x - xd) * tb) / (tb * cd + sd);
        x += step * cd - step * P;
        y = (x - (xd - step * P)) * tb;
        loc = 1;
      }
    } else if (loc == 4) {
      const double x1 = x - r * P;
      if (sign == 1 || x1 <= 0 || y <= -x1 * m) { step = r; x = x1; }
      else { step = (y / m + x) / P; x -= step * P; loc = 3; }
    } else {
      step = inc;
      const double rr = std::abs(y) / (x * m), sg = y >= 0 ? 1 : -1;
      x += inc / 2 * (sg * std::pow(rr, 1 / s) + 1) - P * inc;
      y += inc / 2 * (m / (s + 1)) * (std::pow(rr, (s + 1) / s) - 1);
      loc = 0;
    }
    slip += step;
  }
  return false;
}

// A grid through the tip, the bend, the axial surface, the detachment and
// the zone's boundaries, restored far enough for the tip to retreat past the
// bend (which no model run asks for, but the kernel must still finish), and
// deformed forwards: every point, covariance, dip and uncertainty comes
// back finite.
TEST(DecolKernel, EveryPointFinishesFiniteEvenPastTheBend) {
  std::vector<Vec2> grid;
  for (double z = -40; z <= 20; z += 0.5)
    for (double e = -10; e <= 15; e += 0.5) grid.push_back({z, e});
  int literal_stuck = 0;
  for (double povers : {0.0, 0.5, 1.0, 2.0}) {
    for (double s : {0.5, 1.0, 3.0}) {
      for (double inc : {0.25, -0.25}) {
        SCOPED_TRACE(testing::Message() << "povers " << povers << " s " << s << " inc " << inc);
        const double total = 50 * inc;
        const double m = 0.5, bend = -12, delta = rad(30);
        std::vector<Vec2> pts = grid, pos = grid;
        std::vector<Mat2> cov(grid.size(), Mat2{1, 0, 0, 1});
        std::vector<double> dips(grid.size(), 0.3), sig(grid.size(), 0.05);
        ASSERT_EQ(trishear_func_decol(pts, inc, m, total, inc, povers, s, bend, delta, cov), DecolStatus::ok);
        ASSERT_EQ(trishear_func_dip_decol(pos, dips, inc, m, total, inc, povers, s, bend, delta, sig), DecolStatus::ok);
        for (std::size_t i = 0; i < grid.size(); ++i) {
          ASSERT_TRUE(finite(pts[i]) && finite(cov[i]) && finite(pos[i]) && std::isfinite(dips[i]) &&
                      std::isfinite(sig[i]))
              << "from " << grid[i].x << "," << grid[i].y;
          literal_stuck += !literal_finishes(grid[i], inc, m, total, povers, s, bend, delta);
        }
      }
    }
  }
  EXPECT_GT(literal_stuck, 0);
}

}  // namespace
}  // namespace fq
