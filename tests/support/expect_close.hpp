// Floating-point comparisons for tests, in three tolerance classes:
//
//   Tol::exact()            the value the system fixes, to the bit (format
//                           vectors, constants, values computed in one way)
//   Tol::ulps(n)            closed forms: at most n units in the last place
//   Tol::abs(v, unit, why)  named tolerances (kinematics, series, sampling):
//   Tol::rel(v, unit, why)  an absolute bound, or one relative to |expected|,
//                           with its unit and a one-line reason
//
// In every class a NaN equals a NaN (and nothing else), an infinity equals
// only the same infinity, and +0 equals -0.  Where the expected value is 0
// the ulps and relative classes compare absolutely: |actual| <= n * epsilon,
// respectively |actual| <= v.
//
//   EXPECT_CLOSE(x, 1.5, Tol::ulps(4));
//   const auto kPos = Tol::abs(1e-9, "length", "a few roundings of 10-unit values");
//   EXPECT_CLOSE(p.x, -13.0, kPos);
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "foldquest/math/vec2.hpp"

namespace fqtest {

struct Tol {
  enum class Kind { exact, ulps, abs, rel };
  Kind kind = Kind::exact;
  double value = 0;
  const char* unit = "";
  const char* why = "";

  static constexpr Tol exact() { return {Kind::exact, 0, "", "fixed value"}; }
  static constexpr Tol ulps(int n) { return {Kind::ulps, static_cast<double>(n), "ulp", "closed form"}; }
  static constexpr Tol abs(double v, const char* unit, const char* why) { return {Kind::abs, v, unit, why}; }
  static constexpr Tol rel(double v, const char* unit, const char* why) { return {Kind::rel, v, unit, why}; }
};

namespace detail {

// Distance in units in the last place between two finite doubles (ordered
// integer representation; saturates instead of overflowing).
inline double ulp_distance(double a, double b) {
  auto ordered = [](double x) {
    std::int64_t i;
    std::memcpy(&i, &x, sizeof i);
    return i < 0 ? std::numeric_limits<std::int64_t>::min() - i : i;
  };
  const std::int64_t ia = ordered(a), ib = ordered(b);
  const long double d = static_cast<long double>(ia) - static_cast<long double>(ib);
  return static_cast<double>(d < 0 ? -d : d);
}

inline std::string show(double x) {
  std::ostringstream o;
  o.precision(17);
  o << x;
  return o.str();
}

}  // namespace detail

inline ::testing::AssertionResult close(double actual, double expected, const Tol& tol) {
  const bool an = std::isnan(actual), en = std::isnan(expected);
  if (an || en) {
    if (an && en) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "actual " << detail::show(actual) << ", expected "
                                         << detail::show(expected);
  }
  if (std::isinf(actual) || std::isinf(expected)) {
    if (actual == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "actual " << detail::show(actual) << ", expected "
                                         << detail::show(expected);
  }
  bool ok = false;
  std::string bound;
  switch (tol.kind) {
    case Tol::Kind::exact:
      ok = actual == expected;
      bound = "exact";
      break;
    case Tol::Kind::ulps:
      if (expected == 0) {
        ok = std::abs(actual) <= tol.value * std::numeric_limits<double>::epsilon();
      } else {
        ok = detail::ulp_distance(actual, expected) <= tol.value;
      }
      bound = detail::show(tol.value) + " ulp";
      break;
    case Tol::Kind::abs:
      ok = std::abs(actual - expected) <= tol.value;
      bound = detail::show(tol.value) + " " + tol.unit + " (" + tol.why + ")";
      break;
    case Tol::Kind::rel:
      ok = expected == 0 ? std::abs(actual) <= tol.value
                         : std::abs(actual - expected) <= tol.value * std::abs(expected);
      bound = "relative " + detail::show(tol.value) + " " + tol.unit + " (" + tol.why + ")";
      break;
  }
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "actual " << detail::show(actual) << ", expected "
                                       << detail::show(expected) << ", difference "
                                       << detail::show(actual - expected) << ", allowed " << bound;
}

inline ::testing::AssertionResult close(fq::Vec2 actual, fq::Vec2 expected, const Tol& tol) {
  if (auto r = close(actual.x, expected.x, tol); !r) return ::testing::AssertionFailure() << "x: " << r.message();
  if (auto r = close(actual.y, expected.y, tol); !r) return ::testing::AssertionFailure() << "y: " << r.message();
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult close(const fq::Mat2& actual, const fq::Mat2& expected, const Tol& tol) {
  const double av[4] = {actual.a, actual.b, actual.c, actual.d};
  const double ev[4] = {expected.a, expected.b, expected.c, expected.d};
  const char* names[4] = {"(1,1)", "(1,2)", "(2,1)", "(2,2)"};
  for (int i = 0; i < 4; ++i) {
    if (auto r = close(av[i], ev[i], tol); !r) return ::testing::AssertionFailure() << names[i] << ": " << r.message();
  }
  return ::testing::AssertionSuccess();
}

}  // namespace fqtest

#define EXPECT_CLOSE(actual, expected, tol) EXPECT_TRUE(::fqtest::close((actual), (expected), (tol)))
#define ASSERT_CLOSE(actual, expected, tol) ASSERT_TRUE(::fqtest::close((actual), (expected), (tol)))
