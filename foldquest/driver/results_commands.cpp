// foldquest model, summary and plot: the command-line handlers of the
// results tools.  They only turn the parsed command line into a request;
// the work is in tool_model, tool_summary and tool_plot.
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "foldquest/driver/commands.hpp"
#include "foldquest/driver/run.hpp"
#include "foldquest/driver/tool_model.hpp"
#include "foldquest/driver/tool_plot.hpp"
#include "foldquest/driver/tool_summary.hpp"
#include "freeformat/reader.hpp"

namespace fq::cli {

namespace {

// "v1 v2 ..." (blanks or commas between values) as numbers.
std::vector<double> parse_vector(const std::string& text, std::string_view what) {
  std::vector<double> v;
  std::size_t i = 0;
  auto sep = [](char c) { return c == ' ' || c == '\t' || c == ','; };
  while (i < text.size()) {
    while (i < text.size() && sep(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !sep(text[i])) ++i;
    if (i == start) break;
    double x = 0;
    const std::string word = text.substr(start, i - start);
    if (!ff::parse_real(word, x)) throw UsageError(std::string(what) + ": '" + word + "' is not a number");
    v.push_back(x);
  }
  if (v.empty()) throw UsageError(std::string(what) + " needs the parameter values, e.g. --params \"2000 -400 500\"");
  return v;
}

double parse_fraction(const std::string& text, std::string_view what) {
  double x = 0;
  if (!ff::parse_real(text, x) || !(x >= 0 && x < 1))
    throw UsageError(std::string(what) + " must be a number from 0 up to (not including) 1, not '" + text + "'");
  return x;
}

// --burn N / --burn-frac F (one of them).
void burn_options(const Args& args, std::int64_t& burn, double& burn_frac) {
  if (args.has("burn") && args.has("burn-frac")) throw UsageError("give --burn or --burn-frac, not both");
  burn = args.integer("burn", 0, 0, std::int64_t{1} << 62);
  if (const auto f = args.value("burn-frac")) burn_frac = parse_fraction(*f, "--burn-frac");
}

// --params / --best / --row as a model choice; `best_takes_file` for model
// restore (--best RESULTS), where plot's --best is a flag.
tool::ModelChoice model_choice(const Args& args, bool best_takes_file) {
  tool::ModelChoice c;
  if (const auto p = args.value("params")) c.params = parse_vector(*p, "--params");
  if (best_takes_file) {
    if (const auto b = args.value("best")) {
      if (b->empty()) throw UsageError("--best needs a results file");
      c.best_results = *b;
    }
  }
  c.row = args.integer("row", 0, 1, std::int64_t{1} << 62);
  const int given = (args.has("params") ? 1 : 0) + (args.has("best") ? 1 : 0) + (args.has("row") ? 1 : 0);
  if (given > 1) throw UsageError("give one of --params, --best and --row");
  return c;
}

// A finite number from the command line; `positive`: above 0, else at least 0.
double parse_length(const std::string& text, std::string_view what, bool positive) {
  double x = 0;
  if (!ff::parse_real(text, x) || !std::isfinite(x) || !(positive ? x > 0 : x >= 0))
    throw UsageError(std::string(what) + " must be a " + (positive ? "positive" : "non-negative") +
                     " number, not '" + text + "'");
  return x;
}

// Every value of a vector option finite.
std::vector<double> finite_vector(const std::string& text, std::string_view what) {
  std::vector<double> v = parse_vector(text, what);
  for (const double x : v)
    if (!std::isfinite(x)) throw UsageError(std::string(what) + ": every value must be a finite number");
  return v;
}

constexpr const char* kForwardOnly[] = {"beds", "levels", "x", "spacing", "points", "increment", "noise", "seed"};

// Horizontal beds: --levels "Y1 ..." --x "X0 X1" [--spacing D | --points N].
// Without either, 101 points (100 intervals).  At most this many points per
// bed, so that a slip of the finger (--spacing 1e-9) is a message, not an
// exhausted memory.
constexpr std::int64_t kMaxLevelPoints = 10'000'000;

tool::Levels levels_of(const Args& args) {
  tool::Levels lv;
  lv.levels = finite_vector(*args.value("levels"), "--levels");
  const auto xs = args.value("x");
  if (!xs) throw UsageError("--levels needs --x \"X0 X1\", the x range of the beds");
  const std::vector<double> x = finite_vector(*xs, "--x");
  if (x.size() != 2 || !(x[0] < x[1])) throw UsageError("--x needs two numbers X0 X1 with X0 < X1");
  lv.x0 = x[0];
  lv.x1 = x[1];
  if (args.has("spacing") && args.has("points")) throw UsageError("give --spacing or --points, not both");
  lv.points = 101;
  if (const auto d = args.value("spacing")) {
    const double spacing = parse_length(*d, "--spacing", true);
    const double intervals = std::floor((lv.x1 - lv.x0) / spacing * (1 + 1e-12));
    if (!(intervals + 1 <= static_cast<double>(kMaxLevelPoints)))
      throw UsageError("--spacing " + *d + " gives more than " + std::to_string(kMaxLevelPoints) + " points a bed");
    lv.points = static_cast<std::int64_t>(intervals) + 1;
    // The spacing as given: the last point at x0 + intervals * spacing.
    lv.x1 = lv.x0 + static_cast<double>(lv.points - 1) * spacing;
    if (lv.points < 2) throw UsageError("--spacing " + *d + " is wider than the x range: a bed needs two points");
  }
  if (args.has("points")) lv.points = args.integer("points", 101, 2, kMaxLevelPoints);
  return lv;
}

}  // namespace

int model_command(const Args& args) {
  const std::string& action = args.positional.at(0);
  if (action == "forward") {
    if (args.positional.size() > 2) throw UsageError("model forward takes one options file");
    tool::ForwardRequest req;
    req.options = args.positional.at(1);
    req.model = model_choice(args, true);
    if (!args.has("params") && !args.has("best") && !args.has("row"))
      throw UsageError("model forward needs --params \"v1 v2 ...\", --best RESULTS or --row N");
    const auto outp = args.value("out");
    if (!outp || outp->empty()) throw UsageError("model forward needs --out FILE, the bed file to write");
    req.out = *outp;
    if (args.has("beds") == args.has("levels"))
      throw UsageError("model forward needs the beds before faulting: --beds FILE or --levels \"Y1 Y2 ...\"");
    if (const auto b = args.value("beds")) {
      if (b->empty()) throw UsageError("--beds needs a bed file");
      for (const char* o : {"x", "spacing", "points"})
        if (args.has(o)) throw UsageError(std::string("--") + o + " goes with --levels, not --beds");
      req.beds_file = *b;
    } else {
      req.levels = levels_of(args);
    }
    if (const auto d = args.value("increment")) req.increment = parse_length(*d, "--increment", true);
    if (const auto n = args.value("noise")) req.noise = parse_length(*n, "--noise", false);
    if (args.has("seed")) {
      if (!args.has("noise")) throw UsageError("--seed goes with --noise");
      req.seed = static_cast<std::uint32_t>(args.integer("seed", 0, 0, 4294967295LL));
    } else if (req.noise > 0) {
      req.seed = seed_from_environment();
    }
    return tool::forward(req, std::cout, std::cerr);
  }
  if (action == "restore") {
    for (const char* o : kForwardOnly)
      if (args.has(o)) throw UsageError(std::string("--") + o + " belongs to model forward, not model restore");
    tool::RestoreRequest req;
    req.options = args.positional.at(1);
    req.model = model_choice(args, true);
    if (!args.has("params") && !args.has("best") && !args.has("row"))
      throw UsageError("model restore needs --params \"v1 v2 ...\", --best RESULTS or --row N [RESULTS]");
    if (args.positional.size() > 3) throw UsageError("model restore takes at most one results file (for --row)");
    if (args.positional.size() == 3) {
      if (!args.has("row")) throw UsageError("a results file after the options file goes with --row N");
      req.model.row_results = args.positional[2];
    }
    if (const auto o = args.value("out")) req.out_prefix = *o;
    return tool::restore(req, std::cout, std::cerr);
  }
  throw UsageError("model needs the action 'restore' or 'forward', not '" + action + "'");
}

int summary_command(const Args& args) {
  tool::SummaryRequest req;
  req.options = args.positional.at(0);
  req.results.assign(args.positional.begin() + 1, args.positional.end());
  burn_options(args, req.burn, req.burn_frac);
  if (const auto c = args.value("csv")) req.csv = *c;
  if (const auto d = args.value("draws")) req.draws = *d;
  req.top = static_cast<std::size_t>(args.integer("top", 1, 1, 1000000));
  return tool::summary(req, std::cout, std::cerr);
}

int plot_command(const Args& args) {
  tool::PlotRequest req;
  req.options = args.positional.at(0);
  req.results.assign(args.positional.begin() + 1, args.positional.end());
  const auto out = args.value("out");
  if (!out || out->empty()) throw UsageError("plot needs --out FILE.png or --out FILE.svg");
  req.out = *out;
  req.model = model_choice(args, false);
  burn_options(args, req.burn, req.burn_frac);
  if (const auto p = args.value("pairs")) {
    std::size_t start = 0;
    for (;;) {
      const auto comma = p->find(',', start);
      std::string name = p->substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      if (!name.empty()) req.pairs.push_back(std::move(name));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    if (req.pairs.empty()) throw UsageError("--pairs needs parameter names (tip_x,tip_y,...) or none");
  }
  return tool::plot(req, std::cout, std::cerr);
}

}  // namespace fq::cli
