// How a run ends when it cannot go on.  Ctrl-C (SIGINT) or SIGTERM during a
// run: the results file holds only whole lines, the console says how many
// models were written, and the exit status is 130 or 143.  A run that needs
// more memory than it may have ends with a message and status 1, not an
// abort.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foldquest/methods/methods.hpp"
#include "freeformat/reader.hpp"
#include "freeformat/writer.hpp"

namespace fs = std::filesystem;

namespace {

class Interrupt : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fq_interrupt_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write("beds.txt", "bed top\n-500 120\n-250 121.5\n0 150\n250 180\nbed base\n-500 20\n0 40\n500 80\n");
    // A grid of 10^9 models: far more than the test waits for.
    write("params.txt",
          "-500 500 1\n-100 -100 1\n1 1000 1\n30 30 1\n60 60 1\n2 2 1\n1 1000 1\n1\n0.5\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  std::string read(const std::string& name) const {
    std::ifstream f(dir_ / name, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }

  // Starts foldquest in the test folder on `answers`, waits until its
  // results file holds data, sends `sig` and returns the wait status.
  int interrupt_run(const std::string& answers, int sig) {
    write("answers.txt", answers);
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(127);
      const int in = open("answers.txt", O_RDONLY);
      const int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in < 0 || out < 0) _exit(127);
      dup2(in, 0);
      dup2(out, 1);
      dup2(out, 2);
      // The default reaction, whatever the test runner's.
      signal(SIGINT, SIG_DFL);
      signal(SIGTERM, SIG_DFL);
      execl(FOLDQUEST_EXE, FOLDQUEST_EXE, static_cast<char*>(nullptr));
      _exit(127);
    }
    const fs::path results = dir_ / "out.txt";
    std::error_code ec;
    for (int i = 0; i < 6000; ++i) {
      if (fs::exists(results, ec) && fs::file_size(results, ec) > 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  }

  // Checks that every line of the results file is whole (ends in a newline,
  // holds only numbers) and that the console reported the line count.
  void expect_whole_lines(const std::string& says, std::size_t values_per_line) {
    const std::string text = read("out.txt");
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << "the last line is cut";
    std::istringstream in(text);
    std::string line;
    std::size_t n = 0;
    while (std::getline(in, line)) {
      ++n;
      std::istringstream words(line);
      std::string w;
      std::size_t k = 0;
      for (; words >> w; ++k) {
        double v = 0;
        EXPECT_TRUE(ff::parse_real(w, v)) << "line " << n << ": " << line;
      }
      EXPECT_EQ(k, values_per_line) << "line " << n << ": " << line;
    }
    const std::string out = read("stdout.txt");
    const std::string want =
        (ff::Line() << says << static_cast<std::int64_t>(n) << " models written to out.txt").str() + "\n";
    EXPECT_NE(out.find(want), std::string::npos) << "wanted '" << want << "' in:\n" << out.substr(out.size() > 2000 ? out.size() - 2000 : 0);
  }

  fs::path dir_;
};

TEST_F(Interrupt, SigintDuringGridSearchLeavesWholeLinesAndExits130) {
  const int status = interrupt_run("1\n1\n1\nbeds.txt\n1\n1\nparams.txt\n1\n1\n1\nout.txt\n", SIGINT);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 130);
  expect_whole_lines("Interrupted (SIGINT): ", 1);
}

TEST_F(Interrupt, SigtermDuringAChainLeavesWholeLinesAndExits143) {
  // Metropolis-Hastings over 10^9 steps: one score and 7 parameters a line.
  const int status =
      interrupt_run("1\n1\n1\nbeds.txt\n1\n1\nparams.txt\n4\n1000000000\n1\n1\n2\n0\n1.0\nout.txt\n", SIGTERM);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 143);
  expect_whole_lines("Terminated (SIGTERM): ", 8);
}

// Parallel tempering with five million levels: accepted on a machine with
// several gigabytes, but the level table alone is more than the run may
// allocate under a 256 MB limit.
TEST_F(Interrupt, AllocationFailureEndsWithAMessageAndStatus1) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers need more address space than the limit allows";
#else
  if (!fq::apt_levels_too_large(5000000, 7).empty()) GTEST_SKIP() << "this machine refuses five million levels";
  write("answers.txt", "1\n1\n1\nbeds.txt\n1\n1\nparams.txt\n7\n10\n1\n5000000\n1\n2\n0\n1.0\nout.txt\n\n");
  const std::string cmd = "cd '" + dir_.string() + "' && ulimit -v 262144 && OMP_NUM_THREADS=1 '" FOLDQUEST_EXE
                          "' < answers.txt > stdout.txt 2> stderr.txt";
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 1) << read("stderr.txt");
  EXPECT_NE(read("stderr.txt").find("foldquest: error: out of memory"), std::string::npos) << read("stderr.txt");
#endif
}

}  // namespace
