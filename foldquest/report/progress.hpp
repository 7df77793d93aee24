// How far the running method has got, for the progress display.
//
// Methods call advance() as models finish; the driver sets the expected
// total, shows done() against it on a terminal and resets the count between
// runs.  Thread-safe and lock-free: one relaxed atomic counter, so the cost
// per model is one uncontended-in-practice atomic add beside a model run of
// many microseconds.
#pragma once

#include <cstdint>

namespace fq::progress {

// Adds `n` finished models.
void advance(std::int64_t n = 1) noexcept;
// Models finished since the last reset.
std::int64_t done() noexcept;
// Starts counting afresh.
void reset() noexcept;

}  // namespace fq::progress
