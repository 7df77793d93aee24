// foldquest run under mpirun (MPI build): rank 0 writes exactly the file one
// process writes, for grid search (over more than one block of models, with
// a block not divisible by the rank count), for both Monte Carlo methods and
// for chains spread over the ranks.  Skipped in builds without MPI.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "foldquest/methods/ranks.hpp"
#include "tests/support/files.hpp"

namespace {

using fqtest::read_file;

namespace fs = std::filesystem;

// A section of one bed of two points and a straight-ramp grid of
// 101 x 11 x 9 x 3 x 1 x 5 x 1 = 149,985 models (odd, and more than one
// block of 100,000), cheap enough to run in a second or two.
class MpiRun : public testing::Test {
 protected:
  void SetUp() override {
#ifndef FOLDQUEST_MPIEXEC
    GTEST_SKIP() << "built without MPI";
#else
    dir_ = fs::path(testing::TempDir()) /
           ("mpi_run_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write("beds.txt", "bed lower\n100 -50\n300 -60\n");
    write("params.txt",
          "0 1000 10\n-600 -100 50\n100 900 100\n20 40 10\n30 30 0\n1 3 0.5\n1 1 0\n1\n50\n");
    write("grid.opt", "1\n1\nbeds.txt\n2\n1\nparams.txt\n1\n1\n1\nresults.txt\n");
    write("mcgrid.opt", "1\n1\nbeds.txt\n2\n1\nparams.txt\n2\n25001\n1\n1\nresults.txt\n");
    write("proposal.txt",
          "500 -350 500 30 30 2 1\n\n"
          "100 0 0 0 0 0 0\n0 50 0 0 0 0 0\n0 0 100 0 0 0 0\n0 0 0 4 0 0 0\n0 0 0 0 4 0 0\n"
          "0 0 0 0 0 0.1 0\n0 0 0 0 0 0 0.01\n");
    write("mcnormal.opt", "1\n1\nbeds.txt\n2\n1\nparams.txt\n3\n20001\nproposal.txt\n1\n2\n0\n5.0\nresults.txt\n");
    write("chains.opt", "1\n1\nbeds.txt\n2\n1\nparams.txt\n6\n300\n2\n500 -350 500 30 30 2 1\n1\n2\n0\n5.0\nresults.txt\n");
#endif
  }
  void TearDown() override {
    if (!HasFailure() && !dir_.empty()) fs::remove_all(dir_);
  }
  void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }

  // Runs foldquest with `arguments`, under mpirun with `ranks` processes
  // (0: directly); returns the exit status.
  int run([[maybe_unused]] int ranks, const std::string& arguments) {
    std::string launcher;
#ifdef FOLDQUEST_MPIEXEC
    // As root (CI) OpenMPI needs --allow-run-as-root; two ranks on a small
    // machine need --oversubscribe.
    if (ranks > 0)
      launcher = "'" FOLDQUEST_MPIEXEC "' --allow-run-as-root --oversubscribe -np " + std::to_string(ranks) + " ";
#endif
    const std::string cmd = "cd '" + dir_.string() + "' && " + launcher + "'" FOLDQUEST_EXE "' run " + arguments +
                            " </dev/null >>stdout.txt 2>>stderr.txt";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  std::string file(const std::string& name) { return read_file(dir_ / name); }
  std::string err() { return file("stderr.txt"); }

  fs::path dir_;
};

TEST_F(MpiRun, TwoRanksWriteTheOneProcessGridFile) {
  ASSERT_EQ(run(0, "grid.opt -q -t 1 -r one.txt"), 0) << err();
  ASSERT_EQ(run(2, "grid.opt -q -t 1 -r two.txt"), 0) << err();
  ASSERT_EQ(run(2, "grid.opt -q -t 2 -r two_threads.txt"), 0) << err();
  const std::string one = file("one.txt");
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 149985);
  EXPECT_TRUE(one == file("two.txt")) << "2 ranks x 1 thread gave another grid file";
  EXPECT_TRUE(one == file("two_threads.txt")) << "2 ranks x 2 threads gave another grid file";
  // Rank 0 alone prints and writes; the transcript is one process's.
  ASSERT_EQ(run(2, "grid.opt -t 1 -r printed.txt"), 0) << err();
  const std::string out = file("stdout.txt");
  EXPECT_EQ(out.find("Finished"), out.rfind("Finished")) << out;
}

TEST_F(MpiRun, MonteCarloMethodsWriteTheOneProcessFile) {
  for (const char* opt : {"mcgrid.opt", "mcnormal.opt"}) {
    ASSERT_EQ(run(0, std::string(opt) + " -q -s 11 -r one.txt"), 0) << err();
    ASSERT_EQ(run(2, std::string(opt) + " -q -s 11 -t 1 -r two.txt"), 0) << err();
    EXPECT_FALSE(file("one.txt").empty());
    EXPECT_TRUE(file("one.txt") == file("two.txt")) << opt;
  }
}

TEST_F(MpiRun, ChainsSpreadOverRanksWriteTheOneProcessFiles) {
  ASSERT_EQ(run(0, "chains.opt -q -s 3 --chains 3 -r one.txt"), 0) << err();
  ASSERT_EQ(run(2, "chains.opt -q -s 3 --chains 3 -t 1 -r two.txt"), 0) << err();
  for (int k = 1; k <= 3; ++k) {
    const std::string one = file("one.txt." + std::to_string(k));
    EXPECT_FALSE(one.empty());
    EXPECT_TRUE(one == file("two.txt." + std::to_string(k))) << "chain " << k;
  }
}

TEST_F(MpiRun, AnInputErrorStopsEveryRank) {
  // A results file in a folder that does not exist: rank 0 cannot start,
  // and the other rank must not wait for it forever.
  EXPECT_EQ(run(2, "grid.opt -q -r no/such/folder/r.txt"), 2);
  EXPECT_NE(err().find("no/such/folder/r.txt"), std::string::npos) << err();
}

TEST(Ranks, SharesAreContiguousAndCoverEverything) {
  for (int nranks : {1, 2, 3, 7}) {
    for (std::int64_t n : {0, 1, 2, 5, 100000, 149985}) {
      std::int64_t next = 0;
      for (int r = 0; r < nranks; ++r) {
        const auto [first, last] = fq::ranks::share(n, r, nranks);
        EXPECT_EQ(first, next);
        EXPECT_LE(last - first, n / nranks + 1);
        EXPECT_GE(last - first, n / nranks);
        next = last;
      }
      EXPECT_EQ(next, n);
    }
  }
}

}  // namespace
