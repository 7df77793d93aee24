// libFuzzer target: foldquest's start-up in file mode.  The input is the
// options file; the data, parameter and proposal files it may name are the
// golden-test and example files, copied into a scratch folder that is the
// working folder.  The method never runs.  Only ff::InputError may leave
// the start-up, and it must end: a refused answer in an options file stops
// the run instead of asking again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "foldquest/driver/startup.hpp"
#include "freeformat/writer.hpp"

namespace fs = std::filesystem;

namespace {

void prepare_scratch() {
  static bool done = false;
  if (done) return;
  done = true;
  const auto dir = fs::temp_directory_path() / ("fq_fuzz_startup_" + std::to_string(::getpid()));
  fs::create_directories(dir / "seed");
  const fs::path src(FOLDQUEST_SOURCE_DIR);
  for (const auto& from : {src / "tests/golden/common", src / "examples/straight_ramp"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(from, ec)) {
      if (!e.is_regular_file()) continue;
      fs::copy_file(e.path(), dir / e.path().filename(), fs::copy_options::skip_existing, ec);
      fs::copy_file(e.path(), dir / "seed" / e.path().filename(), fs::copy_options::skip_existing, ec);
    }
  }
  fs::current_path(dir);
  static std::FILE* null = std::fopen("/dev/null", "w");
  ff::console().attach(null);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  prepare_scratch();
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Every name stays inside the scratch folder: no path separators (a
  // slash also ends a free-format read, which the reader target covers).
  if (text.find('/') != std::string::npos) return -1;
  {
    std::ofstream out("fuzz.opt", std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::istringstream typed("2\nfuzz.opt\n");
  ff::Reader console("-", typed);
  fq::Session s(console);
  try {
    fq::startup(s);
  } catch (const ff::InputError&) {
  }
  s.results.close();
  // The results file the options named: never an input of the run, but it
  // may be a data file the run did not read, which is put back.
  if (!s.results_name.empty()) {
    std::error_code ec;
    const fs::path seed = fs::path("seed") / s.results_name;
    if (fs::is_regular_file(seed, ec)) fs::copy_file(seed, s.results_name, fs::copy_options::overwrite_existing, ec);
    else fs::remove(s.results_name, ec);
  }
  return 0;
}
