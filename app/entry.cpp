#include "app/entry.h"

#include <memory>
#include <new>
#include <string>

#include "app/commands.h"
#include "app/service_role.h"
#include "platform/process_paths.h"
#include "platform/seam.h"
#include "service/service_controller.h"
#include "support/activity_log.h"
#include "support/log_messages.h"

namespace {

// The executable's full path: the program name expanded against the current
// directory, never cut, however long it is. When the platform cannot expand
// it, the name as given serves.
std::wstring ExecutablePath(const wchar_t* programName) {
  const std::wstring name = programName != nullptr ? programName : L"";
  platform::StepOr<std::wstring> full = platform::Seam<platform::ProcessPaths>::Get().FullPathName(name);
  return full.ok ? full.value : name;
}

int Run(int argc, const wchar_t* const* argv) {
  const std::wstring executablePath = ExecutablePath(argc > 0 ? argv[0] : nullptr);

  // The start lines are information lines issued before the settings are
  // loaded, so they are never written; they mark the run for a debugger.
  LogWrite(kLogInformation, executablePath);
  LogCode(MessageCode::ProgramStarted);
  const bool hasArgument = argc > 1 && argv[1] != nullptr;
  if (hasArgument) LogWrite(kLogInformation, argv[1]);

  std::unique_ptr<ServiceController> controller;
  try {
    controller = std::make_unique<ServiceController>(executablePath, kServiceName, kServiceDisplayName);
  } catch (const std::bad_alloc&) {
    LogCodeWithLastError(MessageCode::ControllerOutOfMemory);
    return kExitOutOfMemory;
  }

  if (!hasArgument) return RunServiceRole(*controller);

  CommandOperation operation = FindCommand(argv[1]);
  return operation != nullptr ? operation(*controller) : 0;
}

}  // namespace

int RunProgram(int argc, const wchar_t* const* argv) {
  try {
    return Run(argc, argv);
  } catch (...) {
    // No operation throws by design; an exception that escapes one (an
    // allocation that fails where nothing expects it) ends the run here.
    try {
      LogCodeWithLastError(MessageCode::UnexpectedFailure);
    } catch (...) {
    }
    return kExitUnexpectedFailure;
  }
}
