// setup never replaces what is not an options file (a FIFO, a device, a
// data file), and checks its answers against the files it can read: the
// parameter file's range lines and the typed bed and terrace counts.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class SetupFileChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fq_setup_checks_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write("beds.txt", "bed top\n0 10\n10 11\ngrowth g1\n0 20\n5 21\nbed mid\n0 5\n5 6\n");
    write("terr.txt", "terrace t1\n0 100\nterrace t2\n10 120\n");
    std::string ranges;
    for (int i = 0; i < 12; ++i) ranges += "0 1 1\n";
    write("params.txt", ranges + "1\n0.5\n");
    write("short.txt", "0 1 1\n0 1 1\n1\n0.5\n");
  }
  void TearDown() override { if (!HasFailure()) fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  std::string read(const std::string& name) const {
    std::ifstream f(dir_ / name);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }
  int run_setup(const std::vector<std::string>& answers) {
    std::string input;
    for (const auto& a : answers) input += a + "\n";
    write(".stdin", input);
    const std::string cmd = "cd '" + dir_.string() + "' && '" SETUP_EXE "' < .stdin > .stdout 2> .stderr";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  bool said(const std::string& text) const { return read(".stdout").find("\n " + text) != std::string::npos; }

  fs::path dir_;
};

// Beds (1 growth stratum), straight ramp, grid search, flat line, RMS: after
// the options-file name.
const std::vector<std::string> kRest = {"1", "1", "beds.txt", "1", "1", "params.txt", "1", "1", "1", "out.txt"};

std::vector<std::string> with_name(const std::string& name, std::vector<std::string> rest = kRest) {
  rest.insert(rest.begin(), name);
  return rest;
}

TEST_F(SetupFileChecks, FifoTargetIsRefusedAndLeftAlone) {
  ASSERT_EQ(mkfifo((dir_ / "pipe").c_str(), 0644), 0);
  fs::create_symlink(dir_ / "pipe", dir_ / "link");
  ASSERT_EQ(run_setup({"pipe", "link", "opts.txt", "1", "1", "beds.txt", "1", "1", "params.txt", "1", "1", "1",
                       "out.txt"}),
            0)
      << read(".stderr");
  EXPECT_TRUE(said("Error: pipe is not a regular file; name another file"));
  EXPECT_TRUE(said("Error: link is not a regular file; name another file"));
  EXPECT_TRUE(fs::is_fifo(dir_ / "pipe"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
  EXPECT_TRUE(fs::is_regular_file(dir_ / "opts.txt"));
}

TEST_F(SetupFileChecks, OptionsFileThatIsADataFileIsRefused) {
  const std::string beds = read("beds.txt");
  // The options file named like the bed file: the bed file name is refused
  // and asked again (a copy is accepted).
  fs::copy_file(dir_ / "beds.txt", dir_ / "beds2.txt");
  ASSERT_EQ(run_setup({"beds.txt", "1", "1", "'./beds.txt'", "beds2.txt", "1", "1", "beds.txt", "params.txt", "1",
                       "1", "1", "out.txt"}),
            0)
      << read(".stderr");
  EXPECT_TRUE(said("Error: ./beds.txt is the options file being written; name another file"));
  EXPECT_TRUE(said("Error: beds.txt is the options file being written; name another file"));
  // What was written is the options file: the old bed file is replaced by
  // it only because the user named it as the options file.
  EXPECT_NE(read("beds.txt"), beds);
  EXPECT_EQ(read("beds2.txt"), beds);
}

TEST_F(SetupFileChecks, ResultsFileThatIsAnInputIsAskedAgain) {
  auto answers = with_name("opts.txt");
  answers.back() = "params.txt";
  answers.push_back("opts.txt");
  answers.push_back("beds.txt");
  answers.push_back("out.txt");
  ASSERT_EQ(run_setup(answers), 0) << read(".stderr");
  EXPECT_TRUE(said("Error: params.txt is a file this run reads; the results would destroy it"));
  EXPECT_TRUE(said("Error: opts.txt is a file this run reads; the results would destroy it"));
  EXPECT_TRUE(said("Error: beds.txt is a file this run reads; the results would destroy it"));
  EXPECT_NE(read("opts.txt").find(" out.txt\n"), std::string::npos);
}

TEST_F(SetupFileChecks, ParameterFileMustHoldEveryRangeLine) {
  // The straight ramp with one growth stratum needs 8 range lines.
  auto answers = with_name("opts.txt");
  answers.insert(answers.begin() + 6, "short.txt");
  ASSERT_EQ(run_setup(answers), 0) << read(".stderr");
  EXPECT_TRUE(said("Error: the parameter file short.txt does not hold the 8 range lines this model needs"));
  EXPECT_NE(read("opts.txt").find(" params.txt\n"), std::string::npos);
  EXPECT_EQ(read("opts.txt").find("short.txt"), std::string::npos);
}

TEST_F(SetupFileChecks, FitFiveSecondReadingNeedsTheRestoredRanges) {
  // Fit type 5 with a dip per bed (3 beds) and intercepts (3): 8 + 6 = 14
  // range lines; params.txt has 12, so another file is asked for.
  std::string ranges;
  for (int i = 0; i < 14; ++i) ranges += "0 1 1\n";
  write("params14.txt", ranges + "1\n0.5\n");
  ASSERT_EQ(run_setup({"opts.txt", "1", "1", "beds.txt", "1", "1", "params.txt", "1", "5", "1", "2", "1",
                       "params14.txt", "1", "out.txt"}),
            0)
      << read(".stderr");
  EXPECT_TRUE(said("Error: the parameter file params.txt does not hold the 14 range lines this model needs"));
  EXPECT_NE(read("opts.txt").find(" params14.txt\n"), std::string::npos);
}

TEST_F(SetupFileChecks, TypedCountsMustMatchTheFiles) {
  ASSERT_EQ(run_setup({"opts.txt", "2", "1 4", "beds.txt", "terr.txt", "1", "1", "params.txt", "1", "4", "0.0",
                       "2", "3", "1 2 3", "0.0", "3", "2", "5 6", "2", "0", "1.0", "1.0", "1 1", "out.txt"}),
            0)
      << read(".stderr");
  EXPECT_TRUE(said("Error: the bed file holds 3 beds"));
  EXPECT_TRUE(said("Error: the terrace file holds 2 terraces"));
}

}  // namespace
