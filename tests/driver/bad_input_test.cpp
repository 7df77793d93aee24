// Bad input never destroys a file, runs on silently or crashes: refused
// answers in an options file, parameter files, data files, results files
// that name an input, and counts that would report success on nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foldquest/driver/startup.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/input/data_files.hpp"
#include "foldquest/methods/methods.hpp"
#include "tests/support/capture.hpp"

namespace fs = std::filesystem;

namespace {

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fq_bad_input_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write("beds.txt", "bed top\n0 10\n10 11\n20 12\nbed mid\n0 5\n10 6\n");
    write("dips.txt", "100 50 30\n-200, 10, -12.5\n");
    write("terr.txt", "terrace t1\n0 100\n5 101\n");
    write("faults.txt", "-30 -20\n-25 -15\n");
    write("p7.txt", range_lines(7) + "1\n0.5\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string range_lines(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "0.0 10.0 5.0\n";
    return text;
  }
  void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name, std::ios::binary) << text; }
  std::string read(const std::string& name) const {
    std::ifstream f(dir_ / name, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }
  // A file name as an answer: quoted, since a path holds slashes.
  std::string q(const std::string& name) const { return "'" + (dir_ / name).string() + "'"; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs the start-up from an options file holding `answers`; returns the
  // console output.  Input errors propagate.
  std::string file_run(const std::string& answers) {
    write("opts.txt", answers);
    std::istringstream text("2\n" + q("opts.txt") + "\n");
    return run(text);
  }
  std::string console_run(const std::string& answers) {
    std::istringstream text("1\n" + answers);
    return run(text);
  }
  std::string run(std::istringstream& text) {
    ff::Reader in("-", text);
    fq::Session s(in);
    fqtest::ConsoleCapture console;
    try {
      fq::startup(s);
    } catch (...) {
      last_console_ = console.text();
      throw;
    }
    s.results.close();
    state_ = s.state;
    last_console_ = console.text();
    return last_console_;
  }
  // The message of the input error a file run ends with ("" when none).
  std::string file_error(const std::string& answers) {
    try {
      file_run(answers);
    } catch (const ff::InputError& e) {
      return e.what();
    }
    return "";
  }
  std::string console_error(const std::string& answers) {
    try {
      console_run(answers);
    } catch (const ff::InputError& e) {
      return e.what();
    }
    return "";
  }

  fs::path dir_;
  fq::RunState state_;
  std::string last_console_;
};

std::string lines(std::initializer_list<std::string> ls) {
  std::string out;
  for (const auto& l : ls) out += l + "\n";
  return out;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ------------------------------------------------------------ options files

TEST_F(BadInput, RefusedAnswerInAnOptionsFileEndsTheRunNamingTheLine) {
  struct Case {
    const char* what;
    std::vector<std::string> answers;
    int line;            // the refused answer's line in the options file
    const char* answer;  // its text
  };
  const std::vector<Case> cases = {
      {"data type", {"1", "7", "1", q("beds.txt")}, 2, "7"},
      {"bed file name", {"1", "1", "missing.txt", q("beds.txt")}, 3, "missing.txt"},
      {"tip", {"1", "1", q("beds.txt"), "3", "1"}, 4, "3"},
      {"fault type", {"1", "1", q("beds.txt"), "1", "9", "1"}, 5, "9"},
      {"method", {"1", "1", q("beds.txt"), "1", "1", q("p7.txt"), "9", "1", "1", "1", q("out.txt")}, 7, "9"},
      {"initial model", {"1", "1", q("beds.txt"), "1", "1", q("p7.txt"), "4", "10", "3", "1"}, 9, "3"},
      {"fit type", {"1", "1", q("beds.txt"), "1", "1", q("p7.txt"), "1", "8", "1", "1", q("out.txt")}, 8, "8"},
      {"result type for a chain",
       {"1", "1", q("beds.txt"), "1", "1", q("p7.txt"), "4", "10", "1", "1", "1", "2", "0", "1.0", q("out.txt")},
       11,
       "1"},
      {"propagate", {"1", "1", q("beds.txt"), "1", "1", q("p7.txt"), "1", "1", "2", "5", "0", "1.0", q("out.txt")},
       10,
       "5"},
  };
  for (const auto& c : cases) {
    std::string answers;
    for (const auto& a : c.answers) answers += a + "\n";
    const std::string err = file_error(answers);
    EXPECT_TRUE(has(err, "file '" + path("opts.txt") + "', line " + std::to_string(c.line) + ": the answer '" +
                             c.answer + "' was refused"))
        << c.what << ": " << err;
    EXPECT_FALSE(fs::exists(dir_ / "out.txt")) << c.what;
  }
}

TEST_F(BadInput, RefusedAnswerAtTheConsoleIsAskedAgain) {
  // The same refused fault type and method, typed: asked again, then accepted.
  console_run(lines({"1", "1", q("beds.txt"), "1", "9", "1", q("p7.txt"), "9", "1", "1", "1", q("out.txt")}));
  EXPECT_EQ(state_.options.faulttype, 1);
  EXPECT_EQ(state_.options.method, 1);
  EXPECT_TRUE(has(last_console_, " Invalid Command\n"));
}

// ------------------------------------------------------------ parameter files

TEST_F(BadInput, SlipSenseMustBeOneOrMinusOne) {
  for (const std::string sense : {"2", "5", "0", "-3"}) {
    write("p.txt", range_lines(7) + sense + "\n0.5\n");
    const std::string err =
        console_error(lines({"1", "1", q("beds.txt"), "1", "1", q("p.txt"), "1", "1", "1", q("out.txt")}));
    EXPECT_TRUE(has(err, "file '" + path("p.txt") + "', line 8: the sense of slip must be 1 or -1, found '" +
                             sense + "'"))
        << err;
  }
}

TEST_F(BadInput, ExtraParameterLinesAreWarnedAbout) {
  // One range line too many: the run goes on, with a warning that names the
  // first unused line.
  write("p.txt", range_lines(8) + "1\n0.5\n\n");
  // Line 8 is a range line where the sense should be: that is an error.
  EXPECT_TRUE(has(console_error(lines({"1", "1", q("beds.txt"), "1", "1", q("p.txt"), "1", "1", "1", q("out.txt")})),
                  "line 8"));
  write("p.txt", range_lines(7) + "1\n0.5\n0.0 10.0 5.0\n");
  const std::string out =
      console_run(lines({"1", "1", q("beds.txt"), "1", "1", q("p.txt"), "1", "1", "1", q("out.txt")}));
  EXPECT_TRUE(has(out, " Warning: file '" + path("p.txt") + "', line 10 and after are not used")) << out;
  // A file for a fit-type-5 run read the first time is not warned about:
  // its second reading uses the lines.
  write("p8r.txt", range_lines(8) + "1\n0.5\n");
  const std::string fit5 = console_run(lines({"1", "2", q("dips.txt"), "1", "1", q("p8r.txt"), "1", "5", "1", "0",
                                              q("p8r.txt"), "2", "0", "1.0", "0", q("out.txt")}));
  EXPECT_FALSE(has(fit5, "Warning: file")) << fit5;
  // Without the second reading the warning comes after all.
  write("p8.txt", range_lines(7) + "1\n0.5\nextra\n");
  const std::string fit1 = console_run(lines({"1", "2", q("dips.txt"), "1", "1", q("p8.txt"), "1", "1", "1", q("out.txt")}));
  EXPECT_TRUE(has(fit1, "Warning: file '" + path("p8.txt") + "', line 10")) << fit1;
}

TEST_F(BadInput, SlipIncrementMustBePositive) {
  for (const std::string inc : {"-0.5", "0", "-1e-300", "NaN", "Infinity", "1e400"}) {
    write("p.txt", range_lines(7) + "-1\n" + inc + "\n");
    const std::string err =
        console_error(lines({"1", "1", q("beds.txt"), "1", "1", q("p.txt"), "1", "1", "1", q("out.txt")}));
    EXPECT_TRUE(has(err, "file '" + path("p.txt") + "', line 9: the slip increment must be a positive finite number"))
        << inc << ": " << err;
  }
}

TEST_F(BadInput, InvertedOrNaNRangeIsRefused) {
  write("p.txt", "0 10 1\n0 10 1\n5 4 1\n" + range_lines(4) + "1\n0.5\n");
  std::string err = console_error(lines({"1", "1", q("beds.txt"), "1", "1", q("p.txt"), "1", "1", "1", q("out.txt")}));
  EXPECT_TRUE(has(err, "file '" + path("p.txt") + "', line 3: the upper bound of parameter 3 lies below its lower bound"))
      << err;
  write("p.txt", "0 10 1\nNaN 10 1\n" + range_lines(5) + "1\n0.5\n");
  err = console_error(lines({"1", "1", q("beds.txt"), "1", "1", q("p.txt"), "1", "1", "1", q("out.txt")}));
  EXPECT_TRUE(has(err, "line 2: the range of parameter 2 holds a NaN")) << err;
}

// ------------------------------------------------------------ results file

TEST_F(BadInput, ResultsFileThatIsAnInputIsRefused) {
  const std::string beds = read("beds.txt");
  fs::create_symlink(dir_ / "beds.txt", dir_ / "link.txt");
  write("prop.txt", "1 2 3 4 5 6 7\n\n1 0 0 0 0 0 0\n0 1 0 0 0 0 0\n0 0 1 0 0 0 0\n0 0 0 1 0 0 0\n"
                    "0 0 0 0 1 0 0\n0 0 0 0 0 1 0\n0 0 0 0 0 0 1\n");
  struct Case {
    std::string name;  // the results file answer
    const char* what;
  };
  const std::string dot = "'" + (dir_ / "." / "beds.txt").string() + "'";
  for (const Case& c : {Case{dot, "the bed file"}, Case{q("link.txt"), "the bed file"},
                        Case{q("p7.txt"), "the parameter file"}, Case{q("opts.txt"), "the options file"},
                        Case{q("prop.txt"), "the proposal file"}}) {
    const std::string err = file_error(lines(
        {"1", "1", q("beds.txt"), "1", "1", q("p7.txt"), "3", "10", q("prop.txt"), "1", "2", "0", "1.0", c.name}));
    EXPECT_TRUE(has(err, "line 14: the answer")) << err;
    EXPECT_TRUE(has(err, std::string(c.what) + " of this run")) << c.name << ": " << err;
  }
  EXPECT_EQ(read("beds.txt"), beds);
  EXPECT_EQ(read("p7.txt"), range_lines(7) + "1\n0.5\n");
  // At the console the name is asked again.
  console_run(lines({"1", "1", q("beds.txt"), "1", "1", q("p7.txt"), "1", "1", "1", q("link.txt"), q("out.txt")}));
  EXPECT_TRUE(has(last_console_, " is the bed file of this run; writing results to it would destroy it\n"));
  EXPECT_EQ(read("beds.txt"), beds);
  EXPECT_TRUE(fs::exists(dir_ / "out.txt"));
}

// ------------------------------------------------------------ data files

TEST_F(BadInput, NonFiniteDataValuesAreRefusedNamingFileAndLine) {
  struct Case {
    const char* file;
    std::string text;
    std::vector<std::string> answers;  // data types and file
    int line;
  };
  const std::vector<Case> cases = {
      {"b.txt", "bed top\n0 10\nNaN 11\n", {"1", "1"}, 3},
      {"b.txt", "bed top\n0 10\n5 1e400\n", {"1", "1"}, 3},
      {"d.txt", "100 50 30\n100 50 -Infinity\n", {"1", "2"}, 2},
      {"t.txt", "terrace t\n0 inf\n", {"1", "4"}, 2},
      {"f.txt", "1 2\n3 nan\n", {"1", "3"}, 2},
  };
  for (const auto& c : cases) {
    write(c.file, c.text);
    std::string answers;
    for (const auto& a : c.answers) answers += a + "\n";
    const std::string err = console_error(answers + q(c.file) + "\n");
    EXPECT_TRUE(has(err, "file '" + path(c.file) + "', line " + std::to_string(c.line) + ": expected ")) << err;
    EXPECT_TRUE(has(err, "finite")) << err;
  }
}

TEST_F(BadInput, DataFilesWithoutDataAreRefused) {
  struct Case {
    const char* code;
    std::string text;
    const char* says;
  };
  for (const Case& c : {Case{"1", "\n\n", "holds no bed"}, Case{"1", "bed a\nbed b\n0 1\n", "line 1: this bed has no points"},
                        Case{"2", "", "holds no dip"}, Case{"4", " \n", "holds no terrace"},
                        Case{"4", "terrace t1\n0 1\nterrace t2\n", "line 3: this terrace has no points"},
                        Case{"3", "\n", "holds no point on the fault"}}) {
    write("x.txt", c.text);
    const std::string err = console_error(lines({"1", c.code, q("x.txt")}));
    EXPECT_TRUE(has(err, "file '" + path("x.txt") + "'")) << err;
    EXPECT_TRUE(has(err, c.says)) << err;
  }
}

TEST_F(BadInput, UnclosedQuoteIsAnInputError) {
  write("b.txt", "bed top\n0 10\n'5 11\n20 12\n");
  const std::string err = console_error(lines({"1", "1", q("b.txt")}));
  EXPECT_TRUE(has(err, "file '" + path("b.txt") + "', line 3: a quote is not closed")) << err;
}

TEST_F(BadInput, OldMacAndWindowsLineEndsReadAllTheData) {
  for (const std::string eol : {"\r", "\r\n", "\n"}) {
    const std::string b = "bed top" + eol + "0 10" + eol + "10 11" + eol + "bed mid" + eol + "0 5" + eol + "10 6" + eol;
    write("b.txt", b);
    write("d.txt", "100 50 30" + eol + "0 0 -10" + eol);
    write("p.txt", range_lines(7) + "1" + eol + "0.5" + eol);
    console_run(lines({"2", "1 2", q("b.txt"), q("d.txt"), "1", "1", q("p.txt"), "1", "1", "2", "0", "1.0", "1.0", "0",
                       q("out.txt")}));
    EXPECT_EQ(state_.data.nbeds, 2) << "line end " << static_cast<int>(eol.back());
    EXPECT_EQ(state_.data.beds[1].npts, 2);
    EXPECT_EQ(state_.data.beds[1].pts[1].y, 6.0);
    EXPECT_EQ(state_.data.ndips, 2);
    EXPECT_EQ(state_.parameters.increment, -0.5);
  }
}

// ------------------------------------------------------------ counts

TEST_F(BadInput, NumberOfModelsBelowOneIsAskedAgain) {
  for (const char* method : {"2", "3", "4", "5", "6", "7"}) {
    write("prop.txt", "1 2 3 4 5 6 7\n\n1 0 0 0 0 0 0\n0 1 0 0 0 0 0\n0 0 1 0 0 0 0\n0 0 0 1 0 0 0\n"
                      "0 0 0 0 1 0 0\n0 0 0 0 0 1 0\n0 0 0 0 0 0 1\n");
    std::vector<std::string> rest;
    if (std::string(method) == "3") rest = {q("prop.txt")};
    else if (std::string(method) != "2") rest = {"1"};
    if (std::string(method) == "5") rest.push_back("10");
    if (std::string(method) == "7") rest.push_back("2");
    std::string tail;
    for (const auto& r : rest) tail += r + "\n";
    const std::string result = std::string(method) == "2" || std::string(method) == "3" ? "1\n" : "2\n0\n1.0\n";
    const std::string head = lines({"1", "1", q("beds.txt"), "1", "1", q("p7.txt"), method});
    console_run(head + "0\n-5\n12\n" + tail + "1\n" + result + q("out.txt") + "\n");
    EXPECT_EQ(state_.parameters.nmodels, 12) << "method " << method;
    EXPECT_TRUE(has(last_console_, " Error: the number of models must be at least 1.\n")) << last_console_;
    // In an options file the 0 ends the run.
    const std::string err = file_error(head + "0\n12\n" + tail + "1\n" + result + q("out.txt") + "\n");
    EXPECT_TRUE(has(err, "line 8: the answer '0' was refused")) << "method " << method << ": " << err;
  }
}

TEST_F(BadInput, NonFiniteInitialModelAndProposalMeanAreRefused) {
  const std::string head = lines({"1", "1", q("beds.txt"), "1", "1", q("p7.txt"), "4", "10", "2"});
  console_run(head + "1 2 NaN 4 5 6 7\n1 2 3 4 5 6 7\n1\n2\n0\n1.0\n" + q("out.txt") + "\n");
  EXPECT_EQ(state_.method.init_model[2], 3.0);
  EXPECT_TRUE(has(last_console_, "Error: every initial value must be a finite number."));
  EXPECT_TRUE(has(file_error(head + "1 2 3 4 5 Infinity 7\n"), "line 10: the answer '1 2 3 4 5 Infinity 7'"));

  write("prop.txt", "1 2 NaN 4 5 6 7\n\n1 0 0 0 0 0 0\n0 1 0 0 0 0 0\n0 0 1 0 0 0 0\n0 0 0 1 0 0 0\n"
                    "0 0 0 0 1 0 0\n0 0 0 0 0 1 0\n0 0 0 0 0 0 1\n");
  const std::string err =
      console_error(lines({"1", "1", q("beds.txt"), "1", "1", q("p7.txt"), "3", "10", q("prop.txt"), "1", "1",
                           q("out.txt")}));
  EXPECT_TRUE(has(err, "file '" + path("prop.txt") + "', line 1: the mean of parameter 3 must be a finite number"))
      << err;
}

TEST_F(BadInput, TemperatureLevelsThatCannotFitInMemoryAreRefused) {
  EXPECT_TRUE(fq::apt_levels_too_large(10, 9).empty());
  const std::string msg = fq::apt_levels_too_large(2147483647, 9);
  EXPECT_TRUE(has(msg, "Error: 2147483647 temperature levels need about ")) << msg;
  const std::string head = lines({"1", "1", q("beds.txt"), "1", "1", q("p7.txt"), "7", "10", "1"});
  console_run(head + "2147483647\n4\n1\n2\n0\n1.0\n" + q("out.txt") + "\n");
  EXPECT_EQ(state_.method.nlevels, 4);
  EXPECT_TRUE(has(last_console_, "MB of memory, more than this machine has"));
  EXPECT_TRUE(has(file_error(head + "2147483647\n1\n2\n0\n1.0\n" + q("out.txt") + "\n"),
                  "line 10: the answer '2147483647' was refused"));
}

}  // namespace
