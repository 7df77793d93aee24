// The search and sampling methods.  Each has its option questions (asked at
// start-up, before the options file is closed) and its run, which reads the
// run state only, evaluates models through the Evaluate it is given (the
// driver's choose_fault_model in a run), writes the results file and returns
// the number of models to report.  The dispatch tables that join methods to
// fault models live above, in foldquest/driver/choose.cpp.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "foldquest/state/run_state.hpp"
#include "foldquest/input/session.hpp"
#include "foldquest/methods/chain.hpp"
#include "freeformat/writer.hpp"

namespace fq {


// Grid search: every grid model, results in model order.
void gridsearch_options(Session& s);
std::int64_t gridsearch_with(const RunState& state, ff::Sink& results, Evaluate evaluate);

// Grid Monte Carlo: grid models drawn uniformly, with repetition.
void mcgrid_options(Session& s);
std::int64_t montecarlo_grid_with(const RunState& state, ff::Sink& results, Evaluate evaluate);

// Monte Carlo from a multivariate normal proposal read from a file.
void mcnormal_options(Session& s);
std::int64_t mc_normal_with(const RunState& state, ff::Sink& results, Evaluate evaluate);

// The number of models to run: at least 1 (refused otherwise).
std::int64_t ask_nmodels(Session& s);

// The questions every Markov-chain method starts with: the number of models
// and the initial model.
void ask_chain_options(Session& s);

// Random-walk Metropolis-Hastings.
void mcmc_options(Session& s);
std::int64_t mcmc_with(const RunState& state, ff::Sink& results, Evaluate evaluate);

// Adaptive Metropolis: the covariance of the chain's history.
void am_options(Session& s);
std::int64_t am_with(const RunState& state, ff::Sink& results, Evaluate evaluate);

// Robust Adaptive Metropolis: a factor reshaped towards acceptance 0.234.
void ram_options(Session& s);
std::int64_t ram_with(const RunState& state, ff::Sink& results, Evaluate evaluate);

// Adaptive Parallel Tempering: a ladder of tempered chains, levels advanced
// in parallel; only the cold chain is written.
void apt_options(Session& s);
// Empty when `nlevels` levels of `nparams` parameters fit in this machine's
// memory, else the message that says they do not.
std::string apt_levels_too_large(int nlevels, int nparams);
std::int64_t apt_with(const RunState& state, ff::Sink& results, Evaluate evaluate);

// Checks, once every answer is in, that the method's settings agree with
// the final parameter count (fit type 5 adds parameters after the method's
// questions), and counts the grid of the grid methods again from the final
// ranges.  Throws ff::InputError when they cannot.
void check_method_settings(Session& s);

}  // namespace fq
