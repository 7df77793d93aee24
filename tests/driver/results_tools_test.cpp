// The results tools on the shipped examples: model restore (the restored
// section comes from the model run itself and scores exactly what a search
// wrote), summary (misfit profiles, chain diagnostics, CSV, bad files) and
// plot (a real PNG and SVG when matplotlib is there), and model forward
// (forward then restore gives the beds back, noise, bad input).
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foldquest/driver/load_run.hpp"
#include "foldquest/driver/param_names.hpp"
#include "foldquest/driver/tool_model.hpp"
#include "foldquest/driver/tool_plot.hpp"
#include "foldquest/driver/tool_summary.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/input/data_files.hpp"
#include "foldquest/report/results_file.hpp"
#include "tests/support/files.hpp"

namespace {

using fqtest::read_file;

namespace fs = std::filesystem;

struct Example {
  const char* name;
  std::vector<double> truth;  // the model the data were made with (README)
  std::vector<double> step;   // grid steps of params_grid.txt
};

const Example kExamples[] = {
    {"straight_ramp", {2000, -400, 500, 30, 30, 2, 1, 200}, {50, 50, 50, 5, 5, 0.5, 0, 0}},
    {"decol", {2500, -400, 500, 30, 30, 2, 1, -1400, 200}, {50, 50, 50, 5, 5, 0.5, 0, 50, 0}},
    {"bend", {2000, -300, 500, 45, 30, 2, 1, 25, -900, 200}, {50, 50, 50, 5, 5, 0.5, 0, 5, 50, 0}},
    {"listric", {2200, -1450, 400, 40, 30, 1.5, 1, 1500, -2000, 150}, {50, 50, 50, 0, 0, 0, 0, 0, 0, 0}},
    {"kink_fold", {2000, -300, 300, 35, 10, -900, 120}, {50, 50, 50, 0, 0, 0, 0}},
};

void write_file(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// A copy of examples/<name> in a temporary folder, the current folder while
// it lives (options files name their data files without a folder).
class ExampleFolder {
 public:
  explicit ExampleFolder(const std::string& name) : back_(fs::current_path()) {
    std::string templ = (fs::temp_directory_path() / "fq_tools_XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp");
    dir_ = templ;
    for (const auto& e : fs::directory_iterator(fs::path(FOLDQUEST_SOURCE_DIR) / "examples" / name))
      if (e.is_regular_file()) fs::copy_file(e.path(), dir_ / e.path().filename());
    fs::current_path(dir_);
  }
  ~ExampleFolder() {
    fs::current_path(back_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  ExampleFolder(const ExampleFolder&) = delete;
  ExampleFolder& operator=(const ExampleFolder&) = delete;

 private:
  fs::path back_, dir_;
};

// small.opt: the example's grid search over a 3 x 3 x 3 grid around the true
// model (tip x, tip y and slip one step either side, the rest at their true
// values), run by the real foldquest into small_results.txt.
void run_small_grid(const Example& ex) {
  std::string params;
  for (std::size_t k = 0; k < ex.truth.size(); ++k) {
    const double t = ex.truth[k];
    const double s = k < 3 ? ex.step[k] : 0.0;
    params += std::to_string(t - s) + " " + std::to_string(t + s) + " " + std::to_string(s) + "\n";
  }
  params += "1\n5\n";
  write_file("params_small.txt", params);
  std::string opts = read_file("gridsearch.opt");
  opts.replace(opts.find("params_grid.txt"), 15, "params_small.txt");
  opts.replace(opts.find("gridsearch_results.txt"), 22, "small_results.txt");
  write_file("small.opt", opts);
  const std::string cmd = std::string("\"") + FOLDQUEST_EXE + "\" run small.opt --quiet";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
}

class RestoreExample : public ::testing::TestWithParam<Example> {};

// The true model restores every bed and the growth stratum to a horizontal
// line: the spread of the restored y about each line's mean is the data's
// noise (4 m in x and y) plus the 5 m slip increment's error, not more.
TEST_P(RestoreExample, TrueModelGivesFlatBedsAndTheUnkeptScore) {
  const Example& ex = GetParam();
  ExampleFolder folder(ex.name);
  const fq::LoadedRun run = fq::load_run("gridsearch.opt");
  fq::RestoredSection sec;
  const double total = fq::tool::restore_section(run.state, ex.truth, sec);
  ASSERT_TRUE(sec.scored);
  ASSERT_EQ(sec.sets.size(), run.state.data.beds.size());
  for (const fq::KeptSet& s : sec.sets) {
    double mean = 0, ss = 0;
    for (const auto& p : s.pts) mean += p.y;
    mean /= static_cast<double>(s.pts.size());
    for (const auto& p : s.pts) ss += (p.y - mean) * (p.y - mean);
    const double rms = std::sqrt(ss / static_cast<double>(s.pts.size()));
    EXPECT_LT(rms, 8.0) << s.name << ": restored y spread in m (noise 4 m, increment 5 m)";
  }
  // The restored dips' positions and values are all there.
  EXPECT_EQ(sec.dips.size(), run.state.data.dips.size());
  EXPECT_EQ(sec.dip_pos.size(), run.state.data.dips.size());
  EXPECT_FALSE(sec.fault.empty());
  // Keeping changes nothing: the same model run without keeping scores the
  // same, to the bit, and keeps nothing once the keeper is gone.
  double plain = 0;
  fq::choose_fault_model(run.state, plain, ex.truth);
  EXPECT_EQ(plain, total);
  EXPECT_EQ(fq::kept_section(), nullptr);
  // The per-type scores add up to the total.
  EXPECT_EQ(sec.scores[0] + sec.scores[1] + sec.scores[2] + sec.scores[3], total);
}

// Every model of a grid search's results file restores to exactly the
// score the search wrote, through --row and --best, and the CSV files hold
// the same numbers.
TEST_P(RestoreExample, EveryGridModelScoresWhatTheSearchWrote) {
  const Example& ex = GetParam();
  ExampleFolder folder(ex.name);
  run_small_grid(ex);
  const auto file = fq::results::read_results("small_results.txt", 0);
  ASSERT_EQ(file.size(), 27u);
  for (std::int64_t row = 1; row <= 27; ++row) {
    fq::tool::RestoreRequest req;
    req.options = "small.opt";
    req.model.row = row;
    req.out_prefix = "row";
    std::ostringstream out, err;
    EXPECT_EQ(fq::tool::restore(req, out, err), 0) << row << ": " << err.str();
  }
  fq::tool::RestoreRequest best;
  best.options = "small.opt";
  best.model.best_results = "small_results.txt";
  best.out_prefix = "best";
  std::ostringstream out, err;
  ASSERT_EQ(fq::tool::restore(best, out, err), 0) << err.str();
  // The best model of this grid is the true one, and its total in the CSV
  // reads back as the file's score.
  const std::string scores = read_file("best_scores.csv");
  const auto at = scores.find("total,");
  ASSERT_NE(at, std::string::npos);
  const double total = std::stod(scores.substr(at + 6));
  EXPECT_EQ(total, file.scores[static_cast<std::size_t>(fq::results::best_index(file, fq::results::Goal::highest))]);
  EXPECT_NE(out.str().find("(the same)"), std::string::npos);
  const std::string points = read_file("best_points.csv");
  EXPECT_EQ(points.substr(0, points.find('\n')), "set,kind,name,index,x,y,x_obs,y_obs");
  EXPECT_NE(read_file("best_fault.csv").find("final tip,1,"), std::string::npos);
  EXPECT_EQ(read_file("best_dips.csv").substr(0, 38), "index,x,y,dip,sigma,x_obs,y_obs,dip_ob");

  // A results file made with other options is caught: the score differs
  // (the bed uncertainty 5 m made 6 m).
  std::string opts = read_file("small.opt");
  const auto sigma = opts.find("5.0 ");
  ASSERT_NE(sigma, std::string::npos);
  opts[sigma] = '6';
  write_file("small.opt", opts);
  std::ostringstream out2, err2;
  EXPECT_EQ(fq::tool::restore(best, out2, err2), 1);
  EXPECT_NE(err2.str().find("not written with these options"), std::string::npos) << err2.str();
}

INSTANTIATE_TEST_SUITE_P(Examples, RestoreExample, ::testing::ValuesIn(kExamples),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(RestoreTool, RefusesWrongVectorsAndReportsFailedModels) {
  ExampleFolder folder("straight_ramp");
  fq::tool::RestoreRequest req;
  req.options = "mcmc.opt";
  req.model.params = {2000, -400, 500};
  std::ostringstream out, err;
  EXPECT_EQ(fq::tool::restore(req, out, err), 2);
  EXPECT_NE(err.str().find("8 parameters"), std::string::npos) << err.str();
  // A growth slip above the slip fails the model: no score, exit 1.
  req.model.params = {2000, -400, 500, 30, 30, 2, 1, 600};
  std::ostringstream out2, err2;
  EXPECT_EQ(fq::tool::restore(req, out2, err2), 1);
  EXPECT_NE(err2.str().find("fails"), std::string::npos);
  // The options' results file is not created by reading the options.
  EXPECT_FALSE(fs::exists("mcmc_results.txt"));
}

// ---- model forward ---------------------------------------------------------------

// Horizontal beds deformed forward with the true model and restored by the
// model run as `model restore` runs it (restore_section): the largest
// distance of a restored point from where it started.
// `slip_sense` as stored in the run state: -1 for the parameter files'
// sense of 1 (the examples'), +1 for a sense of -1.
double forward_restore_error(const Example& ex, double increment, int slip_sense = -1) {
  const fq::LoadedRun run = fq::load_run("gridsearch.opt");
  fq::RunState st = run.state;
  st.parameters.slip_sense = slip_sense;
  st.parameters.increment = st.parameters.slip_sense * increment;
  st.parameters.v0 = st.parameters.increment;
  fq::tool::Levels lv{{-1200, -700, -200}, 0, 4000, 81};
  const std::vector<fq::PointSet> start = fq::tool::level_beds(lv);
  std::vector<fq::PointSet> beds = start;
  EXPECT_TRUE(fq::choose_fault_forward(st, ex.truth, beds));
  // The deformed beds as the run's beds (no growth stratum among them).
  st.data.beds.clear();
  for (const fq::PointSet& b : beds) {
    fq::Bed bed;
    bed.pts = b;
    bed.npts = static_cast<int>(b.size());
    st.data.beds.push_back(bed);
  }
  st.data.nbeds = static_cast<int>(st.data.beds.size());
  fq::RestoredSection sec;
  fq::tool::restore_section(st, ex.truth, sec);
  EXPECT_TRUE(sec.scored);
  EXPECT_EQ(sec.sets.size(), start.size());
  double worst = 0;
  for (std::size_t i = 0; i < sec.sets.size() && i < start.size(); ++i)
    for (std::size_t k = 0; k < start[i].size(); ++k)
      worst = std::max(worst, std::hypot(sec.sets[i].pts.at(k).x - start[i][k].x,
                                         sec.sets[i].pts.at(k).y - start[i][k].y));
  return worst;
}

class ForwardExample : public ::testing::TestWithParam<Example> {};

// The kink-band fold is piecewise rigid: back to rounding.  The trishear
// models step the slip: back within a few increments (measured 1.2 to 1.7
// increments of 5 m and of 0.5 m on these sections), and ten times closer
// with a ten times smaller increment.
TEST_P(ForwardExample, ForwardThenRestoreGivesTheBedsBack) {
  const Example& ex = GetParam();
  ExampleFolder folder(ex.name);
  const double coarse = forward_restore_error(ex, 5);
  if (std::string(ex.name) == "kink_fold") {
    EXPECT_LT(coarse, 1e-9) << "m: rounding of 4000 m coordinates through a few rigid moves";
    return;
  }
  EXPECT_LT(coarse, 2.5 * 5) << "m";
  EXPECT_GT(coarse, 1e-6) << "m: the increment's error shows (or the test compares nothing)";
  const double fine = forward_restore_error(ex, 0.5);
  EXPECT_LT(fine, 2.5 * 0.5) << "m";
  EXPECT_LT(fine, coarse / 4) << "the error shrinks with the increment";
}

// A parameter file's sense of slip of -1: the restoration runs the slip the
// other way and the tip moves up the fault; the restored points must be
// taken back with the tip where the restoration left it (for the bend too,
// whose tip may cross the bend on its way).
TEST_P(ForwardExample, ForwardThenRestoreWithTheOtherSenseOfSlip) {
  const Example& ex = GetParam();
  ExampleFolder folder(ex.name);
  const double error = forward_restore_error(ex, 0.5, +1);
  if (std::string(ex.name) == "kink_fold") {
    EXPECT_LT(error, 1e-9) << "m";
    return;
  }
  EXPECT_LT(error, 2.5 * 0.5) << "m";
}

INSTANTIATE_TEST_SUITE_P(Examples, ForwardExample, ::testing::ValuesIn(kExamples),
                         [](const auto& p) { return std::string(p.param.name); });

fq::tool::ForwardRequest levels_request(const std::string& out) {
  fq::tool::ForwardRequest req;
  req.options = "gridsearch.opt";
  req.model.params = kExamples[0].truth;
  req.levels = {{-1000, -800, -600}, 0, 4000, 101};
  req.out = out;
  return req;
}

// The file reads back with the project's bed reader; noise with a seed is
// the same on every call, another seed gives other noise, and its spread is
// sigma in x and in y.
TEST(ForwardTool, WritesABedFileWithReproducibleNoise) {
  ExampleFolder folder("straight_ramp");
  std::ostringstream out, err;
  fq::tool::ForwardRequest req = levels_request("plain.txt");
  ASSERT_EQ(fq::tool::forward(req, out, err), 0) << err.str();
  EXPECT_EQ(err.str(), "");
  const fq::BedFile plain = fq::read_bed_file("plain.txt");
  ASSERT_EQ(plain.beds.size(), 3u);
  EXPECT_EQ(plain.ngrowth, 0);
  EXPECT_EQ(plain.beds[1].ident, "level2");
  EXPECT_EQ(plain.beds[1].pts.size(), 101u);
  // Hanging wall far behind the ramp moves rigidly up the ramp by the slip
  // (the ramp's angle with the run's pi).
  const double a = 30 * fq::Constants::pi / 180;
  EXPECT_NEAR(plain.beds[0].pts[0].x, 500 * std::cos(a), 1e-9);
  EXPECT_NEAR(plain.beds[0].pts[0].y, -1000 + 500 * std::sin(a), 1e-9);

  req.noise = 3;
  req.seed = 11;
  req.out = "noisy_a.txt";
  ASSERT_EQ(fq::tool::forward(req, out, err), 0);
  req.out = "noisy_b.txt";
  ASSERT_EQ(fq::tool::forward(req, out, err), 0);
  req.seed = 12;
  req.out = "noisy_c.txt";
  ASSERT_EQ(fq::tool::forward(req, out, err), 0);
  EXPECT_EQ(err.str(), "") << "a given seed is not printed";
  EXPECT_EQ(read_file("noisy_a.txt"), read_file("noisy_b.txt"));
  EXPECT_NE(read_file("noisy_a.txt"), read_file("noisy_c.txt"));
  const fq::BedFile noisy = fq::read_bed_file("noisy_a.txt");
  double sx = 0, sy = 0, mx = 0, my = 0;
  std::size_t n = 0;
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t k = 0; k < 101; ++k) {
      const double dx = noisy.beds[i].pts[k].x - plain.beds[i].pts[k].x;
      const double dy = noisy.beds[i].pts[k].y - plain.beds[i].pts[k].y;
      mx += dx, my += dy, sx += dx * dx, sy += dy * dy, ++n;
    }
  const double nn = static_cast<double>(n);
  // 303 draws each: the sd of an sd estimate is about 4 %, of a mean 0.17.
  EXPECT_NEAR(std::sqrt(sx / nn), 3.0, 0.5);
  EXPECT_NEAR(std::sqrt(sy / nn), 3.0, 0.5);
  EXPECT_NEAR(mx / nn, 0.0, 0.7);
  EXPECT_NEAR(my / nn, 0.0, 0.7);
  // Without a seed the one used is printed on standard error.
  req.seed.reset();
  std::ostringstream err2;
  ASSERT_EQ(fq::tool::forward(req, out, err2), 0);
  EXPECT_EQ(err2.str().rfind("foldquest: random seed ", 0), 0u) << err2.str();

  // A bed file as input: the same beds give the same section, names kept.
  fq::tool::ForwardRequest from_file = levels_request("again.txt");
  write_file("flat.txt", "bed level1\n0 -1000\n40 -1000\nbed top\n0 -600\n40 -600\n");
  from_file.beds_file = "flat.txt";
  ASSERT_EQ(fq::tool::forward(from_file, out, err), 0);
  const fq::BedFile again = fq::read_bed_file("again.txt");
  ASSERT_EQ(again.beds.size(), 2u);
  EXPECT_EQ(again.beds[1].ident, "top");
  EXPECT_EQ(again.beds[0].pts[1].x, plain.beds[0].pts[1].x);
  EXPECT_EQ(again.beds[1].pts[1].y, plain.beds[2].pts[1].y);
}

struct Status {
  int status;
  std::string err;
};

Status foldquest(const std::string& arguments) {
  const std::string cmd = std::string("'") + FOLDQUEST_EXE + "' " + arguments + " </dev/null >out.txt 2>err.txt";
  const int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, read_file("err.txt")};
}

// Mistakes exit with 2 and name the argument, the file and line; a model
// that fails and a file that cannot be written exit with 1; nothing is
// written then.
TEST(ForwardTool, RefusesBadInputAndReportsFailedModels) {
  ExampleFolder folder("straight_ramp");
  const std::string model = "model forward gridsearch.opt --params '2000 -400 500 30 30 2 1 200' ";
  const std::string levels = "--levels '-1000 -600' --x '0 4000' ";
  struct Case {
    std::string args;
    int status;
    const char* says;
  };
  write_file("growth.txt", "bed a\n0 -1000\n10 -1000\n\ngrowth g1\n0 -500\n10 -500\n");
  write_file("broken.txt", "bed a\n0 -1000\n10 minus\n");
  for (const Case& c : std::vector<Case>{
           {model + levels, 2, "--out FILE"},
           {model + "--out o.txt", 2, "--beds FILE or --levels"},
           {model + levels + "--beds growth.txt --out o.txt", 2, "--beds FILE or --levels"},
           {model + "--levels '-1000 x' --x '0 1' --out o.txt", 2, "--levels: 'x' is not a number"},
           {model + "--levels '-1000 nan' --x '0 1' --out o.txt", 2, "--levels: every value must be a finite"},
           {model + "--levels -1000 --x '5 1' --out o.txt", 2, "X0 < X1"},
           {model + "--levels -1000 --out o.txt", 2, "--x"},
           {model + levels + "--spacing 0 --out o.txt", 2, "--spacing must be a positive number"},
           {model + levels + "--spacing 1e-9 --out o.txt", 2, "points a bed"},
           {model + levels + "--spacing 5000 --out o.txt", 2, "wider than the x range"},
           {model + levels + "--points 1 --out o.txt", 2, "--points"},
           {model + levels + "--noise -1 --out o.txt", 2, "--noise must be a non-negative"},
           {model + levels + "--seed 3 --out o.txt", 2, "--seed goes with --noise"},
           {model + levels + "--increment 0 --out o.txt", 2, "--increment must be a positive"},
           {model + "--beds growth.txt --out o.txt", 2, "file 'growth.txt', line 5: a growth stratum"},
           {model + "--beds broken.txt --out o.txt", 2, "file 'broken.txt', line 3"},
           {model + "--beds missing.txt --out o.txt", 2, "missing.txt"},
           {model + "--beds growth.txt --x '0 1' --out o.txt", 2, "--x goes with --levels"},
           {"model forward gridsearch.opt --params '2000 -400 500' " + levels + "--out o.txt", 2,
            "the run has 8 parameters; --params gives 3"},
           {"model restore gridsearch.opt --params '2000 -400 500 30 30 2 1 200' --levels -1", 2,
            "--levels belongs to model forward"},
           {"model sideways gridsearch.opt --params 1", 2, "'restore' or 'forward'"},
           // NaN slip: the kernels cannot move the beds.
           {"model forward gridsearch.opt --params '2000 -400 nan 30 30 2 1 200' " + levels + "--out o.txt", 1,
            "the model fails"},
           {model + levels + "--out no_such_folder/o.txt", 1, "cannot write 'no_such_folder/o.txt'"},
       }) {
    const Status r = foldquest(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_FALSE(fs::exists("o.txt")) << c.args;
  }
  // The kink-band fold refuses segments on both sides of the vertical.
  ExampleFolder kink("kink_fold");
  const Status r = foldquest("model forward gridsearch.opt --params '2000 -300 300 35 100 -900 120' " + levels +
                             "--out o.txt");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_FALSE(fs::exists("o.txt"));
}

// Chains for the straight ramp's mcmc.opt (8 parameters): AR(1) draws about
// the true model, one per file; `shift` moves the last chain's tip x.
void write_chains(int nchains, std::size_t n, double shift) {
  const std::vector<double> truth{2000, -400, 500, 30, 30, 2, 1, 200};
  const std::vector<double> sd{20, 20, 10, 1, 2, 0.1, 0.05, 10};
  std::mt19937_64 gen(3);
  std::normal_distribution<double> e(0, 1);
  for (int c = 1; c <= nchains; ++c) {
    std::ofstream f("chain." + std::to_string(c));
    std::vector<double> x(truth.size(), 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      // A rejected step repeats the line (every fourth here).
      if (i % 4 != 3)
        for (double& v : x) v = 0.5 * v + std::sqrt(0.75) * e(gen);
      f << "  " << -283.5 - 0.5 * x[0] * x[0];
      for (std::size_t j = 0; j < truth.size(); ++j)
        f << "  " << truth[j] + sd[j] * x[j] + (c == nchains && j == 0 ? shift : 0.0);
      f << "\n";
    }
  }
}

TEST(SummaryTool, ChainDiagnosticsTableCsvAndWarnings) {
  ExampleFolder folder("straight_ramp");
  write_chains(4, 2000, 0.0);
  fq::tool::SummaryRequest req;
  req.options = "mcmc.opt";
  req.results = {"chain.1", "chain.2", "chain.3", "chain.4"};
  req.burn_frac = 0.5;
  req.csv = "summary.csv";
  req.draws = "draws.csv";
  req.top = 3;
  std::ostringstream out, err;
  ASSERT_EQ(fq::tool::summary(req, out, err), 0) << err.str();
  const std::string text = out.str();
  // The three best states over the chains, each once (a rejected step
  // repeats the state before it: every fourth line here).
  std::vector<std::string> lines;
  for (auto at = text.find("parameter line: "); at != std::string::npos; at = text.find("parameter line: ", at + 1))
    lines.push_back(text.substr(at, text.find('\n', at) - at));
  ASSERT_EQ(lines.size(), 3u) << text;
  EXPECT_NE(lines[0], lines[1]);
  EXPECT_NE(lines[1], lines[2]);
  EXPECT_NE(text.find("\nrank 3: chain "), std::string::npos) << text;
  EXPECT_NE(text.find("\nparameter "), std::string::npos) << text;
  EXPECT_NE(text.find("  mean "), std::string::npos) << text;
  EXPECT_NE(text.find("  ess_bulk  ess_tail  r_hat\n"), std::string::npos) << text;
  EXPECT_NE(text.find("burn-in: 1000 steps"), std::string::npos) << text;
  EXPECT_NE(text.find("acceptance rate: 0.750 0.750 0.750 0.750"), std::string::npos) << text;
  EXPECT_NE(text.find("no warnings"), std::string::npos) << text;
  const std::string csv = read_file("summary.csv");
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "parameter,unit,mean,sd,q5,q50,q95,ess_bulk,ess_tail,r_hat");
  EXPECT_NE(csv.find("\ngrowth_slip[growth1],length,"), std::string::npos);
  EXPECT_NE(csv.find("\nscore,,-283."), std::string::npos) << csv;
  const std::string draws = read_file("draws.csv");
  EXPECT_EQ(draws.substr(0, draws.find('\n')),
            "chain,step,score,tip_x,tip_y,slip,ramp_angle,phi,p_over_s,s,growth_slip[growth1]");
  EXPECT_NE(draws.find("\n4,2000,"), std::string::npos);

  // One chain 3 sd away in tip x: its r_hat is far above 1.01.
  write_chains(4, 2000, 60.0);
  std::ostringstream out2, err2;
  ASSERT_EQ(fq::tool::summary(req, out2, err2), 0) << err2.str();
  EXPECT_NE(out2.str().find("warning: tip_x: r_hat"), std::string::npos) << out2.str();
  EXPECT_EQ(out2.str().find("warning: tip_y"), std::string::npos) << out2.str();
}

TEST(SummaryTool, BadFilesAndBurnInAreInputErrors) {
  ExampleFolder folder("straight_ramp");
  write_chains(1, 100, 0.0);
  fq::tool::SummaryRequest req;
  req.options = "mcmc.opt";
  req.results = {"chain.1"};
  req.burn = 100;
  std::ostringstream out, err;
  EXPECT_EQ(fq::tool::summary(req, out, err), 2);
  EXPECT_NE(err.str().find("leaves nothing"), std::string::npos);

  // A line cut short names the file and the line.
  std::ofstream("chain.1", std::ios::app) << "  -283.5  2000  -400\n";
  req.burn = 0;
  std::ostringstream out2, err2;
  EXPECT_EQ(fq::tool::summary(req, out2, err2), 2);
  EXPECT_NE(err2.str().find("'chain.1', line 101"), std::string::npos) << err2.str();

  // Another run's file: a different number of parameters.
  write_file("other.txt", "1 2 3\n");
  req.results = {"other.txt"};
  std::ostringstream out3, err3;
  EXPECT_EQ(fq::tool::summary(req, out3, err3), 2);
  EXPECT_NE(err3.str().find("not written by this run"), std::string::npos) << err3.str();

  req.options = "missing.opt";
  std::ostringstream out4, err4;
  EXPECT_EQ(fq::tool::summary(req, out4, err4), 2);
  EXPECT_NE(err4.str().find("missing.opt"), std::string::npos) << err4.str();
}

TEST(SummaryTool, GridProfilesHoldTheBestScorePerValue) {
  ExampleFolder folder("straight_ramp");
  run_small_grid(kExamples[0]);
  fq::tool::SummaryRequest req;
  req.options = "small.opt";
  req.csv = "profile.csv";
  req.top = 2;
  std::ostringstream out, err;
  ASSERT_EQ(fq::tool::summary(req, out, err), 0) << err.str();
  // The best model, the true one, with the parameter file's ranges and as
  // a parameter line; then the next best.
  EXPECT_NE(out.str().find("best model: grid model 14,"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("unit  lower  upper  step\n  tip_x                  2000   length   1950   2050    50\n"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("  parameter line: 2000 -400 500 30 30 2 1 200\n\nrank 2: grid model "), std::string::npos)
      << out.str();
  const std::string csv = read_file("profile.csv");
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "parameter,unit,value,best_score,models");
  // Three free parameters, three values each, nine models at every value.
  std::size_t rows = 0;
  for (char c : csv) rows += c == '\n';
  EXPECT_EQ(rows, 1u + 9u);
  EXPECT_NE(csv.find("\ntip_x,length,2000,"), std::string::npos);
  EXPECT_NE(csv.find(",9\n"), std::string::npos);
}

// Whether a python3 with matplotlib is there (as foldquest plot looks).
bool have_matplotlib() {
  return std::system("python3 -c 'import matplotlib' >/dev/null 2>&1") == 0 ||
         std::system("/usr/bin/python3 -c 'import matplotlib' >/dev/null 2>&1") == 0;
}

TEST(PlotTool, MakesAPictureOfEveryExample) {
  if (!have_matplotlib()) GTEST_SKIP() << "python3-matplotlib is not installed";
  for (const Example& ex : kExamples) {
    SCOPED_TRACE(ex.name);
    ExampleFolder folder(ex.name);
    run_small_grid(ex);
    for (const char* out_name : {"grid.png", "grid.svg"}) {
      fq::tool::PlotRequest req;
      req.options = "small.opt";
      req.out = out_name;
      std::ostringstream out, err;
      ASSERT_EQ(fq::tool::plot(req, out, err), 0) << err.str();
      const std::string pic = read_file(out_name);
      EXPECT_GT(pic.size(), 10000u);
      if (std::string(out_name).ends_with(".png"))
        EXPECT_EQ(pic.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
      else
        EXPECT_NE(pic.find("<svg"), std::string::npos);
    }
  }
}

TEST(PlotTool, ChainsAndRefusedNames) {
  ExampleFolder folder("straight_ramp");
  fq::tool::PlotRequest req;
  req.options = "mcmc.opt";
  req.out = "picture.jpg";
  std::ostringstream out, err;
  EXPECT_EQ(fq::tool::plot(req, out, err), 2);
  if (!have_matplotlib()) GTEST_SKIP() << "python3-matplotlib is not installed";
  write_chains(2, 400, 0.0);
  req.results = {"chain.1", "chain.2"};
  req.out = "chains.png";
  std::ostringstream out2, err2;
  ASSERT_EQ(fq::tool::plot(req, out2, err2), 0) << err2.str();
  EXPECT_GT(fs::file_size("chains.png"), 10000u);

  // The pair plot: by default the first six moving parameters (of eight:
  // the picture says so); matplotlib writes each text of an SVG as a
  // comment too, so the axis names show which pairs were drawn.
  req.out = "chains.svg";
  std::ostringstream out3, err3;
  ASSERT_EQ(fq::tool::plot(req, out3, err3), 0) << err3.str();
  std::string svg = read_file("chains.svg");
  EXPECT_NE(svg.find("pair plot (kept draws)"), std::string::npos);
  EXPECT_NE(svg.find("the first 6 of 8 moving parameters"), std::string::npos);
  req.pairs = {"slip", "growth_slip[growth1]"};
  std::ostringstream out4, err4;
  ASSERT_EQ(fq::tool::plot(req, out4, err4), 0) << err4.str();
  svg = read_file("chains.svg");
  EXPECT_NE(svg.find("pair plot (kept draws)"), std::string::npos);
  EXPECT_EQ(svg.find("moving parameters"), std::string::npos);
  req.pairs = {"none"};
  std::ostringstream out5, err5;
  ASSERT_EQ(fq::tool::plot(req, out5, err5), 0) << err5.str();
  EXPECT_EQ(read_file("chains.svg").find("pair plot"), std::string::npos);
  // A name the run does not have is a mistake in the input, named.
  req.pairs = {"tip_x", "tipx"};
  std::ostringstream out6, err6;
  EXPECT_EQ(fq::tool::plot(req, out6, err6), 2);
  EXPECT_NE(err6.str().find("no parameter 'tipx'"), std::string::npos) << err6.str();
}

}  // namespace

namespace {

// The names follow the parameter vector's layout: the fault model's own
// parameters, growth slips, terrace slips, then the restored-state block.
TEST(ParamNames, FollowTheLayoutOfTheParameterVector) {
  fq::RunState st;
  st.options.dattypes[fq::Options::dattype_beds - 1] = 1;
  st.options.dattypes[fq::Options::dattype_dips - 1] = 1;
  st.options.dattypes[fq::Options::dattype_terr - 1] = 1;
  st.options.faulttype = 2;
  st.options.fittype = 5;
  st.options.fit_dips = 2;
  st.options.fit_beds = 1;
  st.fault.decoly_at_tipy = 0;
  st.data.beds.resize(2);
  st.data.beds[0].ident = "a";
  st.data.beds[1].ident = "g";
  st.data.beds[1].growth = true;
  st.data.terraces.resize(1);
  st.data.terraces[0].ident = "t1";
  auto& p = st.parameters;
  p.nparam_start_growth = 9;
  p.nparam_start_terr = 10;
  p.nparam_start_restored_fit = 11;
  p.nrestored_fit_params = 2 + 1 + 2;
  p.nparams = 15;
  const auto n = fq::param_names(st);
  ASSERT_EQ(n.size(), 15u);
  const std::vector<std::string> want{"tip_x", "tip_y", "slip", "ramp_angle", "phi", "p_over_s", "s",
                                      "detachment_y", "growth_slip[g]", "terrace_slip[t1]", "restored_dip[a]",
                                      "restored_dip[g]", "restored_dip[dips]", "intercept[a]", "intercept[g]"};
  for (std::size_t k = 0; k < want.size(); ++k) EXPECT_EQ(n[k].name, want[k]) << k;
  EXPECT_EQ(n[3].unit, "degrees");
  // A fault type without a table keeps generic names for its own block.
  st.options.faulttype = 9;
  EXPECT_EQ(fq::param_names(st)[0].name, "param_1");
  EXPECT_EQ(fq::param_names(st)[8].name, "growth_slip[g]");
}

}  // namespace
