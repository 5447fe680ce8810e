// The management options that set and report the auto-update mode.
#pragma once

class ServiceController;

// "-setSilentAutoUpdate", "-setNotifyAutoUpdate", "-setDisableAutoUpdate":
// write the mode into the configuration file; the exit code is 0 whatever
// the result (a failure is the operation's to log).
int SetSilentAutoUpdateCommand(ServiceController& controller);
int SetNotifyAutoUpdateCommand(ServiceController& controller);
int SetDisableAutoUpdateCommand(ServiceController& controller);
// "-isSAUEnabled": kExitSilentUpdateEnabled when silent auto-update is on,
// else 0.
int IsSilentAutoUpdateEnabledCommand(ServiceController& controller);
