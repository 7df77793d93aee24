#include "foldquest/input/data_files.hpp"

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "foldquest/input/user_input.hpp"

namespace fq {

namespace {

constexpr double pi = Constants::pi;
constexpr std::size_t kNameLength = 20;  // characters of a bed's name that are kept

// One non-blank line of a data file, split into its values.
struct DataLine {
  std::size_t index;  // 0-based line index in the file
  std::vector<std::string> words;
};

// Splits every line of a data file.  Blank lines are dropped.  A line that
// cannot be split (an unclosed quote) is reported with `problem` and dropped.
std::vector<DataLine> split_lines(ff::Reader& in, const std::function<void(std::size_t)>& problem) {
  std::vector<DataLine> out;
  for (std::size_t i = 0; i < in.line_count(); ++i) {
    std::vector<std::string> words;
    if (!in.split_line(i, words)) {
      problem(i);
      continue;
    }
    if (!words.empty()) out.push_back({i, std::move(words)});
  }
  return out;
}

[[noreturn]] void bad_line(const ff::Reader& in, std::size_t line, const std::string& what,
                           const std::string& found) {
  throw ff::InputError(ff::InputError::Kind::bad_value,
                       in.where(line) + ": expected " + what + ", found '" + found + "'");
}

double real_of(const ff::Reader& in, const DataLine& l, std::size_t k, const char* what) {
  if (k >= l.words.size()) bad_line(in, l.index, what, "end of line");
  double v = 0;
  if (!ff::parse_real(l.words[k], v)) bad_line(in, l.index, what, l.words[k]);
  return v;
}

Vec2 point_of(const ff::Reader& in, const DataLine& l) {
  return {real_of(in, l, 0, "x (a real number)"), real_of(in, l, 1, "y (a real number)")};
}

// Beds and terraces: header lines "<keyword> <name>" each followed by the
// points of that record.
std::vector<Bed> read_records(ff::Reader& in, bool terraces, int& ngrowth) {
  const auto lines = split_lines(in, [](std::size_t) { say("Problem Encountered in file."); });
  std::vector<Bed> records;
  ngrowth = 0;
  for (const auto& l : lines) {
    const std::string& key = l.words[0];
    const bool header = terraces ? key == "terrace" : (key == "bed" || key == "growth");
    if (header) {
      Bed b;
      b.growth = key == "growth";
      if (b.growth) ++ngrowth;
      b.ident = l.words.size() > 1 ? l.words[1].substr(0, kNameLength) : std::string();
      records.push_back(std::move(b));
      continue;
    }
    if (records.empty()) {
      throw ff::InputError(ff::InputError::Kind::bad_value,
                           in.where(l.index) + ": a point comes before the first '" +
                               (terraces ? std::string("terrace") : std::string("bed' or 'growth")) +
                               "' header line");
    }
    records.back().pts.push_back(point_of(in, l));
  }
  for (auto& b : records) b.npts = static_cast<int>(b.pts.size());
  return records;
}

std::string padded(const std::string& name) {
  std::string s = name;
  if (s.size() < kNameLength) s.append(kNameLength - s.size(), ' ');
  return s;
}

std::unique_ptr<ff::Reader> open_data_file(Session& s, std::string_view prompt) {
  return ff::Reader::open_file(ask_existing_file(s.opts(), prompt));
}

}  // namespace

void readbeds(Session& s) {
  auto in = open_data_file(s, "Input bedding file name (with extension)");
  auto& d = s.state.data;
  d.beds = read_records(*in, false, d.ngrowth);
  d.nbeds = static_cast<int>(d.beds.size());
  ff::say(ff::Line() << "Reading " << d.nbeds << " beds");
  say("Name:        number of points:");
  for (const auto& b : d.beds) ff::say(ff::Line() << padded(b.ident) << b.npts);
}

void readterraces(Session& s) {
  auto in = open_data_file(s, "Input terrace file name (with extension)");
  say("Note: First point in terrace file is considered to be inner edge elevation.");
  auto& d = s.state.data;
  int unused = 0;
  d.terraces = read_records(*in, true, unused);
  d.nterr = static_cast<int>(d.terraces.size());
  ff::say(ff::Line() << "Read " << d.nterr << " terraces");
}

void readdips(Session& s) {
  auto in = open_data_file(s, "Input dip file name (with extension)");
  auto& d = s.state.data;
  d.dips.clear();
  d.dip_pos.clear();
  const auto lines = split_lines(*in, [&d](std::size_t) {
    ff::say(ff::Line() << "Problem Encountered in file on line" << static_cast<int>(d.dips.size() + 1));
  });
  for (const auto& l : lines) {
    d.dip_pos.push_back(point_of(*in, l));
    d.dips.push_back(real_of(*in, l, 2, "a dip in degrees (a real number)") * pi / 180);
  }
  d.ndips = static_cast<int>(d.dips.size());
  ff::say(ff::Line() << "Read " << d.ndips << " dips");
}

void readfaultpts(Session& s) {
  auto in = open_data_file(s, "Input fault file name (with extension)");
  auto& d = s.state.data;
  d.faultpts.clear();
  const auto lines = split_lines(*in, [](std::size_t) { say("Problem Encountered in file."); });
  for (const auto& l : lines) d.faultpts.push_back(point_of(*in, l));
  d.nfaultpts = static_cast<int>(d.faultpts.size());
  ff::say(ff::Line() << "Read " << d.nfaultpts << " points on the fault");
}

void readparams(Session& s) {
  auto& p = s.state.parameters;
  s.params_file = ask_existing_file(s.opts(), "Input Parameter File Name (with extension)");
  auto in = ff::Reader::open_file(s.params_file);
  ++s.params_readings;
  // A later reading replaces everything, including an error held back.
  s.pending_params_error.reset();
  const auto n = static_cast<std::size_t>(p.nparams > 0 ? p.nparams : 0);
  p.mins.assign(n, 0.0);
  p.maxs.assign(n, 0.0);
  p.steps.assign(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    ff::Read r = in->read();
    p.mins[i] = r.real();
    p.maxs[i] = r.real();
    p.steps[i] = r.real();
  }
  if (n >= 5 && p.maxs[4] == 90.0) say("Error: phi = 90 degrees, not allowed, using 89 degrees");

  // The slip sense and increment.  In a file meant for a fit-type-5 run the
  // first reading (with fewer parameters) finds a range line here; the
  // second reading is the one that counts, so the error waits until the
  // dialogue shows whether that second reading will come.
  try {
    const int sense = in->read_int32();
    const double inc = in->read_real();
    // The models step through the slip by this increment: a zero or
    // non-finite one gives no finite stepping.
    if (sense == 0 || !std::isfinite(inc) || inc == 0) {
      throw ff::InputError(ff::InputError::Kind::bad_value,
                           in->where(in->line_number() - 1) +
                               ": the sense of slip must not be 0 and the slip increment must be a finite, "
                               "non-zero number");
    }
    p.slip_sense = sense == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : -sense;
    p.increment = p.slip_sense * inc;
    p.v0 = p.increment;
  } catch (const ff::InputError& e) {
    const auto& o = s.state.options;
    const bool fit_question_to_come =
        s.params_readings == 1 && (o.has(Options::dattype_beds) || o.has(Options::dattype_dips));
    if (!fit_question_to_come) throw;
    s.pending_params_error = e;
  }
}

void raise_pending_params_error(Session& s) {
  if (s.pending_params_error) {
    const ff::InputError e = *s.pending_params_error;
    s.pending_params_error.reset();
    throw e;
  }
}

}  // namespace fq
