#include "app/service_commands.h"

#include "service/service_controller.h"
#include "task/task_registration.h"

int InstallCommand(ServiceController& controller) {
  controller.Install();
  return 0;
}

int UninstallCommand(ServiceController& controller) {
  DeleteScheduledTask();
  if (controller.Exists()) {
    // A stopped service refuses the stop control; it is removed all the same.
    controller.Stop();
    controller.Remove();
  }
  return 0;
}
