// The Windows error number closest to an errno value, so that log lines
// from the host build read like those of the Windows build.
#pragma once

#include "platform/step.h"

namespace platform::posix {

ErrorNumber ErrnoToError(int errnoValue);

// Sets the thread's last error from errno and returns the failure.
Step FailFromErrno();

}  // namespace platform::posix
