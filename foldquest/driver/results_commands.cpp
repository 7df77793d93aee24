// foldquest model, summary and plot: the command-line handlers of the
// results tools.  They only turn the parsed command line into a request;
// the work is in tool_model, tool_summary and tool_plot.
#include <iostream>
#include <string>
#include <vector>

#include "foldquest/driver/commands.hpp"
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

}  // namespace

int model_command(const Args& args) {
  const std::string& action = args.positional.at(0);
  if (action == "restore") {
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
  throw UsageError("model needs the action 'restore', not '" + action + "'");
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
