// Number and table formatting shared by the command-line tools (summary,
// model, plot).  Locale-free: numbers go through std::to_chars.
#pragma once

#include <charconv>
#include <cmath>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace fq::tool {

// Writes `text` to the file `path`; false, with "<tool>: cannot write
// '<path>'" on `err`, when it could not be written whole.
inline bool write_text_file(const std::string& path, const std::string& text, const char* tool, std::ostream& err) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  f.close();
  if (!f) {
    err << tool << ": cannot write '" << path << "'\n";
    return false;
  }
  return true;
}

// Shortest text that reads back as the same double (CSV files: nothing is
// lost between a tool and the reader of its file).  NaN is "nan", the
// infinities "inf" and "-inf", as pandas reads them.
inline std::string exact(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// `digits` significant digits, for tables a person reads.
inline std::string sig(double v, int digits = 6) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, digits);
  return std::string(buf, r.ptr);
}

// `decimals` digits after the point.
inline std::string fixed(double v, int decimals) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

// A CSV field: quoted when it holds a comma, quote or line break.
inline std::string csv_field(const std::string& s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

inline std::string csv_row(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) line += ',';
    line += csv_field(fields[i]);
  }
  return line + "\n";
}

// Rows laid out in columns: the first left-aligned, the others right-aligned,
// two blanks apart.
inline std::string table(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> width;
  for (const auto& r : rows)
    for (std::size_t j = 0; j < r.size(); ++j) {
      if (width.size() <= j) width.push_back(0);
      width[j] = std::max(width[j], r[j].size());
    }
  std::string out;
  for (const auto& r : rows) {
    std::string line;
    for (std::size_t j = 0; j < r.size(); ++j) {
      const std::string pad(width[j] - r[j].size(), ' ');
      line += j == 0 ? r[j] + pad : "  " + pad + r[j];
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

}  // namespace fq::tool
