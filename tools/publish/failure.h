// How the publisher's toolkit reports what stops a command.
//
// The toolkit is a command-line program apart from the updater: a command
// that cannot be carried out throws a Failure with one line of plain text,
// which the entry point prints and turns into the exit code. Whatever the
// command had started on disk is undone by the owners of those files on the
// way out (see OutputFiles).
#pragma once

#include <stdexcept>
#include <string>

namespace publish {

// The exit codes of every command.
inline constexpr int kExitDone = 0;     // the command did what was asked; a checked item is accepted
inline constexpr int kExitRefused = 1;  // verify or check-manifest: the updater would refuse the item
inline constexpr int kExitFailure = 2;  // the command could not be carried out: bad arguments or input

class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& line) : std::runtime_error(line) {}
};

// A command line the toolkit does not understand; the entry point points to
// the command's --help.
class UsageFailure : public Failure {
 public:
  using Failure::Failure;
};

}  // namespace publish
