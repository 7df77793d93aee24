// foldquest run: the dialogue answered by an options file, with the
// command line's settings.
#include <omp.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <system_error>

#include "foldquest/driver/commands.hpp"
#include "foldquest/driver/run.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/ranks.hpp"
#include "freeformat/writer.hpp"

namespace fq::cli {

int run_command(const Args& args) {
  RunControl control;
  control.options_file = args.positional.at(0);
  control.results = args.value("results");
  control.wait_for_enter = false;
  if (args.has("results") && control.results->empty()) throw UsageError("empty file name for --results");
  if (control.results) {
    // The results file is created (emptied) at the end of the start-up: it
    // must not be the options file the run reads.
    std::error_code ec;
    if (std::filesystem::equivalent(*control.options_file, *control.results, ec))
      throw UsageError("--results names the options file '" + *control.options_file + "'");
  }

  // Everything the command line says is checked before the run starts.
  std::optional<std::uint32_t> seed;
  if (args.has("seed")) seed = static_cast<std::uint32_t>(args.integer("seed", 0, 0, 4294967295LL));
  else seed = seed_from_environment();
  const auto threads = args.integer("threads", 0, 1, 4096);
  control.chains = static_cast<int>(args.integer("chains", 0, 1, 100000));
  const bool quiet = args.has("quiet");

  chain::set_run_seed(seed ? static_cast<long long>(*seed) : -1);
  if (threads > 0) omp_set_num_threads(static_cast<int>(threads));

  // Under mpirun (MPI build): every rank reads the options and data; rank 0
  // alone prints and writes the results file (but each rank writes the
  // files of the chains it runs).
  const ranks::Session mpi;
  const bool root = ranks::rank() == 0;
  if (!root && control.chains == 0) control.results = "/dev/null";
  if (quiet || !root) ff::console().close();  // lines to a closed sink are dropped
  control.progress = !quiet && ranks::size() == 1 && isatty(STDERR_FILENO) == 1;

  // Nothing is read from the console: a question the options file does not
  // answer ends the run as an input error instead of waiting.
  std::istringstream nothing;
  ff::Reader console_in("standard input", nothing);
  return run_inversion(console_in, control);
}

}  // namespace fq::cli
