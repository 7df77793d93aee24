#include "foldquest/math/geometry.hpp"

#include <limits>

namespace fq {

int maxind(std::span<const double> a) {
  std::size_t best = 0;
  // Start at the first number; a NaN never compares greater.
  while (best < a.size() && std::isnan(a[best])) ++best;
  if (best == a.size()) return 1;
  for (std::size_t i = best + 1; i < a.size(); ++i) {
    if (a[i] > a[best]) best = i;
  }
  // An array longer than INT32_MAX cannot be held in the run state's arrays.
  if (best >= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::length_error("maxind: array too long for a 32-bit position");
  }
  return static_cast<int>(best) + 1;
}

void swap(std::span<double> a, std::span<double> b) {
  if (a.size() != b.size()) throw std::invalid_argument("swap: arrays of different lengths");
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

PointSet rot2d(std::span<const Vec2> pts, double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  PointSet out(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    out[i] = {c * pts[i].x - s * pts[i].y, s * pts[i].x + c * pts[i].y};
  }
  return out;
}

void xy_to_ze2d(std::span<const Vec2> pts, const TipFrame& frame, std::span<Vec2> out) {
  if (out.size() != pts.size()) throw std::invalid_argument("xy_to_ze2d: output length");
  for (std::size_t i = 0; i < pts.size(); ++i) out[i] = frame.to_ze(pts[i]);
}

void ze_to_xy2d(std::span<const Vec2> pts, const TipFrame& frame, std::span<Vec2> out) {
  if (out.size() != pts.size()) throw std::invalid_argument("ze_to_xy2d: output length");
  for (std::size_t i = 0; i < pts.size(); ++i) out[i] = frame.to_xy(pts[i]);
}

PointSet xy_to_ze2d(std::span<const Vec2> pts, double tipx, double tipy, double ramp_acute,
                    int ramp_dir) {
  PointSet out(pts.size());
  xy_to_ze2d(pts, TipFrame(tipx, tipy, ramp_acute, ramp_dir), out);
  return out;
}

PointSet ze_to_xy2d(std::span<const Vec2> pts, double tipx, double tipy, double ramp_acute,
                    int ramp_dir) {
  PointSet out(pts.size());
  ze_to_xy2d(pts, TipFrame(tipx, tipy, ramp_acute, ramp_dir), out);
  return out;
}

std::int64_t grid_count(double min, double max, double step, int index) {
  // Equal bounds are one value whatever the step (even 0).
  if (max == min) return 1;
  // round() takes halves away from zero.
  const double n = std::round((max - min) / step) + 1.0;
  // 2^63 is exactly representable; every double below it converts safely.
  constexpr double limit = 9223372036854775808.0;
  if (!(n >= -limit && n < limit)) {
    throw GridError("The grid of parameter " + std::to_string(index) +
                    " cannot be numbered: (max - min) / step is not a finite count "
                    "that fits 64 bits (check its bounds and step).");
  }
  return static_cast<std::int64_t>(n);
}

std::vector<std::int64_t> makekback(std::span<const double> mins, std::span<const double> maxs,
                                    std::span<const double> steps) {
  const std::size_t nparams = mins.size();
  if (maxs.size() != nparams || steps.size() != nparams) {
    throw std::invalid_argument("makekback: bounds and steps of different lengths");
  }
  std::vector<std::int64_t> counts(nparams);
  for (std::size_t j = 0; j < nparams; ++j) {
    counts[j] = grid_count(mins[j], maxs[j], steps[j], static_cast<int>(j + 1));
  }
  std::vector<std::int64_t> kback(nparams, 1);
  std::int64_t product = 1;
  bool overflow = false;
  // kback[j] is the product of the counts after j; the loop ends with the
  // product of all counts, the grid's model count, which must fit too.
  for (std::size_t j = nparams; j-- > 0;) {
    kback[j] = product;
    overflow = overflow || __builtin_mul_overflow(product, counts[j], &product);
  }
  if (overflow) {
    throw GridError(
        "The parameter grid is too large: its number of models exceeds "
        "9223372036854775807 (make some ranges narrower or their steps larger).");
  }
  return kback;
}

void modelparamsfromnum(std::int64_t model, std::span<double> params,
                        std::span<const std::int64_t> kback, std::span<const double> mins,
                        std::span<const double> steps) {
  const std::size_t nparams = params.size();
  if (kback.size() != nparams || mins.size() != nparams || steps.size() != nparams) {
    throw std::invalid_argument("modelparamsfromnum: arrays of different lengths");
  }
  if (model < 1) throw std::invalid_argument("modelparamsfromnum: model number below 1");
  std::int64_t ndx = model;
  for (std::size_t j = 0; j < nparams; ++j) {
    if (kback[j] < 1) throw std::invalid_argument("modelparamsfromnum: grid without models");
    const std::int64_t vi = ((ndx - 1) % kback[j]) + 1;
    const std::int64_t subsc = (ndx - vi) / kback[j];
    params[j] = static_cast<double>(subsc) * steps[j] + mins[j];
    ndx = vi;
  }
}

}  // namespace fq
