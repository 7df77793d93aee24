#include "foldquest/driver/param_names.hpp"

namespace fq {

namespace {

const char* const kLength = "length";
const char* const kDegrees = "degrees";

std::vector<ParamName> fault_names(const RunState& st) {
  std::vector<ParamName> v{{"tip_x", kLength}, {"tip_y", kLength}, {"slip", kLength}};
  auto trishear = [&v](const char* angle) {
    v.push_back({angle, kDegrees});
    v.push_back({"phi", kDegrees});
    v.push_back({"p_over_s", "ratio"});
    v.push_back({"s", "1"});
  };
  switch (st.options.faulttype) {
    case 1:
      trishear("ramp_angle");
      break;
    case 2:
      trishear("ramp_angle");
      if (st.fault.decoly_at_tipy == 0) v.push_back({"detachment_y", kLength});
      break;
    case 3:
      trishear("upper_angle");
      v.push_back({"lower_angle", kDegrees});
      if (st.fault.bend_at_tipy == 0) v.push_back({"bend_y", kLength});
      break;
    case 4:
      trishear("straight_dip");
      v.push_back({"arc_radius", kLength});
      if (st.fault.decoly_at_tipy == 0) v.push_back({"detachment_y", kLength});
      break;
    case 5:
      v.push_back({"upper_angle", kDegrees});
      v.push_back({"lower_angle", kDegrees});
      if (st.fault.bend_at_tipy == 0) v.push_back({"bend_y", kLength});
      break;
    default:
      break;
  }
  return v;
}

}  // namespace

std::vector<ParamName> param_names(const RunState& st) {
  const auto& o = st.options;
  const auto& p = st.parameters;
  const auto& d = st.data;
  const auto n = static_cast<std::size_t>(p.nparams > 0 ? p.nparams : 0);
  std::vector<ParamName> names(n);
  for (std::size_t k = 0; k < n; ++k) names[k] = {"param_" + std::to_string(k + 1), "1"};
  auto set = [&](int one_based, ParamName pn) {
    if (one_based >= 1 && static_cast<std::size_t>(one_based) <= n)
      names[static_cast<std::size_t>(one_based - 1)] = std::move(pn);
  };

  // The fault model's own parameters come first; where the model's count
  // and the table disagree (a new model), generic names stay.
  const int nfault = o.has(Options::dattype_beds)  ? p.nparam_start_growth - 1
                     : o.has(Options::dattype_terr) ? p.nparam_start_terr - 1
                                                     : p.nparams - (o.fittype == 5 ? p.nrestored_fit_params : 0);
  const auto fault = fault_names(st);
  if (static_cast<int>(fault.size()) == nfault)
    for (std::size_t k = 0; k < fault.size(); ++k) set(static_cast<int>(k + 1), fault[k]);

  if (o.has(Options::dattype_beds)) {
    int k = p.nparam_start_growth;
    for (const Bed& b : d.beds)
      if (b.growth) set(k++, {"growth_slip[" + b.ident + "]", kLength});
  }
  if (o.has(Options::dattype_terr)) {
    int k = p.nparam_start_terr;
    for (const Bed& t : d.terraces) set(k++, {"terrace_slip[" + t.ident + "]", kLength});
  }
  if (o.fittype == 5 && p.nrestored_fit_params > 0) {
    int k = p.nparam_start_restored_fit;
    if (o.fit_dips == 1) set(k++, {"restored_dip", kDegrees});
    if (o.fit_dips == 2) {
      for (const Bed& b : d.beds) set(k++, {"restored_dip[" + b.ident + "]", kDegrees});
      if (o.has(Options::dattype_dips)) set(k++, {"restored_dip[dips]", kDegrees});
    }
    if (o.fit_beds == 1)
      for (const Bed& b : d.beds) set(k++, {"intercept[" + b.ident + "]", kLength});
  }
  return names;
}

}  // namespace fq
