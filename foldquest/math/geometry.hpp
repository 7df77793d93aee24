// Geometry helpers shared by the fault models and the grid methods: reciprocal
// trigonometric functions, distances, the fault-tip frame and the numbering of
// grid models.
//
// Every function here is a pure function of its arguments (no shared state),
// so any number of threads may call them at once.
//
// Fault-tip frame (zeta, eta): origin at the fault tip, zeta along the ramp,
// positive up-dip (from the fault towards and beyond the tip), eta
// perpendicular to the ramp, positive on the hanging-wall side.  A ramp is
// given by `ramp_acute` (radians, 0 to pi/2, the acute angle between ramp and
// horizontal) and `ramp_dir` (+1: the ramp rises towards +x, -1: towards -x;
// every value other than -1 acts as +1).  With c = cos(ramp_acute) and
// s = sin(ramp_acute):
//   ramp_dir = +1:  unit zeta = ( c, s),  unit eta = (-s, c)
//   ramp_dir = -1:  unit zeta = (-c, s),  unit eta = ( s, c)
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "foldquest/math/vec2.hpp"

namespace fq {

inline double cot(double x) { return 1.0 / std::tan(x); }
inline double csc(double x) { return 1.0 / std::sin(x); }
inline double sec(double x) { return 1.0 / std::cos(x); }

// Distance from the point (x, y) to the line y = m*x + b.
inline double line_point_dist(double x, double y, double m, double b) {
  return std::abs(y - m * x - b) / std::sqrt(m * m + 1.0);
}

// 1-based position of the largest element, the first one on ties; 1 for an
// empty array.  NaN elements are never taken as the largest (a leading NaN
// gives way to the first number after it).
int maxind(std::span<const double> a);

// Exchanges the contents of two arrays element by element.  Throws
// std::invalid_argument when their lengths differ.  Pass spans: for two
// std::vector arguments an unqualified call picks std::swap.
void swap(std::span<double> a, std::span<double> b);

// Each point rotated anticlockwise about the origin by `angle` (radians):
// x' = c*x - s*y, y' = s*x + c*y.
inline Vec2 rot2d(Vec2 p, double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  return {c * p.x - s * p.y, s * p.x + c * p.y};
}
PointSet rot2d(std::span<const Vec2> pts, double angle);

// The fault-tip frame of one tip and ramp, with its trigonometry computed
// once.  to_ze/to_xy move single points (the loops of the model runs);
// cov_to_ze/cov_to_xy turn a 2x2 position covariance between the frames.
// The two directions are exact inverses up to rounding.
struct TipFrame {
  double tipx = 0, tipy = 0;
  double c = 1, s = 0;  // cos and sin of ramp_acute
  double dir = 1;       // -1 mirrors x, else +1

  TipFrame() = default;
  TipFrame(double tip_x, double tip_y, double ramp_acute, int ramp_dir)
      : tipx(tip_x), tipy(tip_y), c(std::cos(ramp_acute)), s(std::sin(ramp_acute)),
        dir(ramp_dir == -1 ? -1.0 : 1.0) {}

  // dx = x - tipx, dy = y - tipy, dx mirrored when dir = -1;
  // zeta = c*dx + s*dy, eta = -s*dx + c*dy.
  Vec2 to_ze(Vec2 p) const {
    double dx = p.x - tipx;
    const double dy = p.y - tipy;
    if (dir < 0) dx = -dx;
    return {c * dx + s * dy, -s * dx + c * dy};
  }
  // u = c*zeta - s*eta, v = s*zeta + c*eta, u mirrored when dir = -1;
  // x = tipx + u, y = tipy + v.
  Vec2 to_xy(Vec2 q) const {
    double u = c * q.x - s * q.y;
    const double v = s * q.x + c * q.y;
    if (dir < 0) u = -u;
    return {tipx + u, tipy + v};
  }
  // With r = [[c, -s], [s, c]] and refl = diag(dir, 1):
  // into the frame C := r^T (refl C refl) r, back C := refl (r C r^T) refl.
  Mat2 cov_to_ze(const Mat2& cm) const {
    const Mat2 r{c, -s, s, c}, refl{dir, 0, 0, 1};
    return transpose(r) * (refl * cm * refl) * r;
  }
  Mat2 cov_to_xy(const Mat2& cm) const {
    const Mat2 r{c, -s, s, c}, refl{dir, 0, 0, 1};
    return refl * (r * cm * transpose(r)) * refl;
  }
};

// Map frame to fault-tip frame and back, for whole point sets.  The span
// forms write into `out` (same length as `pts`; `out` may be `pts` itself)
// and allocate nothing.
PointSet xy_to_ze2d(std::span<const Vec2> pts, double tipx, double tipy, double ramp_acute,
                    int ramp_dir);
PointSet ze_to_xy2d(std::span<const Vec2> pts, double tipx, double tipy, double ramp_acute,
                    int ramp_dir);
void xy_to_ze2d(std::span<const Vec2> pts, const TipFrame& frame, std::span<Vec2> out);
void ze_to_xy2d(std::span<const Vec2> pts, const TipFrame& frame, std::span<Vec2> out);

// ---------------------------------------------------------------------------
// Grid numbering.  For each parameter j a lower bound mins[j], an upper bound
// maxs[j] and a step steps[j] give
//   n_vals(j) = round((maxs[j] - mins[j]) / steps[j]) + 1   (halves away from 0)
// grid values; kback[j] = n_vals(j+1) * ... * n_vals(nparams-1) (0-based j,
// kback[nparams-1] = 1) is the number of consecutive model numbers that share
// one value of parameter j.  Model numbers run from 1 to the product of all
// n_vals; the first parameter varies slowest and model 1 is all lower bounds.
//
// Example: n_vals = (3, 4) gives kback = (4, 1); model 5 is (index 1, index 0).

// Thrown when a grid cannot be numbered: a count that is not a finite number
// or a grid whose model count does not fit a 64-bit signed integer.
class GridError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// n_vals of one parameter; 1 when the bounds are equal, whatever the step.
// May be 0 or negative (an upper bound below the lower bound); throws
// GridError when the ratio is not finite or the count does not fit 64 bits.
// `index` (1-based) names the parameter in the message.
std::int64_t grid_count(double min, double max, double step, int index);

// The strides of the grid, one per parameter (nparams = mins.size(); maxs and
// steps must have the same length, else std::invalid_argument).  Throws
// GridError when a count is not finite or when the product of the counts of
// all parameters (the grid's model count) does not fit a 64-bit signed
// integer.  Counts of 0 or less are accepted (such a grid has no models).
std::vector<std::int64_t> makekback(std::span<const double> mins, std::span<const double> maxs,
                                    std::span<const double> steps);

// The parameter vector of grid model number `model` (1-based):
//   vi = ((ndx - 1) mod kback[j]) + 1; subsc = (ndx - vi) / kback[j];
//   params[j] = subsc * steps[j] + mins[j]; ndx = vi.
// Throws std::invalid_argument when the lengths differ, when model < 1 or
// when a stride is not positive (a grid without models).
void modelparamsfromnum(std::int64_t model, std::span<double> params,
                        std::span<const std::int64_t> kback, std::span<const double> mins,
                        std::span<const double> steps);

}  // namespace fq
