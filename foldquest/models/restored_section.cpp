#include "foldquest/models/restored_section.hpp"

#include <cmath>
#include <utility>

namespace fq {

namespace {
// The section of the thread's current restore, if any.  Searches never set
// it; only a caller that wants one model's restored data does, around that
// one evaluation.
thread_local RestoredSection* t_kept = nullptr;
}  // namespace

RestoredSection* kept_section() { return t_kept; }

KeepRestored::KeepRestored(RestoredSection& section) : previous_(t_kept) { t_kept = &section; }
KeepRestored::~KeepRestored() { t_kept = previous_; }

void keep_dip_positions(const TipFrame& frame, std::span<const Vec2> dipposze) {
  if (t_kept == nullptr) return;
  t_kept->dip_pos.clear();
  for (const Vec2& p : dipposze) t_kept->dip_pos.push_back(frame.to_xy(p));
}

void keep_dip_positions_mirrored(int ramp_dir, std::span<const Vec2> positions) {
  if (t_kept == nullptr) return;
  t_kept->dip_pos.clear();
  for (const Vec2& p : positions) t_kept->dip_pos.push_back({p.x * ramp_dir, p.y});
}

void keep_fault(std::string name, std::vector<Vec2> pts) {
  if (t_kept == nullptr) return;
  t_kept->fault.push_back({std::move(name), std::move(pts)});
}

Vec2 fault_reach(Vec2 from, double angle) {
  const double r = t_kept ? t_kept->reach : 0.0;
  return {from.x - r * std::cos(angle), from.y - r * std::sin(angle)};
}

}  // namespace fq
