// foldquest-best: prints the best model of a foldquest results file.
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
//   --top N          list the N best models instead of the best one.
//   --names LIST     names of the parameters, in order, for the listing.
//
// Exit status: 0 with a best model, 1 when the files cannot be read or no
// model could be evaluated, 2 for a wrong command line.
//
// Example (grid search of examples/straight_ramp, a log-probability):
//   foldquest-best --result-type 2 --params params_grid.txt gridsearch_results.txt
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "examples/tools/best_model.hpp"

namespace {

void usage() {
  std::cerr << "usage: foldquest-best (--result-type N | --lowest | --highest) [--params FILE] [--nparams N]\n"
               "                      [--top N] [--names NAME,NAME,...] RESULTS\n"
               "  result types 1 and 3 (misfits): the lowest score is best;\n"
               "  result types 2 and 4 (log-probabilities): the highest is best.\n"
               "  Grid-search results hold only scores: give the parameter file with --params.\n";
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
    out.push_back(s.substr(start, comma - start));
    if (comma == std::string::npos) return out;
    start = comma + 1;
  }
}

std::string pad(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int goal_set = 0;
  fqbest::Goal goal = fqbest::Goal::lowest;
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
      goal = fqbest::Goal::lowest;
      ++goal_set;
    } else if (a == "--highest") {
      goal = fqbest::Goal::highest;
      ++goal_set;
    } else if (a == "--result-type") {
      const std::string* v = value();
      std::int32_t rt = 0;
      if (!v || !ff::parse_int32(*v, rt) || rt < 1 || rt > 4) {
        std::cerr << "foldquest-best: --result-type needs 1, 2, 3 or 4\n";
        return 2;
      }
      goal = fqbest::goal_of_result_type(rt);
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
    fqbest::ParamFile pf;
    if (!params_path.empty()) pf = fqbest::read_param_file(params_path, nparams);
    const auto sum = fqbest::best_models(results_path, goal, params_path.empty() ? nullptr : &pf, top);

    std::cout << "results file:   " << results_path << "\n";
    if (sum.grid) {
      const std::int64_t size = fqbest::grid_size(pf);
      std::cout << "kind:           grid search, " << sum.nlines << " of " << size << " grid models of "
                << params_path << "\n";
      if (sum.nlines < size)
        std::cerr << "foldquest-best: warning: the file holds " << sum.nlines << " of the " << size
                  << " grid models (an unfinished run?)\n";
    } else {
      std::cout << "kind:           one model per line (Monte Carlo or chain), " << sum.nlines << " lines, "
                << sum.nparams << " parameters\n";
    }
    std::cout << "best is:        "
              << (goal == fqbest::Goal::lowest ? "the lowest misfit (result types 1, 3)"
                                               : "the highest log-probability (result types 2, 4)")
              << "\n";
    std::cout << "failed models:  " << sum.nfailed << "\n";
    if (sum.best.empty()) {
      std::cerr << "foldquest-best: no model in the file could be evaluated\n";
      return 1;
    }
    for (std::size_t r = 0; r < sum.best.size(); ++r) {
      const auto& m = sum.best[r];
      std::cout << "\n" << (sum.best.size() > 1 ? "rank " + std::to_string(r + 1) + ": " : "best model: ")
                << (sum.grid ? "grid model " : "line ") << m.line << ", score " << num(m.score) << "\n";
      const bool bounds = !params_path.empty();
      std::cout << "  " << pad("parameter", 20) << pad("value", 22);
      if (bounds) std::cout << pad("lower", 14) << pad("upper", 14) << pad("step", 14);
      std::cout << "\n";
      for (std::size_t j = 0; j < m.params.size(); ++j) {
        const std::string name = j < names.size() && !names[j].empty() ? names[j] : std::to_string(j + 1);
        std::cout << "  " << pad(name, 20) << pad(num(m.params[j]), 22);
        if (bounds && j < pf.nparams())
          std::cout << pad(num(pf.mins[j]), 14) << pad(num(pf.maxs[j]), 14) << pad(num(pf.steps[j]), 14);
        std::cout << "\n";
      }
    }
  } catch (const fqbest::BestError& e) {
    std::cerr << "foldquest-best: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
