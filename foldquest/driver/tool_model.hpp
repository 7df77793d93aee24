// foldquest model restore | forward: one model of a run, applied to its data.
//
// restore: the run's own model run restores the data under one parameter
// vector and keeps what it restored (foldquest/models/restored_section.hpp),
// so the section and its scores are exactly those the search computed.
// Files written, PREFIX being --out (default "restored"):
//   PREFIX_points.csv  set,kind,name,index,x,y[,sxx,sxy,syy],x_obs,y_obs
//                      every restored bed ("bed"), growth stratum ("growth")
//                      and terrace ("terrace") point, and the fault points
//                      as observed ("fault point", x,y = x_obs,y_obs: they are
//                      scored where they are); sxx,sxy,syy the restored
//                      covariance when the run propagates uncertainties
//   PREFIX_dips.csv    index,x,y,dip,sigma,x_obs,y_obs,dip_obs (degrees)
//   PREFIX_fault.csv   part,index,x,y: the fault as polylines (segments,
//                      ramp, detachment) and points (tips, bend)
//   PREFIX_scores.csv  type,score: each data type's part of the total, and
//                      the total
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "foldquest/driver/run_state.hpp"
#include "foldquest/models/restored_section.hpp"

namespace fq::tool {

// Where the parameter vector comes from: exactly one of the three.
struct ModelChoice {
  std::vector<double> params;   // --params
  std::string best_results;     // --best RESULTS
  std::string row_results;      // --row N RESULTS
  std::int64_t row = 0;         // 1-based model (grid) or line (records)
};

struct RestoreRequest {
  std::string options;
  ModelChoice model;
  std::string out_prefix = "restored";
};

// Writes the four files and prints the scores.  Exit status: 0; 1 when the
// model fails (no score) or its score differs from the one in the results
// file it came from; 2 for input that cannot be read.
int restore(const RestoreRequest& req, std::ostream& out, std::ostream& err);

// The parameter vector a choice names, and the score the results file holds
// for it (NaN for --params).  Throws results::ResultsError or
// std::invalid_argument with a message for the user.
std::vector<double> chosen_params(const RunState& state, const std::string& results_default, const ModelChoice& c,
                                  double& score_in_file, std::string& described);

// Evaluates one model as a search does, keeping its restored section;
// returns the score.  `reach` is how far fault lines are drawn down-dip.
double restore_section(const RunState& state, std::span<const double> params, RestoredSection& section);

// Writes the four CSV files of a kept section; false (and a message on
// `err`) when one cannot be written.
bool write_section(const RunState& state, const RestoredSection& section, double total, const std::string& prefix,
                   std::ostream& err);

}  // namespace fq::tool
