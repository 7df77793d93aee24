// Free-format (list-directed) input: where reads start and end, separators,
// texts, the number forms, and the errors a run ends with.
#include "freeformat/reader.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Kind = ff::InputError::Kind;
using Strings = std::vector<std::string>;

std::unique_ptr<ff::Reader> text(const std::string& t, const std::string& name = "in.txt") {
  return ff::Reader::from_string(name, t);
}

// Runs f, which must throw InputError of the given kind whose message holds
// every one of the given pieces.
void expect_error(const std::function<void()>& f, Kind kind, std::initializer_list<std::string> pieces) {
  try {
    f();
    ADD_FAILURE() << "no InputError thrown";
  } catch (const ff::InputError& e) {
    EXPECT_EQ(static_cast<int>(e.kind()), static_cast<int>(kind)) << e.what();
    const std::string msg = e.what();
    for (const auto& p : pieces) EXPECT_NE(msg.find(p), std::string::npos) << "'" << p << "' not in: " << msg;
  }
}

// ------------------------------------------------------------ lines of a read

TEST(ReaderLines, EachReadStartsOnANewLineAndDropsTheRestOfItsLastLine) {
  auto r = text("1 2 3\n4 5\n\n  6\n7 8 9 10\n11\n");
  EXPECT_EQ(r->read_int32(), 1);  // 2 and 3 are dropped
  EXPECT_EQ(r->line_number(), 1u);
  EXPECT_EQ(r->read_int32(), 4);
  // A read needing more than its line holds goes on to the next lines,
  // passing over blank ones, and drops what is left of the last one.
  EXPECT_EQ(r->read_int32s(3), (std::vector<std::int32_t>{6, 7, 8}));
  EXPECT_EQ(r->line_number(), 5u);
  EXPECT_EQ(r->read_int32(), 11);
  EXPECT_TRUE(r->at_end());
}

TEST(ReaderLines, OneReadOfMixedValuesAndItsEnd) {
  auto r = text("7 2.5\n'bed one' rest\nnext\n");
  {
    auto rd = r->read();
    EXPECT_EQ(rd.int32(), 7);
    EXPECT_DOUBLE_EQ(rd.real(), 2.5);
    EXPECT_EQ(rd.word(), "bed one");
  }  // ends here: "rest" is dropped
  EXPECT_EQ(r->read_word(), "next");

  auto r2 = text("1 2\n3\n");
  auto rd = r2->read();
  EXPECT_EQ(rd.int64(), 1);
  rd.finish();
  rd.finish();  // a second finish does nothing
  EXPECT_EQ(r2->read_int32(), 3);
}

TEST(ReaderLines, SeparatorsAreBlanksTabsAndOneComma) {
  auto r = text("1,2 ,3 , 4\t5\t,6,\n7\n");
  EXPECT_EQ(r->read_int32s(7), (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7}));
  // An empty value between two commas, or a comma opening a line, is not read.
  expect_error([] { text("1,,2\n")->read_int32s(2); }, Kind::bad_value, {"line 1"});
  expect_error([] { text(", 1\n")->read_int32(); }, Kind::bad_value, {"line 1"});
  expect_error([] { text("1, ,2\n")->read_int32s(2); }, Kind::bad_value, {"line 1"});
}

TEST(ReaderLines, CrLfLineEnds) {
  auto r = text("1 2\r\nname\r\n'a b'\r\n\r\n3.5,\r\n4\r\n");
  EXPECT_EQ(r->read_int32(), 1);
  EXPECT_EQ(r->read_word(), "name");
  EXPECT_EQ(r->read_word(), "a b");
  EXPECT_TRUE(r->next_line_blank());
  EXPECT_EQ(r->read_reals(2), (std::vector<double>{3.5, 4.0}));
  EXPECT_TRUE(r->at_end());
  std::vector<std::string> w;
  auto f = text("x y\r\n");
  ASSERT_TRUE(f->split_line(0, w));
  EXPECT_EQ(w, (Strings{"x", "y"}));
}

TEST(ReaderLines, LastLineWithoutEndOfLine) {
  auto r = text("1\n2");
  EXPECT_EQ(r->line_count(), 2u);
  EXPECT_EQ(r->read_int32(), 1);
  EXPECT_EQ(r->read_int32(), 2);
  EXPECT_TRUE(r->at_end());
}

// ------------------------------------------------------------------- texts

TEST(ReaderTexts, UnquotedTextEndsAtBlankCommaOrSlash) {
  auto r = text("beds.txt,dips.txt out.txt/ignored\n");
  auto rd = r->read();
  EXPECT_EQ(rd.word(), "beds.txt");
  EXPECT_EQ(rd.word(), "dips.txt");
  EXPECT_EQ(rd.word(), "out.txt");
  expect_error([&rd] { rd.word(); }, Kind::bad_value, {"'/'"});
  // Quotes inside an unquoted text are plain characters.
  EXPECT_EQ(text("it's\n")->read_word(), "it's");
}

TEST(ReaderTexts, QuotedTextKeepsBlanksCommasAndSlashes) {
  auto r = text("'a b' \"a,b\" 'x/y' 'it''s' \"say \"\"hi\"\"\" 'a\"b' '',\"\"\n");
  auto rd = r->read();
  EXPECT_EQ(rd.word(), "a b");
  EXPECT_EQ(rd.word(), "a,b");
  EXPECT_EQ(rd.word(), "x/y");
  EXPECT_EQ(rd.word(), "it's");
  EXPECT_EQ(rd.word(), "say \"hi\"");
  EXPECT_EQ(rd.word(), "a\"b");
  EXPECT_EQ(rd.word(), "");
  EXPECT_EQ(rd.word(), "");
}

TEST(ReaderTexts, UnclosedQuoteIsABadValue) {
  expect_error([] { text("'my file\nrest'\n", "opts.txt")->read_word(); }, Kind::bad_value,
               {"opts.txt", "line 1", "'my file"});
}

// ------------------------------------------------------------------- slash

TEST(ReaderSlash, SlashEndsTheRead) {
  auto r = text("1 2 / 3\n4 5/\n/\n6\n");
  EXPECT_EQ(r->read_int32s(2), (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(r->read_int32s(2), (std::vector<std::int32_t>{4, 5}));
  // Values still needed after a slash are an error; the next read starts on
  // the line after it.
  expect_error([&r] { r->read_int32(); }, Kind::bad_value, {"in.txt", "line 3", "'/'"});
  EXPECT_EQ(r->read_int32(), 6);
  // The slash does not reach beyond its read into the next one.
  auto s = text("1 2 /\n3 / 4\n5\n");
  expect_error([&s] { s->read_int32s(3); }, Kind::bad_value, {"line 1"});
  EXPECT_EQ(s->read_int32(), 3);
  EXPECT_EQ(s->read_int32(), 5);
}

// ----------------------------------------------------------------- numbers

TEST(ReaderNumbers, RealForms) {
  const std::vector<std::pair<std::string, double>> cases = {
      {"1d3", 1000.0},          {"1.5D-2", 0.015},     {".5", 0.5},           {"5.", 5.0},
      {"+3", 3.0},              {"-3", -3.0},          {"1e3", 1000.0},       {"1E+03", 1000.0},
      {"2.5e-1", 0.25},         {"1.5+3", 1500.0},     {"1.5-3", 0.0015},     {"2q1", 20.0},
      {"-.25", -0.25},          {"007", 7.0},          {"0.1", 0.1},          {"-0", -0.0},
      {"1e400", HUGE_VAL},      {"-1d999", -HUGE_VAL}, {"1e-400", 0.0},       {"-1e-400", -0.0},
      {"Infinity", HUGE_VAL},   {"-Infinity", -HUGE_VAL}, {"inf", HUGE_VAL},  {"+INF", HUGE_VAL},
      {"1.7976931348623157E+308", std::numeric_limits<double>::max()},
      {"4.9406564584124654E-324", std::numeric_limits<double>::denorm_min()},
      {"2.2250738585072014E-308", std::numeric_limits<double>::min()},
      // Many zeros and no exponent: too small, so zero, not an infinity.
      {"0." + std::string(400, '0') + "1", 0.0},
      {"1" + std::string(400, '0'), HUGE_VAL},
      {"0.0000000000000000000001e-305", 0.0},
      {"1e99999999999999999999999", HUGE_VAL},
      {"1e-99999999999999999999999", 0.0},
  };
  for (const auto& [in, want] : cases) {
    double got = 12345;
    EXPECT_TRUE(ff::parse_real(in, got)) << in;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(want))
        << in.substr(0, 40) << " gave " << got;
  }
  for (const char* nan : {"NaN", "nan", "-NaN", "NAN(0x1)"}) {
    double got = 0;
    EXPECT_TRUE(ff::parse_real(nan, got)) << nan;
    EXPECT_TRUE(std::isnan(got)) << nan;
  }
  // Through a read, with the separators around them.
  auto r = text("1d3, .5 5.\n+3\t1.5D-2 NaN\n");
  const auto v = r->read_reals(6);
  EXPECT_EQ(v[0], 1000.0);
  EXPECT_EQ(v[1], 0.5);
  EXPECT_EQ(v[2], 5.0);
  EXPECT_EQ(v[3], 3.0);
  EXPECT_EQ(v[4], 0.015);
  EXPECT_TRUE(std::isnan(v[5]));
}

TEST(ReaderNumbers, NotReals) {
  for (const char* bad : {"", "abc", "1.2.3", "1e", "e5", ".", "+", "-", "--1", "1e5x", "0x1p3",
                          "1_8", "1.5e+", "1d-", "infinit", "nanx", "1 2", "T", ".e1", "1..", "1e3.5"}) {
    double got = 0;
    EXPECT_FALSE(ff::parse_real(bad, got)) << "'" << bad << "'";
  }
}

TEST(ReaderNumbers, IntegerRanges) {
  std::int32_t i = 0;
  EXPECT_TRUE(ff::parse_int32("2147483647", i));
  EXPECT_EQ(i, std::numeric_limits<std::int32_t>::max());
  EXPECT_TRUE(ff::parse_int32("-2147483648", i));
  EXPECT_EQ(i, std::numeric_limits<std::int32_t>::min());
  EXPECT_TRUE(ff::parse_int32("+007", i));
  EXPECT_EQ(i, 7);
  EXPECT_TRUE(ff::parse_int32("-0", i));
  EXPECT_EQ(i, 0);
  for (const char* bad : {"2147483648", "-2147483649", "99999999999999999999999", "1.5", "1.", "1e3",
                          "abc", "", "+", "-", "1-", "0x10", " 1", "1,"}) {
    EXPECT_FALSE(ff::parse_int32(bad, i)) << "'" << bad << "'";
  }
  std::int64_t j = 0;
  EXPECT_TRUE(ff::parse_int64("9223372036854775807", j));
  EXPECT_EQ(j, std::numeric_limits<std::int64_t>::max());
  EXPECT_TRUE(ff::parse_int64("-9223372036854775808", j));
  EXPECT_EQ(j, std::numeric_limits<std::int64_t>::min());
  EXPECT_TRUE(ff::parse_int64("2147483648", j));
  EXPECT_EQ(j, 2147483648LL);
  for (const char* bad : {"9223372036854775808", "-9223372036854775809", "18446744073709551616", "1.0"})
    EXPECT_FALSE(ff::parse_int64(bad, j)) << "'" << bad << "'";
}

TEST(ReaderNumbers, BadValueNamesFileLineAndText) {
  expect_error([] { text("1 2\n3 1.5\n", "beds.txt")->read_int32s(4); }, Kind::bad_value,
               {"beds.txt", "line 2", "'1.5'"});
  expect_error([] { text("abc\n", "params.txt")->read_int32(); }, Kind::bad_value,
               {"params.txt", "line 1", "'abc'"});
  expect_error([] { text("\n\n2147483648\n", "opts.txt")->read_int32(); }, Kind::bad_value,
               {"opts.txt", "line 3", "'2147483648'"});
  expect_error([] { text("x1\n", "-")->read_real(); }, Kind::bad_value, {"standard input", "line 1", "'x1'"});
  expect_error([] { text("9223372036854775808\n")->read_int64(); }, Kind::bad_value, {"'9223372036854775808'"});
  // A quoted value is a text, never a number.
  expect_error([] { text("'5'\n")->read_int32(); }, Kind::bad_value, {"line 1", "'5'"});
  expect_error([] { text("\"2.5\"\n")->read_real(); }, Kind::bad_value, {"line 1", "'2.5'"});
  EXPECT_EQ(text("-2147483648\n")->read_int32(), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(text("-9223372036854775808\n")->read_int64(), std::numeric_limits<std::int64_t>::min());
}

TEST(ReaderNumbers, AfterABadValueTheNextReadStartsOnTheNextLine) {
  auto r = text("x 1\n2\n");
  EXPECT_THROW(r->read_int32(), ff::InputError);
  EXPECT_EQ(r->read_int32(), 2);
}

// Every double the writer can lay out reads back as the identical value, so
// results and options written by the programs are read back exactly.
TEST(ReaderNumbers, WrittenDoublesReadBackExactly) {
  std::ifstream in(std::string(FOLDQUEST_TEST_DATA) + "/freeformat/double.txt");
  ASSERT_TRUE(in);
  std::string l;
  int checked = 0;
  while (std::getline(in, l)) {
    if (l.empty() || l[0] == '#') continue;
    const auto bar = l.find('|');
    ASSERT_NE(bar, std::string::npos);
    std::uint64_t bits = 0;
    std::from_chars(l.data(), l.data() + bar, bits, 16);
    const double x = std::bit_cast<double>(bits);
    const double y = text(l.substr(bar + 1, l.size() - bar - 2) + "\n")->read_real();
    if (std::isnan(x)) {
      EXPECT_TRUE(std::isnan(y)) << l;
    } else {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(y), bits) << l;
    }
    ++checked;
  }
  EXPECT_GE(checked, 200);
}

// ------------------------------------------------------- rewind, backspace

TEST(ReaderPosition, RewindAndBackspace) {
  auto r = text("1\n2 3\n4\n5\n");
  r->backspace();  // at the start: nothing to step back over
  EXPECT_EQ(r->read_int32(), 1);
  EXPECT_EQ(r->read_int32s(2), (std::vector<std::int32_t>{2, 3}));
  r->backspace();  // the line the last read ended on is read again
  EXPECT_EQ(r->read_int32(), 2);
  EXPECT_EQ(r->read_int32s(2), (std::vector<std::int32_t>{4, 5}));
  EXPECT_TRUE(r->at_end());
  r->backspace();
  EXPECT_EQ(r->read_int32(), 5);
  r->rewind();
  EXPECT_EQ(r->line_number(), 0u);
  EXPECT_EQ(r->read_int32(), 1);
  // A read that ran over two lines steps back only over the last of them.
  auto s = text("1\n2\n3\n");
  EXPECT_EQ(s->read_int32s(2), (std::vector<std::int32_t>{1, 2}));
  s->backspace();
  EXPECT_EQ(s->read_int32(), 2);
}

TEST(ReaderPosition, RewindAfterTheEndOfAStream) {
  std::istringstream in("a\nb\n");
  ff::Reader r("-", in);
  EXPECT_EQ(r.read_word(), "a");
  EXPECT_EQ(r.read_word(), "b");
  EXPECT_THROW(r.read_word(), ff::InputError);
  r.rewind();
  EXPECT_EQ(r.read_word(), "a");
}

// ------------------------------------------------------- end of the stream

TEST(ReaderEnd, EndOfStreamNamesTheStreamAndLine) {
  expect_error([] { text("", "-")->read_int32(); }, Kind::end_of_stream, {"standard input"});
  auto r = text("1\n\n", "beds.txt");
  EXPECT_EQ(r->read_int32(), 1);
  expect_error([&r] { r->read_real(); }, Kind::end_of_stream, {"beds.txt", "line 2"});
  // A read that runs out part way through its values.
  expect_error([] { text("1 2\n3\n", "dips.txt")->read_int32s(4); }, Kind::end_of_stream,
               {"dips.txt", "line 2"});
  std::istringstream in("7\n");
  ff::Reader s("-", in);
  EXPECT_EQ(s.read_int32(), 7);
  expect_error([&s] { s.read_word(); }, Kind::end_of_stream, {"standard input", "line 1"});
  // A broken stream is a read failure, never the end of the input.
  std::istringstream broken("1\n");
  broken.setstate(std::ios::badbit);
  ff::Reader b("-", broken);
  expect_error([&b] { b.at_end(); }, Kind::read_failed, {"standard input", "reading failed"});
}

// Once the stream has ended, every call returns or throws at once: a dialogue
// that re-asks on closed standard input cannot spin forever.
TEST(ReaderEnd, AfterTheEndEveryCallEndsAtOnce) {
  std::istringstream in("1\n");
  ff::Reader r("-", in);
  EXPECT_EQ(r.read_int32(), 1);
  int thrown = 0;
  for (int i = 0; i < 1000; ++i) {
    EXPECT_TRUE(r.at_end());
    EXPECT_FALSE(r.skip_line());
    EXPECT_FALSE(r.next_line_blank());
    const std::vector<std::function<void()>> calls = {
        [&r] { r.read_int32(); },    [&r] { r.read_int64(); },       [&r] { r.read_real(); },
        [&r] { r.read_word(); },     [&r] { r.read_reals(3); },      [&r] { r.read_int32s(0); },
        [&r] { r.read_nothing("x"); }};
    for (const auto& c : calls) {
      try {
        c();
      } catch (const ff::InputError& e) {
        if (e.kind() == Kind::end_of_stream) ++thrown;
      }
    }
  }
  EXPECT_EQ(thrown, 7000);
  EXPECT_EQ(r.line_number(), 1u);
}

// ------------------------------------------------ line queries, split_line

TEST(ReaderLineQueries, SkipBlankAndReadNothing) {
  auto r = text("x\n \t\ny\n", "opts.txt");
  EXPECT_FALSE(r->next_line_blank());
  r->read_nothing("the data types");  // uses up line 1 without taking a value
  EXPECT_TRUE(r->next_line_blank());
  EXPECT_TRUE(r->skip_line());
  EXPECT_EQ(r->read_word(), "y");
  expect_error([&r] { r->read_nothing("the final Enter"); }, Kind::end_of_stream,
               {"opts.txt", "line 3", "the final Enter"});
  // Reading no values still uses up a line, and needs one.
  auto s = text("a\nb\n");
  EXPECT_TRUE(s->read_reals(0).empty());
  EXPECT_TRUE(s->read_int32s(0).empty());
  EXPECT_TRUE(s->at_end());
  EXPECT_THROW(s->read_reals(0), ff::InputError);
}

TEST(ReaderLineQueries, SplitLine) {
  auto r = text(
      "a b,c\n"
      "'x y' , 'p''q' \"u,v\"\n"
      "1,,2\n"
      ", 5\n"
      "1 2 / 3\n"
      "\n"
      "1, ,2,\n"
      "'open\n"
      "t\ta\r\n",
      "beds.txt");
  EXPECT_EQ(r->line_count(), 9u);
  const std::vector<Strings> want = {
      {"a", "b", "c"}, {"x y", "p'q", "u,v"}, {"1", "", "2"}, {"", "5"}, {"1", "2"}, {}, {"1", "", "2"}};
  std::vector<std::string> w{"stale"};
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_TRUE(r->split_line(i, w)) << i;
    EXPECT_EQ(w, want[i]) << "line index " << i;
  }
  EXPECT_FALSE(r->split_line(7, w));  // a quote that is not closed
  EXPECT_TRUE(r->split_line(8, w));
  EXPECT_EQ(w, (Strings{"t", "a"}));
  EXPECT_TRUE(r->split_line(9, w));  // past the end: no values
  EXPECT_TRUE(w.empty());
  // Splitting does not move the reads.
  EXPECT_EQ(r->read_word(), "a");
}

// ------------------------------------------------------------------- files

TEST(ReaderFiles, OpenFile) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "ff_reader_test";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "params.txt").string();
  {
    std::ofstream out(path, std::ios::binary);
    out << "2\r\n1.5 2.5\r\n";
  }
  auto r = ff::Reader::open_file(path);
  EXPECT_EQ(r->name(), path);
  EXPECT_EQ(r->read_int32(), 2);
  EXPECT_EQ(r->read_reals(2), (std::vector<double>{1.5, 2.5}));
  expect_error([&r] { r->read_real(); }, Kind::end_of_stream, {path, "line 2"});

  expect_error([&dir] { ff::Reader::open_file((dir / "missing.txt").string()); }, Kind::cannot_open,
               {"missing.txt"});
  // A folder is no file to read, though the stream library opens it.
  expect_error([&dir] { ff::Reader::open_file(dir.string()); }, Kind::cannot_open, {dir.string()});
  std::filesystem::remove_all(dir);
}

}  // namespace

namespace {

// A stream buffer that hands out `text` and then fails, as a device with an
// input/output error does.
class FailingBuffer : public std::streambuf {
 public:
  explicit FailingBuffer(std::string text) : text_(std::move(text)) {
    setg(text_.data(), text_.data(), text_.data() + text_.size());
  }

 protected:
  int_type underflow() override { throw std::ios_base::failure("device error"); }

 private:
  std::string text_;
};

// LF, CRLF and a lone CR (old Mac files) each end a line; mixed files too.
TEST(ReaderLines, LineEndsOfEveryKind) {
  for (const std::string eol : {"\n", "\r\n", "\r"}) {
    auto r = text("1 2" + eol + "3" + eol + eol + "x" + eol);
    EXPECT_EQ(r->line_count(), 4u) << static_cast<int>(eol.back());
    EXPECT_EQ(r->read_int32s(2), (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(r->read_int32(), 3);
    EXPECT_EQ(r->read_word(), "x");  // the blank line is passed over by the read
  }
  auto mixed = text("a\rb\r\nc\nd");
  EXPECT_EQ(mixed->line_count(), 4u);
  EXPECT_EQ(mixed->line_text(1), "b");
  EXPECT_EQ(mixed->line_text(3), "d");
  EXPECT_EQ(mixed->line_text(9), "");
}

// An input/output error part way through is reported as such: the lines
// read before it are not taken for the whole input.
TEST(ReaderLines, ReadFailureIsNotTheEndOfTheInput) {
  FailingBuffer buf("bed top\n0 1\n");
  std::istream in(&buf);
  ff::Reader r("-", in);
  EXPECT_EQ(r.read_word(), "bed");
  EXPECT_EQ(r.read_int32(), 0);
  expect_error([&r] { r.line_count(); }, Kind::read_failed, {"standard input", "reading failed after line 2"});
}

}  // namespace
