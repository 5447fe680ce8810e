#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/last_error.h"
#include "platform/posix/errors_posix.h"
#include "platform/process_paths.h"
#include "platform/seam.h"
#include "support/utf16.h"

namespace platform {
namespace {

class PosixProcessPaths final : public ProcessPaths {
 public:
  StepOr<std::wstring> FullPathName(const std::wstring& name) override {
    if (name.empty()) {
      SetLastError(error::kInvalidParameter);
      return StepOr<std::wstring>::Failure(error::kInvalidParameter);
    }
    if (name.front() == L'/') return StepOr<std::wstring>::Success(name);
    std::string cwd(256, '\0');
    while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
      if (errno != ERANGE) {
        Step failure = posix::FailFromErrno();
        return StepOr<std::wstring>::Failure(failure.error);
      }
      cwd.resize(cwd.size() * 2);
    }
    cwd.resize(cwd.find('\0'));
    std::wstring full = Utf8ToWideLossy(cwd);
    if (full.empty() || full.back() != L'/') full += L'/';
    std::wstring rest = name;
    if (rest.rfind(L"./", 0) == 0) rest.erase(0, 2);
    return StepOr<std::wstring>::Success(full + rest);
  }
};

}  // namespace

template <>
ProcessPaths& PlatformDefault<ProcessPaths>() {
  static PosixProcessPaths paths;
  return paths;
}

}  // namespace platform
