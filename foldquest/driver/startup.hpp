// The start-up of a run: every question and file, in the order of a run,
// up to the moment the method starts.
#pragma once

#include <string>

#include "foldquest/input/session.hpp"

namespace fq {

// Title block, options source, data files, fault model, parameter file,
// method, objective, terrace reference, result type and results file.
// Leaves the options file closed.  Throws ff::InputError on unreadable input.
// The source question comes from the console, unless s.options_path names
// the options file (the command line), which then answers it.
void startup(Session& s);

// Answers the source question with an options file, printing the questions
// as the dialogue does.  Throws ff::InputError when the file cannot be read.
void answer_source_question(Session& s, const std::string& options_path);

}  // namespace fq
