// The unwritten-slot marker of checked builds: a skipped slot is caught,
// a NaN computed by the scoring is not mistaken for one.
#include "foldquest/fit/slot_check.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(SlotCheck, SkippedSlotIsReportedWithItsNumber) {
  std::vector<double> v(3);
  fq::mark_unwritten(v);
  v[0] = 1.0;
  v[2] = std::numeric_limits<double>::quiet_NaN();  // a legitimate NaN score
  try {
    fq::require_written(v, "bed scores");
    FAIL() << "slot 2 was not written";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "bed scores: slot 2 of 3 was not written");
  }
  v[1] = 0.0 / std::numeric_limits<double>::infinity();
  EXPECT_NO_THROW(fq::require_written(v, "bed scores"));
}

TEST(SlotCheck, ArithmeticOnTheMarkerKeepsItRecognisable) {
  // A sum or negation that read an unwritten slot is caught too.
  const double m = fq::unwritten_marker();
  EXPECT_TRUE(std::isnan(m));
  EXPECT_TRUE(fq::is_unwritten(-m));
  EXPECT_TRUE(fq::is_unwritten(m + 1.0));
  EXPECT_FALSE(fq::is_unwritten(std::sqrt(-1.0)));
  EXPECT_FALSE(fq::is_unwritten(std::numeric_limits<double>::infinity() - std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(fq::is_unwritten(std::numeric_limits<double>::quiet_NaN()));
}

}  // namespace
