#include "platform/posix/errors_posix.h"

#include <cerrno>

#include "platform/last_error.h"

namespace platform::posix {

ErrorNumber ErrnoToError(int e) {
  switch (e) {
    case 0: return error::kSuccess;
    case ENOENT: return error::kFileNotFound;
    case ENOTDIR: return error::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return error::kAccessDenied;
    case EBADF: return error::kInvalidHandle;
    case ENOMEM: return error::kNotEnoughMemory;
    case EEXIST: return error::kAlreadyExists;
    case EINVAL: return error::kInvalidParameter;
    case ENOSPC: return error::kDiskFull;
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EBUSY: return error::kSharingViolation;
    case EIO: return error::kGenFailure;
    default: return error::kGenFailure;
  }
}

Step FailFromErrno() {
  ErrorNumber e = ErrnoToError(errno);
  SetLastError(e);
  return Step::Failure(e);
}

}  // namespace platform::posix
