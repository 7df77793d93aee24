// foldquest-best: the best models of a results file, for when the run's
// options file is not at hand.  `foldquest summary OPTIONS_FILE` says the
// same and more (the parameters' names and units, misfit profiles, chain
// diagnostics); this is the older name, kept working for scripts that call
// it.  Both take the results file and its best models from the one reader,
// foldquest/report/results_file.hpp; this file only turns its command line
// into a request and prints the answer.
//
// Usage:
//   foldquest-best --result-type N [--params FILE] [--nparams N] [--top N]
//                  [--names NAME,NAME,...] RESULTS
//
//   --result-type N  the result type of the run: 1 (RMS error) or 3
//                    (chi-square): the lowest score is best; 2 or 4
//                    (log-probabilities): the highest is best.
//                    --lowest and --highest say the same directly.
//   --params FILE    the run's parameter file.  Needed for grid search,
//                    whose results file holds only scores (line k is grid
//                    model k); optional for the other methods, whose lines
//                    hold the parameters (it then adds the bounds to the
//                    listing and checks the parameter count).
//   --nparams N      the number of parameter lines of FILE.  By default
//                    the leading lines with three numbers are counted.
//   --top N          list the N best models (each once) instead of the best.
//   --names LIST     names of the parameters, in order, for the listing.
//
// Exit status: 0 with a best model, 1 when the files cannot be read or no
// model could be evaluated, 2 for a wrong command line.
//
// Example (grid search of examples/straight_ramp, a log-probability):
//   foldquest-best --result-type 2 --params params_grid.txt gridsearch_results.txt
#include <charconv>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "foldquest/math/geometry.hpp"
#include "foldquest/report/results_file.hpp"
#include "freeformat/reader.hpp"

namespace {

namespace results = fq::results;

void usage() {
  std::cerr << "usage: foldquest-best (--result-type N | --lowest | --highest) [--params FILE] [--nparams N]\n"
               "                      [--top N] [--names NAME,NAME,...] RESULTS\n"
               "  result types 1 and 3 (misfits): the lowest score is best;\n"
               "  result types 2 and 4 (log-probabilities): the highest is best.\n"
               "  Grid-search results hold only scores: give the parameter file with --params.\n"
               "  With the run's options file, `foldquest summary OPTIONS_FILE --top N` says more.\n";
}

// Shortest text that reads back as the same double.
std::string num(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

bool parse_count(const std::string& s, std::size_t& out) {
  std::int64_t v = 0;
  if (!ff::parse_int64(s, v) || v < 1) return false;
  out = static_cast<std::size_t>(v);
  return true;
}

std::vector<std::string> split_names(const std::string& s) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const auto comma = s.find(',', start);
    out.push_back(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return out;
    start = comma + 1;
  }
}

std::string pad(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

// The ranges of a parameter file read without its options file: one line
// of lower bound, upper bound and step per parameter (then the sense of
// slip and the slip increment, not needed here).
struct Ranges {
  std::vector<double> mins, maxs, steps;
  std::size_t size() const { return mins.size(); }
};

// The number of parameters when nobody says: the non-blank lines, from the
// top, whose first three values are numbers (the sense-of-slip line that
// follows holds one).
std::size_t count_parameter_lines(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open the parameter file '" + path + "'");
  std::size_t n = 0;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> v;
    std::size_t i = 0;
    auto sep = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; };
    while (i < line.size() && v.size() < 3) {
      while (i < line.size() && sep(line[i])) ++i;
      const std::size_t start = i;
      while (i < line.size() && !sep(line[i])) ++i;
      if (i > start) v.push_back(line.substr(start, i - start));
    }
    if (v.empty()) continue;
    double x = 0;
    if (v.size() < 3 || !ff::parse_real(v[0], x) || !ff::parse_real(v[1], x) || !ff::parse_real(v[2], x)) break;
    ++n;
  }
  return n;
}

Ranges read_ranges(const std::string& path, std::size_t nparams) {
  if (nparams == 0) nparams = count_parameter_lines(path);
  if (nparams == 0) throw std::runtime_error("the parameter file '" + path + "' holds no parameter line");
  Ranges r;
  try {
    auto in = ff::Reader::open_file(path);
    for (std::size_t i = 0; i < nparams; ++i) {
      const auto v = in->read_reals(3);
      r.mins.push_back(v[0]);
      r.maxs.push_back(v[1]);
      r.steps.push_back(v[2]);
    }
  } catch (const ff::InputError& e) {
    throw std::runtime_error(std::string("parameter file: ") + e.what());
  }
  return r;
}

// The grid's model count, as grid search counts it (equal bounds: one value).
std::int64_t grid_size(const Ranges& r) {
  double n = 1;
  for (std::size_t j = 0; j < r.size(); ++j)
    n *= r.maxs[j] == r.mins[j] ? 1.0 : (r.maxs[j] - r.mins[j]) / r.steps[j] + 1.0;
  if (!(std::fabs(n) < 9.2e18)) throw std::runtime_error("the parameter grid is too large to number");
  return std::llround(n);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int goal_set = 0;
  results::Goal goal = results::Goal::lowest;
  std::string params_path, results_path;
  std::size_t nparams = 0, top = 1;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
    if (a == "--help" || a == "-h") {
      usage();
      return 0;
    } else if (a == "--lowest") {
      goal = results::Goal::lowest;
      ++goal_set;
    } else if (a == "--highest") {
      goal = results::Goal::highest;
      ++goal_set;
    } else if (a == "--result-type") {
      const std::string* v = value();
      std::int32_t rt = 0;
      if (!v || !ff::parse_int32(*v, rt) || rt < 1 || rt > 4) {
        std::cerr << "foldquest-best: --result-type needs 1, 2, 3 or 4\n";
        return 2;
      }
      goal = results::goal_of_result_type(rt);
      ++goal_set;
    } else if (a == "--params") {
      const std::string* v = value();
      if (!v) {
        usage();
        return 2;
      }
      params_path = *v;
    } else if (a == "--nparams" || a == "--top") {
      const std::string* v = value();
      if (!v || !parse_count(*v, a == "--top" ? top : nparams)) {
        std::cerr << "foldquest-best: " << a << " needs a positive whole number\n";
        return 2;
      }
    } else if (a == "--names") {
      const std::string* v = value();
      if (!v) {
        usage();
        return 2;
      }
      names = split_names(*v);
    } else if (!a.empty() && a[0] == '-') {
      std::cerr << "foldquest-best: unknown option " << a << "\n";
      usage();
      return 2;
    } else if (results_path.empty()) {
      results_path = a;
    } else {
      std::cerr << "foldquest-best: more than one results file\n";
      return 2;
    }
  }
  if (goal_set != 1 || results_path.empty()) {
    if (goal_set != 1) std::cerr << "foldquest-best: say once which score is best (--result-type N)\n";
    usage();
    return 2;
  }

  try {
    const bool bounds = !params_path.empty();
    const Ranges ranges = bounds ? read_ranges(params_path, nparams) : Ranges{};
    const results::ResultsFile f = results::read_results(results_path, ranges.size());
    std::cout << "results file:   " << results_path << "\n";
    std::vector<std::int64_t> kback;
    if (f.grid) {
      if (!bounds) {
        std::cerr << "foldquest-best: results file '" << results_path
                  << "' holds one score per line (grid search): give the parameter file with --params\n";
        return 1;
      }
      const std::int64_t size = grid_size(ranges);
      const auto nlines = static_cast<std::int64_t>(f.size());
      if (nlines > size) {
        std::cerr << "foldquest-best: results file '" << results_path << "' has " << nlines
                  << " lines but the grid of the parameter file only " << size
                  << " models: it was not made with this parameter file\n";
        return 1;
      }
      std::cout << "kind:           grid search, " << nlines << " of " << size << " grid models of " << params_path
                << "\n";
      if (nlines < size)
        std::cerr << "foldquest-best: warning: the file holds " << nlines << " of the " << size
                  << " grid models (an unfinished run?)\n";
      kback = fq::makekback(ranges.mins, ranges.maxs, ranges.steps);
    } else {
      std::cout << "kind:           one model per line (Monte Carlo or chain), " << f.size() << " lines, "
                << f.nparams << " parameters\n";
    }
    std::cout << "best is:        "
              << (goal == results::Goal::lowest ? "the lowest misfit (result types 1, 3)"
                                                : "the highest log-probability (result types 2, 4)")
              << "\n";
    std::size_t nfailed = 0;
    for (double s : f.scores) nfailed += results::failed_score(s, goal) ? 1 : 0;
    std::cout << "failed models:  " << nfailed << "\n";
    const auto best = results::top_indices(f, goal, top);
    if (best.empty()) {
      std::cerr << "foldquest-best: no model in the file could be evaluated\n";
      return 1;
    }
    std::vector<double> grid_params(ranges.size());
    for (std::size_t r = 0; r < best.size(); ++r) {
      const std::size_t k = best[r];
      std::vector<double> params;
      if (f.grid) {
        fq::modelparamsfromnum(static_cast<std::int64_t>(k + 1), grid_params, kback, ranges.mins, ranges.steps);
        params = grid_params;
      } else {
        const auto p = f.params(k);
        params.assign(p.begin(), p.end());
      }
      std::cout << "\n" << (best.size() > 1 ? "rank " + std::to_string(r + 1) + ": " : "best model: ")
                << (f.grid ? "grid model " : "line ") << k + 1 << ", score " << num(f.scores[k]) << "\n";
      std::cout << "  " << pad("parameter", 20) << pad("value", 22);
      if (bounds) std::cout << pad("lower", 14) << pad("upper", 14) << pad("step", 14);
      std::cout << "\n";
      for (std::size_t j = 0; j < params.size(); ++j) {
        const std::string name = j < names.size() && !names[j].empty() ? names[j] : std::to_string(j + 1);
        std::cout << "  " << pad(name, 20) << pad(num(params[j]), 22);
        if (bounds && j < ranges.size())
          std::cout << pad(num(ranges.mins[j]), 14) << pad(num(ranges.maxs[j]), 14) << pad(num(ranges.steps[j]), 14);
        std::cout << "\n";
      }
    }
  } catch (const results::ResultsError& e) {
    std::cerr << "foldquest-best: " << e.what() << "\n";
    return 1;
  } catch (const fq::GridError& e) {
    std::cerr << "foldquest-best: grid numbering: " << e.what() << "\n";
    return 1;
  } catch (const std::runtime_error& e) {
    std::cerr << "foldquest-best: " << e.what() << "\n";
    return 1;
  } catch (const std::invalid_argument& e) {
    std::cerr << "foldquest-best: grid numbering: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
