#include "app/config_commands.h"

#include "app/entry.h"
#include "config/update_settings.h"

int SetSilentAutoUpdateCommand(ServiceController& /*controller*/) {
  SetUpdateMode(kUpdateModeSilent);
  return 0;
}

int SetNotifyAutoUpdateCommand(ServiceController& /*controller*/) {
  SetUpdateMode(kUpdateModeNotify);
  return 0;
}

int SetDisableAutoUpdateCommand(ServiceController& /*controller*/) {
  SetUpdateMode(kUpdateModeDisabled);
  return 0;
}

int IsSilentAutoUpdateEnabledCommand(ServiceController& /*controller*/) {
  return IsSilentUpdateEnabled() ? kExitSilentUpdateEnabled : 0;
}
