// Paths of the running process.
#pragma once

#include <string>

#include "platform/step.h"

namespace platform {

class ProcessPaths {
 public:
  virtual ~ProcessPaths() = default;
  // GetFullPathNameW: `name` expanded against the current directory into a
  // full path. The result is never cut: a path that needs more than the
  // usual 260 characters is returned whole. Failure: the platform could not
  // expand the name (an empty name, for one).
  virtual StepOr<std::wstring> FullPathName(const std::wstring& name) = 0;
};

}  // namespace platform
