// The options file that setup writes.
//
// Answers go to a temporary file beside the target as soon as they are
// accepted; only commit() renames it into place, once the last answer is
// in.  A run that ends early (an input error, end of input, Ctrl-C) leaves
// the target as it was and removes the temporary file, so a half-written
// file is never presented as a complete options file.
//
// One OptionsFile at a time per process (the interrupt handler knows one
// temporary file).  Not thread-safe; setup is single-threaded.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include "freeformat/writer.hpp"

namespace setup {

class OptionsFile {
 public:
  OptionsFile() = default;
  OptionsFile(const OptionsFile&) = delete;
  OptionsFile& operator=(const OptionsFile&) = delete;
  // Removes the temporary file unless commit() succeeded.
  ~OptionsFile();

  // Creates the temporary file beside `target`.  False when `target` is
  // empty, exists and is not a regular file (a folder, FIFO or device, which
  // the rename would replace), names a file that may not be written, or its
  // folder cannot hold a new file.
  bool open(const std::string& target);

  // Writes one line.  A write that fails is remembered and reported by commit().
  void put(const ff::Line& line);
  // Writes an empty line: what a write of no items (an empty list) gives.
  void put_empty();

  // Flushes the temporary file to disk and renames it to the target.
  // Throws std::runtime_error (after removing the temporary file) when the
  // data could not be written or the rename fails.
  void commit();

  // Closes and removes the temporary file; the target is left as it was.
  void discard();

  const std::string& temp_path() const { return temp_; }
  // The file the options go to (links resolved); empty when none is open.
  const std::string& target() const { return target_; }

  // True when `name` exists (through a link too) and is neither a regular
  // file nor a folder: a FIFO, a device node or a socket, which open()
  // refuses (a rename would replace it with a regular file).
  static bool special_file(const std::string& name);

 private:
  std::string target_;  // where the finished file goes (symbolic links resolved)
  std::string temp_;    // the file being written
  std::FILE* f_ = nullptr;
  bool write_failed_ = false;
};

}  // namespace setup
