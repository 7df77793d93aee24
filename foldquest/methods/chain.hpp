// Conventions shared by the Markov-chain methods: free parameters, the
// initial model, the bounds test, the acceptance rule, the chain record and
// the progress and acceptance lines.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "foldquest/driver/run_state.hpp"
#include "freeformat/writer.hpp"

namespace fq::chain {

// The objective given to a proposal that is not evaluated (out of bounds):
// the most negative single-precision number, held as a double.
constexpr double kRejected = -3.4028234663852886e38;

// 0-based indices of the free parameters (upper bound differs from lower
// bound), in index order.  Only these are moved by a chain.
std::vector<std::size_t> free_parameters(const Parameters& p);

// The initial model: uniform within the bounds (init_mod_rand = 1; a fixed
// parameter takes its bound) or the specified vector (2).  A specified
// vector shorter than nparams (the restored-state parameters of fit type 5
// come after the method's questions) is completed with uniform draws.
// Draws from the process generator.
std::vector<double> initial_model(const RunState& state);

// Prints "Initial Model: " and the vector on one line.
void print_initial_model(std::span<const double> params);

// True when any free value of a proposal lies outside its bounds (the bounds
// themselves are inside) or is not a number.
bool out_of_bounds(std::span<const double> x, std::span<const std::size_t> free, const Parameters& p);

// The acceptance rule: pacc = exp(lnpnew - lnp), accepted when
// min(pacc, 1) > u.  A proposal whose objective is not a number is rejected;
// a current state whose objective is not a number gives way to any proposal
// that has one.
bool accept(double lnpnew, double lnp, double u);

// One chain record: the current objective and the parameter vector.
void write_record(ff::Sink& results, double lnp, std::span<const double> params);

// "ran model ", model, " of ", nmodels every 10000 iterations.
void progress(std::int64_t model, std::int64_t nmodels);

// "Acceptance Ratio = " acc_count / nmodels in single precision.
void acceptance_line(float acc_count, std::int64_t nmodels);

}  // namespace fq::chain
