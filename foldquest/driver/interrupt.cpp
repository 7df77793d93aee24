#include "foldquest/driver/interrupt.hpp"

#include <pthread.h>
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace fq {

int interrupt_status(int sig) { return 128 + sig; }

namespace {

// The results files of the run in progress, read by the watcher under the
// lock; empty between runs.
std::mutex& registry_lock() {
  static std::mutex mu;
  return mu;
}
std::vector<WatchedResults>& registry() {
  static std::vector<WatchedResults> files;
  return files;
}

}  // namespace

InterruptWatch::InterruptWatch(std::vector<WatchedResults> results) {
  {
    const std::lock_guard<std::mutex> guard(registry_lock());
    registry() = std::move(results);
  }
  // One watcher for the process, started with the first run.
  static std::once_flag started;
  std::call_once(started, [] {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM}) {
      struct sigaction old {};
      if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
      sigaddset(&set, sig);
    }
    if (sigismember(&set, SIGINT) != 1 && sigismember(&set, SIGTERM) != 1) return;
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
    // The watcher is a plain thread, not a signal handler, so it may lock
    // the sinks and use stdio.  Freezing a sink waits for a line being
    // written by another thread to be complete.
    std::thread([set]() {
      int sig = 0;
      if (sigwait(&set, &sig) != 0) return;
      {
        const std::lock_guard<std::mutex> guard(registry_lock());
        for (const WatchedResults& r : registry()) {
          const std::uint64_t written = r.sink->freeze();
          ff::say(ff::Line() << (sig == SIGINT ? "Interrupted (SIGINT): " : "Terminated (SIGTERM): ")
                             << static_cast<std::int64_t>(written) << " models written to " << r.name);
        }
        ff::console().flush();
        std::fflush(stdout);
      }
      std::_Exit(interrupt_status(sig));
    }).detach();
  });
}

InterruptWatch::~InterruptWatch() {
  const std::lock_guard<std::mutex> guard(registry_lock());
  registry().clear();
}

}  // namespace fq
