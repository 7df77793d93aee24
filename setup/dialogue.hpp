// The setup dialogue: asks foldquest's run options once, in foldquest's
// order, checks each answer and writes every accepted answer to the options
// file as soon as it has it, one answer per line in free format, so that
// foldquest reads the file answer for answer.
//
// Prompts go to the console (ff::console()); answers come from `in`.  A
// value that cannot be read, or the end of the input where an answer is
// needed, throws ff::InputError; the options file is then discarded.
#pragma once

#include <cstdint>
#include <string>

#include "freeformat/reader.hpp"
#include "setup/options_file.hpp"

namespace setup {

// Runs the whole dialogue and, when the last answer is in, puts the options
// file in place.  Throws ff::InputError on unreadable or missing input and
// std::runtime_error when the finished file cannot be written.
void run_dialogue(ff::Reader& in, OptionsFile& out);

// A file name as an answer line holds it: quoted (with inner quotes doubled)
// when it would otherwise not be read back as the same single word, that is
// when it is empty, holds a blank (or tab), comma or slash, or starts with a
// quote.
std::string name_as_answer(const std::string& name);

// True when `a` and `b` name the same file (links and other spellings of
// the path included); a name that does not exist yet is compared by its
// resolved path.
bool same_file(const std::string& a, const std::string& b);

// What is wrong with a parameter file for a model of `nranges` parameters
// (empty when nothing is): it needs at least `nranges` range lines of three
// numbers.  (A file may hold more: the first reading of a fit-type-5 run
// reads only part of it.  foldquest itself checks the sense of slip and the
// increment that follow.)
std::string check_parameter_file(const std::string& path, int nranges);

// The number of lines of a bed or terrace file whose first word is
// `keyword` (the header lines foldquest counts: "growth" strata in a bed
// file, "terrace" records in a terrace file).
int count_headers(const std::string& path, const std::string& keyword);

}  // namespace setup
