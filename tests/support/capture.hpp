// Test helpers: capture the console and the results file in temporary files.
#pragma once

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "freeformat/writer.hpp"

namespace fqtest {

// Everything written to a FILE* opened with tmpfile(), read back.
inline std::string read_all(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  return out;
}

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) lines.push_back(l);
  return lines;
}

// Sends the console to a temporary file for the lifetime of the object.
class ConsoleCapture {
 public:
  ConsoleCapture() : f_(std::tmpfile()) { ff::console().attach(f_); }
  ~ConsoleCapture() {
    ff::console().attach(stdout);
    std::fclose(f_);
  }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  std::vector<std::string> lines() const { return split_lines(read_all(f_)); }
  std::string text() const { return read_all(f_); }

 private:
  std::FILE* f_;
};

// A results sink over a temporary file.
class ResultsCapture {
 public:
  ResultsCapture() : f_(std::tmpfile()) { sink.attach(f_); }
  ~ResultsCapture() {
    sink.close();
    std::fclose(f_);
  }
  ResultsCapture(const ResultsCapture&) = delete;
  ResultsCapture& operator=(const ResultsCapture&) = delete;
  std::vector<std::string> lines() {
    sink.flush();
    return split_lines(read_all(f_));
  }
  // Each line split into its numbers.
  std::vector<std::vector<double>> rows() {
    std::vector<std::vector<double>> out;
    for (const auto& l : lines()) {
      std::istringstream in(l);
      std::vector<double> row;
      std::string word;
      while (in >> word) row.push_back(word == "NaN" ? std::stod("nan") : std::stod(word));
      out.push_back(row);
    }
    return out;
  }
  ff::Sink sink;

 private:
  std::FILE* f_;
};

}  // namespace fqtest
