// Free-format (list-directed) output lines.
//
// A line begins with one blank.  Items follow in order; a separator blank
// stands between two items, except between two consecutive texts, which are
// joined directly.  Field layouts:
//   32-bit integer   right-aligned in 11 columns
//   64-bit integer   right-aligned in 20 columns
//   double           25 columns, 17 significant digits: fixed form for 0 and
//                    0.1 <= |x| < 1e17 (right-aligned in 20, then 5 blanks),
//                    else d.dddddddddddddddddE+ddd right-aligned in 25
//   float            16 columns, 9 significant digits: fixed form for 0 and
//                    0.1 <= |x| < 1e9 (right-aligned in 12, then 4 blanks),
//                    else d.ddddddddE+dd right-aligned in 16
//   NaN, Infinity, -Infinity right-aligned in the field of their type
//   flag             T or F
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace ff {

// Formats one field (without the separator blank) exactly as a free-format
// write lays it out.
std::string format_double(double x);
std::string format_float(float x);
std::string format_int32(std::int32_t v);
std::string format_int64(std::int64_t v);

// Builds one output line.  Not thread-safe; each thread builds its own lines.
class Line {
 public:
  Line() = default;

  Line& text(std::string_view s);
  Line& i32(std::int32_t v);
  Line& i64(std::int64_t v);
  Line& f64(double v);
  Line& f32(float v);
  Line& flag(bool v);

  Line& operator<<(std::string_view s) { return text(s); }
  Line& operator<<(const char* s) { return text(s); }
  Line& operator<<(const std::string& s) { return text(s); }
  Line& operator<<(int v) { return i32(v); }
  Line& operator<<(long v) { return i64(v); }
  Line& operator<<(long long v) { return i64(v); }
  Line& operator<<(double v) { return f64(v); }
  Line& operator<<(float v) { return f32(v); }
  Line& operator<<(bool v) { return flag(v); }

  // The line without its end-of-line character.  A line with no item is
  // empty (no leading blank), as a write of an empty list gives.
  const std::string& str() const { return buf_; }

 private:
  void separate(bool is_text);
  std::string buf_;
  bool any_ = false;
  bool last_text_ = false;
};

// A destination of whole lines.  Thread-safe: every member takes the sink's
// own lock, and put() writes the line and its end-of-line with one call under
// it, so lines written from several threads never mix.  A write, flush or
// close that fails (a full disk) is remembered: failed() tells the owner that
// the stream lost lines, which it must not ignore for a results file.
class Sink {
 public:
  explicit Sink(std::FILE* f = nullptr) : f_(f) {}
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;
  ~Sink() { close(); }

  // Opens (creates or replaces) a file for writing; false when it cannot.
  bool open(const std::string& path);
  // Writes to an already open stream the sink does not own.
  void attach(std::FILE* f);
  void close();
  bool is_open() const {
    std::lock_guard<std::mutex> lock(mu_);
    return f_ != nullptr;
  }

  void put(const Line& line);
  void put(std::string_view raw_line);
  void flush();

  // True once a write, flush or close has failed since the sink was made or
  // last opened or attached.
  bool failed() const {
    std::lock_guard<std::mutex> lock(mu_);
    return failed_;
  }

 private:
  void close_locked();
  std::FILE* f_ = nullptr;
  bool owned_ = false;
  bool failed_ = false;
  mutable std::mutex mu_;
};

// The console: standard output.  Tests may attach it elsewhere.  A thread
// inside a ConsoleRedirect gets the sink it names instead.
Sink& console();

// Sends the calling thread's console lines to `sink` for the object's
// lifetime (one of several chains running at once keeps its lines apart,
// to be printed together afterwards).  Create and destroy it on the thread
// it redirects.
class ConsoleRedirect {
 public:
  explicit ConsoleRedirect(Sink& sink);
  ~ConsoleRedirect();
  ConsoleRedirect(const ConsoleRedirect&) = delete;
  ConsoleRedirect& operator=(const ConsoleRedirect&) = delete;

 private:
  Sink* previous_;
};

// Shorthand for writing one line to the console.
inline void say(const Line& line) { console().put(line); }

}  // namespace ff
