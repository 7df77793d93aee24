// The handlers of the subcommands: each takes the parsed command line and
// returns the exit status (see cli.hpp).  kCommands in commands.cpp lists
// them with their options.
#pragma once

#include "foldquest/driver/cli.hpp"

namespace fq::cli {

// foldquest run OPTIONS_FILE [--results FILE] [--seed N] [--threads N]
//               [--chains K] [--quiet]
int run_command(const Args& args);

// foldquest model restore OPTIONS_FILE (--params "V..." | --best RESULTS |
//               --row N [RESULTS]) [--out PREFIX]
int model_command(const Args& args);
// foldquest summary OPTIONS_FILE [RESULTS...] [--burn N | --burn-frac F]
//                   [--csv FILE] [--draws FILE]
int summary_command(const Args& args);
// foldquest plot OPTIONS_FILE [RESULTS...] --out FILE.png|FILE.svg
//                [--params "V..." | --best | --row N] [--burn N | --burn-frac F]
int plot_command(const Args& args);

}  // namespace fq::cli
