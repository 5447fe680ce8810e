// Appending to a file that other threads and processes append to as well.
#pragma once

#include <cstddef>
#include <string>

#include "platform/step.h"

namespace platform {

class SharedAppendFile {
 public:
  virtual ~SharedAppendFile() = default;
  // Opens `path` (narrow text; a relative path is resolved against the
  // current directory) for appending, creating the file but none of its
  // folders, with sharing that lets every other open read and write it;
  // writes `size` bytes at the end of the file in one write, so that two
  // appenders never interleave the bytes of their records; closes it.
  // Failure: the file could not be opened, written or closed; the error
  // number says why. Nothing is retried.
  virtual Step Append(const std::string& path, const void* bytes, std::size_t size) = 0;
};

}  // namespace platform
