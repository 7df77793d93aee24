// foldquest summary: what a results file says about a run.
//
//   grid search, grid Monte Carlo, normal Monte Carlo
//       the best model, and per free parameter the best score found at each
//       grid value (the misfit profile; Monte Carlo draws are taken to the
//       nearest grid value of the parameter file);
//   Markov chains (Metropolis-Hastings, Adaptive Metropolis, Robust
//   Adaptive Metropolis, parallel tempering; each results file one chain)
//       per free parameter and for the score: mean, sd, q5, q50, q95,
//       ess_bulk, ess_tail and r_hat (foldquest/report/convergence.hpp), the
//       acceptance rate of each chain, the best model, and a warning for
//       every r_hat above 1.01 and every ESS below 100 per chain.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace fq::tool {

struct SummaryRequest {
  std::string options;               // the run's options file
  std::vector<std::string> results;  // empty: the results file the options name
  std::int64_t burn = 0;             // chain steps left out at the start of each chain
  double burn_frac = -1;             // or this fraction of each chain (when >= 0)
  std::string csv;                   // the table as CSV (empty: none)
  std::string draws;                 // chains: the kept draws as CSV (empty: none)
  std::size_t top = 1;               // the best models listed (each once)
};

// Prints the summary on `out`; problems with the files go to `err`.
// Returns the exit status: 0, or 2 when a file cannot be read as the run's.
int summary(const SummaryRequest& req, std::ostream& out, std::ostream& err);

// The thresholds of the warnings.
inline constexpr double kRhatLimit = 1.01;
inline constexpr double kEssPerChainLimit = 100;

}  // namespace fq::tool
