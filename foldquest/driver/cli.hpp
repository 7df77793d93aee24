// The command line: GNU-style option parsing shared by every subcommand,
// and the table of subcommands.
//
//   foldquest                      the dialogue (no arguments at all)
//   foldquest --help | --version
//   foldquest COMMAND [ARGS...]    a subcommand, e.g. `foldquest run opts.opt`
//
// Options of a subcommand: long options `--name VALUE` or `--name=VALUE`,
// short options `-x VALUE` or `-xVALUE`, short flags bundled (`-qh`), `--`
// ends the options (everything after it is an argument), a lone `-` is an
// argument.  Options and arguments may be mixed; a repeated option keeps its
// last value.  Every subcommand takes `-h`/`--help`.
//
// Adding a subcommand: write its handler (int handler(const cli::Args&),
// returning the exit status), its usage text in foldquest/driver/usage/
// NAME.txt (CMake embeds it; the README's command-line section quotes it and
// a test checks that they agree), and one row in kCommands (commands.cpp).
//
// Exit statuses: 0 success; 1 the run failed (results not written whole);
// 2 a usage or input error (an unknown option, a missing value, a bad
// value, unreadable input).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fq::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// A mistake on the command line.  The message says what was wrong, without
// the program name; report() adds it and the hint to try --help.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One option a subcommand accepts.
struct OptionSpec {
  std::string_view name;        // long name, without the leading "--"
  char short_name = 0;          // 0 when the option has no short form
  bool takes_value = false;     // false: a flag
  std::string_view value_name;  // shown in messages, e.g. "FILE", "N"
};

// The parsed command line of one subcommand.
class Args {
 public:
  std::string command;                  // the subcommand's name
  std::vector<std::string> positional;  // the arguments, in order

  // True when the option (long name) was given at least once.
  bool has(std::string_view name) const;
  // The option's last value, if it was given.
  std::optional<std::string> value(std::string_view name) const;
  // The option's value as an integer in [lo, hi]; `fallback` when the option
  // was not given.  Throws UsageError naming the option for anything else
  // (not a whole decimal number, out of range, trailing characters).
  std::int64_t integer(std::string_view name, std::int64_t fallback, std::int64_t lo, std::int64_t hi) const;

  // Records an option (the parser; tests).
  void set(std::string_view name, std::string value);

 private:
  std::map<std::string, std::string, std::less<>> values_;  // flags hold ""
};

// Parses `argv` (the words after the subcommand's name) against the options
// of `options`; `-h`/`--help` is always accepted as the flag "help".
// Throws UsageError for an unknown option, a missing value, or a value given
// to a flag.  The number of positional arguments is not checked here.
Args parse(std::string_view command, std::span<const OptionSpec> options, std::span<const std::string> argv);

// Reads an integer (whole decimal number, optional sign) in [lo, hi] from
// `text`; `what` names it in the UsageError.
std::int64_t parse_integer(std::string_view text, std::string_view what, std::int64_t lo, std::int64_t hi);

// A subcommand.
struct Command {
  std::string_view name;
  std::span<const OptionSpec> options;
  int min_positional;
  int max_positional;          // -1: no limit
  int (*handler)(const Args& args);
};

// The subcommands (commands.cpp).
std::span<const Command> commands();
const Command* find_command(std::string_view name);

// The usage text of a subcommand ("foldquest" for the program as a whole),
// as in foldquest/driver/usage/NAME.txt; empty when there is none.
std::string_view usage_text(std::string_view name);

// The version, e.g. "0.1.0".
std::string_view version();

// Runs the command line argv[1..argc-1] (argc >= 2): --help, --version or a
// subcommand.  Prints usage errors on standard error as
//   foldquest: MESSAGE
//   Try 'foldquest [COMMAND] --help'.
// and returns kExitUsage for them; otherwise the handler's status.
int main(int argc, char** argv);

}  // namespace fq::cli
