// Pieces every model run shares: the blocks of the parameter vector that
// follow the fault model's own parameters.
#pragma once

#include <span>
#include <vector>

#include "foldquest/driver/run_state.hpp"

namespace fq {

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

}  // namespace fq
