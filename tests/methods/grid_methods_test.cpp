// Grid search and the two Monte Carlo methods, driven with objectives whose
// answers are known.
#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <map>
#include <set>

#include "foldquest/methods/methods.hpp"
#include "tests/support/capture.hpp"

namespace {

using fqtest::ConsoleCapture;
using fqtest::ResultsCapture;

fq::RunState grid_state(std::vector<double> mins, std::vector<double> maxs, std::vector<double> steps) {
  fq::RunState st;
  st.parameters.nparams = static_cast<int>(mins.size());
  st.parameters.mins = std::move(mins);
  st.parameters.maxs = std::move(maxs);
  st.parameters.steps = std::move(steps);
  return st;
}

// A score that identifies the model: distinct for every grid point used here.
void identify(const fq::RunState&, double& out, std::span<const double> p) {
  out = 0;
  for (double v : p) out = out * 1000 + v;
}

// Runs a method's option questions on `answers` (the options stream: an
// options file, or the console when `console` is set).
void ask(fq::RunState& st, void (*options)(fq::Session&), const std::string& answers = "", bool console = false) {
  std::istringstream typed(console ? answers : std::string());
  ff::Reader in("-", typed);
  fq::Session s(in);
  s.state = st;
  s.params_file = "params.txt";
  if (!console) s.options_file = ff::Reader::from_string("opts.txt", answers);
  options(s);
  st = s.state;
}

TEST(GridSearch, ThreeByThreeGridInModelOrder) {
  auto st = grid_state({0, 0}, {10, 1}, {5, 0.5});
  ConsoleCapture console;
  ask(st, fq::gridsearch_options);
  EXPECT_EQ(st.parameters.nmodels, 9);
  ResultsCapture results;
  EXPECT_EQ(fq::gridsearch_with(st, results.sink, identify), 9);
  const auto rows = results.rows();
  ASSERT_EQ(rows.size(), 9u);
  int k = 0;
  for (double a : {0.0, 5.0, 10.0})
    for (double b : {0.0, 0.5, 1.0}) EXPECT_EQ(rows[static_cast<std::size_t>(k++)][0], a * 1000 + b);
  const auto lines = console.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "                    9 models will be run.");
  EXPECT_EQ(lines[1], " Starting  " + ff::format_int32(omp_get_max_threads()) + "  threads");
  EXPECT_EQ(lines[2], " ran model                    9  of                     9");
}

TEST(GridSearch, BlocksOfOneHundredThousand) {
  auto st = grid_state({1}, {250000}, {1});
  ConsoleCapture console;
  ask(st, fq::gridsearch_options);
  ResultsCapture results;
  fq::gridsearch_with(st, results.sink, identify);
  const auto rows = results.rows();
  ASSERT_EQ(rows.size(), 250000u);
  for (std::size_t i = 0; i < rows.size(); i += 997) EXPECT_EQ(rows[i][0], static_cast<double>(i + 1));
  std::vector<std::string> progress;
  for (const auto& l : console.lines())
    if (l.find("ran model") != std::string::npos) progress.push_back(l);
  ASSERT_EQ(progress.size(), 3u);
  EXPECT_NE(progress[0].find(" 100000  of "), std::string::npos);
  EXPECT_NE(progress[1].find(" 200000  of "), std::string::npos);
  EXPECT_NE(progress[2].find(" 250000  of "), std::string::npos);
}

TEST(GridSearch, SameResultsWithOneAndTwoThreads) {
  auto st = grid_state({0, 0, 0}, {20, 30, 40}, {1, 1, 1});
  ConsoleCapture console;
  ask(st, fq::gridsearch_options);
  const int saved = omp_get_max_threads();
  omp_set_num_threads(1);
  ResultsCapture one;
  fq::gridsearch_with(st, one.sink, identify);
  omp_set_num_threads(2);
  ResultsCapture two;
  fq::gridsearch_with(st, two.sink, identify);
  omp_set_num_threads(saved);
  EXPECT_EQ(one.lines(), two.lines());
  EXPECT_EQ(one.lines().size(), 21u * 31u * 41u);
}

TEST(GridSearch, EmptyAndUnevenGrids) {
  ConsoleCapture console;
  {  // An upper bound below the lower bound: nothing runs, the file stays empty.
    auto st = grid_state({0, 5}, {1, 1}, {1, 1});
    ask(st, fq::gridsearch_options);
    ResultsCapture results;
    fq::gridsearch_with(st, results.sink, identify);
    EXPECT_TRUE(results.lines().empty());
  }
  {  // 3.5 values: the check fails, the count rounds away from zero.
    auto st = grid_state({0}, {1}, {0.4});
    ask(st, fq::gridsearch_options);
    EXPECT_EQ(st.parameters.nmodels, 4);
    EXPECT_EQ(console.lines().back(), " Error: (max-min) is not evenly divisible by step for all parameters.");
  }
  {  // 3.5 x 2 = 7 passes the check on the product.
    auto st = grid_state({0, 0}, {1, 1}, {0.4, 1});
    ask(st, fq::gridsearch_options);
    EXPECT_EQ(st.parameters.nmodels, 7);
    EXPECT_NE(console.lines().back().find("models will be run."), std::string::npos);
  }
  {  // Equal bounds are one value whatever the step, even 0.
    auto st = grid_state({2, 0}, {2, 1}, {0, 0.5});
    ask(st, fq::gridsearch_options);
    EXPECT_EQ(st.parameters.nmodels, 3);
    ResultsCapture results;
    fq::gridsearch_with(st, results.sink, identify);
    EXPECT_EQ(results.rows().size(), 3u);
  }
}

TEST(GridSearch, RefusesGridsWithoutAFiniteCount) {
  ConsoleCapture console;
  for (double step : {0.0, -1.0, std::nan("")}) {
    auto st = grid_state({0, 0}, {1, 1}, {0.5, step});
    EXPECT_THROW(ask(st, fq::gridsearch_options), ff::InputError) << step;
    EXPECT_THROW(ask(st, fq::mcgrid_options, "10\n"), ff::InputError) << step;
  }
  // 10^6 values in each of 4 parameters: 10^24 models.
  auto st = grid_state({0, 0, 0, 0}, {1e6, 1e6, 1e6, 1e6}, {1, 1, 1, 1});
  EXPECT_THROW(ask(st, fq::gridsearch_options), ff::InputError);
}

TEST(MonteCarloGrid, DrawsLieOnTheGridAndLinesAreWhole) {
  auto st = grid_state({0, 10}, {4, 12}, {1, 0.5});
  ConsoleCapture console;
  ask(st, fq::mcgrid_options, "25000\n");
  EXPECT_EQ(st.parameters.nmodels, 25000);
  EXPECT_EQ(st.method.nmodels_poss, 25);
  ResultsCapture results;
  fq::montecarlo_grid_with(st, results.sink, identify);
  const auto rows = results.rows();
  ASSERT_EQ(rows.size(), 25000u);
  std::map<std::pair<double, double>, int> seen;
  for (const auto& r : rows) {
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], r[1] * 1000 + r[2]);
    EXPECT_EQ(r[1], std::round(r[1]));
    EXPECT_EQ((r[2] - 10) * 2, std::round((r[2] - 10) * 2));
    ++seen[{r[1], r[2]}];
  }
  // Every one of the 25 models is drawn, each about 1000 times (binomial
  // standard deviation ~31: 200 is more than 6 of them).
  EXPECT_EQ(seen.size(), 25u);
  for (const auto& [model, count] : seen) EXPECT_NEAR(count, 1000, 200);
  int progress = 0;
  for (const auto& l : console.lines()) progress += l.find("ran model ") != std::string::npos;
  EXPECT_EQ(progress, 2);
}

TEST(MonteCarloGrid, EveryModelOfALargeGridCanBeDrawn) {
  // 2^25 + 1 models: a single-precision draw could only reach multiples of 4
  // near the top; 64-bit draws reach odd model numbers as often as even ones.
  auto st = grid_state({1}, {33554433}, {1});
  ConsoleCapture console;
  ask(st, fq::mcgrid_options, "4000\n");
  EXPECT_EQ(st.method.nmodels_poss, 33554433);
  ResultsCapture results;
  fq::montecarlo_grid_with(st, results.sink, identify);
  int odd = 0;
  for (const auto& r : results.rows()) odd += static_cast<std::int64_t>(r[1]) % 2;
  EXPECT_NEAR(odd, 2000, 250);  // binomial sd ~32
}

TEST(MonteCarloGrid, UnevenGridAsksNoModelCount) {
  auto st = grid_state({0}, {1}, {0.4});
  ConsoleCapture console;
  ask(st, fq::mcgrid_options, "");  // nothing is read
  EXPECT_EQ(st.parameters.nmodels, 0);
  ResultsCapture results;
  fq::montecarlo_grid_with(st, results.sink, identify);
  EXPECT_TRUE(results.lines().empty());
}

class MonteCarloNormal : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = testing::TempDir() + "fq_proposal.txt";
    std::ofstream(path_) << "1.0 -2.0\n-- covariance --\n4.0 1.2\n1.2 0.9\n";
  }
  void TearDown() override { std::remove(path_.c_str()); }
  std::string path_;
};

void copy_params(const fq::RunState&, double& out, std::span<const double> p) { out = p[0] + p[1]; }

TEST_F(MonteCarloNormal, DrawsHaveTheFileMeanAndCovariance) {
  auto st = grid_state({0, 0}, {0, 0}, {1, 1});  // ranges are not used
  ConsoleCapture console;
  ask(st, fq::mcnormal_options, "40000\n'" + path_ + "'\n");
  ASSERT_EQ(st.method.means, (std::vector<double>{1.0, -2.0}));
  ASSERT_EQ(st.method.c, (std::vector<double>{4.0, 1.2, 1.2, 0.9}));
  ResultsCapture results;
  fq::mc_normal_with(st, results.sink, copy_params);
  const auto rows = results.rows();
  ASSERT_EQ(rows.size(), 40000u);
  double m0 = 0, m1 = 0;
  for (const auto& r : rows) {
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], r[1] + r[2]);
    m0 += r[1];
    m1 += r[2];
  }
  const double n = static_cast<double>(rows.size());
  m0 /= n;
  m1 /= n;
  double c00 = 0, c01 = 0, c11 = 0;
  for (const auto& r : rows) {
    c00 += (r[1] - m0) * (r[1] - m0);
    c01 += (r[1] - m0) * (r[2] - m1);
    c11 += (r[2] - m1) * (r[2] - m1);
  }
  // Standard errors with 40000 draws: mean 0.01 (sd 2) and 0.005 (sd 0.95);
  // variances about var*sqrt(2/n) = 0.03 and 0.006.  Tolerances are 6 of them.
  EXPECT_NEAR(m0, 1.0, 0.06);
  EXPECT_NEAR(m1, -2.0, 0.03);
  EXPECT_NEAR(c00 / n, 4.0, 0.18);
  EXPECT_NEAR(c01 / n, 1.2, 0.1);
  EXPECT_NEAR(c11 / n, 0.9, 0.04);
}

TEST_F(MonteCarloNormal, BadProposalFiles) {
  auto st = grid_state({0, 0}, {0, 0}, {1, 1});
  ConsoleCapture console;
  // A missing file is asked again at the console; an options file cannot
  // answer again.
  ask(st, fq::mcnormal_options, "10\nno_such_file.txt\n'" + path_ + "'\n", true);
  int invalid = 0;
  for (const auto& l : console.lines()) invalid += l == " Invalid File Name";
  EXPECT_EQ(invalid, 1);
  EXPECT_THROW(ask(st, fq::mcnormal_options, "10\nno_such_file.txt\n'" + path_ + "'\n"), ff::InputError);
  // A file that ends early, a non-number, a matrix that is not positive definite.
  for (const char* text : {"1.0 2.0\nsep\n4.0 1.0\n", "1.0 x\nsep\n1 0\n0 1\n", "0 0\nsep\n1 2\n2 1\n"}) {
    std::ofstream(path_) << text;
    EXPECT_THROW(ask(st, fq::mcnormal_options, "10\n'" + path_ + "'\n"), ff::InputError) << text;
  }
}

}  // namespace
