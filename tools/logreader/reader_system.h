// The platform's ReaderSystem for vexel-log: the real file system, console
// and clock (reader_system_posix.cpp, reader_system_win32.cpp).
#pragma once

#include <memory>

#include "tools/logreader/log_reader_app.h"

namespace logreader {

std::unique_ptr<ReaderSystem> MakePlatformReaderSystem();

}  // namespace logreader
