// Ctrl-C (SIGINT) and SIGTERM during a run.
//
// Killed by the default action, the process would leave the results file
// cut wherever the last buffer happened to end, often in the middle of a
// number.  Instead one watcher thread takes the signal: it stops the results
// file after its last whole line, flushes it, prints how many models were
// written and ends the process with status 130 (SIGINT) or 143 (SIGTERM).
#pragma once

#include <string>

#include "freeformat/writer.hpp"

namespace fq {

// Blocks SIGINT and SIGTERM in the calling thread and every thread it starts
// later, and starts the watcher.  Call once, on the main thread, before any
// other thread exists (before the method's parallel loops).  A signal the
// caller already ignores (a background job under nohup) stays ignored.
// `results` must outlive the process's run.
void watch_interrupts(ff::Sink& results, const std::string& results_name);

// The exit status for an interrupt by `sig`: 128 + the signal number.
int interrupt_status(int sig);

}  // namespace fq
