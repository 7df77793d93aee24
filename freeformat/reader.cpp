#include "freeformat/reader.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace ff {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

template <typename Int>
bool parse_int(std::string_view s, Int& out) {
  if (s.empty()) return false;
  bool neg = false;
  if (s.front() == '+' || s.front() == '-') {
    neg = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  // Parse the magnitude in the unsigned type so that the most negative value fits.
  using U = std::make_unsigned_t<Int>;
  U mag = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), mag);
  if (ec != std::errc() || p != s.data() + s.size()) return false;
  const U limit = static_cast<U>(std::numeric_limits<Int>::max()) + (neg ? 1u : 0u);
  if (mag > limit) return false;
  if (neg) {
    out = mag == limit ? std::numeric_limits<Int>::min() : static_cast<Int>(-static_cast<Int>(mag));
  } else {
    out = static_cast<Int>(mag);
  }
  return true;
}

// The decimal order of magnitude of a normalised real (digits, an optional
// point, an optional e and signed exponent; at least one non-zero digit):
// the power of ten of its leading non-zero digit.  Saturates instead of
// overflowing for absurdly long exponents.
long long decimal_order(std::string_view norm) {
  const auto epos = norm.find('e');
  const std::string_view mant = norm.substr(0, epos);
  const auto point = std::min(mant.find('.'), mant.size());
  const auto first = mant.find_first_of("123456789");
  if (first == std::string_view::npos) return 0;
  long long order = first < point ? static_cast<long long>(point - first) - 1
                                  : -static_cast<long long>(first - point);
  if (epos != std::string_view::npos) {
    std::string_view ex = norm.substr(epos + 1);
    const bool neg = !ex.empty() && ex.front() == '-';
    if (!ex.empty() && (ex.front() == '-' || ex.front() == '+')) ex.remove_prefix(1);
    constexpr long long cap = 1'000'000'000'000LL;
    long long e = 0;
    for (char c : ex) {
      e = std::min(cap, e * 10 + (c - '0'));
    }
    order += neg ? -e : e;
  }
  return order;
}

}  // namespace

bool parse_int32(std::string_view s, std::int32_t& out) { return parse_int(s, out); }
bool parse_int64(std::string_view s, std::int64_t& out) { return parse_int(s, out); }

// Accepts the real forms of list-directed input: an optional sign, digits
// with an optional point, an optional exponent introduced by E, D or Q (or by
// a sign alone, as in 1.5+3), and Inf, Infinity and NaN in any case.
bool parse_real(std::string_view s, double& out) {
  if (s.empty()) return false;
  bool neg = false;
  std::string_view body = s;
  if (body.front() == '+' || body.front() == '-') {
    neg = body.front() == '-';
    body.remove_prefix(1);
  }
  if (body.empty()) return false;
  const std::string low = lower(body);
  if (low == "inf" || low == "infinity") {
    out = neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  if (low == "nan" || (low.size() > 4 && low.compare(0, 4, "nan(") == 0 && low.back() == ')')) {
    out = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  std::string norm;
  norm.reserve(body.size() + 2);
  std::size_t i = 0;
  std::size_t ndigits = 0;
  while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) {
    norm.push_back(body[i++]);
    ++ndigits;
  }
  if (i < body.size() && body[i] == '.') {
    norm.push_back(body[i++]);
    while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) {
      norm.push_back(body[i++]);
      ++ndigits;
    }
  }
  if (ndigits == 0) return false;
  if (i < body.size()) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(body[i])));
    if (c == 'e' || c == 'd' || c == 'q') {
      ++i;
    } else if (c != '+' && c != '-') {
      return false;
    }
    norm.push_back('e');
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) norm.push_back(body[i++]);
    std::size_t edigits = 0;
    while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) {
      norm.push_back(body[i++]);
      ++edigits;
    }
    if (edigits == 0 || i != body.size()) return false;
  }
  double v = 0;
  auto [p, ec] = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (p != norm.data() + norm.size()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Overflow gives an infinity, underflow zero, as the usual library
    // readers do.  Which of the two it was follows from the decimal order of
    // magnitude, not from the exponent's sign alone: 0.000...1 written out
    // with many zeros underflows without any exponent.
    v = decimal_order(norm) < 0 ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (ec != std::errc()) {
    return false;
  }
  out = neg ? -v : v;
  return true;
}

// ---------------------------------------------------------------- Reader

Reader::Reader(std::string name, std::istream& in) : name_(std::move(name)), in_(&in) {}

Reader::Reader(std::string name, std::unique_ptr<std::istream> owned)
    : name_(std::move(name)), owned_(std::move(owned)), in_(owned_.get()) {}

std::unique_ptr<Reader> Reader::open_file(const std::string& path) {
  // A folder opens as a stream that reads nothing; it is no file to read.
  std::error_code ec;
  const bool folder = std::filesystem::is_directory(path, ec);
  auto f = std::make_unique<std::ifstream>(path, std::ios::binary);
  if (folder || !*f) throw InputError(InputError::Kind::cannot_open, "cannot open file '" + path + "'");
  auto r = std::unique_ptr<Reader>(new Reader(path, std::move(f)));
  // Read it whole now: files are small and rewinding is then free.
  while (r->fetch(r->lines_.size())) {
  }
  return r;
}

std::unique_ptr<Reader> Reader::from_string(std::string name, const std::string& text) {
  return std::unique_ptr<Reader>(new Reader(std::move(name), std::make_unique<std::istringstream>(text)));
}

bool Reader::fetch(std::size_t i) {
  while (lines_.size() <= i) {
    if (eof_) return false;
    std::string line;
    const bool got = static_cast<bool>(std::getline(*in_, line));
    // A failing device or stream is no end of file: what was read so far
    // is not the whole input.
    if (in_->bad()) {
      eof_ = true;
      throw InputError(InputError::Kind::read_failed,
                       (name_ == "-" ? std::string("standard input") : "file '" + name_ + "'") +
                           ": reading failed after line " + std::to_string(lines_.size()) +
                           " (an input/output error); the input cannot be used");
    }
    if (!got) {
      eof_ = true;
      return false;
    }
    // LF, CRLF and a lone CR (old Mac files) all end a line: a LF-line may
    // hold several CR-lines.  A CR at its very end is the CR of a CRLF.
    std::size_t start = 0;
    for (;;) {
      const auto cr = line.find('\r', start);
      if (cr == std::string::npos) {
        lines_.push_back(line.substr(start));
        break;
      }
      lines_.push_back(line.substr(start, cr - start));
      start = cr + 1;
      if (start == line.size()) break;
    }
  }
  return true;
}

std::string Reader::line_text(std::size_t i) {
  if (!fetch(i)) return {};
  const std::string& l = lines_[i];
  const auto b = std::find_if_not(l.begin(), l.end(), is_blank);
  const auto e = std::find_if_not(l.rbegin(), l.rend(), is_blank).base();
  return b < e ? std::string(b, e) : std::string();
}

std::string Reader::where(std::size_t line_index) const {
  std::string w = name_ == "-" ? std::string("standard input") : "file '" + name_ + "'";
  return w + ", line " + std::to_string(line_index + 1);
}

bool Reader::skip_line() {
  if (!fetch(next_)) return false;
  ++next_;
  return true;
}

bool Reader::next_line_blank() {
  if (!fetch(next_)) return false;
  const auto& l = lines_[next_];
  return std::all_of(l.begin(), l.end(), is_blank);
}

bool Reader::at_end() { return !fetch(next_); }

void Reader::read_nothing(const char* what) {
  if (!fetch(next_)) {
    throw InputError(InputError::Kind::end_of_stream,
                     (name_ == "-" ? std::string("standard input ends") : "file '" + name_ + "' ends") +
                         " after line " + std::to_string(next_) + " where " + what + " was expected");
  }
  ++next_;
}

std::size_t Reader::line_count() {
  while (fetch(lines_.size())) {
  }
  return lines_.size();
}

bool Reader::split_line(std::size_t i, std::vector<std::string>& words) {
  words.clear();
  if (!fetch(i)) return true;
  const std::string& l = lines_[i];
  std::size_t p = 0;
  bool after_comma = false;
  for (;;) {
    while (p < l.size() && is_blank(l[p])) ++p;
    if (p >= l.size() || l[p] == '/') return true;
    if (l[p] == ',') {
      if (after_comma || words.empty()) words.emplace_back();
      after_comma = true;
      ++p;
      continue;
    }
    after_comma = false;
    std::string tok;
    const char q = l[p];
    if (q == '\'' || q == '"') {
      ++p;
      for (;;) {
        if (p >= l.size()) return false;
        if (l[p] == q) {
          if (p + 1 < l.size() && l[p + 1] == q) {
            tok.push_back(q);
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        tok.push_back(l[p++]);
      }
    } else {
      while (p < l.size() && !is_blank(l[p]) && l[p] != ',' && l[p] != '/') tok.push_back(l[p++]);
    }
    words.push_back(std::move(tok));
  }
}

std::int32_t Reader::read_int32() {
  Read r(*this);
  return r.int32();
}
std::int64_t Reader::read_int64() {
  Read r(*this);
  return r.int64();
}
double Reader::read_real() {
  Read r(*this);
  return r.real();
}
std::string Reader::read_word() {
  Read r(*this);
  return r.word();
}
std::vector<std::int32_t> Reader::read_int32s(std::size_t n) {
  if (n == 0) {
    read_nothing("a list of integers");
    return {};
  }
  Read r(*this);
  std::vector<std::int32_t> v(n);
  for (auto& x : v) x = r.int32();
  return v;
}
std::vector<double> Reader::read_reals(std::size_t n) {
  if (n == 0) {
    read_nothing("a list of real numbers");
    return {};
  }
  Read r(*this);
  std::vector<double> v(n);
  for (auto& x : v) x = r.real();
  return v;
}

// ---------------------------------------------------------------- Read

Read::Read(Reader& r) : r_(r), line_(r.next_) {}

Read::~Read() {
  // A stream that fails here has already been reported (or will be, by the
  // next read): a destructor must not throw.
  try {
    finish();
  } catch (const InputError&) {
  }
}

void Read::finish() {
  if (done_) return;
  done_ = true;
  // Discard the rest of the last line used; a read that took no value passes
  // over one line.
  if (r_.fetch(line_)) r_.next_ = line_ + 1;
  else r_.next_ = line_;
}

void Read::fail_value(const char* what, const std::string& found, bool quoted) {
  const std::string where = r_.where(line_);
  finish();
  throw InputError(InputError::Kind::bad_value, where + ": expected " + what + ", found " +
                                                    (quoted ? "the quoted text '" : "'") + found + "'");
}

std::string Read::next_token(const char* what, bool* quoted) {
  if (quoted) *quoted = false;
  for (;;) {
    if (slashed_) {
      const std::string where = r_.where(line_);
      finish();
      throw InputError(InputError::Kind::bad_value,
                       where + ": the read was ended by '/' where " + std::string(what) + " was expected");
    }
    if (!r_.fetch(line_)) {
      const std::string stream = r_.name_ == "-" ? std::string("standard input ends")
                                                 : "file '" + r_.name_ + "' ends";
      finish();
      throw InputError(InputError::Kind::end_of_stream,
                       stream + " after line " + std::to_string(line_) + " where " + what +
                           " was expected");
    }
    const std::string& l = r_.lines_[line_];
    while (pos_ < l.size() && is_blank(l[pos_])) ++pos_;
    if (pos_ >= l.size()) {
      ++line_;
      pos_ = 0;
      continue;
    }
    if (l[pos_] == ',') fail_value(what, "");  // an empty value between separators
    if (l[pos_] == '/') {
      slashed_ = true;
      continue;
    }
    std::string tok;
    const char q = l[pos_];
    if (q == '\'' || q == '"') {
      if (quoted) *quoted = true;
      ++pos_;
      for (;;) {
        if (pos_ >= l.size()) fail_value(what, std::string(1, q) + tok);
        if (l[pos_] == q) {
          if (pos_ + 1 < l.size() && l[pos_ + 1] == q) {
            tok.push_back(q);
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        tok.push_back(l[pos_++]);
      }
    } else {
      while (pos_ < l.size() && !is_blank(l[pos_]) && l[pos_] != ',' && l[pos_] != '/') tok.push_back(l[pos_++]);
    }
    // Step over the separator that ends the value: blanks and at most one comma.
    while (pos_ < l.size() && is_blank(l[pos_])) ++pos_;
    if (pos_ < l.size() && l[pos_] == ',') ++pos_;
    return tok;
  }
}

// A number is never quoted: a quoted value where a number is wanted is a
// text, and reading it as a number fails.
std::int32_t Read::int32() {
  bool quoted = false;
  const auto tok = next_token("an integer", &quoted);
  std::int32_t v = 0;
  if (quoted || !parse_int32(tok, v)) fail_value("an integer", tok, quoted);
  return v;
}

std::int64_t Read::int64() {
  bool quoted = false;
  const auto tok = next_token("an integer", &quoted);
  std::int64_t v = 0;
  if (quoted || !parse_int64(tok, v)) fail_value("an integer", tok, quoted);
  return v;
}

double Read::real() {
  bool quoted = false;
  const auto tok = next_token("a real number", &quoted);
  double v = 0;
  if (quoted || !parse_real(tok, v)) fail_value("a real number", tok, quoted);
  return v;
}

std::string Read::word() { return next_token("a text"); }

}  // namespace ff
