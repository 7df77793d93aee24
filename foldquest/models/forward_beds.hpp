// Beds deformed forward by a model: the inverse of a model run's restoration.
//
// A model run restores the observations from the present (deformed) state
// to the state before faulting.  The forward hook of a fault model takes
// beds in their state before faulting and deforms them by the model's whole
// slip, so that the model run restores them to where they started: the
// synthetic section a geologist makes to test a survey design or an
// inversion (`foldquest model forward`).
//
// It is the same kinematics, run the other way: the hook builds the model's
// geometry with the code its run uses (the parameters describe the present
// state: the final tip, the bend, the detachment), starts the kernels at the
// tip where the run's restoration leaves it (the initial tip, for the usual
// sense of slip), and runs them with the restoration's signed slip, v0 and
// increment negated.  There is no second copy of the kinematics.
//
// Only beds laid down before faulting are deformed, each by the whole slip:
// growth strata and terraces (which saw part of the slip) and dips are not.
// The parameter vector's growth, terrace and fit blocks are not read.
//
// Accuracy: the kink-band fold's kinematics are piecewise rigid, so its
// round trip (forward, then restore) is exact up to rounding.  The trishear
// models step the slip by the increment; each direction is first order in
// it, and a point comes back within a distance of the order of the increment
// (measured: a few increments at most), shrinking with it.
//
// Every hook reads only `state` (options, parameters, fault switches; never
// the data) and its arguments, and may run on any number of threads at once.
#pragma once

#include <span>

#include "foldquest/state/run_state.hpp"
#include "foldquest/math/vec2.hpp"

namespace fq {

// Deforms every bed of `beds` (map frame, in place) through the whole slip
// of `params` (at least the model's own parameter count, else
// std::invalid_argument).  False when the model fails: its geometry is
// refused, or the kinematics cannot step the slip (the beds are then
// unspecified, possibly NaN).
using ForwardBeds = bool (*)(const RunState& state, std::span<const double> params, std::span<PointSet> beds);

bool forward_beds_str(const RunState& state, std::span<const double> params, std::span<PointSet> beds);
bool forward_beds_decol(const RunState& state, std::span<const double> params, std::span<PointSet> beds);
bool forward_beds_bend(const RunState& state, std::span<const double> params, std::span<PointSet> beds);
bool forward_beds_listric(const RunState& state, std::span<const double> params, std::span<PointSet> beds);
bool forward_beds_pfpf(const RunState& state, std::span<const double> params, std::span<PointSet> beds);

}  // namespace fq
