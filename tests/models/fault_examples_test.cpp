// The shipped examples of the straight ramp (examples/straight_ramp), the
// detachment ramp (examples/decol), the fault with a bend (examples/bend),
// the kink fold (examples/kink_fold) and the listric fault
// (examples/listric): their data files are what the generators make from
// the true models, their grid searches find those models, and every options
// file runs foldquest to the end.
//
// To write the data files again:
//   build/tests/models_fault_examples_test --gtest_also_run_disabled_tests
//       --gtest_filter='*WriteDataFiles*'      (one command line)
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/report/temp_dir.hpp"
#include "examples/tools/straight_ramp_data.hpp"
#include "tests/models/trishear_bend_example_data.hpp"
#include "tests/models/trishear_decol_example_data.hpp"
#include "tests/models/parallel_fpf_example_data.hpp"
#include "tests/models/trishear_listric_example_data.hpp"
#include "tests/support/files.hpp"

namespace fs = std::filesystem;

namespace {

using fqtest::read_file;
using fqtest::lines_of;
using fqtest::words_of;

// One shipped example: its folder and its generator.
struct Example {
  const char* folder;
  std::map<std::string, std::string> (*files)();
  std::vector<double> (*true_model)();
};
// The straight ramp's generator (examples/tools, shared with
// gen_straight_ramp) as a map of file names to contents.
std::map<std::string, std::string> straight_ramp_files() {
  const fqexample::straight_ramp::DataSet d = fqexample::straight_ramp::make_data();
  return {{"beds.txt", d.beds}, {"dips.txt", d.dips}, {"faultpts.txt", d.faultpts}};
}

const Example kExamples[] = {
    {"straight_ramp", straight_ramp_files, fqexample::straight_ramp::true_model},
    {"bend", fqtest::bend_example::files, fqtest::bend_example::true_model},
    {"decol", fqtest::decol_example::files, fqtest::decol_example::true_model},
    {"kink_fold", fqtest::kink_example::files, fqtest::kink_example::true_model},
    {"listric", fqtest::listric_example::files, fqtest::listric_example::true_model},
};
void PrintTo(const Example& e, std::ostream* os) { *os << e.folder; }

fs::path folder_of(const Example& e) { return fs::path(FOLDQUEST_SOURCE_DIR) / "examples" / e.folder; }

// The first word of the line that the options file marks with `comment`.
std::string answer_marked(const fs::path& opt, const std::string& comment) {
  for (const auto& l : lines_of(opt))
    if (l.find(comment) != std::string::npos) return words_of(l).at(0);
  return {};
}

class FaultExample : public ::testing::TestWithParam<Example> {};

TEST_P(FaultExample, DataFilesAreTheGeneratorsOutput) {
  for (const auto& [name, text] : GetParam().files()) EXPECT_EQ(read_file(folder_of(GetParam()) / name), text) << name;
}

TEST_P(FaultExample, DISABLED_WriteDataFiles) {
  for (const auto& [name, text] : GetParam().files()) {
    std::ofstream out(folder_of(GetParam()) / name);
    out << text;
    ASSERT_TRUE(out.good()) << name;
  }
}

// A scratch folder, removed afterwards.
using TempDir = fq::TempDir;

class FaultExampleRun : public ::testing::TestWithParam<Example> {
 protected:
  void SetUp() override {
    example_ = folder_of(GetParam());
    ASSERT_TRUE(fs::is_directory(example_)) << example_;
    for (const auto& e : fs::directory_iterator(example_))
      if (e.is_regular_file()) fs::copy_file(e.path(), dir_.path() / e.path().filename());
  }

  // foldquest in the copy on options file `opt`: "2" (read from file), the
  // file name, the closing Enter.  Returns the exit status.
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

  TempDir dir_;
  fs::path example_;  // the example folder
};

TEST_P(FaultExampleRun, GridSearchFindsTheTrueModelWithinOneGridStep) {
  ASSERT_EQ(run_foldquest("gridsearch.opt"), 0) << transcript("gridsearch.opt");
  const auto ranges = lines_of(dir_.path() / answer_marked(example_ / "gridsearch.opt", "parameter file"));
  const std::vector<double> truth = GetParam().true_model();
  ASSERT_GE(ranges.size(), truth.size());
  for (std::size_t j = 0; j < truth.size(); ++j) {
    EXPECT_LE(std::stod(words_of(ranges[j]).at(0)), truth[j]) << "parameter " << j + 1;
    EXPECT_GE(std::stod(words_of(ranges[j]).at(1)), truth[j]) << "parameter " << j + 1;
  }
  // The best model as `foldquest summary` finds it (result type 2: a
  // log-probability, the highest is best): its parameter line.
  const std::string cmd = "cd '" + dir_.path().string() + "' && '" FOLDQUEST_EXE "' summary gridsearch.opt > summary.out";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string summary = read_file(dir_.path() / "summary.out");
  const auto at = summary.find("parameter line: ");
  ASSERT_NE(at, std::string::npos) << summary;
  const auto best = words_of(summary.substr(at + 16, summary.find('\n', at) - at - 16));
  ASSERT_EQ(best.size(), truth.size());
  for (std::size_t j = 0; j < best.size(); ++j) {
    const double tol = std::stod(words_of(ranges[j]).at(2)) + 1e-9 * (std::abs(truth[j]) + 1);
    EXPECT_LE(std::abs(std::stod(best[j]) - truth[j]), tol) << "parameter " << j + 1 << ": best " << best[j];
  }
}

// Every options file, its number of models cut down and the grid's tip
// fixed at its lower bounds, runs to "Finished" and writes its results.
TEST_P(FaultExampleRun, EveryOptionsFileRunsToTheEnd) {
  constexpr int kFewModels = 200;
  {
    const fs::path grid = dir_.path() / "params_grid.txt";
    auto lines = lines_of(grid);
    ASSERT_GE(lines.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      const auto v = words_of(lines[i]);
      ASSERT_GE(v.size(), 3u);
      lines[i] = v[0] + " " + v[0] + " " + v[2];
    }
    std::ofstream out(grid);
    for (const auto& l : lines) out << l << "\n";
  }
  int nopts = 0;
  for (const auto& e : fs::directory_iterator(example_)) {
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
      ASSERT_EQ(results.size(), static_cast<std::size_t>(kFewModels));
      EXPECT_EQ(words_of(results.front()).size(), GetParam().true_model().size() + 1);
    } else {
      const std::string said = std::to_string(results.size()) + " models will be run.";
      EXPECT_NE(read_file(dir_.path() / (opt + ".out")).find(said), std::string::npos) << transcript(opt);
    }
  }
  EXPECT_GE(nopts, 3);
}

std::string folder_name(const ::testing::TestParamInfo<Example>& param) { return param.param.folder; }
INSTANTIATE_TEST_SUITE_P(Examples, FaultExample, ::testing::ValuesIn(kExamples), folder_name);
INSTANTIATE_TEST_SUITE_P(Examples, FaultExampleRun, ::testing::ValuesIn(kExamples), folder_name);

}  // namespace
