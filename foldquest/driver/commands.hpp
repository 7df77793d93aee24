// The handlers of the subcommands: each takes the parsed command line and
// returns the exit status (see cli.hpp).  kCommands in commands.cpp lists
// them with their options.
#pragma once

#include "foldquest/driver/cli.hpp"

namespace fq::cli {

// foldquest run OPTIONS_FILE [--results FILE] [--seed N] [--threads N]
//               [--chains K] [--quiet]
int run_command(const Args& args);

}  // namespace fq::cli
