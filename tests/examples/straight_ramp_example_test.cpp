// The shipped straight-ramp example: its data files are what the generator
// makes, its grid search finds the model the data were made with, every
// options file runs foldquest to the end, and the best-model finder that
// the demo uses reads both kinds of results files correctly.
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "examples/tools/best_model.hpp"
#include "foldquest/report/temp_dir.hpp"
#include "examples/tools/straight_ramp_data.hpp"

namespace fs = std::filesystem;

namespace {

namespace ex = fqexample::straight_ramp;

// The model the data were made with (final tip, slip, ramp, phi, P/S, s,
// growth slip); the README gives the same values.
const std::vector<double> kTrueModel = ex::true_model();

std::string read_file(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> lines_of(const fs::path& p) {
  std::vector<std::string> out;
  std::ifstream in(p);
  std::string l;
  while (std::getline(in, l)) out.push_back(l);
  return out;
}

// The first word of the line that the options file marks with `comment`.
std::string answer_marked(const fs::path& opt, const std::string& comment) {
  for (const auto& l : lines_of(opt))
    if (l.find(comment) != std::string::npos) return std::string(fqbest::split_values(l).at(0));
  return {};
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

// The committed data files are the generator's output: the data the README
// describes, made with the kernels as they are now.  After a change of the
// kernels that moves the data, run gen_straight_ramp (see the README) and
// check the example still finds its model.
TEST_F(StraightRampExample, DataFilesAreTheGeneratorsOutput) {
  const ex::DataSet data = ex::make_data();
  EXPECT_EQ(read_file(src_ / "beds.txt"), data.beds);
  EXPECT_EQ(read_file(src_ / "dips.txt"), data.dips);
  EXPECT_EQ(read_file(src_ / "faultpts.txt"), data.faultpts);
  // The forward data restore to flat beds with the true model (within 0.1 m
  // at the forward increment, 0.05 m, whose discretisation is all that
  // separates the two directions), and the dips follow the beds' slopes.
  EXPECT_LT(data.worst_roundtrip, 0.1);
  EXPECT_LT(data.worst_dip_vs_slope, 0.01);
}

TEST_F(StraightRampExample, GridSearchFindsTheTrueModelWithinOneGridStep) {
  ASSERT_EQ(run_foldquest("gridsearch.opt"), 0) << transcript("gridsearch.opt");
  const fs::path params = dir_.path() / answer_marked(src_ / "gridsearch.opt", "parameter file");
  const fs::path results = dir_.path() / answer_marked(src_ / "gridsearch.opt", "results file");
  const auto pf = fqbest::read_param_file(params.string());
  ASSERT_EQ(pf.nparams(), kTrueModel.size());

  // The grid holds the true model (off the grid's middle, see the README,
  // so that a numbering read backwards would not land on it).
  for (std::size_t j = 0; j < pf.nparams(); ++j) {
    EXPECT_LE(pf.mins[j], kTrueModel[j]) << "parameter " << j + 1;
    EXPECT_GE(pf.maxs[j], kTrueModel[j]) << "parameter " << j + 1;
  }

  // Result type 2 of the example: a log-probability, the highest is best.
  const auto sum = fqbest::best_models(results.string(), fqbest::Goal::highest, &pf);
  EXPECT_TRUE(sum.grid);
  EXPECT_EQ(sum.nlines, fqbest::grid_size(pf));
  EXPECT_EQ(sum.nfailed, 0);
  ASSERT_EQ(sum.best.size(), 1u);
  const auto& best = sum.best[0].params;
  ASSERT_EQ(best.size(), kTrueModel.size());
  for (std::size_t j = 0; j < best.size(); ++j) {
    // One grid step, plus a relative 1e-9 for the grid values' rounding
    // (k * step + min).
    const double tol = pf.steps[j] + 1e-9 * (std::abs(kTrueModel[j]) + 1);
    EXPECT_LE(std::abs(best[j] - kTrueModel[j]), tol) << "parameter " << j + 1 << ": best " << best[j];
  }
}

// Every options file of the example, with its number of models cut down,
// runs to "Finished" with exit status 0 and writes a results file of the
// expected number of lines.  The grid searches run over a cut-down grid:
// the tip (parameters 1 and 2) fixed at its lower bounds.
TEST_F(StraightRampExample, EveryOptionsFileRunsToTheEnd) {
  constexpr int kFewModels = 300;
  {
    const fs::path grid = dir_.path() / "params_grid.txt";
    auto lines = lines_of(grid);
    ASSERT_GE(lines.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      const auto v = fqbest::split_values(lines[i]);
      ASSERT_GE(v.size(), 3u);
      lines[i] = std::string(v[0]) + " " + std::string(v[0]) + " " + std::string(v[2]);
    }
    std::ofstream out(grid);
    for (const auto& l : lines) out << l << "\n";
  }
  int nopts = 0;
  for (const auto& e : fs::directory_iterator(src_)) {
    if (e.path().extension() != ".opt") continue;
    ++nopts;
    const std::string opt = e.path().filename().string();
    SCOPED_TRACE(opt);
    std::ofstream out(dir_.path() / opt);
    bool has_nmodels = false;
    for (const auto& l : lines_of(e.path())) {
      if (l.find("number of models") != std::string::npos) {
        out << kFewModels << "   number of models\n";
        has_nmodels = true;
      } else {
        out << l << "\n";
      }
    }
    out.close();
    ASSERT_EQ(run_foldquest(opt), 0) << transcript(opt);
    EXPECT_NE(read_file(dir_.path() / (opt + ".out")).find(" Finished"), std::string::npos) << transcript(opt);

    const auto results = lines_of(dir_.path() / answer_marked(e.path(), "results file"));
    if (has_nmodels) {
      // Monte Carlo and chains: one line of score and parameters per model.
      ASSERT_EQ(results.size(), static_cast<std::size_t>(kFewModels));
      EXPECT_EQ(fqbest::split_values(results.front()).size(), kTrueModel.size() + 1);
    } else {
      // Grid search: one score per grid model.
      const auto pf = fqbest::read_param_file((dir_.path() / answer_marked(e.path(), "parameter file")).string());
      EXPECT_EQ(static_cast<std::int64_t>(results.size()), fqbest::grid_size(pf));
    }
  }
  // Grid search (two), grid Monte Carlo, normal Monte Carlo, Metropolis-Hastings.
  EXPECT_GE(nopts, 5);
}

// ---- The best-model finder on small files with known answers ----------------

class BestModel : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& text) {
    const auto p = dir_.path() / name;
    std::ofstream(p) << text;
    return p.string();
  }
  TempDir dir_;
};

// Two parameters, 0..10 step 5 and 0..1 step 0.5: 3 x 3 models, the first
// parameter slowest.  Model 6 is (5, 1), model 8 (10, 0.5), model 9 (10, 1).
constexpr const char* kParams3x3 =
    "0 10 5     first\n"
    "0 1 0.5    second\n"
    "1          sense\n"
    "0.5        increment\n";

TEST_F(BestModel, GridScoresMapToTheGridNumbering) {
  const auto pf = fqbest::read_param_file(write("p.txt", kParams3x3));
  ASSERT_EQ(pf.nparams(), 2u);
  EXPECT_EQ(pf.sense, 1);
  EXPECT_EQ(pf.increment, 0.5);
  EXPECT_EQ(fqbest::grid_size(pf), 9);
  const std::string res = write("r.txt", " -5.0\n -4.0\n NaN\n -3.0\n -6.0\n -1.0\n -9.0\n -2.0\n -3.4028234663852886E+038\n");

  // Highest: model 6.  The failure value and NaN are failed models.
  auto hi = fqbest::best_models(res, fqbest::Goal::highest, &pf, 2);
  EXPECT_TRUE(hi.grid);
  EXPECT_EQ(hi.nlines, 9);
  EXPECT_EQ(hi.nfailed, 2);
  ASSERT_EQ(hi.best.size(), 2u);
  EXPECT_EQ(hi.best[0].line, 6);
  EXPECT_EQ(hi.best[0].params, (std::vector<double>{5, 1}));
  EXPECT_EQ(hi.best[1].line, 8);
  EXPECT_EQ(hi.best[1].params, (std::vector<double>{10, 0.5}));

  // Lowest: model 7; NaN is failed, the large negative value is a misfit
  // like any other (and the lowest of all) under result types 1 and 3.
  auto lo = fqbest::best_models(res, fqbest::Goal::lowest, &pf);
  EXPECT_EQ(lo.nfailed, 1);
  ASSERT_EQ(lo.best.size(), 1u);
  EXPECT_EQ(lo.best[0].line, 9);
  EXPECT_EQ(lo.best[0].params, (std::vector<double>{10, 1}));
}

TEST_F(BestModel, TiesGoToTheFirstLineAndAllFailedGivesNone) {
  const auto pf = fqbest::read_param_file(write("p.txt", kParams3x3));
  const auto tie = fqbest::best_models(write("t.txt", "2\n1\n1\n3\n"), fqbest::Goal::lowest, &pf);
  ASSERT_EQ(tie.best.size(), 1u);
  EXPECT_EQ(tie.best[0].line, 2);
  EXPECT_EQ(tie.best[0].params, (std::vector<double>{0, 0.5}));

  const auto none = fqbest::best_models(write("n.txt", "NaN\nNaN\n"), fqbest::Goal::lowest, &pf);
  EXPECT_EQ(none.nfailed, 2);
  EXPECT_TRUE(none.best.empty());
}

TEST_F(BestModel, RecordFilesCarryTheirParameters) {
  const std::string res = write("mc.txt",
                                "  -10.5   1.0   2.0\n"
                                "  -3.25   4.0   5.0\n"
                                "  -7.0    6.0   7.0\n");
  const auto sum = fqbest::best_models(res, fqbest::Goal::highest, nullptr);
  EXPECT_FALSE(sum.grid);
  EXPECT_EQ(sum.nparams, 2u);
  ASSERT_EQ(sum.best.size(), 1u);
  EXPECT_EQ(sum.best[0].line, 2);
  EXPECT_EQ(sum.best[0].score, -3.25);
  EXPECT_EQ(sum.best[0].params, (std::vector<double>{4, 5}));
}

TEST_F(BestModel, MismatchedFilesAreRefused) {
  const auto pf = fqbest::read_param_file(write("p.txt", kParams3x3));
  // A grid file needs the parameter file.
  EXPECT_THROW(fqbest::best_models(write("g.txt", "1\n2\n"), fqbest::Goal::lowest, nullptr), fqbest::BestError);
  // More lines than the grid has models.
  EXPECT_THROW(fqbest::best_models(write("long.txt", "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n"), fqbest::Goal::lowest, &pf),
               fqbest::BestError);
  // Records of a different parameter count, and a ragged file.
  EXPECT_THROW(fqbest::best_models(write("r3.txt", "1 2 3 4\n"), fqbest::Goal::lowest, &pf), fqbest::BestError);
  EXPECT_THROW(fqbest::best_models(write("rag.txt", "1 2 3\n1 2\n"), fqbest::Goal::lowest, nullptr),
               fqbest::BestError);
  EXPECT_THROW(fqbest::best_models(write("bad.txt", "1 2 3\nx 2 3\n"), fqbest::Goal::lowest, nullptr),
               fqbest::BestError);
  EXPECT_THROW(fqbest::goal_of_result_type(5), fqbest::BestError);
}

TEST_F(BestModel, ParameterLinesAreCountedAndCanBeGiven) {
  // The shipped parameter files carry comments after the numbers.
  const fs::path ex = fs::path(FOLDQUEST_SOURCE_DIR) / "examples" / "straight_ramp";
  EXPECT_EQ(fqbest::count_parameter_lines((ex / "params_grid.txt").string()), kTrueModel.size());
  EXPECT_EQ(fqbest::count_parameter_lines((ex / "params_mcmc.txt").string()), kTrueModel.size());
  // Blank lines are passed over; a sense line with three numbers needs --nparams.
  const std::string p = write("p.txt", "\n0 1 1\n\n2 3 1\n1 0 0\n0.5\n");
  EXPECT_EQ(fqbest::count_parameter_lines(p), 3u);
  EXPECT_EQ(fqbest::read_param_file(p, 2).nparams(), 2u);
  EXPECT_EQ(fqbest::read_param_file(p, 2).sense, 1);
}

}  // namespace
