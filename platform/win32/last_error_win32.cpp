#include <windows.h>

#include "platform/last_error.h"

namespace platform {
ErrorNumber LastError() { return ::GetLastError(); }
void SetLastError(ErrorNumber error) { ::SetLastError(error); }
}  // namespace platform
