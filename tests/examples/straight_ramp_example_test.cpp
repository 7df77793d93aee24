// The shipped straight-ramp example beyond what every example is checked
// for (fault_examples_test): its generator's data restore to flat beds,
// and foldquest-best, which the demo uses, finds what `foldquest summary`
// finds and reads both kinds of results files correctly.
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/report/results_file.hpp"
#include "foldquest/report/temp_dir.hpp"
#include "examples/tools/straight_ramp_data.hpp"
#include "tests/support/files.hpp"

namespace fs = std::filesystem;

namespace {

using fqtest::read_file;
using fqtest::lines_of;
using fqtest::words_of;

namespace ex = fqexample::straight_ramp;

// The model the data were made with (final tip, slip, ramp, phi, P/S, s,
// growth slip); the README gives the same values.
const std::vector<double> kTrueModel = ex::true_model();

// The first word of the line that the options file marks with `comment`.
std::string answer_marked(const fs::path& opt, const std::string& comment) {
  for (const auto& l : lines_of(opt))
    if (l.find(comment) != std::string::npos) return words_of(l).at(0);
  return {};
}

// Runs foldquest-best with `args` in `dir`; its exit status, with standard
// output in `out` and standard error in `err`.
int run_best(const fs::path& dir, const std::string& args, std::string& out, std::string& err) {
  const std::string cmd = "cd '" + dir.string() + "' && '" FOLDQUEST_BEST_EXE "' " + args + " > best.out 2> best.err";
  const int rc = std::system(cmd.c_str());
  out = read_file(dir / "best.out");
  err = read_file(dir / "best.err");
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// The value column of the listing after `heading` (a line beginning with
// it), one entry per parameter line: "  NAME  VALUE [LOWER UPPER STEP]".
std::vector<std::string> listed_values(const std::string& out, const std::string& heading) {
  std::vector<std::string> values;
  std::istringstream in(out.substr(out.find("\n" + heading) + 1));
  std::string line;
  std::getline(in, line);  // the heading
  std::getline(in, line);  // the column names
  while (std::getline(in, line) && !line.empty()) {
    std::istringstream words(line);
    std::string name, value;
    words >> name >> value;
    values.push_back(value);
  }
  return values;
}

// A scratch folder, removed afterwards.
using TempDir = fq::TempDir;

class StraightRampExample : public ::testing::Test {
 protected:
  void SetUp() override {
    src_ = fs::path(FOLDQUEST_SOURCE_DIR) / "examples" / "straight_ramp";
    ASSERT_TRUE(fs::is_directory(src_)) << src_;
    for (const auto& e : fs::directory_iterator(src_))
      if (e.is_regular_file()) fs::copy_file(e.path(), dir_.path() / e.path().filename());
  }

  // Runs foldquest in the copy on the options file `opt`, answering the
  // source question, the file name and the closing Enter; returns the exit
  // status.  Console output goes to <opt>.out and <opt>.err.
  int run_foldquest(const std::string& opt) {
    std::ofstream(dir_.path() / (opt + ".in")) << "2\n" << opt << "\n\n";
    const std::string cmd = "cd '" + dir_.path().string() + "' && OMP_NUM_THREADS=2 '" FOLDQUEST_EXE "' < '" + opt +
                            ".in' > '" + opt + ".out' 2> '" + opt + ".err'";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  std::string transcript(const std::string& opt) {
    return read_file(dir_.path() / (opt + ".out")) + read_file(dir_.path() / (opt + ".err"));
  }

  fs::path src_;
  TempDir dir_;
};

// The generator's data (which the example's files hold: see
// fault_examples_test) restore to flat beds with the true model (within
// 0.1 m at the forward increment, 0.05 m, whose discretisation is all that
// separates the two directions), and the dips follow the beds' slopes.
TEST_F(StraightRampExample, GeneratorsDataRestoreToFlatBeds) {
  const ex::DataSet data = ex::make_data();
  EXPECT_LT(data.worst_roundtrip, 0.1);
  EXPECT_LT(data.worst_dip_vs_slope, 0.01);
}

TEST_F(StraightRampExample, FoldquestBestAndSummaryFindTheSameBestModel) {
  ASSERT_EQ(run_foldquest("gridsearch.opt"), 0) << transcript("gridsearch.opt");
  const std::string params = answer_marked(src_ / "gridsearch.opt", "parameter file");
  const std::string results = answer_marked(src_ / "gridsearch.opt", "results file");

  // The best model, as the demo finds it (foldquest-best, result type 2 of
  // the example: a log-probability, the highest is best), and as `foldquest
  // summary` finds it from the options file: the same model (which the
  // examples' own test finds within a grid step of the true model; the grid
  // holds it off its middle, so a numbering read backwards would miss).
  std::string out, err;
  ASSERT_EQ(run_best(dir_.path(), "--result-type 2 --params " + params + " " + results, out, err), 0) << err;
  EXPECT_NE(out.find("grid search, 21875 of 21875 grid models"), std::string::npos) << out;
  EXPECT_NE(out.find("failed models:  0\n"), std::string::npos) << out;
  const std::string cmd = "cd '" + dir_.path().string() + "' && '" FOLDQUEST_EXE "' summary gridsearch.opt > summary.out";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string summary = read_file(dir_.path() / "summary.out");
  const auto at = summary.find("parameter line: ");
  ASSERT_NE(at, std::string::npos) << summary;
  const auto line = words_of(summary.substr(at + 16, summary.find('\n', at) - at - 16));
  EXPECT_EQ(line, listed_values(out, "best model:"));

  EXPECT_EQ(line.size(), kTrueModel.size());
}

// ---- foldquest-best, the older name of the summary's best model -------------

class BestTool : public ::testing::Test {
 protected:
  void write(const std::string& name, const std::string& text) { std::ofstream(dir_.path() / name) << text; }
  int best(const std::string& args) { return run_best(dir_.path(), args, out_, err_); }
  TempDir dir_;
  std::string out_, err_;
};

// Two parameters, 0..10 step 5 and 0..1 step 0.5: 3 x 3 models, the first
// parameter slowest.  Model 6 is (5, 1), model 8 (10, 0.5), model 9 (10, 1).
constexpr const char* kParams3x3 =
    "0 10 5     first\n"
    "0 1 0.5    second\n"
    "1          sense\n"
    "0.5        increment\n";

TEST_F(BestTool, GridScoresMapToTheGridNumbering) {
  write("p.txt", kParams3x3);
  write("r.txt", " -5.0\n -4.0\n NaN\n -3.0\n -6.0\n -1.0\n -9.0\n -2.0\n -3.4028234663852886E+038\n");

  // Highest: model 6, then 8.  The failure value and NaN are failed models.
  ASSERT_EQ(best("--result-type 2 --params p.txt --top 2 r.txt"), 0) << err_;
  EXPECT_NE(out_.find("grid search, 9 of 9 grid models"), std::string::npos) << out_;
  EXPECT_NE(out_.find("failed models:  2\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("rank 1: grid model 6, score -1\n"), std::string::npos) << out_;
  EXPECT_EQ(listed_values(out_, "rank 1:"), (std::vector<std::string>{"5", "1"}));
  EXPECT_EQ(listed_values(out_, "rank 2:"), (std::vector<std::string>{"10", "0.5"}));

  // Lowest: model 9; NaN is failed, the large negative value is a misfit
  // like any other (and the lowest of all) under result types 1 and 3.
  ASSERT_EQ(best("--lowest --params p.txt r.txt"), 0) << err_;
  EXPECT_NE(out_.find("failed models:  1\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("best model: grid model 9,"), std::string::npos) << out_;
  EXPECT_EQ(listed_values(out_, "best model:"), (std::vector<std::string>{"10", "1"}));

  // Ties go to the first line; an unfinished grid is named.
  write("t.txt", "2\n1\n1\n3\n");
  ASSERT_EQ(best("--result-type 1 --params p.txt t.txt"), 0) << err_;
  EXPECT_NE(out_.find("best model: grid model 2,"), std::string::npos) << out_;
  EXPECT_EQ(listed_values(out_, "best model:"), (std::vector<std::string>{"0", "0.5"}));
  EXPECT_NE(err_.find("holds 4 of the 9 grid models"), std::string::npos) << err_;

  // Every model failed: no best model, exit status 1.
  write("n.txt", "NaN\nNaN\n");
  EXPECT_EQ(best("--result-type 1 --params p.txt n.txt"), 1);
  EXPECT_NE(err_.find("no model in the file could be evaluated"), std::string::npos) << err_;
}

TEST_F(BestTool, RecordFilesListEachModelOnce) {
  // A chain repeats its state at a rejected step: --top lists it once.
  write("mc.txt",
        "  -10.5   1.0   2.0\n"
        "  -3.25   4.0   5.0\n"
        "  -3.25   4.0   5.0\n"
        "  -7.0    6.0   7.0\n");
  ASSERT_EQ(best("--result-type 2 --top 3 --names a,b mc.txt"), 0) << err_;
  EXPECT_NE(out_.find("4 lines, 2 parameters"), std::string::npos) << out_;
  EXPECT_NE(out_.find("rank 1: line 2, score -3.25\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("rank 2: line 4, score -7\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("rank 3: line 1, score -10.5\n"), std::string::npos) << out_;
  EXPECT_EQ(listed_values(out_, "rank 1:"), (std::vector<std::string>{"4", "5"}));
  EXPECT_NE(out_.find("                   a"), std::string::npos) << out_;
}

TEST_F(BestTool, MismatchedFilesAndCommandLinesAreRefused) {
  write("p.txt", kParams3x3);
  // A grid file needs the parameter file.
  write("g.txt", "1\n2\n");
  EXPECT_EQ(best("--lowest g.txt"), 1);
  EXPECT_NE(err_.find("give the parameter file"), std::string::npos) << err_;
  // More lines than the grid has models.
  write("long.txt", "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n");
  EXPECT_EQ(best("--lowest --params p.txt long.txt"), 1);
  EXPECT_NE(err_.find("not made with this parameter file"), std::string::npos) << err_;
  // Records of a different parameter count, a ragged file, a word: the
  // file and the line are named.
  write("r3.txt", "1 2 3 4\n");
  EXPECT_EQ(best("--lowest --params p.txt r3.txt"), 1);
  write("rag.txt", "1 2 3\n1 2\n");
  EXPECT_EQ(best("--lowest rag.txt"), 1);
  EXPECT_NE(err_.find("'rag.txt', line 2"), std::string::npos) << err_;
  write("bad.txt", "1 2 3\nx 2 3\n");
  EXPECT_EQ(best("--lowest bad.txt"), 1);
  EXPECT_NE(err_.find("'x' is not a number"), std::string::npos) << err_;
  // Command lines: no goal, two goals, a bad result type.
  EXPECT_EQ(best("bad.txt"), 2);
  EXPECT_EQ(best("--lowest --highest bad.txt"), 2);
  EXPECT_EQ(best("--result-type 5 bad.txt"), 2);
}

TEST_F(BestTool, ParameterLinesAreCountedAndCanBeGiven) {
  // The shipped parameter files carry comments after the numbers.
  const fs::path ex = fs::path(FOLDQUEST_SOURCE_DIR) / "examples" / "straight_ramp";
  write("mc.txt", "-1 2000 -400 500 30 30 2 1 200\n");
  ASSERT_EQ(best("--result-type 2 --params '" + (ex / "params_mcmc.txt").string() + "' mc.txt"), 0) << err_;
  EXPECT_EQ(listed_values(out_, "best model:").size(), kTrueModel.size());
  // Blank lines are passed over; a sense line with three numbers needs --nparams.
  write("p.txt", "\n0 1 1\n\n2 3 1\n1 0 0\n0.5\n");
  write("two.txt", "-1 0.5 2.5\n");
  EXPECT_EQ(best("--result-type 2 --params p.txt two.txt"), 1);
  ASSERT_EQ(best("--result-type 2 --params p.txt --nparams 2 two.txt"), 0) << err_;
  EXPECT_EQ(listed_values(out_, "best model:"), (std::vector<std::string>{"0.5", "2.5"}));
}

}  // namespace
