// Diagnostics from parallel model runs: whole lines, at most ten of each
// message per run, then one count line.
#include "foldquest/report/diagnostics.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "freeformat/writer.hpp"

namespace {

// Runs `body` with the console attached to a temporary file and returns the
// lines written.
template <class F>
std::vector<std::string> captured(F body) {
  std::FILE* f = std::tmpfile();
  ff::console().attach(f);
  body();
  ff::console().flush();
  std::rewind(f);
  std::vector<std::string> lines;
  std::string line;
  int c;
  while ((c = std::fgetc(f)) != EOF) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(c));
    }
  }
  ff::console().attach(stdout);
  std::fclose(f);
  return lines;
}

TEST(Diagnostics, EachMessageTenTimesThenOneCountLineFromManyThreads) {
  const auto lines = captured([] {
#pragma omp parallel for num_threads(4)
    for (int i = 0; i < 1000; ++i) {
      fq::diag::report(i % 2 ? "Error: first message of the kind" : "Error: second");
    }
    EXPECT_EQ(fq::diag::count("Error: second"), 500);
    EXPECT_EQ(fq::diag::finish(), 980);
  });
  int first = 0, second = 0;
  for (const auto& l : lines) {
    if (l == " Error: first message of the kind") ++first;
    if (l == " Error: second") ++second;
  }
  EXPECT_EQ(first, 10);
  EXPECT_EQ(second, 10);
  ASSERT_EQ(lines.size(), 22u);  // no line was split or merged
  // Count lines in first-reported order is not fixed across threads; both
  // must be present.
  const std::string a = " Error: first message of the kind (490 more times)";
  const std::string b = " Error: second (490 more times)";
  EXPECT_TRUE((lines[20] == a && lines[21] == b) || (lines[20] == b && lines[21] == a));
}

TEST(Diagnostics, FinishStartsTheNextRunAfreshAndPrintsNothingWhenNothingWasHeld) {
  const auto lines = captured([] {
    for (int i = 0; i < 3; ++i) fq::diag::report("Error: rare");
    EXPECT_EQ(fq::diag::finish(), 0);
    EXPECT_EQ(fq::diag::count("Error: rare"), 0);
    fq::diag::report("Error: rare");
    EXPECT_EQ(fq::diag::finish(), 0);
  });
  EXPECT_EQ(lines.size(), 4u);
}

}  // namespace
