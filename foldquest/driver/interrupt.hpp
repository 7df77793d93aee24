// Ctrl-C (SIGINT) and SIGTERM during a run.
//
// Killed by the default action, the process would leave the results file
// cut wherever the last buffer happened to end, often in the middle of a
// number.  Instead one watcher thread takes the signal: it stops the results
// file after its last whole line, flushes it, prints how many models were
// written and ends the process with status 130 (SIGINT) or 143 (SIGTERM).
#pragma once

#include <string>
#include <vector>

#include "freeformat/writer.hpp"

namespace fq {

// The results files of one run, stopped after their last whole line and
// reported when SIGINT or SIGTERM arrives while the watch is alive.  The
// first watch blocks SIGINT and SIGTERM in the calling thread and every
// thread it starts later, and starts the one watcher thread of the process:
// make it on the main thread, before any other thread exists (before the
// method's parallel loops).  A signal the caller already ignores (a
// background job under nohup) stays ignored.  Every sink must outlive the
// watch; once the watch is gone a signal ends the process without touching
// them.
struct WatchedResults {
  ff::Sink* sink;
  std::string name;
};
class InterruptWatch {
 public:
  explicit InterruptWatch(std::vector<WatchedResults> results);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;
};

// The exit status for an interrupt by `sig`: 128 + the signal number.
int interrupt_status(int sig);

}  // namespace fq
