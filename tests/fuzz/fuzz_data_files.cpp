// libFuzzer target: the data and parameter-file readers.  The first byte
// chooses the reader (beds, dips, terraces, fault points, parameters) and,
// for the parameter file, the parameter count; the rest is the file.  Only
// ff::InputError may leave a reader.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "foldquest/input/data_files.hpp"
#include "freeformat/writer.hpp"

namespace {

// The file the readers open: one per process, in a scratch folder.
std::string scratch_file() {
  static const std::string path = [] {
    const auto dir = std::filesystem::temp_directory_path() / ("fq_fuzz_data_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    // The console (prompts and read reports) goes nowhere.
    static std::FILE* null = std::fopen("/dev/null", "w");
    ff::console().attach(null);
    return (dir / "data.txt").string();
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string file = scratch_file();
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  std::istringstream no_console;
  ff::Reader console("-", no_console);
  fq::Session s(console);
  s.options_file = ff::Reader::from_string("opts", "'" + file + "'\n");
  const int which = data[0] % 5;
  try {
    switch (which) {
      case 0: fq::readbeds(s); break;
      case 1: fq::readdips(s); break;
      case 2: fq::readterraces(s); break;
      case 3: fq::readfaultpts(s); break;
      default:
        s.state.parameters.nparams = data[0] / 5 % 24;
        // A parameter file read with no objective question to come.
        fq::readparams(s);
        fq::raise_pending_params_error(s);
    }
  } catch (const ff::InputError&) {
  }
  return 0;
}
