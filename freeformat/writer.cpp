#include "freeformat/writer.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace ff {
namespace {

std::string right(std::string_view s, std::size_t width) {
  std::string out;
  if (s.size() < width) out.assign(width - s.size(), ' ');
  out.append(s);
  return out;
}

// Lays out a finite non-zero value with `digits` significant digits, from its
// correctly rounded scientific form.  Fixed form when the rounded exponent
// lies in [-1, fixed_max_exp], else the exponent form with `exp_digits`
// exponent digits.
template <typename T>
std::string format_real(T x, int digits, int fixed_max_exp, int exp_digits,
                        std::size_t fixed_width, std::size_t trail,
                        std::size_t width) {
  if (std::isnan(x)) return right("NaN", width);
  if (std::isinf(x)) return right(x > 0 ? "Infinity" : "-Infinity", width);

  std::array<char, 64> buf{};
  auto res = std::to_chars(buf.data(), buf.data() + buf.size(), x,
                           std::chars_format::scientific, digits - 1);
  std::string_view sci(buf.data(), static_cast<std::size_t>(res.ptr - buf.data()));
  const bool neg = sci.front() == '-';
  if (neg) sci.remove_prefix(1);
  // sci is d.ddd...e+XX
  const auto epos = sci.find('e');
  std::string mant;  // all significant digits
  mant.push_back(sci[0]);
  if (digits > 1) mant.append(sci.substr(2, epos - 2));
  int e = 0;
  std::from_chars(sci.data() + epos + 1 + (sci[epos + 1] == '+' ? 1 : 0),
                  sci.data() + sci.size(), e);
  if (x == 0) e = 0;

  std::string body;
  if (neg) body.push_back('-');
  if (x == 0 || (e >= -1 && e <= fixed_max_exp)) {
    if (x == 0 || e == -1) {
      // 0.ddd: all significant digits after the point; zero shows digits-1 zeros.
      body += "0.";
      body += (x == 0) ? std::string(static_cast<std::size_t>(digits - 1), '0') : mant;
    } else {
      const auto ip = static_cast<std::size_t>(e + 1);
      body += mant.substr(0, ip);
      body.push_back('.');
      body += mant.substr(ip);
    }
    return right(body, fixed_width) + std::string(trail, ' ');
  }
  body.push_back(mant[0]);
  body.push_back('.');
  body += mant.substr(1);
  body.push_back('E');
  body.push_back(e < 0 ? '-' : '+');
  std::string ed = std::to_string(e < 0 ? -e : e);
  if (ed.size() < static_cast<std::size_t>(exp_digits))
    ed.insert(0, static_cast<std::size_t>(exp_digits) - ed.size(), '0');
  body += ed;
  return right(body, width);
}

}  // namespace

std::string format_double(double x) { return format_real(x, 17, 16, 3, 20, 5, 25); }
std::string format_float(float x) { return format_real(x, 9, 8, 2, 12, 4, 16); }
std::string format_int32(std::int32_t v) { return right(std::to_string(v), 11); }
std::string format_int64(std::int64_t v) { return right(std::to_string(v), 20); }

void Line::separate(bool is_text) {
  // The first item brings the blank that begins the line; later items a
  // separator blank, except a text that follows a text.
  if (!any_ || !(is_text && last_text_)) buf_.push_back(' ');
  any_ = true;
  last_text_ = is_text;
}

Line& Line::text(std::string_view s) {
  separate(true);
  buf_.append(s);
  return *this;
}
Line& Line::i32(std::int32_t v) {
  separate(false);
  buf_ += format_int32(v);
  return *this;
}
Line& Line::i64(std::int64_t v) {
  separate(false);
  buf_ += format_int64(v);
  return *this;
}
Line& Line::f64(double v) {
  separate(false);
  buf_ += format_double(v);
  return *this;
}
Line& Line::f32(float v) {
  separate(false);
  buf_ += format_float(v);
  return *this;
}
Line& Line::flag(bool v) {
  separate(false);
  buf_.push_back(v ? 'T' : 'F');
  return *this;
}

bool Sink::open(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  close_locked();  // first, in case the path names the file open now
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  f_ = f;
  owned_ = true;
  failed_ = false;
  return true;
}

void Sink::attach(std::FILE* f) {
  std::lock_guard<std::mutex> lock(mu_);
  close_locked();
  f_ = f;
  owned_ = false;
  failed_ = false;
}

void Sink::close() {
  std::lock_guard<std::mutex> lock(mu_);
  close_locked();
}

void Sink::close_locked() {
  if (f_ && owned_) {
    if (std::fclose(f_) != 0) failed_ = true;
  } else if (f_) {
    if (std::fflush(f_) != 0) failed_ = true;
  }
  f_ = nullptr;
  owned_ = false;
}

void Sink::put(const Line& line) { put(std::string_view(line.str())); }

void Sink::put(std::string_view raw_line) {
  std::string s;
  s.reserve(raw_line.size() + 1);
  s.append(raw_line);
  s.push_back('\n');
  std::lock_guard<std::mutex> lock(mu_);
  if (!f_) return;
  if (std::fwrite(s.data(), 1, s.size(), f_) != s.size()) failed_ = true;
  if (!owned_ && std::fflush(f_) != 0) failed_ = true;
}

void Sink::flush() {
  std::lock_guard<std::mutex> lock(mu_);
  if (f_ && std::fflush(f_) != 0) failed_ = true;
}

namespace {
thread_local Sink* t_console = nullptr;
}

Sink& console() {
  if (t_console != nullptr) return *t_console;
  static Sink s(stdout);
  return s;
}

ConsoleRedirect::ConsoleRedirect(Sink& sink) : previous_(t_console) { t_console = &sink; }
ConsoleRedirect::~ConsoleRedirect() { t_console = previous_; }

}  // namespace ff
