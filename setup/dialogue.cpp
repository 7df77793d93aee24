#include "setup/dialogue.hpp"

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "freeformat/writer.hpp"

namespace setup {
namespace {

void say(std::string_view text) { ff::say(ff::Line() << text); }
void say_all(std::initializer_list<std::string_view> lines) {
  for (auto l : lines) say(l);
}
void invalid() { say("Invalid Command"); }

// True when `path` names a file that can be opened for reading (the check
// foldquest makes before it opens a data or parameter file).
bool file_exists(const std::string& path) {
  std::error_code ec;
  if (path.empty() || std::filesystem::is_directory(path, ec)) return false;
  std::ifstream f(path);
  return static_cast<bool>(f);
}

// Menu numbers of the data types.
enum DataType { kBeds = 1, kDips = 2, kFaultPoints = 3, kTerraces = 4 };

// The parameters of a fault model before growth-stratum and terrace slips:
// what foldquest's fault model sets for the same option answers.
constexpr int kDefaultFaultParams = 7;

class Dialogue {
 public:
  Dialogue(ff::Reader& in, OptionsFile& out) : in_(in), out_(out) {}

  void run() {
    ask_options_file();
    ask_data_types();
    ask_data_files();
    ask_tip_position();
    ask_fault_type();
    ask_fault_options();
    ask_parameter_file();
    ask_method();
    ask_method_options();
    if (beds_ || dips_) ask_objective();
    if (terraces_) ask_terraces();
    ask_result_type();
    ask_results_file();
    out_.put_empty();  // the file ends with one empty line
    out_.commit();
  }

 private:
  // ------------------------------------------------------------ writing
  void write(const ff::Line& line) { out_.put(line); }
  void write_int(std::int32_t v) { write(ff::Line().i32(v)); }
  void write_real(double v) { write(ff::Line().f64(v)); }
  void write_name(const std::string& name) { write(ff::Line().text(name_as_answer(name))); }
  // A list on one line; an empty list gives an empty line.
  void write_reals(const std::vector<double>& v) {
    if (v.empty()) {
      out_.put_empty();
      return;
    }
    ff::Line l;
    for (double x : v) l.f64(x);
    write(l);
  }

  // ------------------------------------------------------------ reading
  // Reads `n` reals in one read; a count of 0 or less passes over one line,
  // as foldquest's read of an empty list does.
  std::vector<double> read_reals(std::int32_t n) {
    if (n <= 0) {
      in_.read_nothing("a list of real numbers");
      return {};
    }
    std::vector<double> v;  // grows with the values actually given
    ff::Read r = in_.read();
    for (std::int32_t i = 0; i < n; ++i) v.push_back(r.real());
    return v;
  }

  // Prints `prompt` and reads an integer until it lies in [lo, hi].
  std::int32_t ask_choice(std::initializer_list<std::string_view> prompt, std::int32_t lo, std::int32_t hi) {
    for (;;) {
      say_all(prompt);
      const std::int32_t v = in_.read_int32();
      if (v >= lo && v <= hi) return v;
      invalid();
    }
  }

  // Prints `prompt` and reads a file name until it names an existing file
  // that is not the options file being written (foldquest would read the
  // options as data, and the finished options file would replace the data).
  std::string ask_existing_file(std::string_view prompt) {
    for (;;) {
      say(prompt);
      std::string name = in_.read_word();
      if (!file_exists(name)) {
        say("Invalid File Name");
        continue;
      }
      if (same_file(name, out_.target())) {
        ff::say(ff::Line() << "Error: " << name << " is the options file being written; name another file");
        continue;
      }
      inputs_.push_back(name);
      return name;
    }
  }

  double ask_real(std::string_view prompt) {
    say(prompt);
    return in_.read_real();
  }

  // ------------------------------------------------------------ steps
  void ask_options_file() {
    for (;;) {
      say("Enter name of a file to save the options to: ");
      const std::string name = in_.read_word();
      // A FIFO or a device node (also behind a link) would be replaced by a
      // regular file.
      if (OptionsFile::special_file(name)) {
        ff::say(ff::Line() << "Error: " << name << " is not a regular file; name another file");
        continue;
      }
      if (out_.open(name)) return;
      ff::say(ff::Line() << "Error: cannot open " << name << " for writing");
    }
  }

  void ask_data_types() {
    say("Enter number of different data types: ");
    const std::int32_t n = in_.read_int32();
    write_int(n);
    for (;;) {
      say_all({"Data Are (list all that apply): ", "(1) beds ", "(2) dips ", "(3) points on a fault",
               "(4) marine terraces"});
      if (n < 1) {
        // An empty list: one line passes, no type is present.
        in_.read_nothing("the data types");
        out_.put_empty();
        return;
      }
      std::vector<std::int32_t> codes;
      {
        ff::Read r = in_.read();
        for (std::int32_t i = 0; i < n; ++i) codes.push_back(r.int32());
      }
      bool ok = true;
      for (auto c : codes) ok = ok && c >= kBeds && c <= kTerraces;
      if (!ok) {
        invalid();  // the count is not asked again
        continue;
      }
      ff::Line list;
      for (auto c : codes) {
        list.i32(c);
        beds_ = beds_ || c == kBeds;
        dips_ = dips_ || c == kDips;
        faultpts_ = faultpts_ || c == kFaultPoints;
        terraces_ = terraces_ || c == kTerraces;
      }
      write(list);
      return;
    }
  }

  int ntypes_present() const { return int{beds_} + int{dips_} + int{faultpts_} + int{terraces_}; }

  // The data files, always in the order beds, dips, terraces, fault points.
  // The growth strata and terraces found here are parameters of the model
  // too: foldquest appends one slip for each.
  void ask_data_files() {
    if (beds_) {
      const std::string name = ask_existing_file("Input bedding file name (with extension)");
      ngrowth_ = count_headers(name, "growth");
      nbeds_ = count_headers(name, "bed") + ngrowth_;
      write_name(name);
    }
    if (dips_) write_name(ask_existing_file("Input dip file name (with extension)"));
    if (terraces_) {
      const std::string name = ask_existing_file("Input terrace file name (with extension)");
      nterr_ = count_headers(name, "terrace");
      write_name(name);
    }
    if (faultpts_) write_name(ask_existing_file("Input fault file name (with extension)"));
  }

  void ask_tip_position() {
    tip_ = ask_choice({"Tip position is:", "(1) Initial", "(2) Final"}, 1, 2);
    write_int(tip_);
  }

  void ask_fault_type() {
    fault_type_ = ask_choice({"Choose Fault Type", "Trishear Faults", "(1) Straight Fault Ramp",
                              "(2) Ramp from Horizontal Detachment", "(3) Fault with a bend in it",
                              "(4) Listric Fault (fault parallel flow)", "Kink Faults:",
                              "(5) Parallel Fault Propagation Fold"},
                             1, 5);
    write_int(fault_type_);
  }

  std::int32_t ask_flag(std::initializer_list<std::string_view> prompt) { return ask_choice(prompt, 0, 1); }

  // The fault model's own questions; they fix its parameter count.
  void ask_fault_options() {
    static constexpr std::string_view kDetachment = "Must detachment depth be at initial fault tip depth? (0/1)";
    static constexpr std::string_view kBelowBend = "Can initial tipy be below fault bend? (0/1)";
    fault_params_ = kDefaultFaultParams;
    switch (fault_type_) {
      case 1:
        break;
      case 2: {
        const auto a = ask_flag({kDetachment});
        fault_params_ = a == 0 ? 8 : 7;
        write_int(a);
        break;
      }
      case 3:
        if (tip_ == 1) {
          const auto a = ask_flag({"Must depth of fault bend be at initial fault tip depth? (0/1)"});
          if (a == 1) {
            fault_params_ = 8;
            write_int(1);
          } else {
            fault_params_ = 9;
            const auto b = ask_flag({kBelowBend});
            write_int(0);
            write_int(b);
          }
        } else {
          fault_params_ = 9;
          write_int(ask_flag({kBelowBend}));
        }
        break;
      case 4:
        if (tip_ == 1) {
          const auto a = ask_flag({kDetachment});
          fault_params_ = a == 0 ? 9 : 8;
          write_int(a);
        } else {
          fault_params_ = 9;
        }
        break;
      case 5: {
        const auto a = ask_flag({kDetachment, "Choosing 0 may not work properly."});
        fault_params_ = a == 0 ? 6 : 5;
        write_int(a);
        break;
      }
      default:
        break;  // ask_fault_type accepts 1 to 5 only
    }
  }

  // The parameter file must hold a range line for every parameter of the
  // model (fault model, growth-stratum and terrace slips).
  void ask_parameter_file() {
    for (;;) {
      params_file_ = ask_existing_file("Input Parameter File Name (with extension)");
      const std::string wrong = check_parameter_file(params_file_, initial_model_params());
      if (wrong.empty()) break;
      ff::say(ff::Line() << "Error: " << wrong);
    }
    write_name(params_file_);
  }

  void ask_method() {
    method_ = ask_choice({"Choose Method: ", "(1) Grid Search", "(2) Grid Monte Carlo",
                          "(3) Monte Carlo from a normal distribution", "(4) Metropolis-Hastings Algorithm",
                          "(5) Adaptive Metropolis", "(6) Robust Adaptive Metropolis",
                          "(7) Adaptive Parallel Tempering"},
                         1, 7);
    write_int(method_);
  }

  std::int64_t ask_nmodels() {
    say("Enter number of models to run: ");
    return in_.read_int64();
  }

  // The parameters a specified initial model needs values for: the fault
  // model's own, then one slip per growth stratum and one per terrace.
  std::int32_t initial_model_params() const {
    return fault_params_ + (beds_ ? ngrowth_ : 0) + (terraces_ ? nterr_ : 0);
  }

  void ask_method_options() {
    switch (method_) {
      case 1:
        return;
      case 2:
        write(ff::Line().i64(ask_nmodels()));
        return;
      case 3: {
        const std::int64_t n = ask_nmodels();
        const std::string name = ask_existing_file("Enter filename to read proposal distribution from: ");
        write(ff::Line().i64(n));
        write_name(name);
        return;
      }
      default:
        break;
    }
    // The Markov-chain methods.
    write(ff::Line().i64(ask_nmodels()));
    const auto initial = ask_choice({"Should initial model be (1) random or (2) specified?"}, 1, 2);
    if (initial == 1) {
      write_int(1);
    } else {
      const std::int32_t n = initial_model_params();
      ff::say(ff::Line() << "Enter initial values for all " << n << "  parameters: ");
      const auto values = read_reals(n);
      write_int(2);
      write_reals(values);
    }
    if (method_ == 5) {
      say("Enter model number after which to begin using adapted covariance matrix");
      write_int(in_.read_int32());
    } else if (method_ == 7) {
      for (;;) {
        say("Enter number of temperature levels to use: ");
        const std::int32_t levels = in_.read_int32();
        if (levels >= 2) {
          write_int(levels);
          break;
        }
        say("Error: Must have 2 or more levels for APT algorithm.");
      }
    }
  }

  double ask_regional_dip() {
    return ask_real("Enter regional dip in degrees. (Negative is down to the left, positive right)");
  }

  // The objective for beds and dips.
  void ask_objective() {
    for (;;) {
      say_all({"Objective Function: ", "(1) Fit to flat line.", "(2) Fit to known dip.", "(3) Fit for dip."});
      if (beds_) say("(4) Fit to known line");
      say("(5) Fit for restored dips and/or bed elevations as model parameters");
      const std::int32_t fit = in_.read_int32();
      switch (fit) {
        case 1:
          write_int(1);
          return;
        case 2: {
          const double dip = ask_regional_dip();
          write_int(2);
          write_real(dip);
          return;
        }
        case 3:
          if (beds_) say("Warning: If there is more than one bed, each bed will be fit separately for dip.");
          write_int(3);
          return;
        case 4: {
          // Accepted without beds too, as foldquest accepts it.
          if (ntypes_present() > 1) {
            say("Note: Only beds will be fit to specified lines.");
            say("Dips, terraces, and points on the fault will not be affected.");
          }
          const double dip = ask_regional_dip();
          std::int32_t k = 0;
          for (;;) {
            say("Enter number of beds: ");
            k = in_.read_int32();
            // foldquest reads one intercept per bed of the bed file.
            if (!beds_ || k == nbeds_) break;
            ff::say(ff::Line() << "Error: the bed file holds " + std::to_string(nbeds_) + " beds");
          }
          ff::say(ff::Line() << "Enter y intercepts of all " << k << " beds in order");
          const auto intercepts = read_reals(k);
          write_int(4);
          write_real(dip);
          write_reals(intercepts);
          return;
        }
        case 5:
          ask_restored_fit();
          return;
        default:
          invalid();
      }
    }
  }

  // Fit type 5.  Only accepted answers are written: foldquest ends a run
  // from an options file at a refused answer.
  void ask_restored_fit() {
    write_int(5);
    std::int32_t restored = 0;  // restored-state parameters
    for (;;) {
      say("Fit for dips? (0/1)");
      const std::int32_t fit_dips = in_.read_int32();
      if (fit_dips == 0) {
        write_int(fit_dips);
        write_real(ask_regional_dip());
        break;
      }
      if (fit_dips == 1) {
        write_int(fit_dips);
        if (!beds_) {
          restored += 1;
          break;
        }
        for (;;) {
          say_all({"For bed / contact data:", "(1) Use same restored dip for all beds (and dip data).",
                   "(2) Fit dip separately for each bed."});
          const std::int32_t per_bed = in_.read_int32();
          if (per_bed == 1) {
            write_int(per_bed);
            restored += 1;
            break;
          }
          if (per_bed == 2) {
            write_int(per_bed);
            restored += nbeds_;
            if (dips_) {
              say("Restored dip for dip data will be fit as a single additional parameter");
              restored += 1;
            }
            break;
          }
          invalid();
        }
        break;
      }
      invalid();
    }
    for (;;) {
      say("Fit for y intercepts of beds?");
      const std::int32_t fit_beds = in_.read_int32();
      if (fit_beds == 0 || fit_beds == 1) {
        write_int(fit_beds);
        if (fit_beds == 1) restored += nbeds_;
        break;
      }
      say("Invalid Command.");
    }
    // foldquest reads the parameter file a second time, with the restored-
    // state parameters added: it must hold their range lines too.
    std::string name = params_file_;
    for (;;) {
      const std::string wrong = check_parameter_file(name, initial_model_params() + restored);
      if (wrong.empty()) break;
      ff::say(ff::Line() << "Error: " << wrong);
      name = ask_existing_file("Input Parameter File Name (with extension)");
    }
    write_name(name);
  }

  void ask_terraces() {
    write_real(ask_real("Enter original terrace surface dip at time of formation in degrees (Negative is down to "
                        "the left, positive right): "));
    for (;;) {
      say("Enter number of terraces");
      nterr_answer_ = in_.read_int32();
      // foldquest reads one elevation (and one uncertainty) per terrace of the file.
      if (nterr_answer_ == nterr_) break;
      ff::say(ff::Line() << "Error: the terrace file holds " + std::to_string(nterr_) + " terraces");
    }
    ff::say(ff::Line() << "Enter terrace inner edge elevations at time of formation for all " << nterr_answer_
                       << " terraces.");
    write_reals(read_reals(nterr_answer_));
  }

  void ask_result_type() {
    std::int32_t r = 0;
    for (;;) {
      say_all({"Results To Calculate: ", "(1) RMS Error", "(2) Probability (unnormalized) for uncorrelated data",
               "(3) Chi-square statistic (Marsten, 2005)"});
      if (beds_) say("(4) Probability (unnormalized) for data correlated along a bed");
      r = in_.read_int32();
      if (r == 1 || r == 3) {
        if (method_ > 3) {
          say("Error: For a Metropolis Algorithm you must choose probability");
        } else if (ntypes_present() > 1 && r == 1) {
          say("Error: If fitting more than one data type, you must choose probability.");
        } else if (r == 3 && faultpts_) {
          say("Chi squared is not supported for fault points.");
        } else {
          write_int(r);
          return;
        }
        continue;
      }
      if (r == 2 || r == 4) break;
      invalid();
    }

    write_int(r);
    write_int(ask_flag({"Do you want to propagate errors? (0/1): "}));
    if (beds_) {
      write_real(ask_real("Enter Uncertainty in Bed Data: "));
      if (r == 4) write_real(ask_real("Enter correlation length for bed data: "));
    }
    if (dips_) {
      write_real(ask_real("Enter Uncertainty in Dip Data: "));
      const auto separate = ask_flag({"Do you want to include a separate uncertainty in the restored state dips "
                                      "(which will not be propagated through restoration)? (0/1) "});
      // Only the answer 1 is written, behind its keyword line; without the
      // keyword foldquest takes the restored-dip uncertainty as 0.
      if (separate == 1) {
        write(ff::Line().text("use_sigma_restored_dip"));
        write_int(1);
        write_real(ask_real("Enter Uncertainty in Restored State Dip Data: "));
      }
    }
    if (terraces_) {
      write_real(ask_real("Enter Uncertainty in Terrace Data: "));
      ff::say(ff::Line() << "Enter Uncertainty in all " << nterr_answer_ << " Terrace Inner Edge Elevations");
      write_reals(read_reals(nterr_answer_));
    }
    if (faultpts_) write_real(ask_real("Enter Uncertainty in Fault Point Data: "));
  }

  // foldquest would replace a data, parameter or options file named here
  // with its results.
  void ask_results_file() {
    for (;;) {
      say("Input file name to save errors to.");
      const std::string name = in_.read_word();
      bool clash = same_file(name, out_.target());
      for (const auto& f : inputs_) clash = clash || same_file(name, f);
      if (!clash) {
        write_name(name);
        return;
      }
      ff::say(ff::Line() << "Error: " << name << " is a file this run reads; the results would destroy it");
    }
  }

  ff::Reader& in_;
  OptionsFile& out_;

  bool beds_ = false, dips_ = false, faultpts_ = false, terraces_ = false;
  std::vector<std::string> inputs_;  // every file named as an input
  int nbeds_ = 0;                 // "bed" and "growth" headers in the bed file
  int ngrowth_ = 0;               // "growth" headers in the bed file
  int nterr_ = 0;                 // "terrace" headers in the terrace file
  std::int32_t nterr_answer_ = 0;  // the terrace count the user gave
  std::int32_t tip_ = 0;
  std::int32_t fault_type_ = 0;
  std::int32_t fault_params_ = kDefaultFaultParams;
  std::int32_t method_ = 0;
  std::string params_file_;
};

}  // namespace

std::string name_as_answer(const std::string& name) {
  const bool plain = !name.empty() && name.front() != '\'' && name.front() != '"' &&
                     name.find_first_of(" \t\r\f\v,/") == std::string::npos;
  if (plain) return name;
  std::string q = "'";
  for (char c : name) {
    if (c == '\'') q.push_back('\'');
    q.push_back(c);
  }
  q.push_back('\'');
  return q;
}

bool same_file(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) {
    const bool same = fs::equivalent(a, b, ec);
    return !ec && same;
  }
  const auto ca = fs::weakly_canonical(a, ec);
  if (ec) return false;
  const auto cb = fs::weakly_canonical(b, ec);
  return !ec && ca == cb;
}

std::string check_parameter_file(const std::string& path, int nranges) {
  const std::string wrong =
      "the parameter file " + path + " does not hold the " + std::to_string(nranges) + " range lines this model needs";
  try {
    auto in = ff::Reader::open_file(path);
    for (int i = 0; i < nranges; ++i) {
      if (in->at_end()) return wrong + " (it ends after " + std::to_string(i) + ")";
      ff::Read r = in->read();
      for (int k = 0; k < 3; ++k) r.real();
    }
  } catch (const ff::InputError& e) {
    return wrong + " (" + e.what() + ")";
  }
  return {};
}

int count_headers(const std::string& path, const std::string& keyword) {
  auto in = ff::Reader::open_file(path);
  int n = 0;
  std::vector<std::string> words;
  const std::size_t lines = in->line_count();
  for (std::size_t i = 0; i < lines; ++i) {
    // A line foldquest cannot split (an unclosed quote) is no header.
    if (in->split_line(i, words) && !words.empty() && words.front() == keyword) ++n;
  }
  return n;
}

void run_dialogue(ff::Reader& in, OptionsFile& out) { Dialogue(in, out).run(); }

}  // namespace setup
