// Finding the best model in a foldquest results file (the library of the
// foldquest-best tool, header-only so that tests can use it directly).
//
// Results files come in two kinds:
//   grid      grid search: one score per line, line k belongs to grid model
//             k of the parameter file's grid (model 1 is every lower bound,
//             the last parameter varies fastest), so the parameters come
//             from the grid numbering (fq::makekback, fq::modelparamsfromnum)
//   records   grid Monte Carlo, normal Monte Carlo and the Markov chains:
//             the score then the nparams parameter values on every line
// The kind is told by the first non-blank line: one value means grid.
//
// Scores are misfits for result types 1 (RMS error) and 3 (chi-square),
// where the lowest is best, and unnormalised log-probabilities for 2 and 4,
// where the highest is best.  A model that could not be evaluated scores
// NaN (types 1 and 3) or -3.4028234663852886e+38 (types 2 and 4); such
// lines are counted as failed and never taken as the best.  Of equal best
// scores the first line wins.
//
// Every function throws BestError with a message naming the file and the
// line when a file cannot be read as described.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <numeric>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "foldquest/math/geometry.hpp"
#include "freeformat/reader.hpp"

namespace fqbest {

class BestError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Which end of the score range is best.
enum class Goal { lowest, highest };

// Result types 1 and 3 are misfits (lowest is best), 2 and 4
// log-probabilities (highest is best).  Throws BestError for other codes.
inline Goal goal_of_result_type(int resulttype) {
  if (resulttype == 1 || resulttype == 3) return Goal::lowest;
  if (resulttype == 2 || resulttype == 4) return Goal::highest;
  throw BestError("result type " + std::to_string(resulttype) + " is not one of 1, 2, 3, 4");
}

// The failure value of the log-probability result types.
inline constexpr double kFailedLogProbability = -3.4028234663852886e+38;

// True for the score of a model that could not be evaluated.
inline bool failed_score(double v, Goal goal) {
  return std::isnan(v) || (goal == Goal::highest && v == kFailedLogProbability);
}

// The ranges of a parameter file: one line per parameter with the lower
// bound, the upper bound and the step, then the sense of slip and the slip
// increment (free format, as foldquest reads it).
struct ParamFile {
  std::vector<double> mins, maxs, steps;
  int sense = 0;          // as written in the file
  double increment = 0;   // as written in the file
  std::size_t nparams() const { return mins.size(); }
};

// Splits a line into values at blanks, tabs and commas (enough for the
// numbers foldquest writes and the parameter files hold).
inline std::vector<std::string_view> split_values(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  auto sep = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; };
  while (i < line.size()) {
    while (i < line.size() && sep(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !sep(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

// The number of parameters of a parameter file when nobody says: the
// number of non-blank lines, from the top, whose first three values are
// numbers (the sense-of-slip line that follows holds one number).
inline std::size_t count_parameter_lines(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw BestError("cannot open the parameter file '" + path + "'");
  std::size_t n = 0;
  std::string line;
  while (std::getline(in, line)) {
    const auto v = split_values(line);
    if (v.empty()) continue;
    double x = 0;
    if (v.size() < 3 || !ff::parse_real(v[0], x) || !ff::parse_real(v[1], x) || !ff::parse_real(v[2], x)) break;
    ++n;
  }
  return n;
}

// Reads a parameter file of `nparams` parameters (0: count them with
// count_parameter_lines) with foldquest's own free-format reader.
inline ParamFile read_param_file(const std::string& path, std::size_t nparams = 0) {
  if (nparams == 0) nparams = count_parameter_lines(path);
  if (nparams == 0) throw BestError("the parameter file '" + path + "' holds no parameter line");
  ParamFile pf;
  try {
    auto in = ff::Reader::open_file(path);
    for (std::size_t i = 0; i < nparams; ++i) {
      const auto v = in->read_reals(3);
      pf.mins.push_back(v[0]);
      pf.maxs.push_back(v[1]);
      pf.steps.push_back(v[2]);
    }
    pf.sense = in->read_int32();
    pf.increment = in->read_real();
  } catch (const ff::InputError& e) {
    throw BestError(std::string("parameter file: ") + e.what());
  }
  return pf;
}

// The number of grid models, as grid search counts them: the product of
// (max - min) / step + 1 over the parameters (1 for equal bounds), rounded.
inline std::int64_t grid_size(const ParamFile& pf) {
  double n = 1;
  for (std::size_t i = 0; i < pf.nparams(); ++i)
    n *= pf.maxs[i] == pf.mins[i] ? 1.0 : (pf.maxs[i] - pf.mins[i]) / pf.steps[i] + 1.0;
  if (!(std::fabs(n) < 9.2e18)) throw BestError("the parameter grid is too large to number");
  return std::llround(n);
}

// The parameters of grid model `model` (1-based).
inline std::vector<double> grid_model_params(const ParamFile& pf, std::int64_t model) {
  std::vector<double> params(pf.nparams());
  try {
    const auto kback = fq::makekback(pf.mins, pf.maxs, pf.steps);
    fq::modelparamsfromnum(model, params, kback, pf.mins, pf.steps);
  } catch (const std::exception& e) {
    throw BestError(std::string("grid numbering: ") + e.what());
  }
  return params;
}

// One candidate: its line in the results file (1-based), its score and its
// parameters.
struct Model {
  std::int64_t line = 0;
  double score = 0;
  std::vector<double> params;
};

struct Summary {
  bool grid = false;          // kind of the file
  std::int64_t nlines = 0;    // models (or chain records) in the file
  std::int64_t nfailed = 0;   // of which could not be evaluated
  std::size_t nparams = 0;
  std::vector<Model> best;    // best first; at most `top` entries
};

// Scans a results file and keeps the `top` best models.  `pf` is needed
// for grid files (null otherwise is an error); for record files it only
// checks that the lines hold its number of parameters.
inline Summary best_models(const std::string& results_path, Goal goal, const ParamFile* pf, std::size_t top = 1) {
  std::ifstream in(results_path);
  if (!in) throw BestError("cannot open the results file '" + results_path + "'");
  if (top == 0) top = 1;
  Summary sum;
  bool kind_known = false;
  std::size_t values_per_line = 0;
  // (score, line) of the candidates kept; params are filled at the end for
  // grid files and as lines are kept for record files.
  std::vector<Model> kept;
  auto better = [goal](const Model& a, const Model& b) {
    if (a.score != b.score) return goal == Goal::lowest ? a.score < b.score : a.score > b.score;
    return a.line < b.line;
  };
  std::string line;
  std::int64_t lineno = 0;
  const std::string where = "results file '" + results_path + "'";
  while (std::getline(in, line)) {
    ++lineno;
    const auto v = split_values(line);
    if (v.empty()) continue;
    if (!kind_known) {
      kind_known = true;
      values_per_line = v.size();
      sum.grid = values_per_line == 1;
      sum.nparams = sum.grid ? (pf ? pf->nparams() : 0) : values_per_line - 1;
      if (sum.grid && !pf)
        throw BestError(where + " holds one score per line (grid search): give the parameter file");
      if (!sum.grid && pf && pf->nparams() != sum.nparams)
        throw BestError(where + " has " + std::to_string(sum.nparams) + " parameters per line, the parameter file " +
                        std::to_string(pf->nparams()));
    }
    if (v.size() != values_per_line)
      throw BestError(where + ", line " + std::to_string(lineno) + ": " + std::to_string(v.size()) +
                      " values, the first line has " + std::to_string(values_per_line));
    ++sum.nlines;
    Model m;
    m.line = sum.nlines;
    if (!ff::parse_real(v[0], m.score))
      throw BestError(where + ", line " + std::to_string(lineno) + ": '" + std::string(v[0]) + "' is not a number");
    if (failed_score(m.score, goal)) {
      ++sum.nfailed;
      continue;
    }
    if (kept.size() == top && !better(m, kept.back())) continue;
    if (!sum.grid) {
      m.params.resize(sum.nparams);
      for (std::size_t j = 0; j < sum.nparams; ++j)
        if (!ff::parse_real(v[j + 1], m.params[j]))
          throw BestError(where + ", line " + std::to_string(lineno) + ": '" + std::string(v[j + 1]) +
                          "' is not a number");
    }
    kept.insert(std::upper_bound(kept.begin(), kept.end(), m, better), std::move(m));
    if (kept.size() > top) kept.pop_back();
  }
  if (sum.grid) {
    const std::int64_t size = grid_size(*pf);
    if (sum.nlines > size)
      throw BestError(where + " has " + std::to_string(sum.nlines) + " lines but the grid of the parameter file only " +
                      std::to_string(size) + " models: it was not made with this parameter file");
    for (Model& m : kept) m.params = grid_model_params(*pf, m.line);
  }
  sum.best = std::move(kept);
  return sum;
}

}  // namespace fqbest
