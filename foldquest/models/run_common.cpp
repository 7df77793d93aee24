#include "foldquest/models/run_common.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace fq {

namespace {

// The `count` values of params from the 1-based index `start`.
std::span<const double> param_block(std::span<const double> params, int start, int count, const char* model,
                                    const char* what) {
  if (count <= 0) return {};
  if (start < 1 || static_cast<std::size_t>(start - 1) + static_cast<std::size_t>(count) > params.size())
    throw std::invalid_argument(std::string(model) + ": " + what + " parameters " + std::to_string(start) +
                                " to " + std::to_string(start + count - 1) + " outside a vector of " +
                                std::to_string(params.size()));
  return params.subspan(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count));
}

bool any_exceeds(std::span<const double> block, double slip) {
  return std::any_of(block.begin(), block.end(), [slip](double v) { return v > slip; });
}

}  // namespace

bool extra_blocks(const RunState& state, std::span<const double> params, double slip, const char* model,
                  ExtraBlocks& out) {
  const Options& o = state.options;
  const Parameters& par = state.parameters;
  const DataModule& data = state.data;
  out = {};
  if (o.has(Options::dattype_beds) && data.ngrowth > 0) {
    out.growth = param_block(params, par.nparam_start_growth, data.ngrowth, model, "growth");
    if (any_exceeds(out.growth, slip)) return false;
  }
  if (o.has(Options::dattype_terr)) {
    out.terr = param_block(params, par.nparam_start_terr, data.nterr, model, "terrace");
    if (any_exceeds(out.terr, slip)) return false;
  }
  if (o.fittype == 5 && par.nrestored_fit_params > 0)
    out.restored_fit_params =
        param_block(params, par.nparam_start_restored_fit, par.nrestored_fit_params, model, "restored-state fit");
  return true;
}

std::vector<double> signed_slips(std::span<const double> block, int slip_sense) {
  std::vector<double> out(block.size());
  for (std::size_t i = 0; i < block.size(); ++i) out[i] = block[i] * slip_sense;
  return out;
}

void keep_set(RestoredSection& kept, KeptSet::Kind kind, std::size_t index, const Bed& item,
              std::span<const Vec2> pts, std::span<const Mat2> cov) {
  KeptSet set;
  set.kind = kind;
  set.number = static_cast<int>(index + 1);
  set.name = item.ident;
  set.pts.assign(pts.begin(), pts.end());
  set.cov.assign(cov.begin(), cov.end());
  kept.sets.push_back(std::move(set));
}

std::vector<double> restored_dips_degrees(std::span<const double> dipsze, double acute, int ramp_dir,
                                          std::span<double> sigma_dip_array) {
  constexpr double pi = Constants::pi;
  std::vector<double> restoreddips(dipsze.size());
  for (std::size_t j = 0; j < dipsze.size(); ++j) {
    double dip = (dipsze[j] - acute) * ramp_dir * 180 / pi;
    if (dip > 90) dip -= 180;
    if (dip < -90) dip += 180;
    restoreddips[j] = dip;
    sigma_dip_array[j] = sigma_dip_array[j] * 180 / pi;
  }
  if (RestoredSection* kept = kept_section()) {
    kept->dips = restoreddips;
    kept->dip_sigma.assign(sigma_dip_array.begin(), sigma_dip_array.end());
  }
  return restoreddips;
}

}  // namespace fq
