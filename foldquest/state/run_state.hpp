// The run state: everything that describes one run.
//
// Start-up (the dialogue and the file readers) fills one RunState on the main
// thread.  From the moment the method starts, everything receives it as
// `const RunState&`: model evaluations on several threads read it at the same
// time without locks, which is sound because nothing writes it any more.
//
// The system counts arrays from 1; the vectors here count from 0.  Use the
// `param(k)`-style helpers (1-based) where an index comes from the system's
// numbering (parameter indices, data-type indices).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foldquest/math/vec2.hpp"

namespace fq {

struct Constants {
  // pi rounded to single precision and widened: every conversion between
  // degrees and radians uses this value.
  static constexpr double pi = 3.1415927410125732;
};

// What to fit and how.
struct Options {
  // Indices (1-based) of the data types in `dattypes` and in a model
  // evaluation's per-type score array.
  static constexpr int dattype_beds = 1;
  static constexpr int dattype_dips = 2;
  static constexpr int dattype_terr = 3;
  static constexpr int dattype_faultpts = 4;
  static constexpr int ndatatypes_poss = 4;

  int dattypes[ndatatypes_poss] = {0, 0, 0, 0};  // 1 when the type is present; use has()
  int ndatatypes = 0;      // number of types the user listed
  int options_id = 5;      // 5: console answers, 4: options file
  static constexpr int params_id = 2;
  static constexpr int errs_id = 3;
  int tiptosolve = 0;      // 1: tip parameters give the initial tip, 2: the final tip
  int faulttype = 0;       // 1..5
  int method = 0;          // 1..7
  int fittype = 0;         // 1..5
  int fit_dips = 0;        // fit type 5: 0 none, 1 one restored dip, 2 one per bed
  int fit_beds = 0;        // fit type 5: 1 when bed intercepts are fitted
  int resulttype = 0;      // 1 RMS, 2 probability, 3 chi-square, 4 correlated probability
  int propagate = 0;       // 1: propagate data uncertainties through the restoration
  int use_sigma_restored_dip = 0;

  // True when the data type with 1-based index k is present.
  bool has(int k) const { return dattypes[k - 1] == 1; }
  int ntypes_present() const { return dattypes[0] + dattypes[1] + dattypes[2] + dattypes[3]; }
};

// The parameter space, the uncertainties and the reference lines.
struct Parameters {
  int nparams = 0;
  int nparam_start_growth = 0;        // 1-based; 0 when there are no beds
  int nparam_start_terr = 0;          // 1-based; 0 when there are no terraces
  int nparam_start_restored_fit = 0;  // 1-based
  int nrestored_fit_params = 0;
  std::vector<double> mins, maxs, steps;  // nparams each; angles in degrees
  std::int64_t nmodels = 0;
  int slip_sense = 0;     // negated sense of slip from the parameter file
  double increment = 0;   // signed slip increment: file increment x slip_sense
  double v0 = 0;          // hanging-wall velocity of the trishear models (= increment)
  double regdipdeg = 0;   // regional dip in degrees, negative down to the left
  double regdip = 0;      // radians
  double regdipsin = 0;
  double regdipcos = 0;
  double regslope = 0;    // reference line y = b - regslope * x
  std::vector<double> intercepts;  // fit type 4: one per bed
  double sigma_bed = 0;
  double sigma_dip = 0;           // degrees
  double sigma_restored_dip = 0;  // degrees
  double sigma_terr = 0;
  std::vector<double> sigma_orig_elev;  // one per terrace
  double sigma_fault = 0;
  double lc = 0;                  // correlation length of bed data (result type 4)
  double terr_dip_deg = 0;
  double terr_dip = 0;
  double terr_slope = 0;
  std::vector<double> terr_orig_elev;  // one per terrace

  // 1-based access to the bounds, as the system numbers parameters.
  double min(int k) const { return mins.at(static_cast<std::size_t>(k - 1)); }
  double max(int k) const { return maxs.at(static_cast<std::size_t>(k - 1)); }
  double step(int k) const { return steps.at(static_cast<std::size_t>(k - 1)); }
};

// One bed, growth stratum or terrace.
struct Bed {
  PointSet pts;            // x, y of each point in file order
  int npts = 0;
  std::string ident;       // the name from the data file, at most 20 characters
  bool growth = false;     // true for a growth stratum
};

// The observations.
struct DataModule {
  std::vector<Bed> beds;   // beds and growth strata in file order
  int nbeds = 0;
  int ngrowth = 0;
  std::vector<double> dips;  // radians
  PointSet dip_pos;
  int ndips = 0;
  std::vector<Bed> terraces;  // first point of each is the inner edge
  int nterr = 0;
  PointSet faultpts;
  int nfaultpts = 0;
};

// Switches set once by the fault models' option questions.
struct FaultSwitches {
  int decoly_at_tipy = 0;
  int bend_at_tipy = 0;
  int tipy_can_be_below_bend = 0;
};

// Settings the methods' option questions store for their runs.  Each method
// keeps here what it reads before the run starts (the options file is closed
// by then).
struct MethodSettings {
  double nmodels_real = 0;        // grid search: product of the grid counts
  std::int64_t nmodels_poss = 0;  // grid Monte Carlo: number of grid models to draw from
  int init_mod_rand = 0;          // Markov chains: 1 random, 2 specified initial model
  std::vector<double> init_model; // the specified initial model
  int begin_adapt = 0;            // Adaptive Metropolis
  int nlevels = 0;                // Adaptive Parallel Tempering
  std::string dist_file;          // normal Monte Carlo: the proposal file
  std::vector<double> means;      // normal Monte Carlo: proposal mean
  std::vector<double> c;          // normal Monte Carlo: proposal covariance, row-major
};

struct RunState {
  Options options;
  Parameters parameters;
  DataModule data;
  FaultSwitches fault;
  MethodSettings method;
};

}  // namespace fq
