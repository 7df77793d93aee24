// The questions of a run (module user_input): each asks on the options
// stream, re-asks refused answers, and stores the answer in the run state.
#pragma once

#include <string>
#include <string_view>

#include "foldquest/input/session.hpp"

namespace fq {

void getoptionsid(Session& s);
void getdattype(Session& s);
void gettiptype(Session& s);
void getfaulttype(Session& s);
void getmethod(Session& s);
void getfittype(Session& s);
void getregdip(Session& s);
void getterrfitinfo(Session& s);
void getresulttype(Session& s);
void geterrsfile(Session& s);

// Console helpers shared by the option questions of the models and methods.
void say(std::string_view text);
// Reads a 0/1 answer, printing "Invalid Command" and the prompt lines again
// until it gets one (see refuse for options files).
int ask_flag(Session& s, std::initializer_list<std::string_view> prompt);
// Prints a prompt and reads a file name from `in` until it names a readable
// file ("Invalid File Name" otherwise).  For the options-file question only,
// which is always answered at the console.
std::string ask_existing_file(ff::Reader& in, std::string_view prompt);
// The same on the options stream; the file is recorded as an input of the
// run (`what`: "the bed file", ...).  A name refused in an options file
// ends the run (see refuse).
std::string ask_input_file(Session& s, std::string_view prompt, std::string_view what);
// Prints `message` for a refused answer.  At the console the caller then
// asks again.  An options file cannot answer again: the next line would be
// taken for the answer and shift every later answer onto the wrong question,
// so in file mode this throws ff::InputError naming the options file, the
// line and the refused answer.
void refuse(Session& s, std::string_view message);
// True when `a` and `b` name the same file (through links or different
// spellings of the path); a name that does not exist is compared by its
// resolved path.
bool same_file(const std::string& a, const std::string& b);
// True when `path` names a file that can be opened for reading.
bool file_exists(const std::string& path);

}  // namespace fq
