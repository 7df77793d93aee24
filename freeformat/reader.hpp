// Free-format (list-directed) input.
//
// Every read starts at the beginning of a new line, takes as many values as
// it needs (continuing onto following lines when one line holds too few) and
// discards the rest of the last line it used.  Values are separated by
// blanks, tabs or a comma.  An unquoted text ends at a blank, comma or slash;
// a text in single or double quotes may hold any of them (a doubled quote
// stands for one).  A slash outside quotes ends the read: values still
// needed after it are an input error, as is an empty value between two
// commas.
//
// Numbers take the forms of list-directed input (1, +1, 1.5, .5, 5., 1e3,
// 1.5D-2, 1.5+3, Infinity, NaN); a quoted value is a text, never a number.
// A real beyond the double range reads as an infinity, one too small as zero.
//
// Lines end at LF, CRLF or a lone CR.  Any value that cannot be read as
// the type asked for, and the end of the stream where a value is needed,
// throws InputError naming the stream and the line; a stream that fails
// (an input/output error) throws InputError(read_failed), never passes for
// the end of the input.  Not thread-safe: one reader belongs to one thread.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ff {

class InputError : public std::runtime_error {
 public:
  enum class Kind { end_of_stream, bad_value, cannot_open, read_failed };
  InputError(Kind kind, const std::string& msg) : std::runtime_error(msg), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

class Reader;

// One list-directed read.  Obtain it from Reader::read(); it starts on the
// next unread line.  When it is finished (finish() or destruction) the rest
// of its last line is discarded.
class Read {
 public:
  explicit Read(Reader& r);
  Read(const Read&) = delete;
  Read& operator=(const Read&) = delete;
  ~Read();

  std::int32_t int32();
  std::int64_t int64();
  double real();
  std::string word();

  // Discards the rest of the current line and ends the read.
  void finish();

 private:
  // Next value token (unquoted or unquoted-from-quotes); throws at end.
  std::string next_token(const char* what, bool* quoted = nullptr);
  [[noreturn]] void fail_value(const char* what, const std::string& found, bool quoted = false);
  Reader& r_;
  std::size_t line_;  // index of the line being read
  std::size_t pos_ = 0;
  bool slashed_ = false;
  bool done_ = false;
};

class Reader {
 public:
  // A reader over a stream the caller keeps alive (standard input).
  Reader(std::string name, std::istream& in);
  // Opens a file and reads it whole; throws InputError(cannot_open) when it
  // cannot be opened.
  static std::unique_ptr<Reader> open_file(const std::string& path);
  // A reader over text held in memory (tests).
  static std::unique_ptr<Reader> from_string(std::string name, const std::string& text);

  Read read() { return Read(*this); }

  // Convenience reads, each one whole read.
  std::int32_t read_int32();
  std::int64_t read_int64();
  double read_real();
  std::string read_word();
  std::vector<std::int32_t> read_int32s(std::size_t n);
  std::vector<double> read_reals(std::size_t n);

  // Passes over one line without taking values; false at the end of the stream.
  bool skip_line();
  // True when the next line exists and holds only blanks and tabs.
  bool next_line_blank();
  // True when no line is left.
  bool at_end();
  // Throws the end-of-stream error when no line is left; else passes over
  // one line.  A read of no values, which still uses up a line.
  void read_nothing(const char* what);

  // Line `i` (0-based) without its leading and trailing blanks; empty
  // past the end.  For messages that quote an answer.
  std::string line_text(std::size_t i);

  // Whole-file access for line-oriented data files.
  std::size_t line_count();
  // Splits line `i` into its values (blanks or one comma separate; quotes
  // group; a slash ends the line's values; an empty value between two commas
  // gives an empty word).  False when a quote is not closed.
  bool split_line(std::size_t i, std::vector<std::string>& words);

  void rewind() { next_ = 0; }
  // Steps back one line (the line last read is read again by the next read).
  void backspace() {
    if (next_ > 0) --next_;
  }

  const std::string& name() const { return name_; }
  // 1-based number of the line the last read ended on (0 before any read).
  std::size_t line_number() const { return next_; }

  // Text for messages: "file 'x'" or "standard input".
  std::string where(std::size_t line_index) const;

 private:
  friend class Read;
  Reader(std::string name, std::unique_ptr<std::istream> owned);
  // Makes line i available; false when the stream ends before it.
  bool fetch(std::size_t i);

  std::string name_;
  std::unique_ptr<std::istream> owned_;
  std::istream* in_;
  std::vector<std::string> lines_;
  bool eof_ = false;
  std::size_t next_ = 0;  // index of the next line a read starts on
};

// Parses a whole token as a value; false when it is not one.
bool parse_int32(std::string_view s, std::int32_t& out);
bool parse_int64(std::string_view s, std::int64_t& out);
bool parse_real(std::string_view s, double& out);

}  // namespace ff
