// The command line: option parsing, the subcommand table, the usage texts
// the README quotes, and the program's --help, --version and bad options.
#include "foldquest/driver/cli.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using fq::cli::Args;
using fq::cli::OptionSpec;
using fq::cli::UsageError;

constexpr std::array<OptionSpec, 3> kOpts{{
    {"results", 'r', true, "FILE"},
    {"seed", 's', true, "N"},
    {"quiet", 'q', false, ""},
}};

Args parse(std::vector<std::string> words) { return fq::cli::parse("test", kOpts, words); }

TEST(CommandLine, LongAndShortFormsGiveTheSameValues) {
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"opts", "--results", "out.txt", "--seed", "7", "--quiet"},
           {"--results=out.txt", "opts", "--seed=7", "-q"},
           {"-r", "out.txt", "-s7", "-q", "opts"},
           {"-qr", "out.txt", "opts", "-s", "7"},
       }) {
    const Args a = parse(words);
    ASSERT_EQ(a.positional, std::vector<std::string>{"opts"});
    EXPECT_EQ(a.value("results"), "out.txt");
    EXPECT_EQ(a.integer("seed", 0, 0, 100), 7);
    EXPECT_TRUE(a.has("quiet"));
    EXPECT_FALSE(a.has("help"));
  }
}

TEST(CommandLine, DoubleDashEndsOptionsAndLastRepeatWins) {
  const Args a = parse({"--seed", "1", "--seed=2", "--", "--quiet", "-", "-r"});
  EXPECT_EQ(a.value("seed"), "2");
  EXPECT_FALSE(a.has("quiet"));
  EXPECT_EQ(a.positional, (std::vector<std::string>{"--quiet", "-", "-r"}));
  // An empty value is a value, and a value may start with a dash.
  EXPECT_EQ(parse({"--results="}).value("results"), "");
  EXPECT_EQ(parse({"--results", "-x"}).value("results"), "-x");
  EXPECT_TRUE(parse({"-h"}).has("help"));
  EXPECT_TRUE(parse({"--help"}).has("help"));
}

TEST(CommandLine, MistakesAreUsageErrors) {
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"-x"}, {"-qx"}, {"--results"}, {"-r"}, {"--quiet=yes"}, {"--res", "a"}}) {
    EXPECT_THROW(parse(words), UsageError) << words[0];
  }
}

TEST(CommandLine, IntegersAreWholeNumbersInRange) {
  EXPECT_EQ(fq::cli::parse_integer("4294967295", "seed", 0, 4294967295LL), 4294967295LL);
  EXPECT_EQ(fq::cli::parse_integer("+3", "n", 1, 5), 3);
  for (const char* bad : {"", "x", "1.5", "1e3", "3 ", " 3", "0x10", "4294967296", "-1", "99999999999999999999"})
    EXPECT_THROW(fq::cli::parse_integer(bad, "seed", 0, 4294967295LL), UsageError) << bad;
  const Args a = parse({"--seed", "12"});
  EXPECT_THROW(a.integer("seed", 0, 0, 10), UsageError);
  EXPECT_EQ(a.integer("results", 42, 0, 10), 42);  // not given: the fallback, unchecked
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The README's command-line section shows each usage text as an indented
// block: the text with four blanks before every non-empty line.
TEST(CommandLine, EveryCommandHasAUsageTextAndTheReadmeQuotesIt) {
  const std::string readme = read_file(FOLDQUEST_SOURCE_DIR "/README.md");
  std::vector<std::string> names{"foldquest"};
  for (const auto& c : fq::cli::commands()) names.emplace_back(c.name);
  for (const auto& name : names) {
    const std::string_view text = fq::cli::usage_text(name);
    ASSERT_FALSE(text.empty()) << name;
    EXPECT_EQ(text, read_file(FOLDQUEST_SOURCE_DIR "/foldquest/driver/usage/" + name + ".txt"));
    std::string block;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) block += (line.empty() ? "" : "    ") + line + "\n";
    EXPECT_NE(readme.find(block), std::string::npos) << "README does not quote usage/" << name << ".txt";
    if (name != "foldquest") {
      EXPECT_NE(fq::cli::usage_text("foldquest").find("  " + name + " "), std::string_view::npos)
          << "foldquest.txt does not list " << name;
    }
  }
}

struct Result {
  int status;
  std::string out, err;
};

Result run(const std::string& arguments) {
  const std::string out = testing::TempDir() + "cli_out.txt", err = testing::TempDir() + "cli_err.txt";
  const std::string cmd = "'" FOLDQUEST_EXE "' " + arguments + " </dev/null >'" + out + "' 2>'" + err + "'";
  const int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, read_file(out), read_file(err)};
}

TEST(CommandLineProgram, HelpAndVersionPrintAndSucceed) {
  Result r = run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, fq::cli::usage_text("foldquest"));
  EXPECT_EQ(r.err, "");
  r = run("run --help");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, fq::cli::usage_text("run"));
  r = run("run -h nonexistent.opt --seed 1");  // help wins over everything else
  EXPECT_EQ(r.status, 0);
  r = run("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "foldquest " + std::string(fq::cli::version()) + "\n");
}

TEST(CommandLineProgram, MistakesExitWithStatusTwoAndAHint) {
  struct Case {
    const char* args;
    const char* message;
  };
  for (const Case& c : {
           Case{"--bogus", "foldquest: unknown option '--bogus'\nTry 'foldquest --help'.\n"},
           Case{"frobnicate", "foldquest: unknown command 'frobnicate'\nTry 'foldquest --help'.\n"},
           Case{"run", "foldquest: missing argument\nTry 'foldquest run --help'.\n"},
           Case{"run a.opt b.opt", "foldquest: unexpected argument 'b.opt'\nTry 'foldquest run --help'.\n"},
           Case{"run a.opt --seed", "foldquest: option '--seed' needs a value (N)\nTry 'foldquest run --help'.\n"},
           Case{"run a.opt --threads 0",
                "foldquest: invalid value for --threads '0': expected a whole number from 1 to 4096\n"
                "Try 'foldquest run --help'.\n"},
           Case{"run a.opt --chains x",
                "foldquest: invalid value for --chains 'x': expected a whole number from 1 to 100000\n"
                "Try 'foldquest run --help'.\n"},
       }) {
    const Result r = run(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_EQ(r.err, c.message) << c.args;
  }
}

TEST(CommandLineProgram, AMissingOptionsFileIsAnInputError) {
  const Result r = run("run '" + testing::TempDir() + "no such file.opt'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot open options file"), std::string::npos) << r.err;
}

}  // namespace
