// Small value types for the plane: a point (or vector) and a 2x2 matrix.
#pragma once

#include <vector>

namespace fq {

struct Vec2 {
  double x = 0;  // horizontal coordinate (x in the map frame, zeta in the fault-tip frame)
  double y = 0;  // vertical coordinate (y, or eta)
};

// Row-major 2x2 matrix [[a, b], [c, d]].
struct Mat2 {
  double a = 0, b = 0, c = 0, d = 0;
};

inline Mat2 operator*(const Mat2& p, const Mat2& q) {
  return {p.a * q.a + p.b * q.c, p.a * q.b + p.b * q.d, p.c * q.a + p.d * q.c, p.c * q.b + p.d * q.d};
}
inline Mat2 transpose(const Mat2& m) { return {m.a, m.c, m.b, m.d}; }

// A point set: one entry per point, in file order.
using PointSet = std::vector<Vec2>;

}  // namespace fq
