// The start-up of a run: every question and file, in the order of a run,
// up to the moment the method starts.
#pragma once

#include "foldquest/input/session.hpp"

namespace fq {

// Title block, options source, data files, fault model, parameter file,
// method, objective, terrace reference, result type and results file.
// Leaves the options file closed.  Throws ff::InputError on unreadable input.
void startup(Session& s);

}  // namespace fq
