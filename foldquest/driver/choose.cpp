#include "foldquest/driver/choose.hpp"

#include <array>
#include <stdexcept>
#include <string>

#include "foldquest/methods/methods.hpp"
#include "foldquest/models/parallel_fpf_run.hpp"
#include "foldquest/models/trishear_bend_run.hpp"
#include "foldquest/models/trishear_decol_run.hpp"
#include "foldquest/models/trishear_listric_run.hpp"
#include "foldquest/models/trishear_straight_run.hpp"

namespace fq {
namespace {

// Fault models by code.  Entries arrive with their models.
constexpr std::array<FaultModel, 5> kFaultModels{{
    {1, trishear_str_options, run_model_str, forward_beds_str},
    {2, trishear_decol_options, run_model_decol, forward_beds_decol},
    {3, trishear_bend_options, run_model_bend, forward_beds_bend},
    {4, trishear_listric_options, run_model_listric, forward_beds_listric},
    {5, parallel_fpf_options, run_model_pfpf, forward_beds_pfpf},
}};

// Methods by code.
constexpr std::array<Method, 7> kMethods{{
    {1, gridsearch_options, gridsearch_with},
    {2, mcgrid_options, montecarlo_grid_with},
    {3, mcnormal_options, mc_normal_with},
    {4, mcmc_options, mcmc_with},
    {5, am_options, am_with},
    {6, ram_options, ram_with},
    {7, apt_options, apt_with},
}};

}  // namespace

const FaultModel* find_fault_model(int faulttype) {
  for (const auto& f : kFaultModels)
    if (f.code == faulttype) return &f;
  return nullptr;
}

const Method* find_method(int method) {
  for (const auto& m : kMethods)
    if (m.code == method) return &m;
  return nullptr;
}

void choose_fault_options(Session& session) {
  if (const auto* f = find_fault_model(session.state.options.faulttype)) {
    f->options(session);
  } else {
    ff::say(ff::Line() << "Error: Unrecognized Fault Type");
  }
}

void choose_method_options(Session& session) {
  if (const auto* m = find_method(session.state.options.method)) {
    m->options(session);
  } else {
    ff::say(ff::Line() << "Error: Unrecognized Method");
  }
}

std::int64_t choose_method(const RunState& state, ff::Sink& results) {
  if (const auto* m = find_method(state.options.method)) return m->run(state, results, choose_fault_model);
  return state.parameters.nmodels;
}

void choose_fault_model(const RunState& state, double& output, std::span<const double> params) {
  // Looked up per call: the table is tiny and constant, and the model run
  // dwarfs the search.
  if (const auto* f = find_fault_model(state.options.faulttype)) f->run_model(state, output, params);
}

bool choose_fault_forward(const RunState& state, std::span<const double> params, std::span<PointSet> beds) {
  const auto* f = find_fault_model(state.options.faulttype);
  if (f == nullptr)
    throw std::invalid_argument("no fault model has the code " + std::to_string(state.options.faulttype));
  return f->forward_beds(state, params, beds);
}

}  // namespace fq
