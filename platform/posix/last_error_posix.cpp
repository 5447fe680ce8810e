#include "platform/last_error.h"

namespace platform {
namespace {
thread_local ErrorNumber t_lastError = 0;
}
ErrorNumber LastError() { return t_lastError; }
void SetLastError(ErrorNumber error) { t_lastError = error; }
}  // namespace platform
