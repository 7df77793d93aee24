// Frames, rotation, small helpers and grid numbering.
#include "foldquest/math/geometry.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/state/run_state.hpp"
#include "tests/support/expect_close.hpp"

namespace fq {
namespace {

using fqtest::Tol;

constexpr double deg = Constants::pi / 180;

// Frame changes of points within +-100 units of the tip: a handful of
// roundings of values of that size.
constexpr Tol kFrame = Tol::abs(1e-12, "length", "a few roundings of coordinates up to 100");

TEST(SmallHelpers, WorkedExamples) {
  EXPECT_EQ(maxind(std::vector<double>{1, 3, 3, 2}), 2);  // first of the ties
  EXPECT_EQ(maxind(std::vector<double>{}), 1);
  EXPECT_EQ(maxind(std::vector<double>{5}), 1);
  EXPECT_EQ(maxind(std::vector<double>{-1, -7, 4}), 3);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(maxind(std::vector<double>{nan, 2, 9, nan}), 3);  // NaN is never the largest
  EXPECT_EQ(maxind(std::vector<double>{nan, nan}), 1);

  EXPECT_EQ(line_point_dist(0, 1, 0, 0), 1.0);
  EXPECT_EQ(line_point_dist(2, 5, 2, 1), 0.0);  // on the line y = 2x + 1
  EXPECT_CLOSE(line_point_dist(0, 0, 1, 1), std::sqrt(0.5), Tol::ulps(2));

  EXPECT_CLOSE(cot(0.3), std::cos(0.3) / std::sin(0.3), Tol::ulps(4));
  EXPECT_CLOSE(csc(0.3) * std::sin(0.3), 1.0, Tol::ulps(2));
  EXPECT_CLOSE(sec(0.3) * std::cos(0.3), 1.0, Tol::ulps(2));
}

TEST(SmallHelpers, SwapExchangesAndRejectsUnequalLengths) {
  std::vector<double> a{1, 2, 3}, b{4, 5, 6}, c{7};
  // Spans name fq::swap; for two vectors std::swap would be chosen.
  fq::swap(std::span<double>(a), std::span<double>(b));
  EXPECT_EQ(a, (std::vector<double>{4, 5, 6}));
  EXPECT_EQ(b, (std::vector<double>{1, 2, 3}));
  EXPECT_THROW(fq::swap(std::span<double>(a), std::span<double>(c)), std::invalid_argument);
}

TEST(Rotation, AnticlockwiseAboutTheOrigin) {
  const PointSet r = rot2d(PointSet{{1, 0}, {0, 2}}, std::acos(-1.0) / 2);
  EXPECT_CLOSE(r[0], (Vec2{0, 1}), kFrame);
  EXPECT_CLOSE(r[1], (Vec2{-2, 0}), kFrame);
  // The single-point and point-set forms agree to the bit.
  EXPECT_CLOSE(rot2d(Vec2{3, 4}, 0.7), rot2d(PointSet{{3, 4}}, 0.7)[0], Tol::exact());
}

// The unit vectors of the frame for both ramp directions: zeta up the ramp,
// eta into the hanging wall (above the ramp).
TEST(TipFrame, AxesForBothRampDirections) {
  const double a = 30 * deg, c = std::cos(a), s = std::sin(a);
  const double tx = 3, ty = -2;
  for (int dir : {1, -1}) {
    SCOPED_TRACE(dir);
    const TipFrame f(tx, ty, a, dir);
    const Vec2 up_ramp{tx + dir * c, ty + s};    // one unit up the ramp
    const Vec2 hanging{tx - dir * s, ty + c};    // one unit into the hanging wall
    const Vec2 below{tx - 2 * dir * c, ty - 2 * s};  // on the ramp, behind the tip
    EXPECT_CLOSE(f.to_ze({tx, ty}), (Vec2{0, 0}), Tol::exact());
    EXPECT_CLOSE(f.to_ze(up_ramp), (Vec2{1, 0}), kFrame);
    EXPECT_CLOSE(f.to_ze(hanging), (Vec2{0, 1}), kFrame);
    EXPECT_CLOSE(f.to_ze(below), (Vec2{-2, 0}), kFrame);
    // A point straight above the tip is in the hanging wall.
    EXPECT_GT(f.to_ze({tx, ty + 1}).y, 0);
  }
}

TEST(TipFrame, ExactInverseAndDirectionCodes) {
  const PointSet pts{{0, 0}, {10, -3}, {-25.5, 40}, {99, 99}, {3, -2}};
  for (int dir : {1, -1}) {
    SCOPED_TRACE(dir);
    const PointSet ze = xy_to_ze2d(pts, 3, -2, 55 * deg, dir);
    const PointSet back = ze_to_xy2d(ze, 3, -2, 55 * deg, dir);
    for (std::size_t i = 0; i < pts.size(); ++i) EXPECT_CLOSE(back[i], pts[i], kFrame);
    EXPECT_CLOSE(ze[4], (Vec2{0, 0}), Tol::exact());  // the tip itself
  }
  // Codes other than -1 act exactly as +1.
  const PointSet plus = xy_to_ze2d(pts, 1, 1, 20 * deg, 1);
  for (int code : {0, 2, 7}) {
    const PointSet other = xy_to_ze2d(pts, 1, 1, 20 * deg, code);
    const PointSet other_back = ze_to_xy2d(plus, 1, 1, 20 * deg, code);
    const PointSet plus_back = ze_to_xy2d(plus, 1, 1, 20 * deg, 1);
    for (std::size_t i = 0; i < pts.size(); ++i) {
      EXPECT_CLOSE(other[i], plus[i], Tol::exact());
      EXPECT_CLOSE(other_back[i], plus_back[i], Tol::exact());
    }
  }
  // The span form writes in place.
  PointSet inplace = pts;
  xy_to_ze2d(inplace, TipFrame(3, -2, 55 * deg, -1), inplace);
  const PointSet copy = xy_to_ze2d(pts, 3, -2, 55 * deg, -1);
  for (std::size_t i = 0; i < pts.size(); ++i) EXPECT_CLOSE(inplace[i], copy[i], Tol::exact());
}

// A covariance must turn with the same linear map as the points: the
// variance along a map direction d (C = d d^T) becomes w w^T with w the
// frame image of d.  Catches a rotation applied the wrong way round or a
// reflection left out.
TEST(TipFrame, CovarianceTurnsLikeThePoints) {
  for (int dir : {1, -1}) {
    SCOPED_TRACE(dir);
    const TipFrame f(5, 7, 35 * deg, dir);
    const Vec2 d{0.6, -0.8};
    const Vec2 o = f.to_ze({0, 0});
    const Vec2 e = f.to_ze(d);
    const Vec2 w{e.x - o.x, e.y - o.y};
    const Mat2 cd{d.x * d.x, d.x * d.y, d.y * d.x, d.y * d.y};
    const Mat2 cw = f.cov_to_ze(cd);
    EXPECT_CLOSE(cw, (Mat2{w.x * w.x, w.x * w.y, w.y * w.x, w.y * w.y}), kFrame);
    EXPECT_CLOSE(f.cov_to_xy(cw), cd, kFrame);
    // An isotropic covariance is the same in every frame.
    EXPECT_CLOSE(f.cov_to_ze(Mat2{4, 0, 0, 4}), (Mat2{4, 0, 0, 4}), kFrame);
  }
}

// ---------------------------------------------------------------------------

TEST(GridNumbering, ThreeByFourExample) {
  const std::vector<double> mins{0, 10}, maxs{2, 13}, steps{1, 1};  // n_vals = (3, 4)
  const std::vector<std::int64_t> kback = makekback(mins, maxs, steps);
  EXPECT_EQ(kback, (std::vector<std::int64_t>{4, 1}));
  std::vector<double> p(2);
  const struct {
    std::int64_t model;
    double i0, i1;
  } cases[] = {{1, 0, 0}, {4, 0, 3}, {5, 1, 0}, {12, 2, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    modelparamsfromnum(c.model, p, kback, mins, steps);
    EXPECT_EQ(p[0], mins[0] + c.i0 * steps[0]);
    EXPECT_EQ(p[1], mins[1] + c.i1 * steps[1]);
  }
}

TEST(GridNumbering, CountsRoundTheRatio) {
  EXPECT_EQ(grid_count(0, 1, 0.3, 1), 4);  // 3.33 -> 3, + 1
  EXPECT_EQ(grid_count(0, 1, 0.4, 1), 4);  // 2.5 rounds away from zero to 3, + 1
  EXPECT_EQ(grid_count(0, 1, 0.25, 1), 5);
  EXPECT_EQ(grid_count(2, 2, 0.5, 1), 1);  // equal bounds: one value
  EXPECT_EQ(grid_count(2, 2, 0, 1), 1);    // even with a zero step
  EXPECT_EQ(grid_count(0, -5, 1, 1), -4);  // upper below lower: no models
  // The fourth value of the 0.4 grid lies beyond the upper bound.
  const std::vector<double> mins{0}, maxs{1}, steps{0.4};
  const auto kback = makekback(mins, maxs, steps);
  std::vector<double> p(1);
  modelparamsfromnum(4, p, kback, mins, steps);
  EXPECT_EQ(p[0], 3 * 0.4);
  EXPECT_GT(p[0], 1.0);
}

TEST(GridNumbering, FirstAndLastModels) {
  const std::vector<double> mins{-5, 0, 1.5, 100}, maxs{5, 0, 2.5, 130}, steps{2.5, 1, 0.25, 10};
  std::vector<std::int64_t> n;
  std::int64_t total = 1;
  for (std::size_t j = 0; j < mins.size(); ++j) {
    n.push_back(grid_count(mins[j], maxs[j], steps[j], static_cast<int>(j + 1)));
    total *= n.back();
  }
  EXPECT_EQ(n, (std::vector<std::int64_t>{5, 1, 5, 4}));
  const auto kback = makekback(mins, maxs, steps);
  std::vector<double> p(4);
  modelparamsfromnum(1, p, kback, mins, steps);
  EXPECT_EQ(p, mins);
  modelparamsfromnum(total, p, kback, mins, steps);
  for (std::size_t j = 0; j < p.size(); ++j) {
    EXPECT_EQ(p[j], static_cast<double>(n[j] - 1) * steps[j] + mins[j]);
  }
  // Every model number maps to a distinct grid point, the last parameter
  // varying fastest.
  std::vector<double> prev(4);
  modelparamsfromnum(2, prev, kback, mins, steps);
  EXPECT_EQ(prev[3], 110);
  EXPECT_EQ(prev[2], 1.5);
}

// Strides beyond 32 bits: the point of using 64-bit strides.
TEST(GridNumbering, StridesBeyondThirtyTwoBits) {
  // Counts 3, 2^20 + 1 and 2^20: kback[0] = (2^20 + 1) * 2^20 > 2^31.
  const double big = 1048576;
  const std::vector<double> mins{0, 0, 1}, maxs{2, big, big}, steps{1, 1, 1};
  const auto kback = makekback(mins, maxs, steps);
  const std::int64_t k0 = (1048577LL) * 1048576LL;
  EXPECT_EQ(kback, (std::vector<std::int64_t>{k0, 1048576, 1}));
  std::vector<double> p(3);
  modelparamsfromnum(2 * k0 + 1, p, kback, mins, steps);  // first model of the third value
  EXPECT_EQ(p, (std::vector<double>{2, 0, 1}));
  modelparamsfromnum(3 * k0, p, kback, mins, steps);  // the last model
  EXPECT_EQ(p, (std::vector<double>{2, big, big}));
}

TEST(GridNumbering, RejectsGridsThatCannotBeNumbered) {
  // 3e6 values each for three parameters: 2.7e19 models, beyond 2^63 - 1.
  const std::vector<double> mins(3, 0.0), maxs(3, 3e6 - 1), steps(3, 1.0);
  EXPECT_THROW(makekback(mins, maxs, steps), GridError);
  // Two of them fit.
  EXPECT_NO_THROW(makekback(std::vector<double>(2, 0.0), std::vector<double>(2, 3e6 - 1),
                            std::vector<double>(2, 1.0)));
  // A zero step with unequal bounds, a NaN bound, an absurd ratio.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(grid_count(0, 1, 0, 4), GridError);
  EXPECT_THROW(grid_count(nan, 1, 1, 4), GridError);
  EXPECT_THROW(grid_count(0, 1e300, 1e-10, 4), GridError);
  try {
    grid_count(0, 1, 0, 4);
  } catch (const GridError& e) {
    EXPECT_NE(std::string(e.what()).find("parameter 4"), std::string::npos) << e.what();
  }
  // An upper bound below the lower one is a grid without models, not an error.
  EXPECT_NO_THROW(makekback(std::vector<double>{0, 0}, std::vector<double>{-5, 3},
                            std::vector<double>{1, 1}));
}

TEST(GridNumbering, RejectsModelNumbersOutsideTheGrid) {
  const std::vector<double> mins{0}, steps{1};
  std::vector<double> p(1);
  EXPECT_THROW(modelparamsfromnum(0, p, std::vector<std::int64_t>{1}, mins, steps),
               std::invalid_argument);
  EXPECT_THROW(modelparamsfromnum(1, p, std::vector<std::int64_t>{0}, mins, steps),
               std::invalid_argument);
  EXPECT_THROW(modelparamsfromnum(1, p, std::vector<std::int64_t>{1, 1}, mins, steps),
               std::invalid_argument);
}

}  // namespace
}  // namespace fq
