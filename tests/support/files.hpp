// Reading the files tests write and compare: whole, by lines, by words.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fqtest {

// The whole file, byte for byte ("" when it cannot be read).
inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The lines of a file, without their ends.
inline std::vector<std::string> lines_of(const std::filesystem::path& p) {
  std::vector<std::string> out;
  std::ifstream in(p);
  std::string l;
  while (std::getline(in, l)) out.push_back(l);
  return out;
}

// The words of a line.
inline std::vector<std::string> words_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

}  // namespace fqtest
