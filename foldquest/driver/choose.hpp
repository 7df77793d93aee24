// Dispatch on the method and fault-type codes.
//
// Every method evaluates models only through choose_fault_model, so a method
// works with every fault type.  The tables are in choose.cpp: a new fault
// model or method is one entry there.  They sit in driver/, above the
// models and methods they join, so that those never import them.
#pragma once

#include <cstdint>
#include <span>

#include "foldquest/state/run_state.hpp"
#include "foldquest/input/session.hpp"
#include "foldquest/methods/chain.hpp"
#include "foldquest/models/forward_beds.hpp"

namespace fq {

// A fault model: its option questions (which set nparams and the fault
// switches), its model run and its forward hook.  The model run reads only
// `state` and owns its scratch, so any number of threads may call it at
// once, each with its own `params` and `output`.  The forward hook deforms
// beds by the model's whole slip, the inverse of the run's restoration
// (foldquest/models/forward_beds.hpp).
struct FaultModel {
  int code;
  void (*options)(Session& session);
  void (*run_model)(const RunState& state, double& output, std::span<const double> params);
  ForwardBeds forward_beds;
};

// A method: its option questions and its run.  The run evaluates models
// through `evaluate` (choose_fault_model), writes the results file and
// returns the number of models to report.
struct Method {
  int code;
  void (*options)(Session& session);
  std::int64_t (*run)(const RunState& state, ff::Sink& results, Evaluate evaluate);
};

// The entry of a code, or nullptr when none is registered.
const FaultModel* find_fault_model(int faulttype);
const Method* find_method(int method);

// "Error: Unrecognized Fault Type" for a code without an entry.
void choose_fault_options(Session& session);
// "Error: Unrecognized Method" for a code without an entry.
void choose_method_options(Session& session);
// Runs the method; returns the model count to report (state.parameters.nmodels
// when no method is registered for the code).
std::int64_t choose_method(const RunState& state, ff::Sink& results);

// Evaluates one model with the fault model of state.options.faulttype.  A code
// without an entry leaves `output` as the caller set it.
void choose_fault_model(const RunState& state, double& output, std::span<const double> params);

// Deforms `beds` (map frame, in their state before faulting, in place) by
// the whole slip of `params` with the fault model of state.options.faulttype.
// False when the model fails.  Throws std::invalid_argument for a code
// without an entry.
bool choose_fault_forward(const RunState& state, std::span<const double> params, std::span<PointSet> beds);

}  // namespace fq
