#include "foldquest/driver/run_state_dump.hpp"

#include <sstream>

#include "freeformat/writer.hpp"

namespace fq {
namespace {

struct Dumper {
  std::ostringstream out;
  void operator()(const char* name, double v) { out << name << " = " << ff::format_double(v) << '\n'; }
  void operator()(const char* name, int v) { out << name << " = " << v << '\n'; }
  void operator()(const char* name, long v) { out << name << " = " << v << '\n'; }
  void operator()(const char* name, long long v) { out << name << " = " << v << '\n'; }
  void operator()(const char* name, bool v) { out << name << " = " << (v ? 'T' : 'F') << '\n'; }
  void operator()(const char* name, const std::string& v) { out << name << " = '" << v << "'\n"; }
  void operator()(const char* name, const std::vector<double>& v) {
    out << name << " [" << v.size() << "] =";
    for (double x : v) out << ' ' << ff::format_double(x);
    out << '\n';
  }
  void operator()(const char* name, const PointSet& v) {
    out << name << " [" << v.size() << "] =";
    for (const auto& p : v) out << " (" << ff::format_double(p.x) << ',' << ff::format_double(p.y) << ')';
    out << '\n';
  }
  void operator()(const char* name, const std::vector<Bed>& v) {
    out << name << " [" << v.size() << "]\n";
    for (std::size_t i = 0; i < v.size(); ++i) {
      const std::string prefix = std::string(name) + "(" + std::to_string(i + 1) + ").";
      (*this)((prefix + "ident").c_str(), v[i].ident);
      (*this)((prefix + "growth").c_str(), v[i].growth);
      (*this)((prefix + "npts").c_str(), v[i].npts);
      (*this)((prefix + "pts").c_str(), v[i].pts);
    }
  }
};

}  // namespace

std::string dump(const RunState& s, bool with_source) {
  Dumper d;
  const auto& o = s.options;
  for (int k = 1; k <= Options::ndatatypes_poss; ++k)
    d(("dattypes(" + std::to_string(k) + ")").c_str(), o.dattypes[k - 1]);
  d("ndatatypes", o.ndatatypes);
  if (with_source) d("options_id", o.options_id);
  d("tiptosolve", o.tiptosolve);
  d("faulttype", o.faulttype);
  d("method", o.method);
  d("fittype", o.fittype);
  d("fit_dips", o.fit_dips);
  d("fit_beds", o.fit_beds);
  d("resulttype", o.resulttype);
  d("propagate", o.propagate);
  d("use_sigma_restored_dip", o.use_sigma_restored_dip);

  const auto& p = s.parameters;
  d("nparams", p.nparams);
  d("nparam_start_growth", p.nparam_start_growth);
  d("nparam_start_terr", p.nparam_start_terr);
  d("nparam_start_restored_fit", p.nparam_start_restored_fit);
  d("nrestored_fit_params", p.nrestored_fit_params);
  d("mins", p.mins);
  d("maxs", p.maxs);
  d("steps", p.steps);
  d("nmodels", static_cast<long long>(p.nmodels));
  d("slip_sense", p.slip_sense);
  d("increment", p.increment);
  d("v0", p.v0);
  d("regdipdeg", p.regdipdeg);
  d("regdip", p.regdip);
  d("regdipsin", p.regdipsin);
  d("regdipcos", p.regdipcos);
  d("regslope", p.regslope);
  d("intercepts", p.intercepts);
  d("sigma_bed", p.sigma_bed);
  d("sigma_dip", p.sigma_dip);
  d("sigma_restored_dip", p.sigma_restored_dip);
  d("sigma_terr", p.sigma_terr);
  d("sigma_orig_elev", p.sigma_orig_elev);
  d("sigma_fault", p.sigma_fault);
  d("lc", p.lc);
  d("terr_dip_deg", p.terr_dip_deg);
  d("terr_dip", p.terr_dip);
  d("terr_slope", p.terr_slope);
  d("terr_orig_elev", p.terr_orig_elev);

  const auto& data = s.data;
  d("beds", data.beds);
  d("nbeds", data.nbeds);
  d("ngrowth", data.ngrowth);
  d("dips", data.dips);
  d("dip_pos", data.dip_pos);
  d("ndips", data.ndips);
  d("terraces", data.terraces);
  d("nterr", data.nterr);
  d("faultpts", data.faultpts);
  d("nfaultpts", data.nfaultpts);

  d("decoly_at_tipy", s.fault.decoly_at_tipy);
  d("bend_at_tipy", s.fault.bend_at_tipy);
  d("tipy_can_be_below_bend", s.fault.tipy_can_be_below_bend);

  const auto& m = s.method;
  d("nmodels_real", m.nmodels_real);
  d("nmodels_poss", static_cast<long long>(m.nmodels_poss));
  d("init_mod_rand", m.init_mod_rand);
  d("init_model", m.init_model);
  d("begin_adapt", m.begin_adapt);
  d("nlevels", m.nlevels);
  d("dist_file", m.dist_file);
  d("means", m.means);
  d("c", m.c);
  return d.out.str();
}

}  // namespace fq
