#include "foldquest/input/user_input.hpp"

#include <cmath>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

#include "foldquest/input/data_files.hpp"

namespace fq {

namespace {
constexpr double pi = Constants::pi;

void say_all(std::initializer_list<std::string_view> lines) {
  for (auto l : lines) say(l);
}
}  // namespace

void say(std::string_view text) { ff::say(ff::Line() << text); }

bool file_exists(const std::string& path) {
  std::error_code ec;
  if (path.empty() || std::filesystem::is_directory(path, ec)) return false;
  std::ifstream f(path);
  return static_cast<bool>(f);
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) {
    const bool same = fs::equivalent(a, b, ec);
    return !ec && same;
  }
  // A name that does not exist yet is that file only if both names lead to
  // the same place.
  const auto ca = fs::weakly_canonical(a, ec);
  if (ec) return false;
  const auto cb = fs::weakly_canonical(b, ec);
  return !ec && ca == cb;
}

void refuse(Session& s, std::string_view message) {
  say(message);
  if (!s.file_mode()) return;
  ff::Reader& in = s.opts();
  const std::size_t n = in.line_number();
  const std::size_t line = n > 0 ? n - 1 : 0;
  std::string why(message);
  while (!why.empty() && why.back() == ' ') why.pop_back();
  throw ff::InputError(ff::InputError::Kind::bad_value,
                       in.where(line) + ": the answer '" + in.line_text(line) + "' was refused (" + why +
                           "); an options file cannot answer again, so the run stops here");
}

std::string ask_existing_file(ff::Reader& in, std::string_view prompt) {
  for (;;) {
    say(prompt);
    std::string name = in.read_word();
    if (file_exists(name)) return name;
    say("Invalid File Name");
  }
}

std::string ask_input_file(Session& s, std::string_view prompt, std::string_view what) {
  for (;;) {
    say(prompt);
    std::string name = s.opts().read_word();
    if (file_exists(name)) {
      s.inputs.push_back({std::string(what), name});
      return name;
    }
    refuse(s, "Invalid File Name");
  }
}

int ask_flag(Session& s, std::initializer_list<std::string_view> prompt) {
  for (;;) {
    say_all(prompt);
    const int v = s.opts().read_int32();
    if (v == 0 || v == 1) return v;
    refuse(s, "Invalid Command");
  }
}

void getoptionsid(Session& s) {
  for (;;) {
    say_all({"Choose source of run options (not parameter space):", "(1) Input manually", "(2) Read from file"});
    const int answer = s.console_in.read_int32();
    if (answer == 1) {
      s.state.options.options_id = 5;
      s.options_file.reset();
      return;
    }
    if (answer == 2) break;
  }
  s.state.options.options_id = 4;
  const std::string name = ask_existing_file(s.console_in, "Input file name (with extension)");
  s.options_file = ff::Reader::open_file(name);
  s.inputs.push_back({"the options file", name});
}

void getdattype(Session& s) {
  auto& o = s.state.options;
  say("Enter number of different data types: ");
  o.ndatatypes = s.opts().read_int32();
  for (;;) {
    say_all({"Data Are (list all that apply): ", "(1) beds ", "(2) dips ", "(3) points on a fault",
             "(4) marine terraces"});
    // One read of ndatatypes codes; with a count of 0 or less it passes
    // over one line and sets nothing.
    std::vector<int> codes;
    if (o.ndatatypes <= 0) {
      s.opts().read_nothing("the data types");
    } else {
      ff::Read r = s.opts().read();
      for (int i = 0; i < o.ndatatypes; ++i) codes.push_back(r.int32());
    }
    for (auto& t : o.dattypes) t = 0;
    bool ok = true;
    for (int c : codes) {
      switch (c) {
        case 1: o.dattypes[Options::dattype_beds - 1] = 1; break;
        case 2: o.dattypes[Options::dattype_dips - 1] = 1; break;
        case 3: o.dattypes[Options::dattype_faultpts - 1] = 1; break;
        case 4: o.dattypes[Options::dattype_terr - 1] = 1; break;
        default: ok = false;
      }
    }
    if (ok) return;
    refuse(s, "Invalid Command");
  }
}

namespace {
int ask_choice(Session& s, std::initializer_list<std::string_view> menu, int lo, int hi) {
  for (;;) {
    say_all(menu);
    const int v = s.opts().read_int32();
    if (v >= lo && v <= hi) return v;
    refuse(s, "Invalid Command");
  }
}
}  // namespace

void gettiptype(Session& s) {
  s.state.options.tiptosolve = ask_choice(s, {"Tip position is:", "(1) Initial", "(2) Final"}, 1, 2);
}

void getfaulttype(Session& s) {
  s.state.options.faulttype =
      ask_choice(s,
                 {"Choose Fault Type", "Trishear Faults:", "(1) Straight Fault Ramp",
                  "(2) Ramp from Horizontal Detachment", "(3) Fault with a bend in it",
                  "(4) Listric Fault (fault parallel flow)", "Kink Faults:", "(5) Parallel Fault Propagation Fold"},
                 1, 5);
}

void getmethod(Session& s) {
  s.state.options.method = ask_choice(
      s,
      {"Choose Method: ", "(1) Grid Search", "(2) Grid Monte Carlo", "(3) Monte Carlo from a normal distribution",
       "(4) Metropolis-Hastings Algorithm", "(5) Adaptive Metropolis", "(6) Robust Adaptive Metropolis",
       "(7) Adaptive Parallel Tempering"},
      1, 7);
}

void getregdip(Session& s) {
  auto& p = s.state.parameters;
  say("Enter regional dip in degrees. (Negative is down to the left, positive right)");
  p.regdipdeg = s.opts().read_real();
  p.regdip = p.regdipdeg * pi / 180;
  p.regdipsin = std::sin(p.regdip);
  p.regdipcos = std::cos(p.regdip);
  p.regslope = std::tan(p.regdip);
}

void getfittype(Session& s) {
  auto& o = s.state.options;
  auto& p = s.state.parameters;
  const bool beds = o.has(Options::dattype_beds);
  const bool dips = o.has(Options::dattype_dips);
  for (;;) {
    say_all({"Objective Function for beds and/or dips:", "(1) Fit to flat line.", "(2) Fit to known dip.",
             "(3) Fit for dip."});
    if (beds) say("(4) Fit to known line");
    if (beds || dips) say("(5) Fit for restored dips and/or bed elevations as model parameters");
    o.fittype = s.opts().read_int32();
    switch (o.fittype) {
      case 1:
        p.regdip = 0;
        p.regslope = 0;
        p.regdipsin = 0;
        p.regdipcos = 1;
        return;
      case 2:
        getregdip(s);
        return;
      case 3:
        if (beds && dips) say("Warning: Bed and dip data will be fit separately, not necessarily to the same dip.");
        return;
      case 4: {
        if (o.ntypes_present() > 1) {
          say("Note: Only beds will be fit to specified lines.");
          say("Dips, terraces, and points on the fault will not be affected.");
        }
        getregdip(s);
        const int nbeds = s.state.data.nbeds;
        ff::say(ff::Line() << "Enter y intercepts of all " << nbeds << " beds in order");
        p.intercepts = s.opts().read_reals(static_cast<std::size_t>(nbeds));
        return;
      }
      case 5:
        break;
      default:
        refuse(s, "Invalid Command");
        continue;
    }
    break;
  }

  // Fit type 5: restored-state dips and/or intercepts become parameters.
  p.nrestored_fit_params = 0;
  p.nparam_start_restored_fit = p.nparams + 1;
  for (;;) {
    say("Fit for dips? (0/1)");
    o.fit_dips = s.opts().read_int32();
    if (o.fit_dips == 0) {
      getregdip(s);
      break;
    }
    if (o.fit_dips == 1 && !beds) {
      p.nrestored_fit_params += 1;
      break;
    }
    if (o.fit_dips == 1) {
      for (;;) {
        say_all({"For bed / contact data:", "(1) Use same restored dip for all beds (and dip data).",
                 "(2) Fit dip separately for each bed."});
        o.fit_dips = s.opts().read_int32();
        if (o.fit_dips == 1) {
          p.nrestored_fit_params += 1;
          break;
        }
        if (o.fit_dips == 2) {
          p.nrestored_fit_params += s.state.data.nbeds;
          if (dips) {
            say("Restored dip for dip data will be fit as a single additional parameter");
            p.nrestored_fit_params += 1;
          }
          break;
        }
        refuse(s, "Invalid Command");
      }
      break;
    }
    refuse(s, "Invalid Command");
  }
  for (;;) {
    say("Fit for y intercepts of beds (0/1)?");
    o.fit_beds = s.opts().read_int32();
    if (o.fit_beds == 1) {
      p.nrestored_fit_params += s.state.data.nbeds;
      break;
    }
    if (o.fit_beds == 0) {
      if (o.fit_dips == 0) o.fittype = 2;
      break;
    }
    refuse(s, "Invalid Command.");
  }
  p.nparams += p.nrestored_fit_params;
  readparams(s);
}

void getterrfitinfo(Session& s) {
  auto& p = s.state.parameters;
  say("Enter original terrace surface dip at time of formation in degrees (Negative is down to the left, positive "
      "right): ");
  p.terr_dip_deg = s.opts().read_real();
  p.terr_dip = p.terr_dip_deg * pi / 180;
  p.terr_slope = std::tan(p.terr_dip);
  const int nterr = s.state.data.nterr;
  ff::say(ff::Line() << "Enter terrace inner edge elevations at time of formation for all " << nterr
                     << " terraces.");
  p.terr_orig_elev = s.opts().read_reals(static_cast<std::size_t>(nterr));
}

namespace {

// The restored-dip uncertainty question.  In file mode the answer is
// introduced by a keyword line; a file without it leaves the value 0 and
// its line to the next question.
void get_restored_dip_uncertainty(Session& s) {
  auto& o = s.state.options;
  auto& p = s.state.parameters;
  const bool file_mode = o.options_id != 5;
  say("Do you want to include a separate uncertainty in the restored state dips (which will not be propagated "
      "through restoration)? (0/1)");
  for (;;) {
    if (file_mode) {
      std::string word = s.opts().read_word();
      if (word.substr(0, 25) != "use_sigma_restored_dip") {
        s.opts().backspace();
        o.use_sigma_restored_dip = 0;
        p.sigma_restored_dip = 0;
        return;
      }
    }
    o.use_sigma_restored_dip = s.opts().read_int32();
    if (o.use_sigma_restored_dip == 0) {
      p.sigma_restored_dip = 0;
      return;
    }
    if (o.use_sigma_restored_dip == 1) {
      say("Enter Uncertainty in Restored State Dip Data: ");
      p.sigma_restored_dip = s.opts().read_real();
      return;
    }
    refuse(s, "Invalid Command");
  }
}

}  // namespace

void getresulttype(Session& s) {
  auto& o = s.state.options;
  auto& p = s.state.parameters;
  const bool beds = o.has(Options::dattype_beds);
  for (;;) {
    say_all({"Results To Calculate: ", "(1) RMS Error", "(2) Probability (unnormalized) for uncorrelated data",
             "(3) Chi-square statistic (Marsten, 2005)"});
    if (beds) say("(4) Probability (unnormalized) for data correlated along a bed");
    o.resulttype = s.opts().read_int32();
    if (o.resulttype == 1 || o.resulttype == 3) {
      if (o.method > 3) {
        refuse(s, "Error: For a Metropolis Algorithm you must choose probability");
        continue;
      }
      if (o.ntypes_present() > 1 && o.resulttype == 1) {
        refuse(s, "Error: If fitting more than one data type, you must choose probability or Chi-square.");
        continue;
      }
      if (o.resulttype == 3 && o.has(Options::dattype_faultpts)) {
        refuse(s, "Chi squared is not supported for fault points.");
        continue;
      }
      return;
    }
    if (o.resulttype == 2 || o.resulttype == 4) break;
    refuse(s, "Invalid Command");
  }

  for (;;) {
    say("Do you want to propagate errors? (0/1): ");
    o.propagate = s.opts().read_int32();
    if (o.propagate == 0 || o.propagate == 1) break;
    refuse(s, "Invalid Command");
  }
  if (beds) {
    say("Enter Uncertainty in Bed Data: ");
    p.sigma_bed = s.opts().read_real();
    if (o.resulttype == 4) {
      say_all({"Note: Only point data (beds) will be affected by correlation length.",
               "    Dips and other data will still be considered uncorrelated.",
               "Enter correlation length for bed data: ",
               "Note: Correlation length is applied in restored state, not deformed."});
      p.lc = s.opts().read_real();
    }
  }
  if (o.has(Options::dattype_dips)) {
    say("Enter Uncertainty in Dip Data: ");
    p.sigma_dip = s.opts().read_real();
    get_restored_dip_uncertainty(s);
  }
  if (o.has(Options::dattype_terr)) {
    say("Enter Uncertainty in Terrace Data: ");
    p.sigma_terr = s.opts().read_real();
    const int nterr = s.state.data.nterr;
    ff::say(ff::Line() << "Enter Uncertainty in all " << nterr << " Terrace Inner Edge Elevations");
    p.sigma_orig_elev = s.opts().read_reals(static_cast<std::size_t>(nterr));
  }
  if (o.has(Options::dattype_faultpts)) {
    say("Enter Uncertainty in Fault Point Data: ");
    p.sigma_fault = s.opts().read_real();
  }
}

void geterrsfile(Session& s) {
  for (;;) {
    say("Input file name to save errors to.");
    const std::string name = s.opts().read_word();
    if (!s.open_results) {
      // A tool that reads the run's results: the name only.
      s.results_name = s.results_override.value_or(name);
      return;
    }
    // --results replaces the answer; there is nobody to ask again.
    const std::string target = s.results_override.value_or(name);
    // Writing results over a file the run reads would destroy it (and, for
    // the options file, the record of the run).
    const Session::InputFile* clash = nullptr;
    for (const auto& f : s.inputs) {
      if (same_file(target, f.path)) {
        clash = &f;
        break;
      }
    }
    if (clash) {
      const std::string why = "Error: " + target + " is " + clash->what + " of this run; writing results to it would destroy it";
      if (s.results_override) throw ff::InputError(ff::InputError::Kind::bad_value, why.substr(7) + " (--results)");
      refuse(s, why);
      continue;
    }
    if (s.results_override) {
      if (!s.results.open(target))
        throw ff::InputError(ff::InputError::Kind::cannot_open,
                             "cannot open results file '" + target + "' (--results) for writing");
      s.results_name = target;
      return;
    }
    if (s.results.open(name)) {
      s.results_name = name;
      return;
    }
    refuse(s, "Error: cannot open " + name + " for writing");
  }
}

}  // namespace fq
