// setup never leaves a half-written options file behind: input that ends
// early or cannot be read ends it with an input error (status 2) naming
// standard input and the line, and an interrupt removes the file being
// written.  In every case an options file from an earlier run is left as
// it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A complete dialogue over every kind of step: four data types, a fault
// model with two option answers, parallel tempering with a specified
// initial model (9 own parameters + 2 growth + 3 terrace slips) and a
// refused level count, fit type 5 with a refused dip answer, terraces, and
// probabilities with the restored-dip uncertainty.
const std::vector<std::string> kAnswers = {
    "opts.txt", "4", "4 3 2 1", "beds.txt", "dips.txt", "terr.txt", "faults.txt", "1", "3", "0", "1",
    "params.txt", "7", "100", "2", "1 2 3 4 5 6 7 8 9 10 11 12 13 14", "1", "3", "5", "7", "0", "4.0", "1",
    "1.0", "3", "1 2 3", "2", "1", "1.0", "2.0", "1", "0.5", "1.0", "1 1 1", "2.0", "out.txt"};

// Answers that are names rather than numbers.
bool is_name(const std::string& a) { return a.find(".txt") != std::string::npos; }

const std::string kEarlier = "options of an earlier run\n";

class InputErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fq_setup_input_errors_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write("beds.txt", "bed top\n0 10\n10 11\ngrowth g1\n0 20\nbed mid\n0 5\ngrowth g2\n0 30\n");
    write("dips.txt", "100 50 30\n");
    write("terr.txt", "terrace t1\n0 100\nterrace t2\n10 120\nterrace t3\n20 140\n");
    write("faults.txt", "-30 -20\n");
    // 14 range lines for the model, 4 more for the restored-state intercepts.
    std::string ranges;
    for (int i = 0; i < 18; ++i) ranges += "0 1 1\n";
    write("params.txt", ranges + "1\n0.5\n");
    write("opts.txt", kEarlier);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  std::string read(const std::string& name) const {
    std::ifstream f(dir_ / name);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }
  std::set<std::string> listing() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }

  // Runs setup over `answers` (one per line); returns its exit status.
  int run_setup(const std::vector<std::string>& answers) {
    std::string input;
    for (const auto& a : answers) input += a + "\n";
    std::ofstream(dir_ / ".stdin") << input;
    const std::string cmd = "cd '" + dir_.string() + "' && '" SETUP_EXE "' < .stdin > .stdout 2> .stderr";
    const int rc = std::system(cmd.c_str());
    fs::remove(dir_ / ".stdin");
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  fs::path dir_;
};

TEST_F(InputErrors, CompleteAnswersReplaceTheEarlierFile) {
  ASSERT_EQ(run_setup(kAnswers), 0) << read(".stderr");
  const std::string opts = read("opts.txt");
  EXPECT_NE(opts, kEarlier);
  EXPECT_NE(opts.find(" use_sigma_restored_dip\n"), std::string::npos);
  // The 14 initial values, written on one line.
  EXPECT_NE(opts.find("14.000000000000000     \n"), std::string::npos) << opts;
  EXPECT_EQ(read(".stderr"), "");
  for (const auto& name : listing()) EXPECT_EQ(name.find(".incomplete"), std::string::npos) << name;
}

TEST_F(InputErrors, InputEndingAtAnyAnswerLeavesNoFile) {
  const auto before = listing();
  for (std::size_t k = 0; k < kAnswers.size(); ++k) {
    const std::vector<std::string> cut(kAnswers.begin(), kAnswers.begin() + static_cast<std::ptrdiff_t>(k));
    ASSERT_EQ(run_setup(cut), 2) << "input cut after " << k << " answers";
    const std::string err = read(".stderr");
    EXPECT_NE(err.find("setup: input error: standard input ends after line " + std::to_string(k) + " where "),
              std::string::npos)
        << err;
    EXPECT_EQ(read("opts.txt"), kEarlier) << "after " << k << " answers";
    fs::remove(dir_ / ".stdout");
    fs::remove(dir_ / ".stderr");
    EXPECT_EQ(listing(), before) << "after " << k << " answers";
  }
}

TEST_F(InputErrors, LetterForAnyNumberNamesTheLine) {
  const auto before = listing();
  for (std::size_t k = 0; k < kAnswers.size(); ++k) {
    if (is_name(kAnswers[k])) continue;
    auto answers = kAnswers;
    answers[k] = "x";
    ASSERT_EQ(run_setup(answers), 2) << "letter at answer " << k + 1;
    const std::string err = read(".stderr");
    EXPECT_NE(err.find("setup: input error: standard input, line " + std::to_string(k + 1) + ": expected "),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("found 'x'"), std::string::npos) << err;
    EXPECT_EQ(read("opts.txt"), kEarlier);
    fs::remove(dir_ / ".stdout");
    fs::remove(dir_ / ".stderr");
    EXPECT_EQ(listing(), before);
  }
}

TEST_F(InputErrors, InterruptRemovesTheFileBeingWritten) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child: setup reading the pipe, in the test folder, with the
    // default reaction to an interrupt whatever the test runner's.
    dup2(fds[0], 0);
    close(fds[0]);
    close(fds[1]);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    signal(SIGINT, SIG_DFL);
    if (chdir(dir_.c_str()) != 0) _exit(127);
    execl(SETUP_EXE, SETUP_EXE, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[0]);
  // The name, then nothing: setup has its temporary file open and waits for
  // the number of data types.
  const std::string name = "opts.txt\n";
  ASSERT_EQ(::write(fds[1], name.data(), name.size()), static_cast<ssize_t>(name.size()));
  const fs::path temp = dir_ / "opts.txt.incomplete";
  for (int i = 0; i < 1000 && !fs::exists(temp); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(fs::exists(temp)) << "the temporary file lies beside the target";
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  close(fds[1]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_EQ(read("opts.txt"), kEarlier);
}

}  // namespace
