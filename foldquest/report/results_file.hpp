// Reading foldquest results files back, for the summary, restore and plot
// tools.
//
// Two kinds of file:
//   grid      grid search: one score per line; line k belongs to grid model
//             k of the parameter grid (the last parameter varies fastest),
//             so the parameters come from the grid numbering;
//   records   the Monte Carlo methods and the Markov chains: the score, then
//             the nparams parameter values, on every line (a chain writes
//             its current state at every step, so a rejected proposal
//             repeats the line before it).
// The kind is told by the first non-blank line: one value means grid.
//
// Scores are misfits (result types 1 and 3: lowest is best) or unnormalised
// log-probabilities (2 and 4: highest is best).  A model that could not be
// evaluated scores NaN (1, 3) or -3.4028234663852886e+38 (2, 4): it is
// counted as failed and never taken as the best.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace fq::results {

// A results file that cannot be read as described; the message names the
// file and the line.
class ResultsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Goal { lowest, highest };
// Throws ResultsError for a code other than 1 to 4.
Goal goal_of_result_type(int resulttype);
bool failed_score(double score, Goal goal);
// True when a is a better score than b (a failed score never is).
bool better(double a, double b, Goal goal);

struct ResultsFile {
  std::string path;
  bool grid = false;
  std::size_t nparams = 0;      // records: values per line - 1
  std::vector<double> scores;   // one per model or chain step, file order
  std::vector<double> values;   // records: nparams per line, row-major

  std::size_t size() const { return scores.size(); }
  // The parameters of record `i` (0-based); empty for a grid file.
  std::span<const double> params(std::size_t i) const {
    if (grid) return {};
    return std::span<const double>(values).subspan(i * nparams, nparams);
  }
};

// Reads a whole file.  `nparams` > 0 checks that record lines hold exactly
// that many parameters.  Throws ResultsError.
ResultsFile read_results(const std::string& path, std::size_t nparams);

// The 0-based indices of the `top` best models, best first; of equal scores
// the earlier line comes first, and failed models are never taken.  Each
// model is listed once: a record repeating the parameters and score of one
// already listed is passed over (a chain repeats its state at every
// rejected step; grid Monte Carlo draws with repetition).  Empty when every
// model failed.  `foldquest summary` and foldquest-best both take their
// best models from here.
std::vector<std::size_t> top_indices(const ResultsFile& f, Goal goal, std::size_t top);

// The 0-based index of the best model (the first of top_indices), or -1
// when every model failed.
std::int64_t best_index(const ResultsFile& f, Goal goal);

}  // namespace fq::results
