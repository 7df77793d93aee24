// Pieces every model run shares: the blocks of the parameter vector that
// follow the fault model's own parameters.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "foldquest/fit/err_and_prob.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/state/run_state.hpp"
#include "foldquest/fit/slot_check.hpp"
#include "foldquest/models/restored_section.hpp"

namespace fq {

// tan(phi), the slope of the trishear zone's boundaries, for phi in radians
// of the run's pi; at phi = pi/2 exactly, tan(89 degrees) instead of the
// pole.
inline double zone_slope(double phi) {
  constexpr double kTan89Degrees = 57.29010354714842;
  return phi == Constants::pi / 2 ? kTan89Degrees : std::tan(phi);
}

// Restores one bed or terrace: its points into the fault-tip frame `in`,
// through `move(work, cov)` (the model's kernel), and back to the map with
// the frame `out` (the tip where the kernel left it).  `work` receives the
// restored points; `cov`, when not empty, starts as diag(sigma^2, sigma^2)
// (isotropic: its turn into the frame is the identity and is skipped) and
// receives each point's covariance in the map frame.  Returns what `move`
// returns.
template <class Move>
auto restore_in_frames(const TipFrame& in, const TipFrame& out, std::span<const Vec2> pts, std::span<Vec2> work,
                       std::span<Mat2> cov, double sigma, Move move) {
  for (std::size_t i = 0; i < pts.size(); ++i) work[i] = in.to_ze(pts[i]);
  const double var = sigma * sigma;
  for (Mat2& c : cov) c = Mat2{var, 0, 0, var};
  const auto result = move(work, cov);
  for (Vec2& p : work) p = out.to_xy(p);
  for (Mat2& c : cov) c = out.cov_to_xy(c);
  return result;
}

// Which data types the run scores.
struct DataSwitches {
  explicit DataSwitches(const Options& o)
      : beds(o.has(Options::dattype_beds)),
        dips(o.has(Options::dattype_dips)),
        terr(o.has(Options::dattype_terr)),
        fault(o.has(Options::dattype_faultpts)) {}
  bool beds, dips, terr, fault;
};

// The growth-stratum slips, terrace slips and restored-state fit
// parameters of one parameter vector (views into it; empty when absent).
struct ExtraBlocks {
  std::span<const double> growth;               // one per growth stratum, beds present
  std::span<const double> terr;                 // one per terrace, terraces present
  std::span<const double> restored_fit_params;  // fit type 5 only
};

// Fills `out` from the layout start-up fixed.  False when a growth or
// terrace slip exceeds `slip` (the model fails); a NaN slip never does and a
// slip equal to `slip` passes.  Throws std::invalid_argument naming `model`
// when the vector is shorter than the layout (a caller's error).
bool extra_blocks(const RunState& state, std::span<const double> params, double slip, const char* model,
                  ExtraBlocks& out);

// The slips of a block multiplied by the sense in which the run moves the data.
std::vector<double> signed_slips(std::span<const double> block, int slip_sense);

// The per-data-type scores of one model run.  In checked builds every type
// scored starts as the unwritten marker and must have been written by its
// scoring.  When the thread keeps a restored section, sum() keeps the
// per-type scores in it.
class TypeScores {
 public:
  TypeScores() : kept_(kept_section()) {}
  double& slot(int type) { return outputs_[static_cast<std::size_t>(type - 1)]; }
  void mark(int type) {
    if constexpr (kCheckedBuild) slot(type) = unwritten_marker();
  }
  void check(int type, const char* what) {
    if constexpr (kCheckedBuild) require_written(std::span<const double>(&slot(type), 1), what);
  }
  // The model's score: the sum over the types (0 for a type not present).
  double sum() const {
    if (kept_ != nullptr) {
      kept_->scored = true;
      for (std::size_t k = 0; k < outputs_.size(); ++k) kept_->scores[k] = outputs_[k];
    }
    return outputs_[0] + outputs_[1] + outputs_[2] + outputs_[3];
  }

 private:
  std::array<double, Options::ndatatypes_poss> outputs_{};
  RestoredSection* kept_;
};

// Scratch for restoring one bed or terrace at a time, sized for the longest
// of the types present.
struct RestoreScratch {
  std::vector<Vec2> work;
  std::vector<Mat2> cov;

  explicit RestoreScratch(const RunState& state) {
    std::size_t longest = 0;
    if (state.options.has(Options::dattype_beds))
      for (const Bed& b : state.data.beds) longest = std::max(longest, b.pts.size());
    if (state.options.has(Options::dattype_terr))
      for (const Bed& b : state.data.terraces) longest = std::max(longest, b.pts.size());
    work.resize(longest);
  }
};

// Marks a growth stratum's slip in the callbacks below: none, the total slip.
inline constexpr std::size_t kTotalSlip = static_cast<std::size_t>(-1);

// Keeps one restored bed, growth stratum or terrace (`index` 0-based in its
// data file) in a restored section.
void keep_set(RestoredSection& kept, KeptSet::Kind kind, std::size_t index, const Bed& item,
              std::span<const Vec2> pts, std::span<const Mat2> cov);

// Restores and scores every bed.  `restore(bed, growth, pts, cov)` restores
// one bed into `pts` (map frame) with its covariances in `cov` (empty when
// not carried) and returns false when the kinematics fail the model; `growth`
// is the bed's index among the growth strata, or kTotalSlip for an ordinary
// bed.  Covariances are carried only where the scoring reads them (bed
// uncertainties propagated under the probabilities).  False when the model
// fails.  Each restored bed is kept in the thread's restored section, if any.
template <class Restore>
bool score_beds(const RunState& state, std::size_t ngrowth_slips, std::span<const double> restored_fit_params,
                RestoreScratch& scratch, TypeScores& scores, const char* model, Restore&& restore) {
  const Options& o = state.options;
  const auto& beds = state.data.beds;
  scores.mark(Options::dattype_beds);
  const bool carry_cov = o.propagate == 1 && (o.resulttype == 2 || o.resulttype == 4);
  if (carry_cov) scratch.cov.resize(scratch.work.size());
  std::vector<double> beds_output_indiv(beds.size());
  if constexpr (kCheckedBuild) mark_unwritten(beds_output_indiv);
  std::size_t next_growth = 0;
  RestoredSection* const kept = kept_section();
  for (std::size_t i = 0; i < beds.size(); ++i) {
    const Bed& bed = beds[i];
    const std::size_t n = bed.pts.size();
    const std::span<Vec2> pts(scratch.work.data(), n);
    const std::span<Mat2> c = carry_cov ? std::span<Mat2>(scratch.cov.data(), n) : std::span<Mat2>();
    std::size_t growth = kTotalSlip;
    if (bed.growth) {
      if (next_growth >= ngrowth_slips)
        throw std::invalid_argument(std::string(model) + ": more growth strata among the beds than ngrowth");
      growth = next_growth++;
    }
    if (!restore(bed, growth, pts, c)) return false;
    if (kept != nullptr)
      keep_set(*kept, growth == kTotalSlip ? KeptSet::Kind::bed : KeptSet::Kind::growth, i, bed, pts, c);
    calc_bed_err(state, static_cast<int>(i + 1), pts, beds_output_indiv, c, restored_fit_params);
  }
  if constexpr (kCheckedBuild) require_written(beds_output_indiv, (std::string(model) + ": bed scores").c_str());
  calc_beds_err(state, beds_output_indiv, scores.slot(Options::dattype_beds));
  scores.check(Options::dattype_beds, (std::string(model) + ": beds").c_str());
  return true;
}

// Restores and scores every terrace, each through its own slip:
// `restore(terrace, n, pts, cov)` as for beds, n the terrace's index.  The
// terrace scoring reads the point covariances under the probabilities.
template <class Restore>
bool score_terraces(const RunState& state, std::size_t nterr_slips, RestoreScratch& scratch, TypeScores& scores,
                    const char* model, Restore&& restore) {
  const Options& o = state.options;
  const auto& terraces = state.data.terraces;
  scores.mark(Options::dattype_terr);
  const bool carry_cov = o.resulttype == 2 || o.resulttype == 4;
  if (carry_cov) scratch.cov.resize(scratch.work.size());
  const std::size_t nt = terraces.size();
  if (nterr_slips != nt) throw std::invalid_argument(std::string(model) + ": terrace count and nterr differ");
  std::vector<double> terr_output_indiv(nt);
  if constexpr (kCheckedBuild) mark_unwritten(terr_output_indiv);
  RestoredSection* const kept = kept_section();
  for (std::size_t n = 0; n < nt; ++n) {
    const Bed& terr = terraces[n];
    const std::size_t np = terr.pts.size();
    const std::span<Vec2> pts(scratch.work.data(), np);
    const std::span<Mat2> c = carry_cov ? std::span<Mat2>(scratch.cov.data(), np) : std::span<Mat2>();
    if (!restore(terr, n, pts, c)) return false;
    if (kept != nullptr) keep_set(*kept, KeptSet::Kind::terrace, n, terr, pts, c);
    calc_terr_err(state, static_cast<int>(n + 1), pts, terr_output_indiv, c);
  }
  if constexpr (kCheckedBuild)
    require_written(terr_output_indiv, (std::string(model) + ": terrace scores").c_str());
  calc_beds_err(state, terr_output_indiv, scores.slot(Options::dattype_terr));
  scores.check(Options::dattype_terr, (std::string(model) + ": terraces").c_str());
  return true;
}

// Restored dips back in the map frame: (dipsze - acute) ramp_dir in degrees,
// folded into [-90, 90]; their uncertainties converted to degrees in place.
// Both are kept in the thread's restored section, if any.
std::vector<double> restored_dips_degrees(std::span<const double> dipsze, double acute, int ramp_dir,
                                          std::span<double> sigma_dip_array);

}  // namespace fq
