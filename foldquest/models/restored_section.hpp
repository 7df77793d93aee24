// The restored section of one model, kept by the model run itself.
//
// Searches evaluate millions of models and keep only their scores.  To show
// a user what one model does to the data (`foldquest model restore`), the
// same model run is asked to keep what it restored: a caller puts a
// RestoredSection on the current thread with KeepRestored and evaluates the
// model as a search would.  The shared scoring of run_common keeps every
// restored bed, growth stratum and terrace (with its covariances when they
// were carried), every restored dip, and the per-data-type scores; each
// model adds its fault geometry and the restored dips' positions.  No second
// copy of the kinematics exists, so the section's total is the search's
// score to the bit.
//
// With no section kept (every search) the model runs pay one test of a
// thread-local pointer per data type.
//
// What a model run must do to support it:
//   - score beds and terraces through score_beds / score_terraces, restore
//     dips through restored_dips_degrees, and end with scores.sum(): these
//     keep the restored data and the scores;
//   - when kept_section() is not null, call keep_dip_positions with the
//     frame the dip kernel left the positions in, and keep_fault with its
//     fault's geometry (segments as polylines and the tips and bends as
//     named points), extended down-dip by `reach` of the section.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "foldquest/math/geometry.hpp"
#include "foldquest/math/vec2.hpp"

namespace fq {

// One restored bed, growth stratum or terrace.
struct KeptSet {
  enum class Kind { bed, growth, terrace };
  Kind kind = Kind::bed;
  int number = 0;           // 1-based, in its data file (beds with growth strata; terraces)
  std::string name;         // the data file's identifier
  std::vector<Vec2> pts;    // restored, map frame
  std::vector<Mat2> cov;    // restored covariances, map frame; empty when not carried
};

// A named polyline of the fault (a segment, the ramp, the detachment, an
// arc) or a named point (a tip, a bend): a point is a polyline of one vertex.
struct FaultPart {
  std::string name;
  std::vector<Vec2> pts;
};

struct RestoredSection {
  // How far the fault's lines are drawn down-dip from their last named
  // point, in data units: the caller sets it from the data's extent.
  double reach = 1000;

  std::vector<KeptSet> sets;
  std::vector<double> dips;         // restored, degrees in [-90, 90]
  std::vector<double> dip_sigma;    // degrees
  std::vector<Vec2> dip_pos;        // restored positions (empty when the model does not give them)
  std::vector<FaultPart> fault;
  // Per-data-type scores in the run state's data-type order (beds, dips,
  // terraces, fault points; 0 for a type not present), kept when the model
  // reached its score; a failed model keeps none.
  bool scored = false;
  std::array<double, 4> scores{};
};

// The section being kept on this thread, or null.
RestoredSection* kept_section();

// Keeps the restored section of every model run on this thread while it
// lives (one at a time; the previous one is put back at the end).
class KeepRestored {
 public:
  explicit KeepRestored(RestoredSection& section);
  ~KeepRestored();
  KeepRestored(const KeepRestored&) = delete;
  KeepRestored& operator=(const KeepRestored&) = delete;

 private:
  RestoredSection* previous_;
};

// For model runs, when kept_section() is not null: the restored dips'
// positions, given in `frame` (the one the dip kernel left them in).
void keep_dip_positions(const TipFrame& frame, std::span<const Vec2> dipposze);
// The same for models that restore dips in the map frame mirrored by
// `ramp_dir` (x times ramp_dir): the listric fault and the kink fold.
void keep_dip_positions_mirrored(int ramp_dir, std::span<const Vec2> positions);
// A named polyline or point of the fault geometry.
void keep_fault(std::string name, std::vector<Vec2> pts);
// The down-dip end of a fault line drawn from `from`: the point `reach` of
// the kept section back along the line whose up-dip direction has the map
// angle `angle` (radians from +x).
Vec2 fault_reach(Vec2 from, double angle);

}  // namespace fq
