#include "foldquest/driver/interrupt.hpp"

#include <pthread.h>
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace fq {

int interrupt_status(int sig) { return 128 + sig; }

void watch_interrupts(ff::Sink& results, const std::string& results_name) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM}) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaddset(&set, sig);
  }
  if (sigismember(&set, SIGINT) != 1 && sigismember(&set, SIGTERM) != 1) return;
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
  // The watcher is a plain thread, not a signal handler, so it may lock the
  // sink and use stdio.  Freezing the sink waits for a line being written by
  // another thread to be complete.
  std::thread([set, &results, results_name]() {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) return;
    const std::uint64_t written = results.freeze();
    ff::say(ff::Line() << (sig == SIGINT ? "Interrupted (SIGINT): " : "Terminated (SIGTERM): ")
                       << static_cast<std::int64_t>(written) << " models written to " << results_name);
    ff::console().flush();
    std::fflush(stdout);
    std::_Exit(interrupt_status(sig));
  }).detach();
}

}  // namespace fq
