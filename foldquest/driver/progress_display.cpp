#include "foldquest/driver/progress_display.hpp"

#include <unistd.h>

#include <chrono>
#include <cmath>

#include "foldquest/report/progress.hpp"
#include "freeformat/writer.hpp"

namespace fq {

namespace {

// 1234567 -> "1,234,567"
std::string grouped(std::int64_t v) {
  std::string digits = std::to_string(v < 0 ? -v : v);
  std::string out;
  const std::size_t n = digits.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return v < 0 ? "-" + out : out;
}

std::string duration(double s) {
  // Rounded up to whole seconds; a NaN or an infinite time has no estimate.
  if (!(s >= 0 && s < 1e9)) return "?";
  const auto t = static_cast<std::int64_t>(std::ceil(s));
  if (t < 60) return std::to_string(t) + " s";
  char buf[32];
  if (t < 3600) {
    std::snprintf(buf, sizeof buf, "%d:%02d", static_cast<int>(t / 60), static_cast<int>(t % 60));
  } else {
    std::snprintf(buf, sizeof buf, "%lld:%02d:%02d", static_cast<long long>(t / 3600),
                  static_cast<int>(t / 60 % 60), static_cast<int>(t % 60));
  }
  return buf;
}

// The console's stream while the display runs: every write goes through
// ProgressDisplay::write_console.
ssize_t cookie_write(void* cookie, const char* data, std::size_t size) {
  static_cast<ProgressDisplay*>(cookie)->write_console(data, size);
  return static_cast<ssize_t>(size);
}

}  // namespace

std::string progress_text(std::int64_t done, std::int64_t total, double seconds) {
  std::string s = "foldquest: " + grouped(done) + " of " + grouped(total) + " models";
  if (total > 0) {
    const double frac = static_cast<double>(done) / static_cast<double>(total);
    s += " (" + std::to_string(static_cast<int>(std::floor(std::min(frac, 1.0) * 100))) + "%)";
  }
  if (done > 0 && seconds > 0) {
    const double rate = static_cast<double>(done) / seconds;
    s += ", " + grouped(static_cast<std::int64_t>(std::llround(rate))) + " models/s";
    if (total >= done) s += ", " + duration(static_cast<double>(total - done) / rate) + " left";
  }
  return s;
}

ProgressDisplay::ProgressDisplay(std::int64_t total, bool enabled) : total_(total) {
  progress::reset();
  if (!enabled || isatty(STDERR_FILENO) != 1) return;
  if (isatty(STDOUT_FILENO) == 1) {
    cookie_io_functions_t io{};
    io.write = cookie_write;
    through_ = fopencookie(this, "w", io);
    if (through_ != nullptr) {
      std::setvbuf(through_, nullptr, _IOLBF, 0);
      ff::console().attach(through_);
    }
  }
  thread_ = std::thread([this] { loop(); });
}

ProgressDisplay::~ProgressDisplay() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  if (through_ != nullptr) {
    ff::console().attach(stdout);
    std::fclose(through_);
  }
  std::lock_guard<std::mutex> lock(mu_);
  erase_locked();
}

void ProgressDisplay::erase_locked() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

void ProgressDisplay::write_console(const char* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(mu_);
  erase_locked();
  std::fwrite(data, 1, size, stdout);
  std::fflush(stdout);
}

void ProgressDisplay::loop() {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mu_);
  while (!wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stop_; })) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string text = progress_text(progress::done(), total_, seconds);
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
}

}  // namespace fq
