// Starting another program as a process of its own, without waiting for it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/step.h"

namespace platform {

// Creation flags of StartProcess, with the values of CreateProcessW's.
namespace process_flags {
// The new process does not inherit this one's error mode (POSIX: its signal
// mask is empty and every signal has its default action).
inline constexpr std::uint32_t kCreateDefaultErrorMode = 0x04000000u;  // CREATE_DEFAULT_ERROR_MODE
// The new process has no console of this one's (POSIX: it leads a new
// session, without a controlling terminal).
inline constexpr std::uint32_t kDetachedProcess = 0x00000008u;  // DETACHED_PROCESS
}  // namespace process_flags

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;

  // CreateProcessW(application, commandLine, no process or thread security
  // attributes, no inherited handles, `creationFlags`, this process's
  // environment and current directory, default STARTUPINFOW), then closes
  // the process and thread handles it returned; it neither waits for the
  // program nor looks at its exit code. `application` names the program
  // file exactly (no search); empty passes none, and the system then looks
  // up the program named at the head of the command line with its search
  // for executables. The program receives `commandLine` as its command line;
  // the call may change the text while it runs (CreateProcessW's buffer is
  // writable) and leaves it as it was. POSIX: posix_spawn (posix_spawnp for
  // an empty `application`), the command line split into arguments by the
  // Windows rules (blanks separate, double quotes group, backslashes escape
  // quotes); the child is not waited for and is reaped when this process
  // ends. Failure: the program could not be started (not found, not an
  // executable, no right to run it); nothing runs.
  virtual Step StartProcess(const std::wstring& application, std::wstring& commandLine,
                            std::uint32_t creationFlags) = 0;
};

}  // namespace platform
