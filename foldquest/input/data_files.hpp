// Readers of the data files and the parameter file.  Each asks for its file
// name on the options stream and fills its part of the run state.
//
// Data files hold one point (or one dip) per line; blank lines are skipped.
// A value that cannot be read ends the run with an input error naming the
// file and the line.
#pragma once

#include <string>
#include <vector>

#include "foldquest/input/session.hpp"

namespace fq {

void readbeds(Session& s);

// A bed file read by name, outside the dialogue (the command-line tools):
// the records as readbeds reads them, the growth strata counted, and where
// each record's header line is ("file 'NAME', line N", for messages).
struct BedFile {
  std::vector<Bed> beds;
  int ngrowth = 0;
  std::vector<std::string> header_at;
};
// Throws ff::InputError (naming the file and the line) as readbeds does.
BedFile read_bed_file(const std::string& path);
void readdips(Session& s);
void readterraces(Session& s);
void readfaultpts(Session& s);
void readparams(Session& s);

// Prints the unused-lines warning and throws the parameter-file error held
// back by the first reading, if any (no second reading replaced them).
void raise_pending_params_error(Session& s);

}  // namespace fq
