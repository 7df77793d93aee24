// Conventions shared by the Markov-chain methods: free parameters, the
// initial model, the bounds test, the acceptance rule, the chain record and
// the progress and acceptance lines.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "foldquest/state/run_state.hpp"
#include "foldquest/math/linalg.hpp"
#include "freeformat/writer.hpp"

namespace fq {
// How a method evaluates one model: choose_fault_model in a run; tests pass
// objectives with known answers.
using Evaluate = void (*)(const RunState& state, double& output, std::span<const double> params);
}  // namespace fq

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

// The start of every chain: the generator seeded, the initial model drawn
// or taken, printed and evaluated; the free parameters with their current
// values and their steps.
struct Start {
  std::vector<double> params;       // the full initial vector
  double lnp = 0;                   // its objective
  std::vector<std::size_t> free;    // 0-based indices of the free parameters
  std::vector<double> x;            // their values
  std::vector<double> steps;        // their steps
};
Start start(const RunState& state, Evaluate evaluate);

// `out` = `params` with the free entries taken from `x`.
void with_free(std::span<const double> params, std::span<const std::size_t> free, std::span<const double> x,
               std::vector<double>& out);

// The diagonal matrix of `v` (the initial proposal covariances: steps taken
// as variances).
SquareMatrix diagonal(std::span<const double> v);

// True when any free value of a proposal lies outside its bounds (the bounds
// themselves are inside) or is not a number.
bool out_of_bounds(std::span<const double> x, std::span<const std::size_t> free, const Parameters& p);

// The acceptance probability of a proposal: alpha = min(pacc, 1) with
// pacc = exp((lnpnew - lnp) * beta) (beta = 1 but in tempered chains).  A
// proposal whose objective is not a number has alpha = 0; otherwise a pacc
// that is not a number (a current objective that is not one, or -inf
// against -inf) counts as 1.
double acceptance_probability(double lnpnew, double lnp, double beta = 1.0);

// The acceptance rule: accepted when acceptance_probability > u.
bool accept(double lnpnew, double lnp, double u);

// Seeds this thread's generator (the process generator unless a chain of
// several bound its own) at the start of a chain or a Monte Carlo run, with
// the first of: the thread's seed (set_thread_seed), the run's seed
// (set_run_seed: --seed or FOLDQUEST_SEED), the clock (clock_seed).  Prints
// the seed on standard error as one line, "foldquest: random seed N", unless
// it is a thread's seed (whoever set it reports it).
void seed_for_run();
// Every later seed_for_run uses `t`; a negative value returns to seeding
// from the clock.  Process-wide.
void set_run_seed(long long t);
// The same for the calling thread only (one chain of several); a negative
// value clears it.
void set_thread_seed(long long t);
// The run's fixed seed, or -1 when the clock chooses.
long long run_seed();
// Tests: set_run_seed(t).
void set_test_seed(long long t);

// The robust adaptive step shared by Robust Adaptive Metropolis and
// parallel tempering.
// The target acceptance rate, 0.234 in single precision.
constexpr double pdes = static_cast<double>(0.234f);
// eta = min(1, d * n^(-2/3)), in single precision as the adaptation always
// was (n and d converted to single precision, exponent -2/3 in single).
double ram_eta(std::int64_t n, std::size_t d);

// The Adaptive Metropolis scale sd = 5.76 / d, divided in single precision.
double am_sd(std::size_t d);

// Reshapes the proposal factor after one move with the standard normal
// vector `u` of that move and its acceptance probability `alpha`:
//   M = I + eta (alpha - pdes) u u^T / (u^T u),  c = s M s^T,  s = chol(c).
// With no free parameter (u empty) nothing changes.
void ram_update(SquareMatrix& c, SquareMatrix& s, std::span<const double> u, double eta, double alpha);

// Prints "Final Covariance matrix..." (the given title) and the rows of `c`
// in single precision, one line per row.
void print_covariance(const char* title, const SquareMatrix& c);

// One chain record: the current objective and the parameter vector.
void write_record(ff::Sink& results, double lnp, std::span<const double> params);

// Counts one step for the progress display (fq::progress), and prints
// "ran model ", model, " of ", nmodels every 10000 iterations.
void progress(std::int64_t model, std::int64_t nmodels);

// Accepted moves are counted in 64-bit integers (a single-precision count
// stops growing at 2^24 = 16777216).  The ratio count / nmodels, printed in
// single precision.
float acceptance_ratio(std::int64_t count, std::int64_t nmodels);

// "Acceptance Ratio = " acc_count / nmodels in single precision.
void acceptance_line(std::int64_t acc_count, std::int64_t nmodels);

}  // namespace fq::chain
