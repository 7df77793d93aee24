// Test helpers that switch data types on in a hand-built run state, with the
// parameter layout start-up would give them.
#pragma once

#include <utility>
#include <vector>

#include "foldquest/state/run_state.hpp"

namespace fqtest {

// Beds (growth strata flagged): their growth slips follow the parameters so far.
inline void set_beds(fq::RunState& st, std::vector<fq::Bed> beds) {
  st.options.dattypes[fq::Options::dattype_beds - 1] = 1;
  st.data.ngrowth = 0;
  for (const fq::Bed& b : beds) st.data.ngrowth += b.growth ? 1 : 0;
  st.data.nbeds = static_cast<int>(beds.size());
  st.data.beds = std::move(beds);
  st.parameters.nparam_start_growth = st.parameters.nparams + 1;
  st.parameters.nparams += st.data.ngrowth;
}

// Dips (radians) at their positions.
inline void set_dips(fq::RunState& st, std::vector<fq::Vec2> pos, std::vector<double> dips_rad) {
  st.options.dattypes[fq::Options::dattype_dips - 1] = 1;
  st.data.ndips = static_cast<int>(dips_rad.size());
  st.data.dip_pos = std::move(pos);
  st.data.dips = std::move(dips_rad);
}

// Terraces with their inner-edge elevations at formation, each known to
// `sigma_elev`; their slips follow the parameters so far.
inline void set_terraces(fq::RunState& st, std::vector<fq::Bed> terraces, std::vector<double> elev,
                         double sigma_elev) {
  st.options.dattypes[fq::Options::dattype_terr - 1] = 1;
  st.data.nterr = static_cast<int>(terraces.size());
  st.data.terraces = std::move(terraces);
  st.parameters.terr_orig_elev = std::move(elev);
  st.parameters.sigma_orig_elev.assign(st.parameters.terr_orig_elev.size(), sigma_elev);
  st.parameters.nparam_start_terr = st.parameters.nparams + 1;
  st.parameters.nparams += st.data.nterr;
}

// Points on the fault.
inline void set_faultpts(fq::RunState& st, std::vector<fq::Vec2> pts) {
  st.options.dattypes[fq::Options::dattype_faultpts - 1] = 1;
  st.data.nfaultpts = static_cast<int>(pts.size());
  st.data.faultpts = std::move(pts);
}

}  // namespace fqtest
