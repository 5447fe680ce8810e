#include "app/commands.h"

#include "app/config_commands.h"
#include "app/service_commands.h"
#include "service/service_controller.h"
#include "task/task_registration.h"

namespace {

int CreateDefaultTaskCommand(ServiceController& controller) {
  CreateDefaultTask(controller);
  return 0;
}

int DeleteTaskCommand(ServiceController&) {
  DeleteScheduledTask();
  return 0;
}

struct Command {
  const wchar_t* option;
  CommandOperation operation;
};

// Each operation returns the run's exit code; only "-isSAUEnabled" reports
// anything through it.
const Command kCommands[] = {
    {L"-install", InstallCommand},
    {L"-uninstall", UninstallCommand},
    {L"-deleteTask", DeleteTaskCommand},
    {L"-createDefaultTask", CreateDefaultTaskCommand},
    {L"-setSilentAutoUpdate", SetSilentAutoUpdateCommand},
    {L"-setNotifyAutoUpdate", SetNotifyAutoUpdateCommand},
    {L"-setDisableAutoUpdate", SetDisableAutoUpdateCommand},
    {L"-isSAUEnabled", IsSilentAutoUpdateEnabledCommand},
};

}  // namespace

CommandOperation FindCommand(const std::wstring& firstArgument) {
  for (const Command& command : kCommands) {
    if (firstArgument == command.option) return command.operation;
  }
  return nullptr;
}
