// Files of the publisher's toolkit: reading inputs whole, and writing
// outputs so that none is ever seen half-written.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace publish {

// The whole file. `what` names it in the failure line ("the installer").
std::string ReadWholeFile(const std::string& path, const std::string& what);

// At most `limit` bytes from the start of the file; `more` tells whether the
// file goes on past them. "-" reads the standard input.
std::string ReadFileStart(const std::string& path, const std::string& what, std::size_t limit, bool& more);

// Whether something exists at `path` (a dangling symbolic link counts).
bool PathExists(const std::string& path);

// The outputs of one command, written in two stages. Stage writes each one
// completely into a new temporary file beside its destination, flushed to
// disk; Commit then gives every temporary file its destination's name, one
// rename each, and never replaces an existing file unless `force` was
// given. Staged files that are not committed (a failure on the way, an
// exception, a Ctrl-C or a termination signal) are removed, so a
// destination is either untouched or holds the complete new content.
class OutputFiles {
 public:
  explicit OutputFiles(bool force) : force_(force) {}
  ~OutputFiles();
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // Fails early, before any work, when the destination cannot be written:
  // it exists (without `force`), it is a folder, or its folder is missing.
  void Expect(const std::string& path, const std::string& what) const;

  // Writes `bytes` into a temporary file beside `path`, with permissions
  // `mode` (the process's umask applies unless `exactMode`).
  void Stage(const std::string& path, const std::string& what, const std::string& bytes, mode_t mode,
             bool exactMode = false);

  // Moves every staged file to its destination, in the order staged. When
  // one cannot be moved, the ones this call had already moved to a name
  // that was free before are removed again, and the call fails.
  void Commit();

 private:
  struct Staged {
    std::string path;
    std::string what;
    std::string temporary;
    int slot;  // where the signal handler knows it; -1: nowhere
  };
  bool force_;
  std::vector<Staged> staged_;
};

}  // namespace publish
