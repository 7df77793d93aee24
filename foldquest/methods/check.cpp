#include <string>

#include "foldquest/methods/grid_common.hpp"
#include "foldquest/methods/methods.hpp"

namespace fq {

void check_method_settings(Session& s) {
  const auto& p = s.state.parameters;
  const auto& m = s.state.method;
  if (s.state.options.method == 3 && m.means.size() != static_cast<std::size_t>(p.nparams)) {
    throw ff::InputError(
        ff::InputError::Kind::bad_value,
        "file '" + m.dist_file + "': the proposal distribution has " + std::to_string(m.means.size()) +
            " parameters but the run has " + std::to_string(p.nparams) +
            " (the restored-state parameters of fit type 5 cannot be drawn from it)");
  }
  recount_grid_after_second_reading(s);
  // Fit type 5 may have added parameters since the levels were accepted.
  if (s.state.options.method == 7) {
    const std::string too_large = apt_levels_too_large(m.nlevels, p.nparams);
    if (!too_large.empty()) throw ff::InputError(ff::InputError::Kind::bad_value, too_large);
  }
}

}  // namespace fq
