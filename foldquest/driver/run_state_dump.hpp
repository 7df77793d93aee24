// A readable listing of a whole run state, one field per line, for tests
// that compare two run states field by field and for debugging.
#pragma once

#include <string>

#include "foldquest/state/run_state.hpp"

namespace fq {

// Every field of `state` as "name = value" lines (doubles in full precision).
// `options_id` is left out when `with_source` is false, so that a run from
// the console and the same run from an options file list the same text.
std::string dump(const RunState& state, bool with_source = true);

}  // namespace fq
