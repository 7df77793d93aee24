#include "foldquest/driver/tool_summary.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <ostream>
#include <sstream>

#include "foldquest/driver/load_run.hpp"
#include "foldquest/driver/param_names.hpp"
#include "foldquest/driver/tool_text.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/report/convergence.hpp"
#include "foldquest/report/results_file.hpp"
#include "freeformat/reader.hpp"

namespace fq::tool {

namespace {

using results::Goal;
using results::ResultsFile;

// The longest misfit profile kept for one parameter.
constexpr std::int64_t kMaxProfileValues = 100000;

const char* method_name(int method) {
  switch (method) {
    case 1: return "grid search";
    case 2: return "grid Monte Carlo";
    case 3: return "Monte Carlo from a normal distribution";
    case 4: return "Metropolis-Hastings";
    case 5: return "Adaptive Metropolis";
    case 6: return "Robust Adaptive Metropolis";
    case 7: return "Adaptive Parallel Tempering";
    default: return "unknown method";
  }
}

const char* score_name(int resulttype) {
  switch (resulttype) {
    case 1: return "RMS error (lowest is best)";
    case 2: return "log-probability (highest is best)";
    case 3: return "chi-square (lowest is best)";
    case 4: return "log-probability of correlated beds (highest is best)";
    default: return "score";
  }
}

bool is_free(const Parameters& p, std::size_t j) { return p.mins[j] != p.maxs[j]; }

// One model's parameters with the ranges of the parameter file (lower
// bound, upper bound, and the step: the grid step, or the proposal step of
// the Markov chains).  Then the parameter line: the values as `foldquest
// model restore --params` and `foldquest plot --params` take them.
void print_model(std::ostream& out, const std::vector<ParamName>& names, const Parameters& p,
                 std::span<const double> params) {
  std::vector<std::vector<std::string>> rows{{"  parameter", "value", "unit", "lower", "upper", "step"}};
  std::string line;
  for (std::size_t j = 0; j < params.size() && j < names.size(); ++j) {
    const bool ranged = j < p.mins.size() && j < p.maxs.size() && j < p.steps.size();
    rows.push_back({"  " + names[j].name, exact(params[j]), names[j].unit, ranged ? exact(p.mins[j]) : "",
                    ranged ? exact(p.maxs[j]) : "", ranged ? exact(p.steps[j]) : ""});
    line += (line.empty() ? "" : " ") + exact(params[j]);
  }
  out << table(rows) << "  parameter line: " << line << "\n";
}

bool write_file(const std::string& path, const std::string& text, std::ostream& err) {
  return write_text_file(path, text, "foldquest summary", err);
}

// Grid search and the Monte Carlo methods.
int grid_summary(const LoadedRun& run, const SummaryRequest& req, const std::vector<ParamName>& names,
                 std::ostream& out, std::ostream& err) {
  const RunState& st = run.state;
  const Parameters& p = st.parameters;
  const auto n = static_cast<std::size_t>(p.nparams);
  const Goal goal = results::goal_of_result_type(st.options.resulttype);
  if (req.results.size() > 1) {
    err << "foldquest summary: give one results file for " << method_name(st.options.method) << "\n";
    return 2;
  }
  const std::string path = req.results.empty() ? run.results_name : req.results[0];
  const ResultsFile f = results::read_results(path, n);
  const std::vector<std::int64_t> kback = makekback(p.mins, p.maxs, p.steps);

  std::vector<double> params(n);
  auto params_of = [&](std::size_t i) -> std::span<const double> {
    if (!f.grid) return f.params(i);
    modelparamsfromnum(static_cast<std::int64_t>(i + 1), params, kback, p.mins, p.steps);
    return params;
  };

  out << "results file: " << path << " (" << f.size() << " models, " << method_name(st.options.method) << ")\n";
  out << "score: " << score_name(st.options.resulttype) << "\n";
  if (f.grid) {
    if (st.options.method != 1) {
      err << "foldquest summary: " << path << " holds one score per line (a grid search), but the options run "
          << method_name(st.options.method) << "\n";
      return 2;
    }
    if (static_cast<std::int64_t>(f.size()) > p.nmodels) {
      err << "foldquest summary: " << path << " has " << f.size() << " lines but the grid of the parameter file only "
          << p.nmodels << " models: it was not made with these options\n";
      return 2;
    }
    if (static_cast<std::int64_t>(f.size()) < p.nmodels)
      out << "warning: the file holds " << f.size() << " of the " << p.nmodels
          << " grid models (an unfinished run?)\n";
  }
  std::size_t nfailed = 0;
  for (double s : f.scores) nfailed += results::failed_score(s, goal) ? 1 : 0;
  out << "failed models: " << nfailed << "\n";
  const std::int64_t best = results::best_index(f, goal);
  if (best < 0) {
    err << "foldquest summary: no model in " << path << " could be evaluated\n";
    return 1;
  }
  const auto top = results::top_indices(f, goal, req.top);
  for (std::size_t r = 0; r < top.size(); ++r) {
    const std::size_t b = top[r];
    out << "\n" << (r == 0 ? std::string("best model") : "rank " + std::to_string(r + 1)) << ": "
        << (f.grid ? "grid model " : "line ") << b + 1 << ", score " << exact(f.scores[b]) << "\n";
    const auto bp = params_of(b);
    print_model(out, names, p, std::vector<double>(bp.begin(), bp.end()));
  }

  // Misfit profiles: the best score at each grid value of each free parameter.
  struct Profile {
    std::size_t param;
    std::vector<double> best;
    std::vector<std::int64_t> count;
  };
  std::vector<Profile> profiles;
  for (std::size_t j = 0; j < n; ++j) {
    if (!is_free(p, j)) continue;
    std::int64_t nv = 0;
    try {
      nv = grid_count(p.mins[j], p.maxs[j], p.steps[j], static_cast<int>(j + 1));
    } catch (const GridError&) {
      nv = 0;
    }
    if (nv < 1 || nv > kMaxProfileValues) {
      out << "(no profile for " << names[j].name << ": its range and step give no usable grid)\n";
      continue;
    }
    profiles.push_back({j, std::vector<double>(static_cast<std::size_t>(nv), std::nan("")),
                        std::vector<std::int64_t>(static_cast<std::size_t>(nv), 0)});
  }
  for (std::size_t i = 0; i < f.size(); ++i) {
    const double s = f.scores[i];
    if (results::failed_score(s, goal)) continue;
    const auto v = params_of(i);
    for (Profile& pr : profiles) {
      const std::size_t j = pr.param;
      const double k = std::round((v[j] - p.mins[j]) / p.steps[j]);
      if (!(k >= 0 && k < static_cast<double>(pr.best.size()))) continue;
      const auto kk = static_cast<std::size_t>(k);
      ++pr.count[kk];
      if (std::isnan(pr.best[kk]) || results::better(s, pr.best[kk], goal)) pr.best[kk] = s;
    }
  }
  std::string csv = csv_row({"parameter", "unit", "value", "best_score", "models"});
  out << "\nmisfit profiles: the best score at each value of each free parameter"
      << (f.grid || st.options.method == 2 ? "" : " (draws taken to the nearest grid value)") << "\n";
  for (const Profile& pr : profiles) {
    const ParamName& nm = names[pr.param];
    out << "\n" << nm.name << " (" << nm.unit << ")\n";
    std::vector<std::vector<std::string>> rows{{"  value", "best_score", "models"}};
    for (std::size_t k = 0; k < pr.best.size(); ++k) {
      const double value = p.mins[pr.param] + static_cast<double>(k) * p.steps[pr.param];
      rows.push_back({"  " + sig(value, 8), sig(pr.best[k], 8), std::to_string(pr.count[k])});
      csv += csv_row({nm.name, nm.unit, exact(value), exact(pr.best[k]), std::to_string(pr.count[k])});
    }
    out << table(rows);
  }
  if (!req.csv.empty() && !write_file(req.csv, csv, err)) return 1;
  return 0;
}

// The Markov chains.
int chain_summary(const LoadedRun& run, const SummaryRequest& req, const std::vector<ParamName>& names,
                  std::ostream& out, std::ostream& err) {
  const RunState& st = run.state;
  const Parameters& p = st.parameters;
  const auto n = static_cast<std::size_t>(p.nparams);
  const Goal goal = results::goal_of_result_type(st.options.resulttype);
  const std::vector<std::string> paths = req.results.empty() ? std::vector<std::string>{run.results_name} : req.results;

  std::vector<ResultsFile> files;
  for (const auto& path : paths) {
    files.push_back(results::read_results(path, n));
    if (files.back().grid) {
      err << "foldquest summary: " << path << " holds one score per line, not chain records\n";
      return 2;
    }
  }
  std::size_t steps = files[0].size();
  for (const auto& f : files) steps = std::min(steps, f.size());
  std::size_t burn = 0;
  if (req.burn_frac >= 0) {
    if (!(req.burn_frac < 1)) {
      err << "foldquest summary: --burn-frac must lie in [0, 1)\n";
      return 2;
    }
    burn = static_cast<std::size_t>(std::floor(req.burn_frac * static_cast<double>(steps)));
  } else if (req.burn > 0) {
    burn = static_cast<std::size_t>(req.burn);
  }
  if (burn >= steps) {
    err << "foldquest summary: a burn-in of " << burn << " leaves nothing of chains of " << steps << " steps\n";
    return 2;
  }
  const std::size_t kept = steps - burn;

  out << "chains: " << files.size() << " (" << method_name(st.options.method) << ")\n";
  for (std::size_t c = 0; c < files.size(); ++c) out << "  chain " << c + 1 << ": " << files[c].path << ", "
                                                      << files[c].size() << " steps\n";
  if (std::any_of(files.begin(), files.end(), [&](const ResultsFile& f) { return f.size() != steps; }))
    out << "note: the chains differ in length; each is cut to the shortest, " << steps << " steps\n";
  out << "burn-in: " << burn << " steps of each chain left out, " << kept << " kept\n";
  out << "score: " << score_name(st.options.resulttype) << "\n";

  // Acceptance: the share of kept steps that moved the chain.
  out << "acceptance rate:";
  for (const auto& f : files) {
    std::size_t moved = 0;
    for (std::size_t i = burn + 1; i < steps; ++i) {
      const auto a = f.params(i - 1), b = f.params(i);
      if (!std::equal(a.begin(), a.end(), b.begin())) ++moved;
    }
    out << " " << (kept > 1 ? fixed(static_cast<double>(moved) / static_cast<double>(kept - 1), 3) : "nan");
  }
  out << "\n";

  // The best models over all chains (the whole chains, burn-in included):
  // each chain's best, merged in score order (of equal scores the earlier
  // chain first), each state once.
  struct Pick {
    std::size_t c, i;
  };
  std::vector<Pick> picks;
  for (std::size_t c = 0; c < files.size(); ++c)
    for (std::size_t i : results::top_indices(files[c], goal, req.top)) picks.push_back({c, i});
  auto score_of = [&](const Pick& k) { return files[k.c].scores[k.i]; };
  std::stable_sort(picks.begin(), picks.end(),
                   [&](const Pick& a, const Pick& b) { return results::better(score_of(a), score_of(b), goal); });
  std::vector<Pick> best;
  for (const Pick& k : picks) {
    if (best.size() == req.top) break;
    const auto pk = files[k.c].params(k.i);
    const bool repeat = std::any_of(best.begin(), best.end(), [&](const Pick& b) {
      const auto pb = files[b.c].params(b.i);
      return score_of(b) == score_of(k) && std::equal(pk.begin(), pk.end(), pb.begin(), pb.end());
    });
    if (!repeat) best.push_back(k);
  }
  for (std::size_t r = 0; r < best.size(); ++r) {
    out << "\n" << (r == 0 ? std::string("best model") : "rank " + std::to_string(r + 1)) << ": chain "
        << best[r].c + 1 << ", step " << best[r].i + 1 << ", score " << exact(score_of(best[r])) << "\n";
    const auto bp = files[best[r].c].params(best[r].i);
    print_model(out, names, p, std::vector<double>(bp.begin(), bp.end()));
  }
  if (best.empty()) out << "\nno model in the chains could be evaluated\n";

  // Diagnostics per free parameter and for the score.
  std::vector<std::size_t> free;
  std::vector<std::string> fixed_names;
  for (std::size_t j = 0; j < n; ++j) {
    if (is_free(p, j))
      free.push_back(j);
    else
      fixed_names.push_back(names[j].name + " = " + exact(p.mins[j]));
  }
  auto draws_of = [&](std::size_t j, bool score) {
    conv::Chains ch(files.size());
    for (std::size_t c = 0; c < files.size(); ++c) {
      ch[c].reserve(kept);
      for (std::size_t i = burn; i < steps; ++i) ch[c].push_back(score ? files[c].scores[i] : files[c].params(i)[j]);
    }
    return ch;
  };
  const std::vector<std::string> columns{"mean", "sd", "q5", "q50", "q95", "ess_bulk", "ess_tail", "r_hat"};
  std::vector<std::vector<std::string>> rows;
  {
    std::vector<std::string> head{"parameter", "unit"};
    head.insert(head.end(), columns.begin(), columns.end());
    rows.push_back(head);
  }
  std::string csv = csv_row(rows[0]);
  std::vector<std::string> warnings;
  const double ess_limit = kEssPerChainLimit * static_cast<double>(files.size());
  auto add = [&](const std::string& name, const std::string& unit, const conv::Chains& ch) {
    const conv::Summary s = conv::summarize(ch);
    rows.push_back({name, unit, sig(s.mean), sig(s.sd, 4), sig(s.q5), sig(s.q50), sig(s.q95), fixed(s.ess_bulk, 0),
                    fixed(s.ess_tail, 0), fixed(s.r_hat, 3)});
    csv += csv_row({name, unit, exact(s.mean), exact(s.sd), exact(s.q5), exact(s.q50), exact(s.q95),
                    exact(s.ess_bulk), exact(s.ess_tail), exact(s.r_hat)});
    if (std::isnan(s.r_hat)) {
      warnings.push_back(name + ": no r_hat or ESS (it did not move, or the chains are too short)");
      return;
    }
    if (s.r_hat > kRhatLimit)
      warnings.push_back(name + ": r_hat " + fixed(s.r_hat, 3) + " is above " + fixed(kRhatLimit, 2) +
                         ": the chains have not converged to one distribution");
    const double ess = std::min(s.ess_bulk, s.ess_tail);
    if (ess < ess_limit)
      warnings.push_back(name + ": ESS " + fixed(ess, 0) + " is below " + fixed(ess_limit, 0) +
                         " (100 per chain): too few independent draws for its mean and quantiles");
  };
  for (std::size_t j : free) add(names[j].name, names[j].unit, draws_of(j, false));
  add("score", "", draws_of(0, true));
  out << "\n" << table(rows);
  if (!fixed_names.empty()) {
    out << "fixed (not sampled):";
    for (const auto& s : fixed_names) out << " " << s << ";";
    out << "\n";
  }
  if (files.size() == 1) out << "note: one chain: r_hat compares its two halves only; run several chains\n";
  if (warnings.empty()) {
    out << "\nno warnings: every r_hat is at most " << fixed(kRhatLimit, 2) << " and every ESS at least 100 per chain\n";
  } else {
    out << "\n";
    for (const auto& w : warnings) out << "warning: " << w << "\n";
  }

  if (!req.csv.empty() && !write_file(req.csv, csv, err)) return 1;
  if (!req.draws.empty()) {
    std::vector<std::string> head{"chain", "step", "score"};
    for (std::size_t j = 0; j < n; ++j) head.push_back(names[j].name);
    std::string d = csv_row(head);
    for (std::size_t c = 0; c < files.size(); ++c)
      for (std::size_t i = burn; i < steps; ++i) {
        std::vector<std::string> r{std::to_string(c + 1), std::to_string(i + 1), exact(files[c].scores[i])};
        for (double v : files[c].params(i)) r.push_back(exact(v));
        d += csv_row(r);
      }
    if (!write_file(req.draws, d, err)) return 1;
  }
  return 0;
}

}  // namespace

int summary(const SummaryRequest& req, std::ostream& out, std::ostream& err) {
  try {
    const LoadedRun run = load_run(req.options);
    const auto names = param_names(run.state);
    out << "options file: " << req.options << "\n";
    const int method = run.state.options.method;
    if (method >= 4) return chain_summary(run, req, names, out, err);
    return grid_summary(run, req, names, out, err);
  } catch (const ff::InputError& e) {
    err << "foldquest summary: input error: " << e.what() << "\n";
    return 2;
  } catch (const results::ResultsError& e) {
    err << "foldquest summary: " << e.what() << "\n";
    return 2;
  } catch (const GridError& e) {
    err << "foldquest summary: grid numbering: " << e.what() << "\n";
    return 2;
  }
}

}  // namespace fq::tool
