// foldquest: the dialogue with no arguments, else the command line.
#include <cstdio>
#include <iostream>

#include "foldquest/driver/cli.hpp"
#include "foldquest/driver/run.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/methods/ranks.hpp"

int main(int argc, char** argv) {
  if (argc > 1) return fq::cli::main(argc, argv);
  if (fq::ranks::launched_as_several()) {
    // Only one rank would get the console's answers; the others would wait.
    std::fprintf(stderr, "foldquest: under mpirun, run an options file: foldquest run OPTIONS_FILE\n");
    return fq::cli::kExitUsage;
  }
  try {
    if (const auto seed = fq::seed_from_environment()) fq::chain::set_run_seed(*seed);
  } catch (const fq::cli::UsageError& e) {
    std::fprintf(stderr, "foldquest: %s\n", e.what());
    return fq::cli::kExitUsage;
  }
  ff::Reader standard_input("-", std::cin);
  fq::RunControl control;
  control.progress = true;  // shown only when standard error is a terminal
  return fq::run_inversion(standard_input, control);
}
