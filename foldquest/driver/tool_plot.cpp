#include "foldquest/driver/tool_plot.hpp"

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "foldquest/driver/load_run.hpp"
#include "foldquest/driver/param_names.hpp"
#include "foldquest/report/temp_dir.hpp"
#include "foldquest/driver/tool_summary.hpp"
#include "foldquest/report/diagnostics.hpp"
#include "foldquest/report/results_file.hpp"
#include "freeformat/reader.hpp"

extern char** environ;

namespace fq::tool {

namespace fs = std::filesystem;

namespace {

// A scratch folder, removed afterwards.
using TempDir = fq::TempDir;

// Runs argv[0] found on the PATH; its exit status, or -1 when it could not
// be started or did not exit normally.  `quiet` sends its output to
// /dev/null.
int run_program(const std::vector<std::string>& argv, bool quiet = false) {
  std::vector<char*> a;
  for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, a[0], &actions, nullptr, a.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string kSystemPython = "/usr/bin/python3";

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The names of --pairs as the script takes them (comma-separated); throws
// std::invalid_argument for a name the run has no parameter of.
std::string checked_pairs(const std::vector<std::string>& pairs, const std::vector<ParamName>& names) {
  if (pairs.size() == 1 && pairs[0] == "none") return "none";
  std::string list;
  for (const auto& p : pairs) {
    if (p != "score" && std::none_of(names.begin(), names.end(), [&](const ParamName& n) { return n.name == p; })) {
      std::string known;
      for (const auto& n : names) known += (known.empty() ? "" : ",") + n.name;
      throw std::invalid_argument("--pairs: the run has no parameter '" + p + "' (its parameters: " + known + ")");
    }
    list += (list.empty() ? "" : ",") + p;
  }
  return list;
}

}  // namespace

std::string plot_script_path() {
  if (const char* env = std::getenv("FOLDQUEST_PLOT_SCRIPT"); env && *env) return env;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path installed = exe.parent_path().parent_path() / "share" / "foldquest" / "foldquest_plot.py";
    if (fs::exists(installed, ec)) return installed.string();
  }
#ifdef FOLDQUEST_PYTHON_DIR
  return std::string(FOLDQUEST_PYTHON_DIR) + "/foldquest_plot.py";
#else
  return "foldquest_plot.py";
#endif
}

int plot(const PlotRequest& req, std::ostream& out, std::ostream& err) {
  std::string ext;
  if (ends_with(req.out, ".png")) ext = "png";
  if (ends_with(req.out, ".svg")) ext = "svg";
  if (ext.empty()) {
    err << "foldquest plot: --out must name a .png or .svg file\n";
    return 2;
  }
  try {
    const LoadedRun run = load_run(req.options);
    const RunState& st = run.state;
    const std::string pair_list = checked_pairs(req.pairs, param_names(st));
    const std::vector<std::string> files = req.results.empty() ? std::vector<std::string>{run.results_name}
                                                               : req.results;

    // The model drawn: the one asked for, else the best over the files.
    ModelChoice choice = req.model;
    if (choice.params.empty() && choice.row == 0) {
      const auto goal = results::goal_of_result_type(st.options.resulttype);
      double best_score = std::nan("");
      for (const auto& f : files) {
        const auto rf = results::read_results(f, static_cast<std::size_t>(st.parameters.nparams));
        const std::int64_t b = results::best_index(rf, goal);
        if (b >= 0 && (choice.best_results.empty() ||
                       results::better(rf.scores[static_cast<std::size_t>(b)], best_score, goal))) {
          choice.best_results = f;
          best_score = rf.scores[static_cast<std::size_t>(b)];
        }
      }
      if (choice.best_results.empty()) {
        err << "foldquest plot: no model in the results could be evaluated\n";
        return 1;
      }
    } else if (choice.row > 0 && choice.row_results.empty()) {
      choice.row_results = files[0];
    }
    double in_file = 0;
    std::string described;
    const std::vector<double> params = chosen_params(st, run.results_name, choice, in_file, described);

    TempDir tmp;
    const std::string prefix = (tmp.path() / "section").string();
    RestoredSection sec;
    const double total = restore_section(st, params, sec);
    diag::finish();
    if (!sec.scored) {
      err << "foldquest plot: " << described << " fails (score " << total << "); nothing to draw\n";
      return 1;
    }
    if (!write_section(st, sec, total, prefix, err)) return 1;

    // The chains' draws, or the misfit profiles: none for a model given by
    // --params before any results exist (a section alone).
    std::error_code ec;
    const bool section_only = !choice.params.empty() && req.results.empty() && !fs::exists(run.results_name, ec);
    SummaryRequest sreq;
    sreq.options = req.options;
    sreq.results = files;
    sreq.burn = req.burn;
    sreq.burn_frac = req.burn_frac;
    const bool chains = st.options.method >= 4;
    const std::string extra = (tmp.path() / (chains ? "draws.csv" : "profile.csv")).string();
    (chains ? sreq.draws : sreq.csv) = extra;
    std::ostringstream quiet_out, summary_err;
    if (!section_only) {
      if (const int status = summary(sreq, quiet_out, summary_err); status != 0) {
        err << summary_err.str();
        return status;
      }
    }

    std::vector<std::string> argv{"python3", plot_script_path(), "--out", req.out, "--section", prefix};
    if (!section_only) {
      argv.push_back(chains ? "--draws" : "--profile");
      argv.push_back(extra);
    }
    if (!req.pairs.empty() && chains) {
      argv.push_back("--pairs");
      argv.push_back(pair_list);
    }
    argv.push_back("--title");
    argv.push_back(req.options + ": " + described);
    // $FOLDQUEST_PYTHON, else python3 of the PATH; Debian's matplotlib
    // belongs to the system's /usr/bin/python3, which is taken instead when
    // the first has no matplotlib (a pyenv or conda python3 ahead on the PATH).
    if (const char* py = std::getenv("FOLDQUEST_PYTHON"); py && *py) {
      argv[0] = py;
    } else if (run_program({"python3", "-c", "import matplotlib"}, true) != 0 && fs::exists(kSystemPython, ec)) {
      argv[0] = kSystemPython;
    }
    const int status = run_program(argv);
    if (status != 0) {
      err << "foldquest plot: the plotting script " << argv[1]
          << (status < 0 ? " could not be run (is python3 installed?)"
                         : status == 3 ? " needs matplotlib (Debian: apt-get install python3-matplotlib)"
                                       : " failed")
          << "\n";
      return 1;
    }
    if (!fs::exists(req.out, ec) || fs::file_size(req.out, ec) == 0) {
      err << "foldquest plot: the script wrote no picture to " << req.out << "\n";
      return 1;
    }
    out << "written: " << req.out << " (" << described << ")\n";
    return 0;
  } catch (const ff::InputError& e) {
    err << "foldquest plot: input error: " << e.what() << "\n";
    return 2;
  } catch (const results::ResultsError& e) {
    err << "foldquest plot: " << e.what() << "\n";
    return 2;
  } catch (const std::invalid_argument& e) {
    err << "foldquest plot: " << e.what() << "\n";
    return 2;
  } catch (const std::runtime_error& e) {
    err << "foldquest plot: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace fq::tool
