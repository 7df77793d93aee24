// The start-up dialogue: the same answers from the console and from an
// options file leave equal run states, and the worked examples of the
// parameter layout hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "foldquest/driver/run_state_dump.hpp"
#include "foldquest/driver/startup.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/input/user_input.hpp"

namespace fs = std::filesystem;

namespace {

// A scratch folder with the data files of a run; console output goes to a
// temporary file while a start-up runs.
class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fq_startup_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write("beds.txt",
          "bed top\n0 10\n10 11\n20 12\ngrowth g1\n0 20\n10 21\nbed mid\n0 5\n10 6\n"
          "growth g2\n0 30\n5 31\n");
    write("dips.txt", "100 50 30\n-200, 10, -12.5\n\n");
    write("terr.txt", "terrace t1\n0 100\n5 101\nterrace t2\n10 120\nterrace t3\n20 140\n25 141\n");
    write("faults.txt", "-30 -20\n-25 -15\n");
    console_ = std::tmpfile();
    ff::console().attach(console_);
  }
  void TearDown() override {
    ff::console().attach(stdout);
    if (console_) std::fclose(console_);
    fs::remove_all(dir_);
  }

  void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  // A parameter file of `n` range lines (decimals, so that a first reading
  // of a fit-type-5 file meets a range line where the slip sense should be),
  // then the sense of slip and the increment; returns its quoted name.
  std::string params(int n, const std::string& sense = "1") {
    std::string text;
    for (int i = 0; i < n; ++i) text += i == 4 ? "10.0 90.0 5.0\n" : "0.0 10.0 5.0\n";
    const std::string name = "p" + std::to_string(n) + ".txt";
    write(name, text + sense + "\n0.5\n");
    return q(name);
  }
  // A file name as an answer: quoted, since a path holds slashes.
  std::string q(const std::string& name) const { return "'" + (dir_ / name).string() + "'"; }

  // Runs the start-up with `answers` typed at the console.
  fq::RunState console_run(const std::string& answers) {
    std::istringstream text("1\n" + answers);
    ff::Reader in("-", text);
    return run(in);
  }
  // Runs the start-up with the same answers read from an options file.
  fq::RunState file_run(const std::string& answers) {
    write("opts.txt", answers);
    std::istringstream text("2\n" + q("opts.txt") + "\n");
    ff::Reader in("-", text);
    return run(in);
  }
  fq::RunState run(ff::Reader& in) {
    fq::Session s(in);
    fq::startup(s);
    s.results.close();
    return s.state;
  }

  fs::path dir_;
  std::FILE* console_ = nullptr;
};

bool straight_ramp_registered() { return fq::find_fault_model(1) != nullptr; }

std::string lines(std::initializer_list<std::string> ls) {
  std::string out;
  for (const auto& l : ls) out += l + "\n";
  return out;
}

TEST_F(StartupTest, ConsoleAndOptionsFileGiveTheSameRunState) {
  if (!straight_ramp_registered()) GTEST_SKIP() << "needs the straight-ramp fault model";
  const std::vector<std::string> answer_sets = {
      // All four types listed backwards; fit for dip; probability with the keyword line.
      lines({"4", "4 3 2 1", q("beds.txt"), q("dips.txt"), q("terr.txt"), q("faults.txt"), "2", "1",
             params(12), "1", "3", "-2.0", "100 120 140", "2", "1", "2.0", "3.0", "use_sigma_restored_dip",
             "1", "1.5", "1.0", "0.5, 0.5 0.5", "4.0", q("out.txt")}),
      // Fit type 5, one restored dip per bed plus one for the dips, and
      // intercepts: 9 parameters, then 4 + 1 + 4 more; one file for both readings.
      lines({"2", "1 2", q("beds.txt"), q("dips.txt"), "1", "1", params(18), "1", "5", "1", "2", "1",
             params(18), "3", q("out.txt")}),
      // Fit type 5 answered 0 and 0 becomes fit type 2.
      lines({"2", "2 1", q("beds.txt"), q("dips.txt"), "2", "1", params(9), "1", "5", "0", "10.0", "0",
             params(9), "2", "0", "1.0", "2.0", "@0", q("out.txt")}),
      // Known lines with terraces; correlated beds.
      lines({"2", "1 4", q("beds.txt"), q("terr.txt"), "1", "1", params(12), "1", "4", "-3.0",
             "1 2 3 4", "1.0", "310 330 350", "4", "1", "1.5", "250.0", "0.5", "1 2 3", q("out.txt")}),
  };
  for (const auto& answers : answer_sets) {
    // The restored-dip answer differs: in a file it is introduced by the
    // keyword line, or left out for 0; at the console it is typed.
    std::string typed = answers, filed = answers;
    for (const std::string key : {"use_sigma_restored_dip\n", "@0\n"}) {
      if (const auto k = typed.find(key); k != std::string::npos) typed.replace(k, key.size(), key == "@0\n" ? "0\n" : "");
      if (const auto k = filed.find(key); k != std::string::npos) filed.replace(k, key.size(), key == "@0\n" ? "" : key);
    }
    const auto a = console_run(typed);
    const auto b = file_run(filed);
    EXPECT_EQ(fq::dump(a, false), fq::dump(b, false)) << answers;
    EXPECT_EQ(a.options.options_id, 5);
    EXPECT_EQ(b.options.options_id, 4);
  }
}

TEST_F(StartupTest, ParameterLayoutAndStoredValues) {
  if (!straight_ramp_registered()) GTEST_SKIP() << "needs the straight-ramp fault model";
  // Beds (2 growth strata) and terraces (3): slips follow the 7 own parameters.
  const auto a = console_run(lines({"3", "1 4 2", q("beds.txt"), q("dips.txt"), q("terr.txt"), "1", "1",
                                    params(12), "1", "1", "0", "1 2 3", "2", "0", "1", "1", "0",
                                    "1", "1 1 1", q("out.txt")}));
  EXPECT_EQ(a.parameters.nparam_start_growth, 8);
  EXPECT_EQ(a.parameters.nparam_start_terr, 10);
  EXPECT_EQ(a.parameters.nparams, 12);
  EXPECT_EQ(a.data.nbeds, 4);
  EXPECT_EQ(a.data.ngrowth, 2);
  EXPECT_TRUE(a.data.beds[1].growth);
  EXPECT_EQ(a.data.beds[3].npts, 2);
  // 30 degrees with the single-precision pi.
  EXPECT_EQ(a.data.dips[0], 0.5235987901687622);
  EXPECT_EQ(a.data.ndips, 2);  // the trailing blank line is not a dip
  EXPECT_EQ(a.parameters.slip_sense, -1);
  EXPECT_EQ(a.parameters.increment, -0.5);
  EXPECT_EQ(a.parameters.v0, -0.5);
  EXPECT_EQ(a.parameters.maxs[4], 90.0);  // the phi bound is kept
  const int want[4] = {1, 1, 1, 0};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(a.options.dattypes[k], want[k]);
}

TEST_F(StartupTest, RestoredFitParameterCounts) {
  if (!straight_ramp_registered()) GTEST_SKIP() << "needs the straight-ramp fault model";
  write("beds3.txt", "bed a\n0 1\nbed b\n0 2\nbed c\n0 3\n");
  // Three beds and dips, answers 1, 2 and 1: 3 + 1 + 3 = 7 restored parameters.
  auto a = console_run(lines({"2", "1 2", q("beds3.txt"), q("dips.txt"), "1", "1", params(14, "-1"), "1", "5",
                              "1", "2", "1", params(14, "-1"), "3", q("out.txt")}));
  EXPECT_EQ(a.parameters.nrestored_fit_params, 7);
  EXPECT_EQ(a.parameters.nparam_start_restored_fit, 8);
  EXPECT_EQ(a.parameters.nparams, 14);
  EXPECT_EQ(a.parameters.mins.size(), 14u);
  EXPECT_EQ(a.parameters.slip_sense, 1);
  EXPECT_EQ(a.parameters.increment, 0.5);
  // Dips only, answers 1 and 0: one restored dip; fit type stays 5.
  auto b = console_run(lines({"1", "2", q("dips.txt"), "1", "1", params(8), "1", "5", "1", "0",
                              params(8), "2", "0", "1.0", "0", q("out.txt")}));
  EXPECT_EQ(b.parameters.nrestored_fit_params, 1);
  EXPECT_EQ(b.parameters.nparams, 8);
  EXPECT_EQ(b.options.fittype, 5);
  // Answers 0 and 0: fit type 2, and the parameter file is still read again.
  auto c = console_run(lines({"1", "2", q("dips.txt"), "1", "1", params(7), "1", "5", "0", "7.5", "0",
                              params(7), "2", "0", "1.0", "0", q("out.txt")}));
  EXPECT_EQ(c.options.fittype, 2);
  EXPECT_EQ(c.parameters.nparams, 7);
  EXPECT_EQ(c.parameters.regdipdeg, 7.5);
}

TEST_F(StartupTest, FirstReadingErrorIsRaisedWhenNoSecondReadingComes) {
  if (!straight_ramp_registered()) GTEST_SKIP() << "needs the straight-ramp fault model";
  // A file for 9 parameters read with dips only (7 parameters): line 8 is
  // not an integer, and no second reading comes to replace the error.
  try {
    console_run(lines({"1", "2", q("dips.txt"), "1", "1", params(9), "1", "1", "1", q("out.txt")}));
    FAIL() << "expected an input error";
  } catch (const ff::InputError& e) {
    EXPECT_NE(std::string(e.what()).find("line 8"), std::string::npos) << e.what();
  }
}

TEST_F(StartupTest, DataTypeCodesMapToIndices) {
  // Menu codes 1 (beds) and 4 (terraces) set indices 1 and 3.
  std::istringstream empty;
  ff::Reader in("-", empty);
  fq::Session s(in);
  s.options_file = ff::Reader::from_string("opts", "2\n1, 4\n");
  fq::getdattype(s);
  EXPECT_EQ(s.state.options.dattypes[0], 1);
  EXPECT_EQ(s.state.options.dattypes[1], 0);
  EXPECT_EQ(s.state.options.dattypes[2], 1);
  EXPECT_EQ(s.state.options.dattypes[3], 0);
}

}  // namespace
