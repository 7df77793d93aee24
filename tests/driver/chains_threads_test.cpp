// Several chains in one process (--chains): each chain on its own thread
// with its own generator, seed and console buffer.  Run in-process so that
// ThreadSanitizer (make tsan) sees the threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "foldquest/driver/run.hpp"
#include "foldquest/driver/startup.hpp"
#include "foldquest/methods/chain.hpp"
#include "freeformat/writer.hpp"
#include "tests/support/files.hpp"

namespace {

using fqtest::read_file;

namespace fs = std::filesystem;

class ChainsThreads : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) /
           ("chains_threads_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write("beds.txt", "bed lower\n100 -50\n300 -60\n500 -40\n");
    write("params.txt", "0 1000 10\n-600 -100 50\n100 900 100\n20 40 10\n30 30 0\n1 3 0.5\n1 1 0\n1\n50\n");
    // Robust Adaptive Metropolis, 80 steps, a random initial model each.
    write("chains.opt", "1\n1\n" + q("beds.txt") + "\n2\n1\n" + q("params.txt") + "\n6\n80\n1\n1\n2\n0\n5.0\n" +
                            q("results.txt") + "\n");
    console_ = std::tmpfile();
    ff::console().attach(console_);
  }
  void TearDown() override {
    ff::console().attach(stdout);
    std::fclose(console_);
    fq::chain::set_run_seed(-1);
    if (!HasFailure()) fs::remove_all(dir_);
  }
  void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  std::string q(const std::string& name) const { return "'" + (dir_ / name).string() + "'"; }

  // Runs `chains` chains on `threads` threads with run seed 21; returns
  // their files' texts.
  std::vector<std::string> run(int chains, int threads, const std::string& tag) {
    std::istringstream nothing;
    ff::Reader console_in("standard input", nothing);
    fq::Session session(console_in);
    session.options_path = (dir_ / "chains.opt").string();
    fq::startup(session);
    session.results.close();
    std::vector<std::unique_ptr<ff::Sink>> sinks;
    for (int k = 1; k <= chains; ++k) {
      sinks.push_back(std::make_unique<ff::Sink>());
      EXPECT_TRUE(sinks.back()->open((dir_ / (tag + std::to_string(k))).string()));
    }
    fq::chain::set_run_seed(21);
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    bool stopped = true;
    const std::int64_t n = fq::run_chains(session.state, "r", sinks, stopped);
    omp_set_num_threads(saved);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(n, 80 * chains);
    std::vector<std::string> texts;
    for (int k = 1; k <= chains; ++k) {
      sinks[static_cast<std::size_t>(k - 1)]->close();
      texts.push_back(read_file(dir_ / (tag + std::to_string(k))));
    }
    return texts;
  }

  fs::path dir_;
  std::FILE* console_ = nullptr;
};

TEST_F(ChainsThreads, ChainsOnTwoThreadsMatchChainsOnOne) {
  const auto two = run(4, 2, "two.");
  const auto one = run(4, 1, "one.");
  ASSERT_EQ(two.size(), 4u);
  for (std::size_t k = 0; k < two.size(); ++k) {
    EXPECT_EQ(std::count(two[k].begin(), two[k].end(), '\n'), 80) << "chain " << k + 1;
    EXPECT_TRUE(two[k] == one[k]) << "chain " << k + 1 << " depends on the thread count";
    for (std::size_t j = 0; j < k; ++j) EXPECT_FALSE(two[k] == two[j]) << "chains " << j + 1 << " and " << k + 1;
  }
  // The process generator was not touched: a plain run after the chains
  // still starts from the run's seed.
  const auto three = run(1, 1, "again.");
  EXPECT_TRUE(three[0] == one[0]);
}

}  // namespace
