// Checks that a model run fills every per-item and per-type score it should.
//
// In checked builds (debug builds, and AddressSanitizer or ThreadSanitizer
// builds, where NDEBUG may still be set) a model run fills its score arrays
// with a marker before scoring and calls require_written afterwards: a slot
// that still holds the marker was skipped (an index that slipped by one, a
// loop that stopped early).  The marker is a quiet NaN with its own payload,
// so a NaN that scoring computes legitimately (a degenerate chi-square, say)
// is never mistaken for an unwritten slot, while arithmetic on the marker
// itself keeps its payload and is caught.  In other builds the helpers are
// not called and cost nothing.
//
// Pure functions; safe on any number of threads.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace fq {

#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kCheckedBuild = true;
#else
inline constexpr bool kCheckedBuild = false;
#endif

inline constexpr std::uint64_t kUnwrittenBits = 0x7ff8'0000'00fd'5107ULL;
inline constexpr std::uint64_t kPayloadMask = 0x0007'ffff'ffff'ffffULL;  // below the quiet bit

inline double unwritten_marker() { return std::bit_cast<double>(kUnwrittenBits); }

inline bool is_unwritten(double x) {
  return std::isnan(x) && (std::bit_cast<std::uint64_t>(x) & kPayloadMask) == (kUnwrittenBits & kPayloadMask);
}

inline void mark_unwritten(std::span<double> v) {
  for (double& x : v) x = unwritten_marker();
}

// Throws std::logic_error naming `what` and the first unwritten slot (1-based).
inline void require_written(std::span<const double> v, const char* what) {
  for (std::size_t i = 0; i < v.size(); ++i)
    if (is_unwritten(v[i]))
      throw std::logic_error(std::string(what) + ": slot " + std::to_string(i + 1) + " of " +
                             std::to_string(v.size()) + " was not written");
}

}  // namespace fq
