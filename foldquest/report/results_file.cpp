#include "foldquest/report/results_file.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string_view>

#include "freeformat/reader.hpp"

namespace fq::results {

namespace {

// The most negative single-precision value, held as a double: the score of
// a model that failed under the log-probability result types.
constexpr double kFailedLogProbability = -3.4028234663852886e+38;

// Values of one line, split at blanks, tabs and commas.
void split_values(std::string_view line, std::vector<std::string_view>& out) {
  out.clear();
  std::size_t i = 0;
  auto sep = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; };
  while (i < line.size()) {
    while (i < line.size() && sep(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !sep(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
}

}  // namespace

Goal goal_of_result_type(int resulttype) {
  if (resulttype == 1 || resulttype == 3) return Goal::lowest;
  if (resulttype == 2 || resulttype == 4) return Goal::highest;
  throw ResultsError("result type " + std::to_string(resulttype) + " is not one of 1, 2, 3, 4");
}

bool failed_score(double v, Goal goal) {
  return std::isnan(v) || (goal == Goal::highest && v == kFailedLogProbability);
}

bool better(double a, double b, Goal goal) {
  if (failed_score(a, goal)) return false;
  if (failed_score(b, goal)) return true;
  return goal == Goal::lowest ? a < b : a > b;
}

ResultsFile read_results(const std::string& path, std::size_t nparams) {
  std::ifstream in(path);
  if (!in) throw ResultsError("cannot open the results file '" + path + "'");
  ResultsFile f;
  f.path = path;
  bool kind_known = false;
  std::size_t per_line = 0;
  std::string line;
  std::vector<std::string_view> v;
  std::int64_t lineno = 0;
  const std::string where = "results file '" + path + "'";
  auto at = [&](std::int64_t n) { return where + ", line " + std::to_string(n) + ": "; };
  while (std::getline(in, line)) {
    ++lineno;
    split_values(line, v);
    if (v.empty()) continue;
    if (!kind_known) {
      kind_known = true;
      per_line = v.size();
      f.grid = per_line == 1;
      f.nparams = f.grid ? 0 : per_line - 1;
      if (!f.grid && nparams > 0 && f.nparams != nparams)
        throw ResultsError(at(lineno) + std::to_string(f.nparams) + " parameters after the score, the options give " +
                           std::to_string(nparams) + ": the file was not written by this run");
    }
    if (v.size() != per_line)
      throw ResultsError(at(lineno) + std::to_string(v.size()) + " values, the first line has " +
                         std::to_string(per_line) + " (a line cut short by an interrupted run?)");
    double x = 0;
    for (std::size_t j = 0; j < v.size(); ++j) {
      if (!ff::parse_real(v[j], x))
        throw ResultsError(at(lineno) + "'" + std::string(v[j]) + "' is not a number");
      if (j == 0)
        f.scores.push_back(x);
      else
        f.values.push_back(x);
    }
  }
  if (in.bad()) throw ResultsError("reading the " + where + " failed");
  if (f.scores.empty()) throw ResultsError(where + " holds no model");
  return f;
}

std::vector<std::size_t> top_indices(const ResultsFile& f, Goal goal, std::size_t top) {
  std::vector<std::size_t> kept;  // best first
  if (top == 0) return kept;
  auto same_model = [&](std::size_t a, std::size_t b) {
    if (f.grid) return false;  // every line of a grid file is its own model
    const auto pa = f.params(a), pb = f.params(b);
    return std::equal(pa.begin(), pa.end(), pb.begin(), pb.end());
  };
  for (std::size_t i = 0; i < f.size(); ++i) {
    const double s = f.scores[i];
    if (failed_score(s, goal)) continue;
    if (kept.size() == top && !better(s, f.scores[kept.back()], goal)) continue;
    // After every kept model at least as good: ties keep file order.
    const auto pos = std::find_if(kept.begin(), kept.end(), [&](std::size_t k) { return better(s, f.scores[k], goal); });
    // A repeat of a kept model scores the same and sits among its ties (a
    // repeat of one pushed out can no longer get in).
    if (std::any_of(kept.begin(), pos, [&](std::size_t k) { return f.scores[k] == s && same_model(k, i); })) continue;
    kept.insert(pos, i);
    if (kept.size() > top) kept.pop_back();
  }
  return kept;
}

std::int64_t best_index(const ResultsFile& f, Goal goal) {
  const auto best = top_indices(f, goal, 1);
  return best.empty() ? -1 : static_cast<std::int64_t>(best[0]);
}

}  // namespace fq::results
