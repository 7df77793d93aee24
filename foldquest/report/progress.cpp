#include "foldquest/report/progress.hpp"

#include <atomic>

namespace fq::progress {
namespace {
std::atomic<std::int64_t> g_done{0};
}

void advance(std::int64_t n) noexcept { g_done.fetch_add(n, std::memory_order_relaxed); }
std::int64_t done() noexcept { return g_done.load(std::memory_order_relaxed); }
void reset() noexcept { g_done.store(0, std::memory_order_relaxed); }

}  // namespace fq::progress
