// Names and units of the parameters of a run, for the tools' tables and
// CSV files: the fault model's own parameters, then one growth slip per
// growth stratum, one slip per terrace and the restored-state fit
// parameters, in the order of the parameter vector.
#pragma once

#include <string>
#include <vector>

#include "foldquest/state/run_state.hpp"

namespace fq {

struct ParamName {
  std::string name;  // a column name: letters, digits, _ and [bed name]
  std::string unit;  // "length" (the data's unit), "degrees", "ratio" or "1"
};

// nparams entries; a parameter of a fault type without a table of names is
// called param_<k>.
std::vector<ParamName> param_names(const RunState& state);

}  // namespace fq
