#include "foldquest/driver/startup.hpp"

#include "foldquest/input/choose.hpp"
#include "foldquest/input/data_files.hpp"
#include "foldquest/input/user_input.hpp"
#include "foldquest/methods/methods.hpp"

namespace fq {

void startup(Session& s) {
  auto& o = s.state.options;
  auto& p = s.state.parameters;
  auto& d = s.state.data;

  say("Foldquest");
  say("Fits kinematic models of fault-related folding to a deformed cross-section.");
  say("");

  getoptionsid(s);
  getdattype(s);

  // Data files always in this order, whatever order the types were listed in.
  if (o.has(Options::dattype_beds)) readbeds(s);
  if (o.has(Options::dattype_dips)) readdips(s);
  if (o.has(Options::dattype_terr)) readterraces(s);
  if (o.has(Options::dattype_faultpts)) readfaultpts(s);

  gettiptype(s);
  getfaulttype(s);
  choose_fault_options(s);

  // Growth-stratum and terrace slips follow the fault model's own parameters.
  if (o.has(Options::dattype_beds)) {
    p.nparam_start_growth = p.nparams + 1;
    p.nparams += d.ngrowth;
  }
  if (o.has(Options::dattype_terr)) {
    p.nparam_start_terr = p.nparams + 1;
    p.nparams += d.nterr;
  }
  readparams(s);

  getmethod(s);
  choose_method_options(s);

  if (o.has(Options::dattype_beds) || o.has(Options::dattype_dips)) getfittype(s);
  // A first-reading parameter-file error that no second reading replaced.
  raise_pending_params_error(s);
  if (o.has(Options::dattype_terr)) getterrfitinfo(s);
  getresulttype(s);
  check_method_settings(s);
  geterrsfile(s);

  if (o.options_id != 5) s.options_file.reset();
}

}  // namespace fq
