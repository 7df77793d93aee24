#include "foldquest/report/diagnostics.hpp"

#include <mutex>
#include <utility>
#include <vector>

#include "freeformat/writer.hpp"

namespace fq::diag {
namespace {

struct Entry {
  std::string message;
  std::int64_t reported = 0;
};

// First-reported order is kept so that the closing summary is reproducible;
// a run reports a handful of distinct messages, so a linear scan is enough.
std::mutex& lock() {
  static std::mutex mu;
  return mu;
}
std::vector<Entry>& entries() {
  static std::vector<Entry> list;
  return list;
}

Entry& find_or_add(std::string_view message) {
  for (Entry& e : entries())
    if (e.message == message) return e;
  entries().push_back(Entry{std::string(message), 0});
  return entries().back();
}

}  // namespace

void report(std::string_view message) {
  bool print = false;
  {
    std::lock_guard<std::mutex> guard(lock());
    Entry& e = find_or_add(message);
    ++e.reported;
    print = e.reported <= kDiagnosticRepeat;
  }
  // The console sink writes a whole line under its own lock.
  if (print) ff::say(ff::Line() << message);
}

std::int64_t finish() {
  std::vector<Entry> done;
  {
    std::lock_guard<std::mutex> guard(lock());
    done.swap(entries());
  }
  std::int64_t held = 0;
  for (const Entry& e : done) {
    if (e.reported <= kDiagnosticRepeat) continue;
    const std::int64_t more = e.reported - kDiagnosticRepeat;
    held += more;
    ff::say(ff::Line() << e.message + " (" + std::to_string(more) + " more times)");
  }
  return held;
}

std::int64_t count(std::string_view message) {
  std::lock_guard<std::mutex> guard(lock());
  for (const Entry& e : entries())
    if (e.message == message) return e.reported;
  return 0;
}

}  // namespace fq::diag
