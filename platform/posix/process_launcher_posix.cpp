#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/posix/errors_posix.h"
#include "platform/posix/process_launcher_posix.h"
#include "platform/process_launcher.h"
#include "platform/seam.h"
#include "support/utf16.h"

extern char** environ;

namespace platform {

namespace posix {

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
  std::vector<std::wstring> arguments;
  std::wstring current;
  bool inArgument = false;
  bool quoted = false;
  for (std::size_t i = 0; i < commandLine.size();) {
    const wchar_t c = commandLine[i];
    if (c == L'\\') {
      std::size_t backslashes = 0;
      while (i < commandLine.size() && commandLine[i] == L'\\') {
        ++backslashes;
        ++i;
      }
      inArgument = true;
      if (i < commandLine.size() && commandLine[i] == L'"') {
        // Before a quote, pairs of backslashes stand for one each, and an
        // odd one makes the quote literal.
        current.append(backslashes / 2, L'\\');
        if (backslashes % 2 == 1) {
          current += L'"';
          ++i;
        }
      } else {
        current.append(backslashes, L'\\');
      }
    } else if (c == L'"') {
      quoted = !quoted;
      inArgument = true;
      ++i;
    } else if ((c == L' ' || c == L'\t') && !quoted) {
      if (inArgument) arguments.push_back(current);
      current.clear();
      inArgument = false;
      ++i;
    } else {
      current += c;
      inArgument = true;
      ++i;
    }
  }
  if (inArgument) arguments.push_back(current);
  return arguments;
}

}  // namespace posix

namespace {

Step FailWith(ErrorNumber error) {
  SetLastError(error);
  return Step::Failure(error);
}

// posix_spawn attributes that stand for the creation flags.
class SpawnAttributes {
 public:
  explicit SpawnAttributes(std::uint32_t creationFlags) {
    ok_ = ::posix_spawnattr_init(&attributes_) == 0;
    if (!ok_) return;
    short flags = 0;
    if ((creationFlags & process_flags::kCreateDefaultErrorMode) != 0) {
      sigset_t none;
      sigemptyset(&none);
      sigset_t all;
      sigfillset(&all);
      sigdelset(&all, SIGKILL);
      sigdelset(&all, SIGSTOP);
      ::posix_spawnattr_setsigmask(&attributes_, &none);
      ::posix_spawnattr_setsigdefault(&attributes_, &all);
      flags |= POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    }
#ifdef POSIX_SPAWN_SETSID
    if ((creationFlags & process_flags::kDetachedProcess) != 0) flags |= POSIX_SPAWN_SETSID;
#endif
    ::posix_spawnattr_setflags(&attributes_, flags);
  }
  ~SpawnAttributes() {
    if (ok_) ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  bool Ok() const { return ok_; }
  const posix_spawnattr_t* Get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
  bool ok_ = false;
};

class PosixProcessLauncher final : public ProcessLauncher {
 public:
  Step StartProcess(const std::wstring& application, std::wstring& commandLine,
                    std::uint32_t creationFlags) override {
    std::vector<std::string> arguments;
    for (const std::wstring& argument : posix::SplitCommandLine(commandLine)) arguments.push_back(WideToUtf8(argument));
    if (arguments.empty() && application.empty()) return FailWith(error::kInvalidParameter);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string program = application.empty() ? arguments.front() : WideToUtf8(application);

    SpawnAttributes attributes(creationFlags);
    if (!attributes.Ok()) return FailWith(error::kNotEnoughMemory);
    pid_t child = 0;
    const int result = application.empty()
                           ? ::posix_spawnp(&child, program.c_str(), nullptr, attributes.Get(), argv.data(), environ)
                           : ::posix_spawn(&child, program.c_str(), nullptr, attributes.Get(), argv.data(), environ);
    if (result != 0) return FailWith(posix::ErrnoToError(result));
    return Step::Success();
  }
};

}  // namespace

template <>
ProcessLauncher& PlatformDefault<ProcessLauncher>() {
  static PosixProcessLauncher launcher;
  return launcher;
}

}  // namespace platform
