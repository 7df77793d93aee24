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
//
// forward: beds in their state before faulting (a bed file, or horizontal
// beds at given heights) deformed by one model's whole slip through the
// fault model's forward hook (foldquest/models/forward_beds.hpp, the run's
// own kinematics reversed), optionally with Gaussian noise on x and y, and
// written as a bed file foldquest reads: a synthetic section.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "foldquest/state/run_state.hpp"
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

// Horizontal beds at heights `levels`, each with `points` points evenly
// spaced from x0 to x1 (both included).
struct Levels {
  std::vector<double> levels;
  double x0 = 0, x1 = 0;
  std::int64_t points = 0;
};

struct ForwardRequest {
  std::string options;
  ModelChoice model;
  std::string beds_file;          // --beds: a bed file, or empty for `levels`
  Levels levels;                  // --levels, --x, --spacing | --points
  std::optional<double> increment;  // --increment: the forward's own slip increment
  double noise = 0;               // --noise: sigma of the Gaussian noise on x and y
  std::optional<std::uint32_t> seed;  // --seed (else FOLDQUEST_SEED, else the clock)
  std::string out;                // --out: the bed file written
};

// Writes the deformed beds as a bed file ("bed NAME" lines, then "x y" per
// point) and says what it wrote.  Exit status: 0; 1 when the model fails
// (its geometry is refused, the kinematics cannot step the slip, or a point
// comes out as no finite number) or the file cannot be written; 2 for input
// that cannot be read (the options, the bed file, a growth stratum in it,
// a parameter vector of the wrong length).
int forward(const ForwardRequest& req, std::ostream& out, std::ostream& err);

// The points of each level's bed: x0 + (x1 - x0) k / (points - 1).
std::vector<PointSet> level_beds(const Levels& levels);

// Adds Gaussian noise of standard deviation `sigma` to x and y of every
// point, drawn with the project's generator seeded with `seed`: the same
// seed gives the same noise.
void add_noise(std::vector<PointSet>& beds, double sigma, std::uint32_t seed);

// The bed file's text: "bed NAME" and one "x y" line per point, every
// number as the shortest text that reads back as the same double.
std::string bed_file_text(const std::vector<std::string>& names, const std::vector<PointSet>& beds);

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
