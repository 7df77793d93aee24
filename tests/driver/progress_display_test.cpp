// The progress line's text and the model count behind it.
#include "foldquest/driver/progress_display.hpp"

#include <gtest/gtest.h>

#include "foldquest/report/progress.hpp"

namespace {

TEST(ProgressText, CountsRateAndTimeLeft) {
  EXPECT_EQ(fq::progress_text(0, 91125, 0.0), "foldquest: 0 of 91,125 models (0%)");
  EXPECT_EQ(fq::progress_text(12345, 91125, 6.0), "foldquest: 12,345 of 91,125 models (13%), 2,058 models/s, 39 s left");
  EXPECT_EQ(fq::progress_text(1000, 1000000, 1.0), "foldquest: 1,000 of 1,000,000 models (0%), 1,000 models/s, 16:39 left");
  EXPECT_EQ(fq::progress_text(1, 100000000, 1.0), "foldquest: 1 of 100,000,000 models (0%), 1 models/s, 27777:46:39 left");
  EXPECT_EQ(fq::progress_text(500, 500, 2.0), "foldquest: 500 of 500 models (100%), 250 models/s, 0 s left");
  // A run with no models, and a count past the total (never a negative time).
  EXPECT_EQ(fq::progress_text(0, 0, 1.0), "foldquest: 0 of 0 models");
  EXPECT_EQ(fq::progress_text(7, 5, 1.0), "foldquest: 7 of 5 models (100%), 7 models/s");
  // A rate so low that the time left cannot be shown.
  EXPECT_EQ(fq::progress_text(1, INT64_MAX, 1e6), "foldquest: 1 of 9,223,372,036,854,775,807 models (0%), 0 models/s, ? left");
}

TEST(ProgressCount, EveryThreadsModelsAreCounted) {
  const fq::ProgressDisplay display(0, false);  // resets the count, shows nothing
#pragma omp parallel for num_threads(2)
  for (int i = 0; i < 10000; ++i) fq::progress::advance();
  EXPECT_EQ(fq::progress::done(), 10000);
  fq::progress::reset();
  EXPECT_EQ(fq::progress::done(), 0);
}

}  // namespace
