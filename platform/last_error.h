// The calling thread's "last error" value, the number that failure lines of
// the activity log carry. On Windows it is GetLastError/SetLastError itself;
// on POSIX a thread-local value that the adapters (and fakes) set when a step
// fails, with the Windows error numbers where one fits (see
// platform/posix/errors_posix.h).
#pragma once

#include "platform/step.h"

namespace platform {

ErrorNumber LastError();
void SetLastError(ErrorNumber error);

// Well-known Windows error numbers the core and the POSIX adapters use.
namespace error {
inline constexpr ErrorNumber kSuccess = 0;
inline constexpr ErrorNumber kFileNotFound = 2;
inline constexpr ErrorNumber kPathNotFound = 3;
inline constexpr ErrorNumber kAccessDenied = 5;
inline constexpr ErrorNumber kInvalidHandle = 6;
inline constexpr ErrorNumber kNotEnoughMemory = 8;
inline constexpr ErrorNumber kWriteFault = 29;
inline constexpr ErrorNumber kReadFault = 30;
inline constexpr ErrorNumber kSharingViolation = 32;
inline constexpr ErrorNumber kHandleEof = 38;
inline constexpr ErrorNumber kNotSupported = 50;
inline constexpr ErrorNumber kFileExists = 80;
inline constexpr ErrorNumber kInvalidParameter = 87;
inline constexpr ErrorNumber kDiskFull = 112;
inline constexpr ErrorNumber kInsufficientBuffer = 122;
inline constexpr ErrorNumber kAlreadyExists = 183;
inline constexpr ErrorNumber kMoreData = 234;
inline constexpr ErrorNumber kNoMoreItems = 259;
inline constexpr ErrorNumber kOutOfMemory = 14;
inline constexpr ErrorNumber kGenFailure = 31;
}  // namespace error

}  // namespace platform
