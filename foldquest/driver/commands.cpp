// The subcommands of foldquest: one row each (name, options, number of
// arguments, handler).  Each has its usage text in usage/NAME.txt.
#include <array>

#include "foldquest/driver/commands.hpp"

namespace fq::cli {
namespace {

constexpr std::array<OptionSpec, 5> kRunOptions{{
    {"results", 'r', true, "FILE"},
    {"seed", 's', true, "N"},
    {"threads", 't', true, "N"},
    {"chains", 'c', true, "K"},
    {"quiet", 'q', false, ""},
}};

const std::array<Command, 1> kCommands{{
    {"run", kRunOptions, 1, 1, run_command},
}};

}  // namespace

std::span<const Command> commands() { return kCommands; }

}  // namespace fq::cli
