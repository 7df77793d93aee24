#include "foldquest/driver/tool_model.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <ostream>
#include <stdexcept>

#include "foldquest/driver/load_run.hpp"
#include "foldquest/driver/param_names.hpp"
#include "foldquest/driver/tool_text.hpp"
#include "foldquest/fit/err_and_prob.hpp"
#include "foldquest/driver/choose.hpp"
#include "foldquest/input/data_files.hpp"
#include "foldquest/math/geometry.hpp"
#include "foldquest/math/random.hpp"
#include "foldquest/report/diagnostics.hpp"
#include "foldquest/report/results_file.hpp"
#include "freeformat/reader.hpp"

namespace fq::tool {

namespace {

constexpr double pi = Constants::pi;

// The largest extent of the data, in x or in y: how far the fault lines are
// drawn down-dip so that they cross the whole section.
double data_extent(const RunState& st) {
  double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
  auto take = [&](const PointSet& pts) {
    for (const Vec2& q : pts) {
      x0 = std::min(x0, q.x);
      x1 = std::max(x1, q.x);
      y0 = std::min(y0, q.y);
      y1 = std::max(y1, q.y);
    }
  };
  const auto& o = st.options;
  const auto& d = st.data;
  if (o.has(Options::dattype_beds))
    for (const Bed& b : d.beds) take(b.pts);
  if (o.has(Options::dattype_terr))
    for (const Bed& b : d.terraces) take(b.pts);
  if (o.has(Options::dattype_dips)) take(d.dip_pos);
  if (o.has(Options::dattype_faultpts)) take(d.faultpts);
  const double e = std::max(x1 - x0, y1 - y0);
  return std::isfinite(e) && e > 0 ? e : 1000.0;
}

std::vector<double> params_of_model(const RunState& st, const results::ResultsFile& f, std::size_t i) {
  const Parameters& p = st.parameters;
  if (!f.grid) {
    const auto v = f.params(i);
    return {v.begin(), v.end()};
  }
  if (st.options.method != 1)
    throw results::ResultsError(f.path + " holds one score per line (a grid search), but the options do not run one");
  if (static_cast<std::int64_t>(f.size()) > p.nmodels)
    throw results::ResultsError(f.path + " has more lines than the parameter grid has models");
  std::vector<double> params(static_cast<std::size_t>(p.nparams));
  const auto kback = makekback(p.mins, p.maxs, p.steps);
  modelparamsfromnum(static_cast<std::int64_t>(i + 1), params, kback, p.mins, p.steps);
  return params;
}

bool write_text(const std::string& path, const std::string& text, std::ostream& err) {
  return write_text_file(path, text, "foldquest model", err);
}

const char* kind_name(KeptSet::Kind k) {
  switch (k) {
    case KeptSet::Kind::bed: return "bed";
    case KeptSet::Kind::growth: return "growth";
    case KeptSet::Kind::terrace: return "terrace";
  }
  return "bed";
}

const char* const kTypeNames[] = {"beds", "dips", "terraces", "fault_points"};

}  // namespace

std::vector<double> chosen_params(const RunState& st, const std::string& results_default, const ModelChoice& c,
                                  double& score_in_file, std::string& described) {
  const auto n = static_cast<std::size_t>(st.parameters.nparams);
  const bool from_best = !c.best_results.empty();
  const bool from_row = c.row > 0 || !c.row_results.empty();
  const int given = (c.params.empty() ? 0 : 1) + (from_best ? 1 : 0) + (from_row ? 1 : 0);
  score_in_file = std::nan("");
  if (given != 1) throw std::invalid_argument("give exactly one of --params, --best and --row");
  if (!c.params.empty()) {
    if (c.params.size() != n)
      throw std::invalid_argument("the run has " + std::to_string(n) + " parameters; --params gives " +
                                  std::to_string(c.params.size()));
    described = "the given parameters";
    return c.params;
  }
  const std::string path = from_best ? c.best_results : (c.row_results.empty() ? results_default : c.row_results);
  const results::ResultsFile f = results::read_results(path, n);
  std::size_t i = 0;
  if (from_best) {
    const std::int64_t b = results::best_index(f, results::goal_of_result_type(st.options.resulttype));
    if (b < 0) throw results::ResultsError("no model in " + path + " could be evaluated");
    i = static_cast<std::size_t>(b);
    described = "the best model of " + path;
  } else {
    if (c.row < 1 || static_cast<std::size_t>(c.row) > f.size())
      throw std::invalid_argument("--row " + std::to_string(c.row) + ": " + path + " holds models 1 to " +
                                  std::to_string(f.size()));
    i = static_cast<std::size_t>(c.row - 1);
    described = "model " + std::to_string(i + 1) + " of " + path;
  }
  described += f.grid ? " (grid model " + std::to_string(i + 1) + ")" : " (line " + std::to_string(i + 1) + ")";
  score_in_file = f.scores[i];
  return params_of_model(st, f, i);
}

double restore_section(const RunState& state, std::span<const double> params, RestoredSection& section) {
  section = RestoredSection{};
  section.reach = 2 * data_extent(state);
  double output = failed_model_output(state.options.resulttype);
  {
    KeepRestored keep(section);
    choose_fault_model(state, output, params);
  }
  return output;
}

bool write_section(const RunState& st, const RestoredSection& sec, double total, const std::string& prefix,
                   std::ostream& err) {
  const auto& o = st.options;
  const auto& d = st.data;
  const bool with_cov = std::any_of(sec.sets.begin(), sec.sets.end(), [](const KeptSet& s) { return !s.cov.empty(); });

  std::vector<std::string> head{"set", "kind", "name", "index", "x", "y"};
  if (with_cov) head.insert(head.end(), {"sxx", "sxy", "syy"});
  head.insert(head.end(), {"x_obs", "y_obs"});
  std::string pts = csv_row(head);
  for (const KeptSet& s : sec.sets) {
    const auto& source = s.kind == KeptSet::Kind::terrace ? d.terraces : d.beds;
    const PointSet& obs = source.at(static_cast<std::size_t>(s.number - 1)).pts;
    for (std::size_t k = 0; k < s.pts.size(); ++k) {
      std::vector<std::string> r{std::to_string(s.number), kind_name(s.kind), s.name, std::to_string(k + 1),
                                 exact(s.pts[k].x), exact(s.pts[k].y)};
      if (with_cov) {
        if (k < s.cov.size())
          r.insert(r.end(), {exact(s.cov[k].a), exact(s.cov[k].b), exact(s.cov[k].d)});
        else
          r.insert(r.end(), {"nan", "nan", "nan"});
      }
      r.insert(r.end(), {exact(obs[k].x), exact(obs[k].y)});
      pts += csv_row(r);
    }
  }
  if (o.has(Options::dattype_faultpts))
    for (std::size_t k = 0; k < d.faultpts.size(); ++k) {
      const Vec2 q = d.faultpts[k];
      std::vector<std::string> r{"1", "fault point", "fault points", std::to_string(k + 1), exact(q.x), exact(q.y)};
      if (with_cov) r.insert(r.end(), {"nan", "nan", "nan"});
      r.insert(r.end(), {exact(q.x), exact(q.y)});
      pts += csv_row(r);
    }

  std::string dips = csv_row({"index", "x", "y", "dip", "sigma", "x_obs", "y_obs", "dip_obs"});
  if (o.has(Options::dattype_dips))
    for (std::size_t k = 0; k < sec.dips.size() && k < d.dips.size(); ++k) {
      const Vec2 at = k < sec.dip_pos.size() ? sec.dip_pos[k] : Vec2{std::nan(""), std::nan("")};
      const double sigma = k < sec.dip_sigma.size() ? sec.dip_sigma[k] : std::nan("");
      dips += csv_row({std::to_string(k + 1), exact(at.x), exact(at.y), exact(sec.dips[k]), exact(sigma),
                       exact(d.dip_pos[k].x), exact(d.dip_pos[k].y), exact(d.dips[k] * 180 / pi)});
    }

  std::string fault = csv_row({"part", "index", "x", "y"});
  for (const FaultPart& f : sec.fault)
    for (std::size_t k = 0; k < f.pts.size(); ++k)
      fault += csv_row({f.name, std::to_string(k + 1), exact(f.pts[k].x), exact(f.pts[k].y)});

  std::string scores = csv_row({"type", "score"});
  for (int t = 1; t <= Options::ndatatypes_poss; ++t)
    if (o.has(t)) scores += csv_row({kTypeNames[t - 1], exact(sec.scores[static_cast<std::size_t>(t - 1)])});
  scores += csv_row({"total", exact(total)});

  return write_text(prefix + "_points.csv", pts, err) && write_text(prefix + "_dips.csv", dips, err) &&
         write_text(prefix + "_fault.csv", fault, err) && write_text(prefix + "_scores.csv", scores, err);
}

int restore(const RestoreRequest& req, std::ostream& out, std::ostream& err) {
  try {
    const LoadedRun run = load_run(req.options);
    const RunState& st = run.state;
    double in_file = 0;
    std::string described;
    const std::vector<double> params = chosen_params(st, run.results_name, req.model, in_file, described);
    RestoredSection sec;
    const double total = restore_section(st, params, sec);
    diag::finish();

    const auto names = param_names(st);
    out << "model: " << described << "\n";
    std::vector<std::vector<std::string>> rows;
    for (std::size_t j = 0; j < params.size(); ++j) rows.push_back({"  " + names[j].name, exact(params[j]), names[j].unit});
    out << table(rows);
    if (!sec.scored) {
      err << "foldquest model restore: the model fails (score " << exact(total)
          << "): a growth or terrace slip above the slip, a geometry the fault model refuses, or kinematics that "
             "could not be stepped\n";
      return 1;
    }
    out << "\nscores (the model's total is their sum):\n";
    rows.clear();
    for (int t = 1; t <= Options::ndatatypes_poss; ++t)
      if (st.options.has(t)) rows.push_back({"  " + std::string(kTypeNames[t - 1]), exact(sec.scores[static_cast<std::size_t>(t - 1)])});
    rows.push_back({"  total", exact(total)});
    out << table(rows);
    if (!write_section(st, sec, total, req.out_prefix, err)) return 1;
    out << "written: " << req.out_prefix << "_points.csv, _dips.csv, _fault.csv, _scores.csv\n";
    // A model taken from a results file must score what the search wrote.
    if (req.model.params.empty()) {
      if (in_file == total) {
        out << "score in the results file: " << exact(in_file) << " (the same)\n";
      } else {
        err << "foldquest model restore: the results file holds the score " << exact(in_file)
            << " for this model, not " << exact(total) << ": the file was not written with these options and data\n";
        return 1;
      }
    }
    return 0;
  } catch (const ff::InputError& e) {
    err << "foldquest model restore: input error: " << e.what() << "\n";
    return 2;
  } catch (const results::ResultsError& e) {
    err << "foldquest model restore: " << e.what() << "\n";
    return 2;
  } catch (const GridError& e) {
    err << "foldquest model restore: grid numbering: " << e.what() << "\n";
    return 2;
  } catch (const std::invalid_argument& e) {
    err << "foldquest model restore: " << e.what() << "\n";
    return 2;
  }
}

std::vector<PointSet> level_beds(const Levels& lv) {
  std::vector<PointSet> beds;
  const auto n = static_cast<std::size_t>(lv.points);
  for (const double y : lv.levels) {
    PointSet pts(n);
    for (std::size_t k = 0; k < n; ++k) {
      // The ends exactly; no sum of steps drifts.
      const double x = k + 1 == n ? lv.x1 : lv.x0 + (lv.x1 - lv.x0) * static_cast<double>(k) / static_cast<double>(n - 1);
      pts[k] = {x, y};
    }
    beds.push_back(std::move(pts));
  }
  return beds;
}

void add_noise(std::vector<PointSet>& beds, double sigma, std::uint32_t seed) {
  UniformGenerator gen;
  gen.seed_from(seed);
  const BindGenerator bind(gen);
  for (PointSet& bed : beds) {
    // x and y of each point, one Box-Muller pair per point.
    std::vector<double> mu;
    mu.reserve(2 * bed.size());
    for (const Vec2& p : bed) mu.insert(mu.end(), {p.x, p.y});
    const std::vector<double> sd(mu.size(), sigma);
    std::vector<double> noisy(mu.size());
    randnormal(static_cast<int>(mu.size()), mu, sd, noisy);
    for (std::size_t k = 0; k < bed.size(); ++k) bed[k] = {noisy[2 * k], noisy[2 * k + 1]};
  }
}

std::string bed_file_text(const std::vector<std::string>& names, const std::vector<PointSet>& beds) {
  std::string text;
  for (std::size_t i = 0; i < beds.size(); ++i) {
    text += "bed " + names.at(i) + "\n";
    for (const Vec2& p : beds[i]) text += exact(p.x) + " " + exact(p.y) + "\n";
  }
  return text;
}

int forward(const ForwardRequest& req, std::ostream& out, std::ostream& err) {
  try {
    const LoadedRun run = load_run(req.options);
    RunState st = run.state;
    double in_file = 0;
    std::string described;
    const std::vector<double> params = chosen_params(st, run.results_name, req.model, in_file, described);
    if (req.increment) {
      // The forward's own step: its magnitude from the request, its sign
      // the restoration's (the hook reverses it).
      st.parameters.increment = st.parameters.slip_sense * *req.increment;
      st.parameters.v0 = st.parameters.increment;
    }

    // The beds before faulting.
    std::vector<std::string> names;
    std::vector<PointSet> beds;
    if (!req.beds_file.empty()) {
      const BedFile f = read_bed_file(req.beds_file);
      for (std::size_t i = 0; i < f.beds.size(); ++i) {
        if (f.beds[i].growth)
          throw ff::InputError(ff::InputError::Kind::bad_value,
                               f.header_at.at(i) + ": a growth stratum; forward deforms beds laid down before "
                                                   "faulting by the whole slip (write their header as 'bed')");
        names.push_back(f.beds[i].ident.empty() ? "bed" + std::to_string(i + 1) : f.beds[i].ident);
        beds.push_back(f.beds[i].pts);
      }
    } else {
      beds = level_beds(req.levels);
      for (std::size_t i = 0; i < beds.size(); ++i) names.push_back("level" + std::to_string(i + 1));
    }

    out << "model: " << described << "\n";
    const bool ok = choose_fault_forward(st, params, beds);
    diag::finish();
    const bool finite = std::all_of(beds.begin(), beds.end(), [](const PointSet& b) {
      return std::all_of(b.begin(), b.end(), [](Vec2 p) { return std::isfinite(p.x) && std::isfinite(p.y); });
    });
    if (!ok || !finite) {
      err << "foldquest model forward: the model fails: "
          << (ok ? "a point comes out as no finite number"
                 : "a geometry the fault model refuses, or kinematics that could not be stepped")
          << "\n";
      return 1;
    }
    if (req.noise > 0) {
      std::uint32_t seed = 0;
      if (req.seed) {
        seed = *req.seed;
      } else {
        seed = clock_seed();
        err << "foldquest: random seed " << seed << "\n";
      }
      add_noise(beds, req.noise, seed);
    }
    if (!write_text(req.out, bed_file_text(names, beds), err)) return 1;
    std::size_t npts = 0;
    for (const PointSet& b : beds) npts += b.size();
    out << "written: " << req.out << " (" << beds.size() << (beds.size() == 1 ? " bed, " : " beds, ") << npts
        << " points";
    if (req.noise > 0) out << ", noise sigma " << exact(req.noise);
    out << ")\n";
    return 0;
  } catch (const ff::InputError& e) {
    err << "foldquest model forward: input error: " << e.what() << "\n";
    return 2;
  } catch (const results::ResultsError& e) {
    err << "foldquest model forward: " << e.what() << "\n";
    return 2;
  } catch (const GridError& e) {
    err << "foldquest model forward: grid numbering: " << e.what() << "\n";
    return 2;
  } catch (const std::invalid_argument& e) {
    err << "foldquest model forward: " << e.what() << "\n";
    return 2;
  }
}

}  // namespace fq::tool
