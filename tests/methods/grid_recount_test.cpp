// Grid search and grid Monte Carlo with fit type 5: the method's questions
// come before the fit type, which adds the restored-state parameters and
// reads the parameter file again.  The grid that runs is the one of the
// final ranges: counted again after the second reading, with its line
// printed again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foldquest/driver/startup.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/methods/methods.hpp"
#include "tests/support/capture.hpp"

namespace fs = std::filesystem;

namespace {

using fqtest::ConsoleCapture;

// Two beds, the straight ramp (7 fault parameters) and fit type 5 with one
// restored dip and both intercepts: 7 parameters at the first reading of
// the parameter file, 10 at the second.
class GridRecount : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fq_grid_recount_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write("beds.txt", "bed a\n0 10\n10 11\nbed b\n0 5\n10 6\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  std::string q(const std::string& name) const { return "'" + (dir_ / name).string() + "'"; }

  // The answers of a console run: grid method `method`, fit type 5 with one
  // restored dip and the intercepts, the parameter files `first` and
  // `second`, RMS error.
  std::string answers(int method, const std::string& first, const std::string& second,
                      const std::string& method_answers = "") const {
    std::string a = "1\n1\n1\n" + q("beds.txt") + "\n1\n1\n" + q(first) + "\n" + std::to_string(method) + "\n";
    a += method_answers;
    a += "5\n1\n1\n1\n" + q(second) + "\n1\n" + q("out.txt") + "\n";
    return a;
  }

  fq::RunState start(const std::string& text, std::vector<std::string>& console) {
    ConsoleCapture capture;
    std::istringstream in_text(text);
    ff::Reader in("-", in_text);
    fq::Session s(in);
    fq::startup(s);
    s.results.close();
    console = capture.lines();
    return s.state;
  }

  fs::path dir_;
};

// Tip x over 6 values, tip y over 6, slip over 6 (216 models), the rest
// fixed; then, in the second file, three restored-state parameters of two
// values each (1728 models).
const char* kSevenRanges =
    "0.0 5.0 1.0\n0.0 5.0 1.0\n10.0 15.0 1.0\n30.0 30.0 1.0\n20.0 20.0 1.0\n1.0 1.0 1.0\n1.0 1.0 1.0\n";
const char* kSenseAndIncrement = "1\n0.5\n";

int count_of(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

std::string models_line(std::int64_t n) { return " " + ff::format_int64(n) + " models will be run."; }

const std::string kNotEven = " Error: (max-min) is not evenly divisible by step for all parameters.";

std::vector<std::vector<double>> g_seen;
void record(const fq::RunState&, double& out, std::span<const double> p) {
#pragma omp critical(grid_recount_seen)
  g_seen.emplace_back(p.begin(), p.end());
  out = 0;
}

TEST_F(GridRecount, GridSearchRunsTheGridOfTheFinalRanges) {
  write("p10.txt", std::string(kSevenRanges) + "0.0 1.0 1.0\n0.0 1.0 1.0\n0.0 1.0 1.0\n" + kSenseAndIncrement);
  std::vector<std::string> console;
  const fq::RunState st = start(answers(1, "p10.txt", "p10.txt"), console);
  // The first count is of the first reading's seven parameters; the second
  // of all ten.
  EXPECT_EQ(count_of(console, models_line(216)), 1);
  EXPECT_EQ(count_of(console, models_line(1728)), 1);
  EXPECT_EQ(st.parameters.nmodels, 1728);
  EXPECT_EQ(st.method.nmodels_real, 1728.0);

  g_seen.clear();
  ConsoleCapture quiet;
  ff::Sink discard;
  EXPECT_EQ(fq::gridsearch_with(st, discard, record), 1728);
  ASSERT_EQ(g_seen.size(), 1728u);
  // Every model is distinct and the leading parameters reach their upper
  // bounds (a run of the first 216 left them at the lower ones).
  std::sort(g_seen.begin(), g_seen.end());
  EXPECT_EQ(std::unique(g_seen.begin(), g_seen.end()), g_seen.end());
  EXPECT_EQ(g_seen.back()[0], 5.0);
  EXPECT_EQ(g_seen.back()[9], 1.0);
}

TEST_F(GridRecount, SecondReadingNotInWholeStepsPrintsTheErrorLineAgain) {
  write("p7.txt", std::string(kSevenRanges) + kSenseAndIncrement);
  write("p10.txt", std::string(kSevenRanges) + "0.0 1.0 1.0\n0.0 1.0 0.7\n0.0 1.0 1.0\n" + kSenseAndIncrement);
  std::vector<std::string> console;
  const fq::RunState st = start(answers(1, "p7.txt", "p10.txt"), console);
  EXPECT_EQ(count_of(console, models_line(216)), 1);
  EXPECT_EQ(count_of(console, kNotEven), 1);
  // 216 * 2 * (1/0.7 + 1) * 2 = 2098.29, rounded as grid search always did.
  EXPECT_EQ(st.parameters.nmodels, 2098);
}

TEST_F(GridRecount, GridMonteCarloDrawsFromTheGridOfTheFinalRanges) {
  write("p10.txt", std::string(kSevenRanges) + "0.0 1.0 1.0\n0.0 1.0 1.0\n0.0 1.0 1.0\n" + kSenseAndIncrement);
  std::vector<std::string> console;
  const fq::RunState st = start(answers(2, "p10.txt", "p10.txt", "500\n"), console);
  // The number of models is the one answered; the line comes again after
  // the second reading, and the grid drawn from has 1728 models.
  EXPECT_EQ(count_of(console, models_line(500)), 2);
  EXPECT_EQ(st.parameters.nmodels, 500);
  EXPECT_EQ(st.method.nmodels_poss, 1728);

  // A second file not in whole steps: the error line, and no model runs (as
  // when the first reading is refused and the number is never asked).
  write("p10odd.txt", std::string(kSevenRanges) + "0.0 1.0 0.7\n0.0 1.0 1.0\n0.0 1.0 1.0\n" + kSenseAndIncrement);
  const fq::RunState odd = start(answers(2, "p10.txt", "p10odd.txt", "500\n"), console);
  EXPECT_EQ(count_of(console, models_line(500)), 1);
  EXPECT_EQ(count_of(console, kNotEven), 1);
  EXPECT_EQ(odd.parameters.nmodels, 0);
  EXPECT_EQ(odd.method.nmodels_poss, 0);
}

// Without a second reading nothing is counted again.
TEST_F(GridRecount, OneReadingCountsOnce) {
  write("p7.txt", std::string(kSevenRanges) + kSenseAndIncrement);
  std::vector<std::string> console;
  const std::string text = "1\n1\n1\n" + q("beds.txt") + "\n1\n1\n" + q("p7.txt") + "\n1\n1\n1\n" + q("out.txt") + "\n";
  const fq::RunState st = start(text, console);
  EXPECT_EQ(count_of(console, models_line(216)), 1);
  EXPECT_EQ(st.parameters.nmodels, 216);
}

}  // namespace
