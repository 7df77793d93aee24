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
// until it gets one.
int ask_flag(Session& s, std::initializer_list<std::string_view> prompt);
// Prints a prompt and reads a file name until it names a readable file
// ("Invalid File Name" otherwise).
std::string ask_existing_file(ff::Reader& in, std::string_view prompt);
// True when `path` names a file that can be opened for reading.
bool file_exists(const std::string& path);

}  // namespace fq
