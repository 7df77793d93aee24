// setup: asks the run options of foldquest once and writes them to an
// options file that foldquest can then run from without a person at the
// console.
#include <cstdio>
#include <exception>
#include <iostream>

#include "freeformat/reader.hpp"
#include "freeformat/writer.hpp"
#include "setup/dialogue.hpp"
#include "setup/options_file.hpp"

int main() {
  ff::Reader standard_input("-", std::cin);
  setup::OptionsFile options;
  try {
    setup::run_dialogue(standard_input, options);
  } catch (const ff::InputError& e) {
    options.discard();
    ff::console().flush();
    std::fprintf(stderr, "setup: input error: %s\n", e.what());
    std::fprintf(stderr, "setup: no options file was written\n");
    return 2;
  } catch (const std::exception& e) {
    options.discard();
    ff::console().flush();
    std::fprintf(stderr, "setup: %s\n", e.what());
    return 1;
  }
  return 0;
}
