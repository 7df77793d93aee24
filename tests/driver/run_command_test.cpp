// foldquest run: the options file answers the dialogue, --results replaces
// the results file, --seed repeats a run byte for byte for every method that
// draws random numbers, --chains writes one file per chain, and the exit
// status tells whether every result was written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>
#include "tests/support/files.hpp"

namespace {

using fqtest::read_file;

namespace fs = std::filesystem;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

struct Result {
  int status;
  std::string out, err;
};

// A copy of the straight-ramp example in a fresh folder, and options files
// made from its Metropolis-Hastings file with another method and fewer
// models.
class RunCommand : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) /
           ("run_command_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const auto& e : fs::directory_iterator(FOLDQUEST_SOURCE_DIR "/examples/straight_ramp"))
      if (e.is_regular_file()) fs::copy_file(e.path(), dir_ / e.path().filename());
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }

  // The example's chain options with `method`, `nmodels` and the method's
  // extra answers after the initial model (in place of the example's own
  // Adaptive Metropolis answer).
  std::string chain_options(int method, int nmodels, const std::string& extra) {
    std::vector<std::string> l = lines_of(read_file(dir_ / "mcmc.opt"));
    std::erase_if(l, [](const std::string& line) { return line.find("adapt the proposal covariance") != std::string::npos; });
    l.at(8) = std::to_string(method);
    l.at(9) = std::to_string(nmodels);
    std::string text;
    for (std::size_t i = 0; i < l.size(); ++i) {
      text += l[i] + "\n";
      if (i == 11 && !extra.empty()) text += extra + "\n";
    }
    const std::string name = "method" + std::to_string(method) + ".opt";
    std::ofstream(dir_ / name) << text;
    return name;
  }
  // An example options file with its number of models replaced.
  std::string fewer_models(const std::string& opt, int nmodels) {
    std::vector<std::string> l = lines_of(read_file(dir_ / opt));
    std::string text;
    for (auto& line : l) {
      if (line.find("number of models") != std::string::npos) line = std::to_string(nmodels);
      text += line + "\n";
    }
    const std::string name = "small_" + opt;
    std::ofstream(dir_ / name) << text;
    return name;
  }

  Result run(const std::string& arguments, const std::string& env = "") {
    const std::string cmd = "cd '" + dir_.string() + "' && " + env + " '" FOLDQUEST_EXE "' " + arguments +
                            " </dev/null >stdout.txt 2>stderr.txt";
    const int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, read_file(dir_ / "stdout.txt"), read_file(dir_ / "stderr.txt")};
  }
  std::string file(const std::string& name) { return read_file(dir_ / name); }
  bool exists(const std::string& name) { return fs::exists(dir_ / name); }

  // Runs `opt` twice with one seed and once with another: the first two
  // results files are identical, the third differs.
  void expect_seed_repeats(const std::string& opt, const std::string& threads) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
      const std::string seed = std::string(name) == "c.txt" ? "12346" : "12345";
      const Result r = run("run " + opt + " --quiet --results " + name + " --seed " + seed + threads);
      ASSERT_EQ(r.status, 0) << opt << "\n" << r.err;
      EXPECT_EQ(r.out, "") << "--quiet prints nothing on standard output";
      EXPECT_NE(r.err.find("foldquest: random seed " + seed + "\n"), std::string::npos) << r.err;
    }
    const std::string a = file("a.txt");
    EXPECT_FALSE(a.empty()) << opt;
    EXPECT_EQ(a, file("b.txt")) << opt << ": the same seed gave another results file";
    EXPECT_NE(a, file("c.txt")) << opt << ": another seed gave the same results file";
  }

  fs::path dir_;
};

TEST_F(RunCommand, TheSameSeedGivesTheSameResultsFileForEveryRandomMethod) {
  struct Case {
    std::string opt;
    std::string threads;
  };
  const std::vector<Case> cases{
      {chain_options(4, 200, ""), ""},
      {chain_options(5, 200, "50"), ""},
      {chain_options(6, 200, ""), ""},
      {chain_options(7, 60, "3"), " --threads 1"},
      {fewer_models("mcgrid.opt", 300), " --threads 2"},
      {fewer_models("mcnormal.opt", 300), " --threads 2"},
  };
  for (const Case& c : cases) expect_seed_repeats(c.opt, c.threads);
}

TEST_F(RunCommand, MonteCarloFilesDoNotDependOnTheThreadCount) {
  // Grid Monte Carlo on beds only with RMS (cheap models), over more than one
  // block of draws.
  std::string beds = file("gridsearch_beds_rms.opt");
  beds.replace(beds.find("1                       method"), 1, "2\n12001");
  std::ofstream(dir_ / "mcgrid_beds.opt") << beds;
  for (const std::string& opt : {std::string("mcgrid_beds.opt"), fewer_models("mcnormal.opt", 300)}) {
    ASSERT_EQ(run("run " + opt + " -q -r one.txt -s 7 -t 1").status, 0);
    ASSERT_EQ(run("run " + opt + " -q -r two.txt -s 7 -t 2").status, 0);
    EXPECT_EQ(file("one.txt"), file("two.txt")) << opt;
  }
}

TEST_F(RunCommand, TheEnvironmentSeedsTheRunUnlessSeedIsGiven) {
  const std::string opt = chain_options(4, 50, "");
  ASSERT_EQ(run("run " + opt + " -q -r env.txt", "FOLDQUEST_SEED=77").status, 0);
  ASSERT_EQ(run("run " + opt + " -q -r arg.txt -s 77").status, 0);
  EXPECT_EQ(file("env.txt"), file("arg.txt"));
  const Result r = run("run " + opt + " -q -r over.txt -s 78", "FOLDQUEST_SEED=77");
  EXPECT_NE(r.err.find("random seed 78\n"), std::string::npos) << r.err;
  const Result bad = run("run " + opt + " -q -r bad.txt", "FOLDQUEST_SEED=seven");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("FOLDQUEST_SEED"), std::string::npos) << bad.err;
  EXPECT_FALSE(exists("bad.txt")) << "a bad seed is refused before anything is written";
}

TEST_F(RunCommand, ResultsReplacesTheOptionsFileName) {
  const std::string opt = fewer_models("mcgrid.opt", 20);
  const Result r = run("run " + opt + " --results=mine.txt --seed 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines_of(file("mine.txt")).size(), 20u);
  EXPECT_FALSE(exists("mcgrid_results.txt")) << "the options file's results file must not be touched";
  // The transcript is the dialogue's, without waiting for Enter.
  const auto out = lines_of(r.out);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out[3], " Choose source of run options (not parameter space):");
  EXPECT_EQ(out.back(), " Finished");
}

TEST_F(RunCommand, AResultsFileThatCannotBeWrittenEndsWithStatusOneOrTwo) {
  const std::string opt = fewer_models("mcgrid.opt", 2000);
  // A full device: every write fails.
  Result r = run("run " + opt + " -q -r /dev/full -s 1");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("incomplete"), std::string::npos) << r.err;
  // A folder that does not exist: refused before the run starts.
  r = run("run " + opt + " -q -r no/such/folder/out.txt -s 1");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("no/such/folder/out.txt"), std::string::npos) << r.err;
}

TEST_F(RunCommand, ResultsMayNotNameTheOptionsFile) {
  const std::string opt = fewer_models("mcgrid.opt", 20);
  const std::string before = file(opt);
  const Result r = run("run " + opt + " --results ./" + opt);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--results names the options file"), std::string::npos) << r.err;
  EXPECT_EQ(file(opt), before) << "the options file was overwritten";
}

TEST_F(RunCommand, AnOptionsFileThatEndsEarlyIsAnInputErrorNotAWait) {
  std::vector<std::string> l = lines_of(file("mcmc.opt"));
  std::ofstream(dir_ / "short.opt") << l.at(0) << "\n" << l.at(1) << "\n";
  const Result r = run("run short.opt");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("short.opt"), std::string::npos) << r.err;
}

// The seeds a --chains run printed, chain by chain.
std::vector<std::string> chain_seeds(const std::string& err) {
  std::vector<std::string> seeds;
  for (const auto& line : lines_of(err)) {
    const auto at = line.find(": random seed ");
    if (line.rfind("foldquest: chain ", 0) == 0 && at != std::string::npos)
      seeds.push_back(line.substr(at + 14, line.find(',') - at - 14));
  }
  return seeds;
}

TEST_F(RunCommand, ChainsWriteOneFileEachWithTheirOwnReproducibleSeeds) {
  const std::string opt = chain_options(6, 150, "");
  const Result first = run("run " + opt + " -q --chains 4 -r chain.txt --seed 5 --threads 2");
  ASSERT_EQ(first.status, 0) << first.err;
  const auto seeds = chain_seeds(first.err);
  ASSERT_EQ(seeds.size(), 4u) << first.err;
  EXPECT_EQ(std::set<std::string>(seeds.begin(), seeds.end()).size(), 4u) << "four different seeds";
  EXPECT_FALSE(exists("chain.txt")) << "only the chains' files are written";
  std::vector<std::string> files;
  for (int k = 1; k <= 4; ++k) {
    files.push_back(file("chain.txt." + std::to_string(k)));
    EXPECT_EQ(lines_of(files.back()).size(), 150u);
  }
  EXPECT_EQ(std::set<std::string>(files.begin(), files.end()).size(), 4u) << "four different chains";

  // The same run seed gives the same set, whatever the thread count; chain k
  // does not depend on the number of chains.
  const Result again = run("run " + opt + " -q --chains 4 -r again.txt --seed 5 --threads 1");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(chain_seeds(again.err), seeds);
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(file("again.txt." + std::to_string(k)), files[static_cast<std::size_t>(k - 1)]);
  ASSERT_EQ(run("run " + opt + " -q --chains 2 -r two.txt --seed 5").status, 0);
  EXPECT_EQ(file("two.txt.2"), files[1]);
}

TEST_F(RunCommand, ChainsPrintEachChainsLinesTogether) {
  const std::string opt = chain_options(4, 30, "");
  const Result r = run("run " + opt + " --chains 3 -r c.txt --seed 5");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto out = lines_of(r.out);
  std::vector<std::size_t> heads;
  for (std::size_t i = 0; i < out.size(); ++i)
    if (out[i].rfind(" Chain ", 0) == 0) heads.push_back(i);
  ASSERT_EQ(heads.size(), 3u) << r.out;
  for (std::size_t c = 0; c < 3; ++c) {
    EXPECT_EQ(out[heads[c]].substr(0, 9), " Chain " + std::to_string(c + 1) + " ");
    EXPECT_EQ(out[heads[c] + 1].rfind(" Initial Model:", 0), 0u) << out[heads[c] + 1];
    EXPECT_EQ(out[heads[c] + 2].rfind(" Acceptance Ratio =", 0), 0u) << out[heads[c] + 2];
  }
  EXPECT_NE(r.out.find(" Ran                    90  models in"), std::string::npos) << r.out;
}

TEST_F(RunCommand, ChainsRefuseMethodsThatAreNotSingleChains) {
  for (const std::string& opt : {fewer_models("mcgrid.opt", 20), chain_options(7, 20, "2")}) {
    const Result r = run("run " + opt + " -q --chains 2 -r x.txt");
    EXPECT_EQ(r.status, 2) << opt;
    EXPECT_NE(r.err.find("--chains"), std::string::npos) << r.err;
    EXPECT_FALSE(exists("x.txt") || exists("x.txt.1")) << opt;
  }
}

}  // namespace
