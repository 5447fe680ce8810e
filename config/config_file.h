// The administrative configuration file: lines of key "=" value in the
// system folder, read into a ConfigTable, changed and written back whole.
//
// Reading: an optional UTF-8 signature is skipped; a file that starts with a
// UTF-16 byte-order mark, or is shorter than four bytes, is not read. Lines
// end at LF, at CR, or at CR LF (one line end). A line without "=" is
// ignored; otherwise the key is the text before the first "=", the value
// the rest, both trimmed by TrimBlank; a line whose key or value is then
// empty is ignored. Keys are raw bytes, compared byte for byte; the last
// value of a repeated key counts. Writing: each entry as key "=" value CR LF
// in table order, nothing else.
#pragma once

#include <string>
#include <string_view>

#include "config/config_table.h"

// The file's full path as UTF-8: the system folder, then
// Kestran, Vexel and vxm.cfg with the platform's separator. Computed on the
// first call that can compute it and kept for the life of the process.
// When the shell cannot name the system folder the path is the bare
// suffix; when it cannot be turned into UTF-8 the result is empty (and the
// next call tries again).
std::string ConfigFilePath();
// Tests only: forgets the kept path, so that the next call computes it
// again from the platform.
void ForgetConfigFilePath();

// Removes blank bytes from both ends: a byte is blank when, taken as a
// signed 8-bit number, it lies between 0x01 and 0x20, or is negative
// (0x80 to 0xFF). Inner bytes stay.
std::string_view TrimBlank(std::string_view text);

class ConfigFile {
 public:
  // Reads the file at `path` into the table. File errors give an empty
  // table (an absent, unreadable or unsuitable file reads as empty); a read
  // error part-way ends the file there. Running out of memory throws
  // std::bad_alloc.
  explicit ConfigFile(std::string path);

  // The value of `key`, or empty text when there is none.
  std::string Get(std::string_view key) const;
  // Replaces the value of `key`, or adds the entry. The file is not touched.
  void Set(std::string_view key, std::string_view value);
  // Writes the table to `path`: the new content goes into a new file in the
  // same folder, which then replaces the old file in one step, so that the
  // file holds either its old or its new content, whatever fails and
  // whenever the machine stops. False for an empty path, a folder that is
  // missing or refuses the new file, and any failure while writing or
  // replacing; the old file is then unchanged and nothing is left behind.
  // No folder is created.
  bool Save() const;

  const std::string& Path() const { return path_; }
  const ConfigTable& Table() const { return table_; }

 private:
  void Read();
  void ParseLine(std::string_view line);

  std::string path_;
  ConfigTable table_;
};
