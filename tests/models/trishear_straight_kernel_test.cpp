// Straight-ramp trishear kernels: worked examples, the rigid domains, the
// zone's bookkeeping, Jacobians against finite differences, dip kernels
// against moving segments, round trips, and finiteness at the boundaries.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/math/geometry.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/models/trishear_straight.hpp"
#include "tests/support/expect_close.hpp"

namespace fq {
namespace {

using fqtest::Tol;

// Rigid moves of integer-valued points by slips that are sums of powers of
// two: every operation is exact.
constexpr Tol kRigid = Tol::exact();
// The same moves with general values: a few roundings of values up to 100.
constexpr Tol kRigidRounded = Tol::abs(1e-12, "length", "a few roundings of values up to 100");

Vec2 moved(Vec2 p, double v0, double m, double total, double inc, double povers, double s,
           Mat2* cov = nullptr) {
  EXPECT_TRUE(trishear_point(TrishearStr(v0, m, total, inc, povers, s), p, cov));
  return p;
}

bool finite(Vec2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }
bool finite(const Mat2& c) {
  return std::isfinite(c.a) && std::isfinite(c.b) && std::isfinite(c.c) && std::isfinite(c.d);
}

// ---------------------------------------------------------------------------
// Rigid domains and worked examples.

TEST(TrishearKernel, ZeroSlipChangesNothing) {
  std::vector<Vec2> pts{{-10, 5}, {5, 0.5}, {5, -10}, {0, 0}};
  std::vector<Mat2> cov(pts.size(), Mat2{2, 0.5, 0.5, 3});
  const auto pts0 = pts;
  ASSERT_TRUE(trishear_func(pts, -0.1, 0.5, 0.0, -0.1, 2, 1.5, cov));
  std::vector<double> dips{0.3, -0.2, 1.0, 0.0}, sig(4, 0.05);
  std::vector<Vec2> pos = pts0;
  ASSERT_TRUE(trishear_func_dip(pos, dips, -0.1, 0.5, 0.0, -0.1, 2, 1.5, sig));
  for (std::size_t i = 0; i < pts.size(); ++i) {
    EXPECT_CLOSE(pts[i], pts0[i], Tol::exact());
    EXPECT_CLOSE(pos[i], pts0[i], Tol::exact());
    EXPECT_CLOSE(cov[i], (Mat2{2, 0.5, 0.5, 3}), Tol::exact());
    EXPECT_EQ(sig[i], 0.05);
  }
  EXPECT_EQ(dips, (std::vector<double>{0.3, -0.2, 1.0, 0.0}));
}

// A hanging-wall point that never meets the zone is translated by exactly
// the slip along the ramp, whatever P/S, in either sense; its covariance and
// a dip there do not change.
TEST(TrishearKernel, HangingWallTranslatesByTheSlip) {
  EXPECT_CLOSE(moved({-10, 5}, -0.1, 1, -3, -0.1, 2, 1), (Vec2{-13, 5}), kRigid);
  for (double povers : {0.0, 0.5, 1.0, 2.0, 4.0}) {
    for (double total : {-6.0, -0.5, 3.0, 7.25}) {
      SCOPED_TRACE(testing::Message() << "povers " << povers << " total " << total);
      const double inc = total < 0 ? -0.25 : 0.25;
      Mat2 c{2, 0.5, 0.5, 1};
      EXPECT_CLOSE(moved({-40, 30}, inc, 0.5, total, inc, povers, 1.5, &c), (Vec2{-40 + total, 30}),
                   kRigidRounded);
      EXPECT_CLOSE(c, (Mat2{2, 0.5, 0.5, 1}), Tol::exact());
      Vec2 pos{-40, 30};
      double dip = 0.7, sigma = 0.1;
      ASSERT_TRUE(trishear_dip(TrishearStr(inc, 0.5, total, inc, povers, 1.5), pos, dip, sigma));
      EXPECT_CLOSE(pos, (Vec2{-40 + total, 30}), kRigidRounded);
      EXPECT_EQ(dip, 0.7);
      EXPECT_EQ(sigma, 0.1);
    }
  }
}

// Deforming forward, the footwall never moves: behind the tip, below the
// ramp, and ahead of the tip below the zone.
TEST(TrishearKernel, FootwallStaysWhenDeforming) {
  for (Vec2 p : {Vec2{-10, -5}, Vec2{-3, 0}, Vec2{0, 0}, Vec2{20, -30}, Vec2{8, -4}}) {
    for (double total : {0.5, 5.0, 50.0}) {
      SCOPED_TRACE(testing::Message() << p.x << "," << p.y << " total " << total);
      Mat2 c{1, 0, 0, 1};
      EXPECT_CLOSE(moved(p, 0.25, 0.5, total, 0.25, 2, 1, &c), p, kRigid);
      EXPECT_CLOSE(c, (Mat2{1, 0, 0, 1}), Tol::exact());
    }
  }
}

// Restoring (the tip retreats), the footwall point (5, -10) ahead of the tip
// with m = 1 and P/S = 2 is reached by the lower zone boundary after 2.5
// units of slip, at zeta = 10 relative to the tip; it then takes zone steps.
// Increments of 1/8 keep the slip sums exact.
TEST(TrishearKernel, RestoringFootwallPointEntersTheZoneAfterTwoAndAHalf) {
  const double inc = -0.125, m = 1, P = 2, s = 1.5;
  // Up to 2.5 units of slip the point is pure footwall: back where it was.
  EXPECT_CLOSE(moved({5, -10}, inc, m, -2.5, inc, P, s), (Vec2{5, -10}), kRigid);
  // One increment more and it has taken a zone step: on the boundary the
  // field still moves it like the footwall, but its covariance is sheared.
  Mat2 c_one{1, 0, 0, 1};
  EXPECT_CLOSE(moved({5, -10}, inc, m, -2.625, inc, P, s, &c_one), (Vec2{5, -10}), kRigidRounded);
  EXPECT_NE(c_one.b, 0.0);
  // The whole slip equals: 2.5 units of footwall motion (to (10, -10)
  // relative to the retreating tip), then 7.5 units starting on the boundary.
  Mat2 c_full{1, 0.2, 0.2, 2}, c_rest{1, 0.2, 0.2, 2};
  const Vec2 full = moved({5, -10}, inc, m, -10, inc, P, s, &c_full);
  const Vec2 rest = moved({10, -10}, inc, m, -7.5, inc, P, s, &c_rest);
  // full is relative to the tip at the start (shift -20), rest to the tip
  // after 2.5 units (shift -15).
  EXPECT_CLOSE(full.x, rest.x - 5, Tol::ulps(8));
  EXPECT_EQ(full.y, rest.y);
  EXPECT_CLOSE(c_full, c_rest, Tol::exact());
  EXPECT_NE(full.y, -10.0);
}

// With increment -0.1 and slip -0.25 a zone point takes three whole steps
// (-0.3 applied), yet its position is returned relative to the tip shifted
// by the nominal -0.25 P.
TEST(TrishearKernel, ZoneStepsAreWholeIncrements) {
  const Vec2 p{5, 0.5};  // inside the zone of m = 0.5
  const double P = 2;
  Mat2 c25{1, 0, 0, 1}, c30{1, 0, 0, 1}, c20{1, 0, 0, 1};
  const Vec2 a = moved(p, -0.1, 0.5, -0.25, -0.1, P, 1.5, &c25);
  const Vec2 b = moved(p, -0.1, 0.5, -0.3, -0.1, P, 1.5, &c30);
  const Vec2 c = moved(p, -0.1, 0.5, -0.2, -0.1, P, 1.5, &c20);
  EXPECT_EQ(a.y, b.y);  // the same three steps
  EXPECT_CLOSE(c25, c30, Tol::exact());
  EXPECT_CLOSE(a.x - b.x, (-0.25 + 0.3) * P, Tol::abs(1e-14, "length", "difference of two values near 5"));
  EXPECT_NE(a.y, c.y);  // two steps only
}

// On the fault's extension (eta = 0, zeta > 0): r = 0, sgn = +1, so the
// field moves the point by v0/2 along the ramp and -(v0/2) m/(s+1) across.
TEST(TrishearKernel, FieldOnTheFaultExtension) {
  const double v0 = -0.1, m = 0.5, s = 2;
  const TrishearZone z(v0, m, v0, s);
  Mat2 j;
  const Vec2 d = z.displacement({4, 0}, &j);
  EXPECT_CLOSE(d.x, v0 / 2, Tol::ulps(1));
  EXPECT_CLOSE(d.y, -(v0 / 2) * m / (s + 1), Tol::ulps(2));
  EXPECT_EQ(j.a, 1.0);  // a = 0: p1 = 0
  EXPECT_EQ(j.c, 0.0);  // c = 0: p2 = 0
  EXPECT_TRUE(std::isfinite(j.b));  // s > 1: unbounded shear rate, held finite
  // One whole step through the kernel, with the tip's advance and the shift
  // back: zeta + (v0/2 - P inc) + inc P.
  const Vec2 one = moved({4, 0}, v0, m, v0, v0, 2, s);
  EXPECT_CLOSE(one, (Vec2{4 + v0 / 2, -(v0 / 2) * m / (s + 1)}),
               Tol::abs(1e-15, "length", "three roundings of values near 4"));
}

// Restoring, a dip exactly on the lower boundary is first moved by one
// increment of footwall motion; a point in the same place takes zone steps
// at once.  (m = 0.5, zeta = 4: eta = -2 is exactly on the boundary.)
TEST(TrishearKernel, DipOnTheLowerBoundaryFirstMovesWithTheFootwall) {
  const TrishearStr k(-0.1, 0.5, -0.1, -0.1, 2, 1);
  Vec2 pos{4, -2};
  double dip = 0.3, sigma = 0.02;
  ASSERT_TRUE(trishear_dip(k, pos, dip, sigma));
  EXPECT_CLOSE(pos, (Vec2{4, -2}), kRigidRounded);  // footwall motion only
  EXPECT_EQ(dip, 0.3);
  EXPECT_EQ(sigma, 0.02);
  // The point takes one zone step: on the boundary that moves it like the
  // footwall too, but it shears its covariance.
  Vec2 p{4, -2};
  Mat2 c{1, 0, 0, 1};
  ASSERT_TRUE(trishear_point(k, p, &c));
  EXPECT_CLOSE(p, (Vec2{4, -2}), kRigidRounded);
  EXPECT_NE(c.b, 0.0);
}

// Away from that case a dip position moves exactly as a point does.
TEST(TrishearKernel, DipPositionsMoveAsPoints) {
  for (Vec2 p0 : {Vec2{8, 0.8}, Vec2{6, -2.9}, Vec2{-3, 2}, Vec2{12, 4}}) {
    for (double inc : {0.1, -0.1}) {
      const TrishearStr k(inc, 0.6, 30 * inc, inc, 1.2, 2);
      Vec2 p = p0, q = p0;
      double dip = 0.4, sigma = 1;
      ASSERT_TRUE(trishear_point(k, p, nullptr));
      ASSERT_TRUE(trishear_dip(k, q, dip, sigma));
      EXPECT_CLOSE(q, p, Tol::exact());
    }
  }
}

// ---------------------------------------------------------------------------
// Jacobians.

// Largest difference between a Jacobian and central differences of one
// zone step's map F(p) = p + displacement(p) (v0 = increment).
double step_jacobian_error(const TrishearZone& z, Vec2 p, const Mat2& j) {
  const double eps = 1e-6;
  const auto f = [&z](Vec2 q) {
    const Vec2 d = z.displacement(q, nullptr);
    return Vec2{q.x + d.x, q.y + d.y};
  };
  const Vec2 fxp = f({p.x + eps, p.y}), fxm = f({p.x - eps, p.y});
  const Vec2 fyp = f({p.x, p.y + eps}), fym = f({p.x, p.y - eps});
  const Mat2 num{(fxp.x - fxm.x) / (2 * eps), (fyp.x - fym.x) / (2 * eps),
                 (fxp.y - fxm.y) / (2 * eps), (fyp.y - fym.y) / (2 * eps)};
  return std::max({std::abs(num.a - j.a), std::abs(num.b - j.b), std::abs(num.c - j.c),
                   std::abs(num.d - j.d)});
}

// Central differences with eps = 1e-6 on entries of order 1: truncation
// ~1e-12, cancellation ~1e-10.
constexpr double kJacTol = 1e-8;

TEST(TrishearKernel, StepJacobianMatchesFiniteDifferences) {
  for (double s : {0.5, 1.0, 2.5}) {
    for (double inc : {0.5, -0.5}) {
      const TrishearZone z(inc, 0.5, inc, s);
      for (Vec2 p : {Vec2{5, 1}, Vec2{5, -1}, Vec2{3, 1.4}, Vec2{3, -1.4}, Vec2{2, 0.05}}) {
        SCOPED_TRACE(testing::Message() << "s " << s << " inc " << inc << " at " << p.x << "," << p.y);
        Mat2 j;
        z.displacement(p, &j);
        EXPECT_LT(step_jacobian_error(z, p, j), kJacTol);
        // The check fails for Jacobians with a typical slip: transposed,
        // the sign of a lost, or b scaled.
        EXPECT_GT(step_jacobian_error(z, p, transpose(j)), 100 * kJacTol);
        EXPECT_GT(step_jacobian_error(z, p, Mat2{1 + (j.a - 1), j.b, j.c, 1 - (j.d - 1)}), 100 * kJacTol);
        EXPECT_GT(step_jacobian_error(z, p, Mat2{j.a, 2 * j.b, j.c, j.d}), 100 * kJacTol);
      }
    }
  }
}

// Through a whole call the covariance must be J C J^T with J the derivative
// of the whole map (the product of the step Jacobians in the right order).
// Points deep in the zone, so a small shift changes no domain.
TEST(TrishearKernel, CovarianceFollowsTheDerivativeOfTheWholeMap) {
  // Entries of order 1 after 10 to 20 steps; central differences eps 1e-6.
  constexpr Tol kCov = Tol::abs(1e-7, "length^2", "central differences through 20 steps");
  for (double inc : {0.1, -0.1}) {
    for (double s : {0.7, 1.5}) {
      const TrishearStr k(inc, 0.7, 20 * inc, inc, 1.5, s);
      const Vec2 p{10, 0.5};
      const double eps = 1e-6;
      const auto f = [&k](Vec2 q) {
        EXPECT_TRUE(trishear_point(k, q, nullptr));
        return q;
      };
      const Vec2 fxp = f({p.x + eps, p.y}), fxm = f({p.x - eps, p.y});
      const Vec2 fyp = f({p.x, p.y + eps}), fym = f({p.x, p.y - eps});
      const Mat2 j{(fxp.x - fxm.x) / (2 * eps), (fyp.x - fym.x) / (2 * eps),
                   (fxp.y - fxm.y) / (2 * eps), (fyp.y - fym.y) / (2 * eps)};
      const Mat2 c0{2, 0.3, 0.3, 0.5};
      Mat2 c = c0;
      Vec2 q = p;
      ASSERT_TRUE(trishear_point(k, q, &c));
      EXPECT_CLOSE(c, (j * c0) * transpose(j), kCov);
      // and not its transpose-order twin
      const Mat2 wrong = (transpose(j) * c0) * j;
      EXPECT_FALSE(fqtest::close(c, wrong, kCov));
    }
  }
}

TEST(TrishearKernel, CovarianceStaysSymmetricAndPositive) {
  seed_random(8675309);
  UniformGenerator& g = uniform_generator();
  std::vector<Vec2> pts;
  std::vector<Mat2> cov;
  for (int i = 0; i < 400; ++i) {
    pts.push_back({-20 + 50 * g.uniform(), -15 + 30 * g.uniform()});
    const double a = 0.1 + g.uniform(), d = 0.1 + g.uniform(), rho = 1.8 * g.uniform() - 0.9;
    const double b = rho * std::sqrt(a * d);
    cov.push_back({a, b, b, d});
  }
  for (double inc : {0.1, -0.1}) {
    auto p = pts;
    auto c = cov;
    ASSERT_TRUE(trishear_func(p, inc, 0.6, 15 * inc, inc, 1.8, 1.7, c));
    for (const Mat2& m : c) {
      ASSERT_TRUE(finite(m));
      const double scale = std::max(std::abs(m.a), std::abs(m.d));
      // Each step rounds its two off-diagonal products differently: the
      // asymmetry grows by about one rounding per step (150 steps).
      EXPECT_LE(std::abs(m.b - m.c), 1e-13 * scale);
      EXPECT_GT(m.a, 0);
      EXPECT_GT(m.d, 0);
      EXPECT_GE(m.a * m.d - m.b * m.c, -1e-12 * scale * scale);
    }
  }
}

// ---------------------------------------------------------------------------
// Dips.

// The uncertainty factor of each step is the derivative of the new dip with
// respect to the old one, and positions do not depend on the dip, so the
// final sigma / initial sigma is |d theta_out / d theta_in|.
TEST(TrishearKernel, DipUncertaintyIsTheDerivativeOfTheDip) {
  // Central differences of the whole dip kernel, eps 1e-6 rad.
  constexpr Tol kFactor = Tol::rel(1e-6, "relative", "central differences through 30 steps");
  for (double inc : {0.1, -0.1}) {
    for (double s : {0.6, 1.0, 2.0}) {
      const TrishearStr k(inc, 0.6, 30 * inc, inc, 1.2, s);
      for (Vec2 p : {Vec2{8, 0.8}, Vec2{6, -2.9}, Vec2{5, -4}, Vec2{9, 0}}) {
        // With s > 1 a dip starting exactly on the fault's extension takes
        // its first step where the rotation rate is singular (held finite
        // only): the dip spins by thousands of radians and differences no
        // longer resolve the derivative.
        if (p.y == 0 && s > 1) continue;
        for (double th0 : {-1.0, 0.0, 0.4}) {
          SCOPED_TRACE(testing::Message() << inc << " s " << s << " at " << p.x << "," << p.y << " dip " << th0);
          const auto out = [&](double th) {
            Vec2 q = p;
            double sg = 1;
            EXPECT_TRUE(trishear_dip(k, q, th, sg));
            return std::pair{th, sg};
          };
          const double eps = 1e-6;
          const double deriv = (out(th0 + eps).first - out(th0 - eps).first) / (2 * eps);
          EXPECT_CLOSE(out(th0).second, std::abs(deriv), kFactor);
        }
      }
    }
  }
}

// A dip turns as a short segment of material does; the dip kernel takes
// first-order steps, so the two agree to O(increment): measured 0.1 degree
// at increment 0.1 over 3 units of slip; allowed 0.2 degree, and the
// difference must shrink with the increment.
TEST(TrishearKernel, DipTurnsWithAShortSegment) {
  const auto worst = [](double h) {
    double w = 0;
    for (int sense : {1, -1}) {
      const double inc = sense * h;
      const TrishearStr k(inc, 0.6, 30 * sense * 0.1, inc, 1.2, 2);
      for (double th0 : {-1.2, -0.3, 0.0, 0.4, 1.0}) {
        for (Vec2 p0 : {Vec2{8, 0.8}, Vec2{6, -2}, Vec2{12, 4}, Vec2{5, -2.9}}) {
          const double d = 1e-5;
          Vec2 a{p0.x + d * std::cos(th0), p0.y - d * std::sin(th0)};
          Vec2 b{p0.x - d * std::cos(th0), p0.y + d * std::sin(th0)};
          EXPECT_TRUE(trishear_point(k, a, nullptr));
          EXPECT_TRUE(trishear_point(k, b, nullptr));
          const double segment = std::atan2(-(a.y - b.y), a.x - b.x);  // positive down to +zeta
          Vec2 q = p0;
          double th = th0, sg = 1;
          EXPECT_TRUE(trishear_dip(k, q, th, sg));
          w = std::max(w, std::abs(std::remainder(th - segment, std::acos(-1.0))));
        }
      }
    }
    return w * 180 / std::acos(-1.0);
  };
  const double coarse = worst(0.1), fine = worst(0.025);
  EXPECT_LT(coarse, 0.2);
  EXPECT_LT(fine, coarse / 2);
}

// ---------------------------------------------------------------------------
// Round trip: horizontal beds deformed forward with the kernel and restored
// with the same parameters come back where they started.  Both directions
// take first-order explicit steps, each wrong by O(h^2), over |slip|/h steps,
// and enter the zone at whole increments: the round trip is wrong by O(h).
// Measured about 2.5 h for slip 10 (3.4 h with s = 3, P/S = 3); allowed 4 h,
// and the error must shrink when h does.
double round_trip_error(double h, double povers, double s) {
  const double slip = 10, m = std::tan(30 * std::acos(-1.0) / 180);
  const TipFrame frame(0, 0, 40 * std::acos(-1.0) / 180, 1);
  std::vector<Vec2> start, pts;
  for (double y = -8; y <= 8; y += 2)
    for (double x = -30; x <= 40; x += 0.5) start.push_back(frame.to_ze({x, y}));
  pts = start;
  EXPECT_TRUE(trishear_func(pts, h, m, slip, h, povers, s, {}));
  for (Vec2& p : pts) p.x -= povers * slip;  // into the frame of the final tip
  EXPECT_TRUE(trishear_func(pts, -h, m, -slip, -h, povers, s, {}));
  double worst = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const Vec2 back{pts[i].x + povers * slip, pts[i].y};  // into the initial tip's frame
    worst = std::max(worst, std::hypot(back.x - start[i].x, back.y - start[i].y));
  }
  return worst;
}

TEST(TrishearKernel, DeformThenRestoreReturnsTheBeds) {
  for (double povers : {0.5, 2.0, 3.0}) {
    for (double s : {1.0, 3.0}) {
      SCOPED_TRACE(testing::Message() << "povers " << povers << " s " << s);
      const double e1 = round_trip_error(0.2, povers, s);
      const double e2 = round_trip_error(0.05, povers, s);
      EXPECT_LT(e1, 4 * 0.2);
      EXPECT_LT(e2, 4 * 0.05);
      EXPECT_LT(e2, e1 / 2);
    }
  }
}

// ---------------------------------------------------------------------------
// No NaN or infinity from finite input, and no endless loop.

// The kernel exactly as first written out, without the rigid-side rule: a
// flagged point that reaches zeta <= 0 takes a zone step there.  Used only
// to show that the sweep below does reach that case.
Vec2 literal_point(Vec2 p, double v0, double m, double total, double inc, double P, double s) {
  double zeta = p.x, eta = p.y, slip = 0;
  bool hw = false, fw = false;
  for (int guard = 0; std::abs(slip) < std::abs(total) && guard < 100000; ++guard) {
    double rem = total - slip;
    if (eta > 0 && !hw && eta >= m * zeta) {
      if (eta < (zeta + rem - P * rem) * m) rem = (eta / m - zeta) / (1 - P);
      hw = true;
      slip += rem;
      zeta += rem - P * rem;
    } else if (!fw && eta <= -(m * zeta)) {
      if (v0 >= 0) {
        zeta -= P * rem;
      } else if (eta <= -((zeta - P * rem) * m)) {
        zeta -= P * rem;
      } else {
        rem = (eta / m + zeta) / P;
        zeta -= P * rem;
      }
      fw = true;
      slip += rem;
    } else {
      slip += inc;
      const double r = std::abs(eta) / (zeta * m), sgn = eta >= 0 ? 1 : -1;
      const double vz = v0 / 2 * (sgn * std::pow(r, 1 / s) + 1) - P * inc;
      const double ve = v0 / 2 * (m / (s + 1)) * (std::pow(r, (s + 1) / s) - 1);
      zeta += vz;
      eta += ve;
    }
  }
  return {zeta + total * P, eta};
}

TEST(TrishearKernel, FiniteEverywhereIncludingBoundaries) {
  // A grid through the tip, on the fault (eta = 0) and, with m = 0.5, on
  // both zone boundaries (eta = +-zeta/2 at even zeta).
  std::vector<Vec2> grid;
  for (double z = -20; z <= 20; z += 0.5)
    for (double e = -10; e <= 10; e += 0.5) grid.push_back({z, e});
  int literal_failures = 0;
  for (double povers : {0.0, 0.3, 1.0, 2.0}) {
    for (double s : {0.5, 1.0, 3.0}) {
      for (double inc : {0.25, -0.25}) {
        SCOPED_TRACE(testing::Message() << "povers " << povers << " s " << s << " inc " << inc);
        std::vector<Vec2> pts = grid, pos = grid;
        std::vector<Mat2> cov(grid.size(), Mat2{1, 0, 0, 1});
        std::vector<double> dips(grid.size(), 0.3), sig(grid.size(), 0.05);
        ASSERT_TRUE(trishear_func(pts, inc, 0.5, 40 * inc, inc, povers, s, cov));
        ASSERT_TRUE(trishear_func_dip(pos, dips, inc, 0.5, 40 * inc, inc, povers, s, sig));
        for (std::size_t i = 0; i < grid.size(); ++i) {
          ASSERT_TRUE(finite(pts[i]) && finite(cov[i]) && finite(pos[i]) && std::isfinite(dips[i]) &&
                      std::isfinite(sig[i]))
              << "from " << grid[i].x << "," << grid[i].y;
          literal_failures += !finite(literal_point(grid[i], inc, 0.5, 40 * inc, inc, povers, s));
        }
      }
    }
  }
  // The literal form does produce NaN here (points on the fault reaching
  // the tip exactly while restoring), so the sweep covers the case.
  EXPECT_GT(literal_failures, 0);
}

// A point on the fault behind the tip, restored: the retreating tip reaches
// it exactly (zeta = 0, eta = 0, footwall flag set), where the field is
// undefined.  It moves with the footwall until it is ahead of the tip and
// then takes zone steps.
TEST(TrishearKernel, PointReachedByTheRetreatingTip) {
  const double m = 0.5, P = 2, inc = -0.125;
  EXPECT_TRUE(std::isnan(literal_point({-5, 0}, inc, m, -10, inc, P, 3).x));
  Mat2 c{1, 0, 0, 1};
  const Vec2 p = moved({-5, 0}, inc, m, -10, inc, P, 3, &c);
  EXPECT_TRUE(finite(p));
  EXPECT_TRUE(finite(c));
  EXPECT_NE(p.y, 0.0);  // it was in the zone afterwards
  // Up to the moment the tip reaches it, it is footwall and does not move.
  EXPECT_CLOSE(moved({-5, 0}, inc, m, -2.5, inc, P, 3), (Vec2{-5, 0}), kRigid);
}

// Parameters outside the data model (s <= 0, m <= 0): no trishear field;
// every point finishes, finite, moving rigidly with its side: above the
// fault it is carried by the whole slip, below it stays.
TEST(TrishearKernel, DegenerateShapeOrAngleFinishesFinite) {
  for (double m : {0.5, 0.0, -0.5}) {
    for (double s : {1.0, 0.0, -1.0}) {
      if (m > 0 && s > 0) continue;
      for (double inc : {0.25, -0.25}) {
        SCOPED_TRACE(testing::Message() << "m " << m << " s " << s << " inc " << inc);
        std::vector<Vec2> pts;
        for (double z = -10; z <= 10; z += 1)
          for (double e = -5; e <= 5; e += 1) pts.push_back({z, e});
        std::vector<Mat2> cov(pts.size(), Mat2{1, 0, 0, 1});
        std::vector<Vec2> pos = pts;
        const std::vector<Vec2> pos0 = pts;
        std::vector<double> dips(pts.size(), 0.3), sig(pts.size(), 0.05);
        ASSERT_TRUE(trishear_func(pts, inc, m, 20 * inc, inc, 1.5, s, cov));
        ASSERT_TRUE(trishear_func_dip(pos, dips, inc, m, 20 * inc, inc, 1.5, s, sig));
        for (std::size_t i = 0; i < pts.size(); ++i) {
          ASSERT_TRUE(finite(pts[i]) && finite(cov[i]) && finite(pos[i]));
          EXPECT_CLOSE(cov[i], (Mat2{1, 0, 0, 1}), Tol::exact());  // rigid motion only
          EXPECT_EQ(dips[i], 0.3);
          const Vec2 start = pos0[i];
          const Vec2 expected = start.y > 0 ? Vec2{start.x + 20 * inc, start.y} : start;
          EXPECT_CLOSE(pts[i], expected, kRigidRounded) << "from " << start.x << "," << start.y;
        }
      }
    }
  }
}

// With s > 1 the shear rate on the fault's extension is unbounded; a point
// starting there keeps a finite covariance and a dip there a finite
// uncertainty.
TEST(TrishearKernel, FaultExtensionWithSteepShapeStaysFinite) {
  for (double s : {1.5, 3.0, 10.0}) {
    Mat2 c{1, 0, 0, 1};
    const Vec2 p = moved({6, 0}, 0.1, 0.5, 2, 0.1, 1.5, s, &c);
    EXPECT_TRUE(finite(p) && finite(c)) << s;
    Vec2 q{6, 0};
    double dip = 0.5, sigma = 0.05;
    ASSERT_TRUE(trishear_dip(TrishearStr(0.1, 0.5, 2, 0.1, 1.5, s), q, dip, sigma));
    EXPECT_TRUE(std::isfinite(dip) && std::isfinite(sigma)) << s;
  }
}

// An increment of 0 (or one absurdly small for the slip) would never finish:
// the call is refused at once and its points are NaN.
TEST(TrishearKernel, RefusesCallsThatCannotFinish) {
  std::vector<Vec2> pts{{5, 0.5}, {-10, 5}};
  std::vector<Mat2> cov(2, Mat2{1, 0, 0, 1});
  EXPECT_FALSE(trishear_func(pts, 0.0, 0.5, 5, 0.0, 2, 1, cov));
  EXPECT_TRUE(std::isnan(pts[0].x) && std::isnan(pts[1].y) && std::isnan(cov[0].a));
  std::vector<Vec2> pos{{5, 0.5}};
  std::vector<double> dips{0.2}, sig{0.1};
  EXPECT_FALSE(trishear_func_dip(pos, dips, 1e-9, 0.5, 1e3, 1e-9, 2, 1, sig));
  EXPECT_TRUE(std::isnan(dips[0]) && std::isnan(sig[0]));
  // No slip needs no steps.
  std::vector<Vec2> still{{5, 0.5}};
  EXPECT_TRUE(trishear_func(still, 0.0, 0.5, 0, 0.0, 2, 1, {}));
  EXPECT_CLOSE(still[0], (Vec2{5, 0.5}), Tol::exact());
}

TEST(TrishearKernel, ArraysMustMatch) {
  std::vector<Vec2> pts(3);
  std::vector<Mat2> cov(2);
  EXPECT_THROW(trishear_func(pts, 0.1, 0.5, 1, 0.1, 1, 1, cov), std::invalid_argument);
  std::vector<double> dips(3), sig(2);
  EXPECT_THROW(trishear_func_dip(pts, dips, 0.1, 0.5, 1, 0.1, 1, 1, sig), std::invalid_argument);
}

}  // namespace
}  // namespace fq

namespace fq {
namespace {

// ---------------------------------------------------------------------------
// Shape exponents with a cheaper exact power (s = 1, 2, 0.5) against the
// reference kernel, which always calls pow.

// Restores a fold of points, with covariances, and a set of dips through the
// same slip with both kernels.  s = 1 takes r itself for r^1 (no rounding
// at all); s = 2 and 0.5 take sqrt(r) and r*r, correctly rounded where pow
// may differ by an ulp, which the restoration carries along over 100 steps.
constexpr auto kFastPowers = fqtest::Tol::rel(1e-12, "relative", "an ulp per power over 100 zone steps");

TEST(TrishearKernel, ExactPowerShortcutsAgreeWithThePowerFunction) {
  using P = TrishearZone::Powers;
  for (double s : {1.0, 2.0, 0.5}) {
    for (double inc : {-1.0, 1.0}) {
      SCOPED_TRACE(testing::Message() << "s " << s << " increment " << inc);
      const TrishearStr fast(inc, 0.6, 100 * inc, inc, 2.0, s, P::fast);
      const TrishearStr ref(inc, 0.6, 100 * inc, inc, 2.0, s, P::reference);
      for (int i = 0; i < 40; ++i) {
        const Vec2 start{-60.0 + 4.0 * i, -30.0 + 1.7 * i};
        Vec2 a = start, b = start;
        Mat2 ca{4, 1, 1, 9}, cb = ca;
        ASSERT_TRUE(trishear_point(fast, a, &ca));
        ASSERT_TRUE(trishear_point(ref, b, &cb));
        if (s == 1.0) {
          // No power to differ: the same operations in the same order.
          EXPECT_CLOSE(a, b, fqtest::Tol::exact());
        } else {
          EXPECT_CLOSE(a.x, b.x, kFastPowers);
          EXPECT_CLOSE(a.y, b.y, kFastPowers);
        }
        EXPECT_CLOSE(ca.a, cb.a, kFastPowers);
        EXPECT_CLOSE(ca.b, cb.b, kFastPowers);
        EXPECT_CLOSE(ca.d, cb.d, kFastPowers);
        double ta = 0.3 - 0.01 * i, sa = 0.05, tb = ta, sb = sa;
        a = b = start;
        ASSERT_TRUE(trishear_dip(fast, a, ta, sa));
        ASSERT_TRUE(trishear_dip(ref, b, tb, sb));
        EXPECT_CLOSE(ta, tb, kFastPowers);
        EXPECT_CLOSE(sa, sb, kFastPowers);
      }
    }
  }
}

}  // namespace
}  // namespace fq

namespace fq {
namespace {

// ---------------------------------------------------------------------------
// The batched zone step (many points at once) against one point at a time:
// the same operations in the same order, so the same bits.

// A fold's worth of points in every domain: hanging wall, footwall, zone,
// on both boundaries, behind the tip, on the fault's extension.
std::vector<Vec2> mixed_points(int n) {
  std::vector<Vec2> pts;
  for (int i = 0; i < n; ++i) {
    const double zeta = -80.0 + 170.0 * i / n;
    const double eta = ((i * 37) % 41 - 20) * 2.5;
    pts.push_back({zeta, i % 13 == 0 ? 0.0 : eta});
  }
  pts.push_back({30.0, 0.6 * 30.0});    // on the upper boundary
  pts.push_back({30.0, -0.6 * 30.0});   // on the lower boundary
  return pts;
}

// Restores the process-wide path when a test ends.
struct VectorPathScope {
  explicit VectorPathScope(ZoneVectorPath p) : saved(zone_vector_path()) { set_zone_vector_path(p); }
  ~VectorPathScope() { set_zone_vector_path(saved); }
  ZoneVectorPath saved;
};

// The vector power (AVX2 and AVX-512 paths, general s) is within a few ulp of pow per
// step; over 60 steps that stays far inside this bound.
constexpr auto kVectorPower = fqtest::Tol::rel(1e-12, "relative", "a few ulp per power over 60 zone steps");

TEST(TrishearKernel, BatchedZoneStepGivesTheBitsOfOnePointAtATime) {
 for (ZoneVectorPath path : {ZoneVectorPath::portable, ZoneVectorPath::avx2, ZoneVectorPath::avx512}) {
  const VectorPathScope scope(path);
  // Only the vector paths' power (s not 1, 2 or 0.5) may differ.
  const bool vector_power = zone_path_has_vector_functions(zone_vector_path());
  for (double s : {1.0, 1.7, 2.0}) {
    const fqtest::Tol tol = vector_power && s == 1.7 ? kVectorPower : fqtest::Tol::exact();
    for (double inc : {-1.0, -0.3, 0.7}) {
      for (int n : {5, 16, 37, 101}) {
        for (bool with_cov : {false, true}) {
          SCOPED_TRACE(testing::Message() << "s " << s << " inc " << inc << " n " << n << " cov " << with_cov);
          const TrishearStr batched(inc, 0.6, 60 * inc, inc, 1.5, s);
          const TrishearStr single(inc, 0.6, 60 * inc, inc, 1.5, s, TrishearZone::Powers::fast, false);
          std::vector<Vec2> a = mixed_points(n), b = a;
          std::vector<Mat2> ca(with_cov ? a.size() : 0, Mat2{4, 1, 1, 9}), cb = ca;
          ASSERT_TRUE(trishear_func(batched, a, ca));
          ASSERT_TRUE(trishear_func(single, b, cb));
          for (std::size_t i = 0; i < a.size(); ++i) {
            EXPECT_CLOSE(a[i], b[i], tol) << "point " << i;
            if (with_cov) {
              EXPECT_CLOSE(ca[i], cb[i], tol) << "point " << i;
            }
          }
        }
      }
    }
  }
 }
}

TEST(TrishearKernel, BatchedDipsGiveWhatOneDipAtATimeGives) {
  for (ZoneVectorPath path : {ZoneVectorPath::portable, ZoneVectorPath::avx2, ZoneVectorPath::avx512}) {
    const VectorPathScope scope(path);
    // The vector paths take the dips' sines and cosines (and general powers)
    // from vector functions, a few ulp from the C library's.
    const fqtest::Tol tol = zone_path_has_vector_functions(zone_vector_path()) ? kVectorPower : fqtest::Tol::exact();
    for (double s : {1.0, 1.7}) {
      for (double inc : {-0.5, 0.5}) {
        SCOPED_TRACE(testing::Message() << "s " << s << " inc " << inc);
        const TrishearStr batched(inc, 0.6, 60 * inc, inc, 1.5, s);
        const TrishearStr single(inc, 0.6, 60 * inc, inc, 1.5, s, TrishearZone::Powers::fast, false);
        std::vector<Vec2> a = mixed_points(40), b = a;
        std::vector<double> ta(a.size()), sa(a.size(), 0.05);
        for (std::size_t i = 0; i < ta.size(); ++i) ta[i] = -0.6 + 0.03 * static_cast<double>(i);
        std::vector<double> tb = ta, sb = sa;
        ASSERT_TRUE(trishear_func_dip(batched, a, ta, sa));
        ASSERT_TRUE(trishear_func_dip(single, b, tb, sb));
        for (std::size_t i = 0; i < a.size(); ++i) {
          EXPECT_CLOSE(a[i], b[i], s == 1.0 ? fqtest::Tol::exact() : tol) << "dip " << i;
          EXPECT_CLOSE(ta[i], tb[i], tol) << "dip " << i;
          EXPECT_CLOSE(sa[i], sb[i], tol) << "dip " << i;
        }
      }
    }
  }
}

TEST(TrishearKernel, BatchedZoneStepRefusesWhatOnePointAtATimeRefuses) {
  // An increment of 0: every point NaN, the call false, as without lanes.
  std::vector<Vec2> pts = mixed_points(40);
  std::vector<Mat2> cov(pts.size(), Mat2{1, 0, 0, 1});
  EXPECT_FALSE(trishear_func(TrishearStr(0.0, 0.6, -10.0, 0.0, 1.5, 1.0), pts, cov));
  for (std::size_t i = 0; i < pts.size(); ++i) {
    EXPECT_TRUE(std::isnan(pts[i].x) && std::isnan(cov[i].a)) << "point " << i;
  }
}

}  // namespace
}  // namespace fq
