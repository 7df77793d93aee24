#include "foldquest/driver/startup.hpp"

#include "foldquest/driver/choose.hpp"
#include "foldquest/input/data_files.hpp"
#include "foldquest/input/user_input.hpp"
#include "foldquest/methods/methods.hpp"

namespace fq {

void answer_source_question(Session& s, const std::string& options_path) {
  // The transcript of the dialogue answered "2" and the file name.
  say("Choose source of run options (not parameter space):");
  say("(1) Input manually");
  say("(2) Read from file");
  say("Input file name (with extension)");
  if (!file_exists(options_path))
    throw ff::InputError(ff::InputError::Kind::cannot_open, "cannot open options file '" + options_path + "'");
  s.state.options.options_id = 4;
  s.options_file = ff::Reader::open_file(options_path);
}

void startup(Session& s) {
  auto& o = s.state.options;
  auto& p = s.state.parameters;
  auto& d = s.state.data;

  say("Foldquest");
  say("Fits kinematic models of fault-related folding to a deformed cross-section.");
  say("");

  if (s.options_path) answer_source_question(s, *s.options_path);
  else getoptionsid(s);
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
