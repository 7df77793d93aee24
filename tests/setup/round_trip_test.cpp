// Round trip: the options file that setup writes is read by foldquest to the
// end, and leaves the same run state as the same answers typed at
// foldquest's console.
//
// Each row of kRows is one answer set.  Adding a fault type or a method is
// one row.  A row whose file holds lines that only a fault model or a method
// reads (their option questions, or counts that depend on the model's
// parameters) is skipped until that fault model or method is in foldquest's
// tables; it then runs by itself.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foldquest/driver/run_state_dump.hpp"
#include "foldquest/driver/startup.hpp"
#include "foldquest/driver/choose.hpp"
#include "tests/support/files.hpp"

namespace fs = std::filesystem;

namespace {

using fqtest::read_file;

// One answer of a dialogue.  Most answers are typed to both programs; setup
// alone asks the numbers of beds and terraces, and foldquest alone asks for
// the parameter file a second time (setup repeats the first name itself).
struct Answer {
  enum Who { both, setup_only, foldquest_only };
  Answer(const char* t) : text(t) {}  // NOLINT: rows read best with plain strings
  Answer(std::string t, Who w = both) : text(std::move(t)), who(w) {}
  std::string text;
  Who who = both;
};
Answer setup_only(std::string t) { return {std::move(t), Answer::setup_only}; }
Answer foldquest_only(std::string t) { return {std::move(t), Answer::foldquest_only}; }

// `n` copies of `v` on one line: the values of a specified initial model.
std::string values(int n, const char* v = "5.0") {
  std::string s;
  for (int i = 0; i < n; ++i) s += (i ? " " : "") + std::string(v);
  return s;
}

struct Row {
  const char* name;
  int tip, fault, method;
  int fault_params;  // the fault model's own parameters for these options
  int slips;         // growth-stratum plus terrace slips of the data named
  int restored;      // restored-state parameters of fit type 5
  std::vector<Answer> answers;  // everything after the options file name
};

// The data files every row may name (written into each test's folder):
//   beds.txt        4 beds, 2 of them growth strata      -> 2 slips
//   plain_beds.txt  3 beds, no growth stratum            -> 0 slips
//   data dir/beds, growth.txt   the same as beds.txt, under a name that
//                   needs quotes                         -> 2 slips
//   terr.txt        3 terraces                           -> 3 slips
//   dips.txt        3 dips;  faults.txt  2 points on the fault
const std::vector<Row> kRows = {
    // ---- rows foldquest reads today: no fault-model or method questions
    {"BedsFlatLineRms", 1, 1, 1, 7, 0, 0,
     {"1", "1", "plain_beds.txt", "1", "1", "params.txt", "1", "1", "1", "out.txt"}},
    {"GrowthBedsQuotedNamesKnownDipChiSquare", 2, 1, 1, 7, 2, 0,
     {"1", "1", "'data dir/beds, growth.txt'", "2", "1", "params.txt", "1", "2", "-5.5", "3", "'run 1.txt'"}},
    {"BedsDipsFitForDipSeparateRestoredDip", 1, 1, 1, 7, 2, 0,
     {"2", "1 2", "beds.txt", "dips.txt", "1", "1", "params.txt", "1", "3", "2", "1", "1.0", "2.0", "1", "0.5",
      "out.txt"}},
    {"AllTypesKnownLinesCorrelatedBeds", 1, 1, 1, 7, 5, 0,
     {"4", "4 3 2 1", "beds.txt", "dips.txt", "terr.txt", "faults.txt", "1", "1", "params.txt", "1", "4", "-3.0",
      setup_only("4"), "10 20 30 40", "1.5", setup_only("3"), "310 330 350", "1", "4", "2", "0", "1.0", "250.0",
      "2.0", "0", "1.5", "0.5 0.5 0.5", "3.0", "out.txt"}},
    {"Fit5DipPerBedWithDipsAndIntercepts", 1, 1, 1, 7, 2, 4 + 1 + 4,
     {"2", "1 2", "beds.txt", "dips.txt", "1", "1", "params.txt", "1", "5", "1", "3", "2", "2", "1",
      foldquest_only("params.txt"), "2", "0", "1.0", "2.0", "0", "out.txt"}},
    {"Fit5SevenThenZeroBecomesKnownDip", 1, 1, 1, 7, 0, 0,
     {"1", "2", "dips.txt", "1", "1", "params.txt", "1", "5", "7", "0", "4.0", "0", foldquest_only("params.txt"),
      "2", "0", "3.0", "1", "0.25", "out.txt"}},
    {"Fit5DipsOnlyOneRestoredDip", 1, 1, 1, 7, 0, 1,
     {"1", "2", "dips.txt", "1", "1", "params.txt", "1", "5", "1", "0", foldquest_only("params.txt"), "1",
      "out.txt"}},
    {"Fit5SameDipAllBedsWithTerraces", 1, 1, 1, 7, 3, 1 + 3,
     {"2", "1 4", "plain_beds.txt", "terr.txt", "1", "1", "params.txt", "1", "5", "1", "1", "1",
      foldquest_only("params.txt"), "2.0", setup_only("3"), "1 2 3", "2", "1", "1.0", "1.0", "1 1 1", "out.txt"}},
    {"TerracesAndFaultPointsListricFinalTip", 2, 4, 1, 9, 3, 0,
     {"2", "4 3", "terr.txt", "faults.txt", "2", "4", "params.txt", "1", "-1.5", setup_only("3"), "300 320 340",
      "2", "0", "1.0", "1 1 1", "2.0", "out.txt"}},
    {"NoDataTypes", 1, 1, 1, 7, 0, 0, {"0", "", "1", "1", "params.txt", "1", "1", "out.txt"}},
    {"FaultPointsRefusedChiSquare", 2, 1, 1, 7, 0, 0,
     {"1", "3", "faults.txt", "2", "1", "params.txt", "1", "3", "1", "out.txt"}},

    // ---- fault models with option questions
    {"Fault2Tip1DetachmentFree", 1, 2, 1, 8, 2, 0,
     {"1", "1", "beds.txt", "1", "2", "0", "params.txt", "1", "1", "1", "out.txt"}},
    {"Fault2Tip2DetachmentAtTip", 2, 2, 1, 7, 2, 0,
     {"1", "1", "beds.txt", "2", "2", "1", "params.txt", "1", "1", "1", "out.txt"}},
    {"Fault3Tip1BendAtTip", 1, 3, 1, 8, 2, 0,
     {"1", "1", "beds.txt", "1", "3", "1", "params.txt", "1", "1", "1", "out.txt"}},
    {"Fault3Tip1BendFreeTipBelow", 1, 3, 1, 9, 2, 0,
     {"1", "1", "beds.txt", "1", "3", "0", "1", "params.txt", "1", "1", "1", "out.txt"}},
    {"Fault3Tip2BelowBendOnly", 2, 3, 1, 9, 2, 0,
     {"1", "1", "beds.txt", "2", "3", "0", "params.txt", "1", "1", "1", "out.txt"}},
    {"Fault4Tip1DetachmentFree", 1, 4, 1, 9, 2, 0,
     {"1", "1", "beds.txt", "1", "4", "0", "params.txt", "1", "1", "1", "out.txt"}},
    {"Fault4Tip1DetachmentAtTip", 1, 4, 1, 8, 2, 0,
     {"1", "1", "beds.txt", "1", "4", "1", "params.txt", "1", "1", "1", "out.txt"}},
    {"Fault5Tip1DetachmentFree", 1, 5, 1, 6, 2, 0,
     {"1", "1", "beds.txt", "1", "5", "0", "params.txt", "1", "1", "1", "out.txt"}},
    {"Fault5Tip2DetachmentAtTip", 2, 5, 1, 5, 2, 0,
     {"1", "1", "beds.txt", "2", "5", "1", "params.txt", "1", "1", "1", "out.txt"}},

    // ---- methods with option questions
    {"GridMonteCarlo", 1, 1, 2, 7, 2, 0,
     {"1", "1", "beds.txt", "1", "1", "params.txt", "2", "20", "1", "1", "out.txt"}},
    {"NormalMonteCarloFitForDip", 1, 1, 3, 7, 2, 0,
     {"2", "1 2", "beds.txt", "dips.txt", "1", "1", "params.txt", "3", "20", "proposal.txt", "3", "3",
      "out.txt"}},
    {"MetropolisRandomStart", 1, 1, 4, 7, 0, 0,
     {"1", "2", "dips.txt", "1", "1", "params.txt", "4", "20", "1", "2", "2.0", "1", "2", "0", "2.0", "0",
      "out.txt"}},
    {"MetropolisGivenStartWithGrowthAndTerraceSlips", 1, 1, 4, 7, 2 + 3, 0,
     {"2", "1 4", "beds.txt", "terr.txt", "1", "1", "params.txt", "4", "20", "2", values(7 + 2 + 3), "1", "0.5",
      setup_only("3"), "300 320 340", "2", "0", "1.0", "1.0", "1 1 1", "out.txt"}},
    {"AdaptiveMetropolisGivenStart", 1, 1, 5, 7, 2, 0,
     {"1", "1", "beds.txt", "1", "1", "params.txt", "5", "20", "2", values(7 + 2), "10", "1", "4", "1", "1.0",
      "100.0", "out.txt"}},
    {"RobustAdaptiveMetropolisRandomStart", 2, 3, 6, 9, 3, 0,
     {"1", "4", "terr.txt", "2", "3", "1", "params.txt", "6", "20", "1", "0.0", setup_only("3"), "1 2 3", "2",
      "1", "1.0", "1 1 1", "out.txt"}},
    {"ParallelTemperingDetachmentGivenStart", 1, 2, 7, 8, 2, 0,
     {"1", "1", "beds.txt", "1", "2", "0", "params.txt", "7", "20", "2", values(8 + 2), "3", "1", "2", "0", "1.0",
      "out.txt"}},
    {"ParallelTemperingKinkFoldWithTerraces", 1, 5, 7, 6, 3, 0,
     {"1", "4", "terr.txt", "1", "5", "0", "params.txt", "7", "20", "2", values(6 + 3), "1", "2", "0.0",
      setup_only("3"), "1 2 3", "2", "0", "1.0", "1 1 1", "out.txt"}},
};

// Test names show the row's name.
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class RoundTrip : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    old_cwd_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("fq_setup_round_trip_" + std::string(GetParam().name));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "data dir");
    const std::string beds = "bed top\n0 10\n10 11\n20 12\ngrowth g1\n0 20\n10 21\nbed mid\n0 5\n10 6\n"
                             "growth g2\n0 30\n5 31\n";
    write("beds.txt", beds);
    write("data dir/beds, growth.txt", beds);
    write("plain_beds.txt", "bed a\n0 1\n5 2\nbed b\n0 3\n5 4\nbed c\n0 5\n5 6\n");
    write("dips.txt", "100 50 30\n-200, 10, -12.5\n300 60 0\n");
    write("terr.txt", "terrace t1\n0 100\n5 101\nterrace t2\n10 120\nterrace t3\n20 140\n25 141\n");
    write("faults.txt", "-30 -20\n-25 -15\n");
    fs::current_path(dir_);
    console_ = std::tmpfile();
    ff::console().attach(console_);
  }
  void TearDown() override {
    ff::console().attach(stdout);
    if (console_) std::fclose(console_);
    fs::current_path(old_cwd_);
    fs::remove_all(dir_);
  }

  void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }

  static std::string script(const Row& row, Answer::Who skip) {
    std::string s;
    for (const auto& a : row.answers)
      if (a.who != skip) s += a.text + "\n";
    return s;
  }

  // Runs `exe` in the test folder with `input` on standard input; returns its exit status.
  int run_program(const char* exe, const std::string& input, const std::string& tag) {
    write(tag + ".in", input);
    const std::string cmd = "cd '" + dir_.string() + "' && OMP_NUM_THREADS=2 '" + exe + "' < " + tag + ".in > " +
                            tag + ".out 2> " + tag + ".err";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  // foldquest's start-up over the given standard input, in process.
  fq::RunState startup(const std::string& standard_input, bool& all_read) {
    std::istringstream text(standard_input);
    ff::Reader in("-", text);
    fq::Session s(in);
    fq::startup(s);
    s.results.close();
    all_read = in.at_end();
    return s.state;
  }

  fs::path old_cwd_, dir_;
  std::FILE* console_ = nullptr;
};

TEST_P(RoundTrip, OptionsFileGivesTheConsoleRunState) {
  const Row& row = GetParam();
  const bool fault_known = fq::find_fault_model(row.fault) != nullptr;
  // The method's options depend on the model's parameter count (grid size,
  // proposal and initial-model lengths), and setup checks the parameter file
  // against the fault model's count, which foldquest only agrees with once
  // the model is in its table.
  if (!fault_known) GTEST_SKIP() << "needs fault type " << row.fault << " in foldquest's fault-model table";
  if (row.method != 1 && fq::find_method(row.method) == nullptr)
    GTEST_SKIP() << "needs method " << row.method << " in foldquest's method table";

  // The parameter file: one range line per parameter foldquest will count
  // (none of the fault model's own while it has no entry), then the sense of
  // slip and the increment.  Grid methods get one grid point per parameter.
  const int own = fault_known ? row.fault_params : 0;
  const int nranges = own + row.slips + row.restored;
  const char* range = row.method <= 2 ? "5.0 5.0 1.0\n" : "0.0 10.0 5.0\n";
  std::string params;
  for (int i = 0; i < nranges; ++i) params += range;
  write("params.txt", params + "1\n0.5\n");
  if (row.method == 3) {
    // Mean vector, a separator line, the identity covariance.
    const int n = own + row.slips;
    std::string prop = values(n) + "\n--\n";
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) prop += (j ? " " : "") + std::string(i == j ? "1.0" : "0.0");
      prop += "\n";
    }
    write("proposal.txt", prop);
  }

  // setup writes the options file.
  ASSERT_EQ(run_program(SETUP_EXE, "opts.txt\n" + script(row, Answer::foldquest_only), "setup"), 0)
      << read_file(dir_ / "setup.err");
  const std::string opts = read_file(dir_ / "opts.txt");
  ASSERT_GE(opts.size(), 2u);
  EXPECT_EQ(opts.substr(opts.size() - 2), "\n\n") << "the file ends with one empty line";
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().find(".incomplete"), std::string::npos) << e.path();

  // The same answers at foldquest's console, and the file.
  bool console_all_read = false, file_all_read = false;
  const fq::RunState console = startup("1\n" + script(row, Answer::setup_only), console_all_read);
  EXPECT_TRUE(console_all_read) << "the row holds answers foldquest does not ask for";
  fs::remove(dir_ / "out.txt");
  fs::remove(dir_ / "run 1.txt");
  const fq::RunState file = startup("2\nopts.txt\n", file_all_read);
  EXPECT_TRUE(file_all_read);
  EXPECT_EQ(fq::dump(console, false), fq::dump(file, false)) << "options file:\n" << opts;
  EXPECT_EQ(file.options.options_id, 4);
  // The last answer, the results file name, was read from its own line.
  EXPECT_TRUE(fs::exists(dir_ / "out.txt") || fs::exists(dir_ / "run 1.txt"));

  // And the program itself runs from the file to the end.
  EXPECT_EQ(run_program(FOLDQUEST_EXE, "2\nopts.txt\n\n", "foldquest"), 0) << read_file(dir_ / "foldquest.err");
  EXPECT_NE(read_file(dir_ / "foldquest.out").find(" Finished\n"), std::string::npos);
}

std::string row_name(const ::testing::TestParamInfo<Row>& p) { return p.param.name; }

INSTANTIATE_TEST_SUITE_P(Rows, RoundTrip, ::testing::ValuesIn(kRows), row_name);

}  // namespace
