#include "foldquest/input/data_files.hpp"

#include <cmath>
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

[[noreturn]] void bad_file(const ff::Reader& in, std::size_t line, const std::string& what) {
  throw ff::InputError(ff::InputError::Kind::bad_value, in.where(line) + ": " + what);
}

[[noreturn]] void bad_line(const ff::Reader& in, std::size_t line, const std::string& what,
                           const std::string& found) {
  bad_file(in, line, "expected " + what + ", found '" + found + "'");
}

// Splits every line of a data file.  Blank lines are dropped.  A line that
// cannot be split (an unclosed quote) is an input error: dropping it would
// lose a point without a word.
std::vector<DataLine> split_lines(ff::Reader& in) {
  std::vector<DataLine> out;
  for (std::size_t i = 0; i < in.line_count(); ++i) {
    std::vector<std::string> words;
    if (!in.split_line(i, words)) bad_file(in, i, "a quote is not closed on this line");
    if (!words.empty()) out.push_back({i, std::move(words)});
  }
  return out;
}

// A coordinate or dip: a finite number.  A NaN, an infinity or a value
// beyond the double range (1e400) would make every score a NaN.
double real_of(const ff::Reader& in, const DataLine& l, std::size_t k, const char* what) {
  if (k >= l.words.size()) bad_line(in, l.index, what, "end of line");
  double v = 0;
  if (!ff::parse_real(l.words[k], v)) bad_line(in, l.index, what, l.words[k]);
  if (!std::isfinite(v)) {
    bad_file(in, l.index,
             std::string("expected ") + what + ", found '" + l.words[k] + "', which is not a finite number");
  }
  return v;
}

[[noreturn]] void no_data(const ff::Reader& in, const std::string& what) {
  throw ff::InputError(ff::InputError::Kind::bad_value,
                       "file '" + in.name() + "' holds no " + what + "; every model would score as a perfect fit");
}

Vec2 point_of(const ff::Reader& in, const DataLine& l) {
  return {real_of(in, l, 0, "x (a real number)"), real_of(in, l, 1, "y (a real number)")};
}

// Beds and terraces: header lines "<keyword> <name>" each followed by the
// points of that record.
std::vector<Bed> read_records(ff::Reader& in, bool terraces, int& ngrowth,
                              std::vector<std::size_t>* header_lines_out = nullptr) {
  const auto lines = split_lines(in);
  std::vector<Bed> records;
  std::vector<std::size_t> header_lines;
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
      header_lines.push_back(l.index);
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
  const char* what = terraces ? "terrace" : "bed";
  if (records.empty()) no_data(in, std::string(what) + " (no '" + (terraces ? "terrace" : "bed' or 'growth") + "' header line)");
  for (std::size_t k = 0; k < records.size(); ++k) {
    if (records[k].pts.empty()) bad_file(in, header_lines[k], std::string("this ") + what + " has no points");
    records[k].npts = static_cast<int>(records[k].pts.size());
  }
  if (header_lines_out != nullptr) *header_lines_out = std::move(header_lines);
  return records;
}

std::string padded(const std::string& name) {
  std::string s = name;
  if (s.size() < kNameLength) s.append(kNameLength - s.size(), ' ');
  return s;
}

std::unique_ptr<ff::Reader> open_data_file(Session& s, std::string_view prompt, std::string_view what) {
  return ff::Reader::open_file(ask_input_file(s, prompt, what));
}

}  // namespace

void readbeds(Session& s) {
  auto in = open_data_file(s, "Input bedding file name (with extension)", "the bed file");
  auto& d = s.state.data;
  d.beds = read_records(*in, false, d.ngrowth);
  d.nbeds = static_cast<int>(d.beds.size());
  ff::say(ff::Line() << "Reading " << d.nbeds << " beds");
  say("Name:        number of points:");
  for (const auto& b : d.beds) ff::say(ff::Line() << padded(b.ident) << b.npts);
}

BedFile read_bed_file(const std::string& path) {
  auto in = ff::Reader::open_file(path);
  BedFile f;
  std::vector<std::size_t> header_lines;
  f.beds = read_records(*in, false, f.ngrowth, &header_lines);
  for (const std::size_t line : header_lines) f.header_at.push_back(in->where(line));
  return f;
}

void readterraces(Session& s) {
  auto in = open_data_file(s, "Input terrace file name (with extension)", "the terrace file");
  say("Note: First point in terrace file is considered to be inner edge elevation.");
  auto& d = s.state.data;
  int unused = 0;
  d.terraces = read_records(*in, true, unused);
  d.nterr = static_cast<int>(d.terraces.size());
  ff::say(ff::Line() << "Read " << d.nterr << " terraces");
}

void readdips(Session& s) {
  auto in = open_data_file(s, "Input dip file name (with extension)", "the dip file");
  auto& d = s.state.data;
  d.dips.clear();
  d.dip_pos.clear();
  const auto lines = split_lines(*in);
  if (lines.empty()) no_data(*in, "dip");
  for (const auto& l : lines) {
    d.dip_pos.push_back(point_of(*in, l));
    d.dips.push_back(real_of(*in, l, 2, "a dip in degrees (a real number)") * pi / 180);
  }
  d.ndips = static_cast<int>(d.dips.size());
  ff::say(ff::Line() << "Read " << d.ndips << " dips");
}

void readfaultpts(Session& s) {
  auto in = open_data_file(s, "Input fault file name (with extension)", "the fault-point file");
  auto& d = s.state.data;
  d.faultpts.clear();
  const auto lines = split_lines(*in);
  if (lines.empty()) no_data(*in, "point on the fault");
  for (const auto& l : lines) d.faultpts.push_back(point_of(*in, l));
  d.nfaultpts = static_cast<int>(d.faultpts.size());
  ff::say(ff::Line() << "Read " << d.nfaultpts << " points on the fault");
}

void readparams(Session& s) {
  auto& p = s.state.parameters;
  s.params_file = ask_input_file(s, "Input Parameter File Name (with extension)", "the parameter file");
  auto in = ff::Reader::open_file(s.params_file);
  ++s.params_readings;
  // A later reading replaces everything, including an error held back.
  s.pending_params_error.reset();
  s.pending_params_warning.reset();
  const auto n = static_cast<std::size_t>(p.nparams > 0 ? p.nparams : 0);
  p.mins.assign(n, 0.0);
  p.maxs.assign(n, 0.0);
  p.steps.assign(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    {
      ff::Read r = in->read();
      p.mins[i] = r.real();
      p.maxs[i] = r.real();
      p.steps[i] = r.real();
    }
    const std::size_t line = in->line_number() - 1;
    // An upper bound below the lower one leaves no model (a grid of -1
    // models); a NaN makes every model a NaN.
    if (std::isnan(p.mins[i]) || std::isnan(p.maxs[i]) || std::isnan(p.steps[i])) {
      bad_file(*in, line, "the range of parameter " + std::to_string(i + 1) + " holds a NaN");
    }
    if (p.maxs[i] < p.mins[i]) {
      bad_file(*in, line,
               "the upper bound of parameter " + std::to_string(i + 1) + " lies below its lower bound ('" +
                   in->line_text(line) + "')");
    }
  }
  if (n >= 5 && p.maxs[4] == 90.0) say("Error: phi = 90 degrees, not allowed, using 89 degrees");

  // The slip sense and increment.  In a file meant for a fit-type-5 run the
  // first reading (with fewer parameters) finds a range line here; the
  // second reading is the one that counts, so the error (and the warning
  // about unused lines) waits until the dialogue shows whether that second
  // reading will come.
  const auto& o = s.state.options;
  const bool fit_question_to_come =
      s.params_readings == 1 && (o.has(Options::dattype_beds) || o.has(Options::dattype_dips));
  try {
    // The sense only says which way the fault moves: any value but 1 or -1
    // would scale every slip.  It is checked before the signed increment is
    // formed.
    const int sense = in->read_int32();
    const std::size_t sense_line = in->line_number() - 1;
    if (sense != 1 && sense != -1) {
      bad_file(*in, sense_line,
               "the sense of slip must be 1 or -1, found '" + in->line_text(sense_line) + "'");
    }
    // The models step through the slip by this increment: it must be a
    // positive finite number (a negative one runs the kinematics the wrong
    // way for ever longer).
    const double inc = in->read_real();
    const std::size_t inc_line = in->line_number() - 1;
    if (!(inc > 0) || !std::isfinite(inc)) {
      bad_file(*in, inc_line,
               "the slip increment must be a positive finite number, found '" + in->line_text(inc_line) + "'");
    }
    p.slip_sense = -sense;
    p.increment = p.slip_sense * inc;
    p.v0 = p.increment;
    // Lines the model does not use: most often a range line too many,
    // which has shifted the sense and increment onto the wrong lines.
    for (std::size_t i = in->line_number(); i < in->line_count(); ++i) {
      if (in->line_text(i).empty()) continue;
      const std::string warning = "Warning: " + in->where(i) + " and after are not used (this run needs " +
                                  std::to_string(n) + " range lines, the sense of slip and the slip increment)";
      if (fit_question_to_come) s.pending_params_warning = warning;
      else say(warning);
      break;
    }
  } catch (const ff::InputError& e) {
    if (!fit_question_to_come) throw;
    s.pending_params_error = e;
  }
}

void raise_pending_params_error(Session& s) {
  if (s.pending_params_warning) {
    say(*s.pending_params_warning);
    s.pending_params_warning.reset();
  }
  if (s.pending_params_error) {
    const ff::InputError e = *s.pending_params_error;
    s.pending_params_error.reset();
    throw e;
  }
}

}  // namespace fq
