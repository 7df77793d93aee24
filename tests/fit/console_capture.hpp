// Captures the console lines written while it lives.  One at a time; tests
// that use it run on the main thread.
#pragma once

#include <cstdio>
#include <string>

#include "freeformat/writer.hpp"

namespace fqtest {

class ConsoleCapture {
 public:
  ConsoleCapture() : f_(std::tmpfile()) { ff::console().attach(f_); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  ~ConsoleCapture() {
    ff::console().attach(stdout);
    if (f_) std::fclose(f_);
  }

  // Everything written so far.
  std::string text() {
    if (!f_) return {};
    ff::console().flush();
    std::fflush(f_);
    std::string out;
    std::rewind(f_);
    char buf[4096];
    std::size_t got = 0;
    while ((got = std::fread(buf, 1, sizeof buf, f_)) > 0) out.append(buf, got);
    std::fseek(f_, 0, SEEK_END);  // later lines are appended
    return out;
  }

 private:
  std::FILE* f_;
};

}  // namespace fqtest
