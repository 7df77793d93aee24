// The progress of a long run on a terminal: one line on standard error,
// redrawn four times a second, with the models done of the total, the rate
// and the time left.  Nothing is shown when standard error is not a
// terminal, so logs stay clean.  When standard output is a terminal too,
// console lines go through the display, which erases its line first, so the
// method's own lines are never mixed with it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace fq {

// The text of the progress line (without line control), e.g.
//   "foldquest: 12,345 of 91,125 models (13%), 1,820 models/s, 45 s left"
// `seconds` is the time since the run started.
std::string progress_text(std::int64_t done, std::int64_t total, double seconds);

class ProgressDisplay {
 public:
  // Starts showing the progress (fq::progress::done()) of `total` models if
  // `enabled` and standard error is a terminal; resets the count.
  ProgressDisplay(std::int64_t total, bool enabled);
  // Stops and erases the line.
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // Writes console text to standard output, erasing the progress line first
  // (the console's stream while the display runs on a terminal).
  void write_console(const char* data, std::size_t size);

 private:
  void loop();
  void erase_locked();

  std::int64_t total_;
  std::mutex mu_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool drawn_ = false;      // a progress line is on the terminal
  std::FILE* through_ = nullptr;  // console stream through write_console
  std::thread thread_;
};

}  // namespace fq
