// Diagnostics printed from model runs.
//
// Model runs execute on many threads at once and a search may run millions
// of them, so a kinematic check line ("Error: ...") must neither interleave
// with another line nor flood the console.  diag::report() prints each
// distinct message as one whole line at most kDiagnosticRepeat times per run
// and counts the rest; diag::finish() (called once by the driver when the
// method has returned) prints one line per message that was held back, with
// how many more there were, and starts the next run afresh.
//
// Thread-safe: every function takes one process-wide lock.  The lock is only
// taken when a diagnostic is reported, never on a model's normal path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fq::diag {

// How many times one message is printed in a run before it is only counted.
inline constexpr std::int64_t kDiagnosticRepeat = 10;

// Prints `message` as one console line (the free-format leading blank is
// added), unless it has already been printed kDiagnosticRepeat times in
// this run; then it is only counted.
void report(std::string_view message);

// Prints, for every message held back in this run, one line
//   "<message> (N more times)"
// in the order the messages were first reported, and forgets them all.
// Returns the number of lines held back in all.
std::int64_t finish();

// How many times `message` has been reported in this run (printed or not).
std::int64_t count(std::string_view message);

}  // namespace fq::diag
