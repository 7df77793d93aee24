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

// restore and forward; results_commands.cpp refuses the options of one
// given to the other.
constexpr std::array<OptionSpec, 12> kModelOptions{{
    {"params", 'p', true, "\"V1 V2 ...\""},
    {"best", 'b', true, "RESULTS"},
    {"row", 'n', true, "N"},
    {"out", 'o', true, "PREFIX or FILE"},
    {"beds", 0, true, "FILE"},
    {"levels", 0, true, "\"Y1 Y2 ...\""},
    {"x", 0, true, "\"X0 X1\""},
    {"spacing", 0, true, "D"},
    {"points", 0, true, "N"},
    {"increment", 0, true, "D"},
    {"noise", 0, true, "SIGMA"},
    {"seed", 's', true, "N"},
}};

constexpr std::array<OptionSpec, 5> kSummaryOptions{{
    {"burn", 0, true, "N"},
    {"burn-frac", 0, true, "F"},
    {"csv", 0, true, "FILE"},
    {"draws", 0, true, "FILE"},
    {"top", 0, true, "N"},
}};

constexpr std::array<OptionSpec, 7> kPlotOptions{{
    {"out", 'o', true, "FILE"},
    {"params", 'p', true, "\"V1 V2 ...\""},
    {"best", 'b', false, ""},
    {"row", 'n', true, "N"},
    {"burn", 0, true, "N"},
    {"burn-frac", 0, true, "F"},
    {"pairs", 0, true, "NAMES"},
}};

const std::array<Command, 4> kCommands{{
    {"run", kRunOptions, 1, 1, run_command},
    {"model", kModelOptions, 2, 3, model_command},
    {"summary", kSummaryOptions, 1, -1, summary_command},
    {"plot", kPlotOptions, 1, -1, plot_command},
}};

}  // namespace

std::span<const Command> commands() { return kCommands; }

}  // namespace fq::cli
