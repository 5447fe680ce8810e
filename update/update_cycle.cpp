#include "update/update_cycle.h"

#include <new>

#include "config/update_settings.h"
#include "support/log_messages.h"
#include "transfer/installer_download.h"
#include "transfer/version_manifest.h"
#include "update/installed_version.h"
#include "update/schedule_state.h"

namespace {

// What the rest of the cycle does after the manifest has been obtained.
enum class Next {
  RecordSchedule,  // the next check is due CheckFrequency days from now
  LeaveSchedule,   // an installer was started: the next run checks again
};

// Counts the attempt and installs one flavour; logs the outcome with the
// flavour's codes.
Next Install(const ScheduleState& schedule, const UpdateTransfers& transfers,
             const std::unique_ptr<ComponentVersion>& version, MessageCode started, MessageCode failed) {
  schedule.IncrementUpdateAttempts();
  if (transfers.installComponent(version)) {
    LogCode(started);
    return Next::LeaveSchedule;
  }
  // The installer's failure is logged where it happened; this line repeats
  // the last error as that step left it, with the flavour's code.
  LogCodeWithLastError(failed);
  return Next::RecordSchedule;
}

// Steps 4 to 9: the due test, the fetch, the attempt limit, the choice of
// flavour and the recording of the schedule. What the fetch delivered is
// released when this returns.
void CheckAndInstall(const ScheduleState& schedule, const UpdateTransfers& transfers) {
  if (!schedule.IsCheckDue()) return;

  std::unique_ptr<ComponentVersion> activeX;
  std::unique_ptr<ComponentVersion> plugin;
  std::unique_ptr<std::uint32_t> checkFrequency;
  if (!transfers.fetchVersionManifest(&activeX, &plugin, &checkFrequency)) return;
  // A fetch reports true only with all three; one that did not deliver them
  // is treated as a fetch that failed.
  if (!activeX || !plugin || !checkFrequency) return;

  Next next = Next::RecordSchedule;
  std::uint32_t attempts = 0;
  if (schedule.ReadUpdateAttempts(attempts) && attempts > kMaximumUpdateAttempts) {
    // Silent installation keeps failing: leave it to the user.
    LogCode(MessageCode::AttemptLimitReached);
    SetUpdateMode(kUpdateModeNotify);
  } else if (NeedsUpdate(*activeX)) {
    next =
        Install(schedule, transfers, activeX, MessageCode::ActiveXInstallerStarted, MessageCode::ActiveXInstallFailed);
  } else if (NeedsUpdate(*plugin)) {
    next = Install(schedule, transfers, plugin, MessageCode::PluginInstallerStarted, MessageCode::PluginInstallFailed);
  }

  if (next == Next::RecordSchedule) {
    schedule.WriteLastUpdateCheck(/*reset=*/false);
    schedule.WriteCheckFrequency(*checkFrequency);
  }
}

}  // namespace

void UpdateCycleWith(const UpdateTransfers& transfers) {
  LogCode(MessageCode::CycleStarted);
  if (UpdateSettings.autoUpdateDisabled || !UpdateSettings.silentAutoUpdateEnabled) {
    LogCode(MessageCode::CycleEnded);
    return;
  }
  std::unique_ptr<ScheduleState> schedule;
  try {
    schedule = std::make_unique<ScheduleState>();
  } catch (const std::bad_alloc&) {
    // Without memory for the accessor the cycle ends here, touching nothing.
    return;
  }
  CheckAndInstall(*schedule, transfers);
  schedule.reset();
  LogCode(MessageCode::CycleEnded);
}

void UpdateCycle() { UpdateCycleWith(UpdateTransfers{FetchVersionManifest, InstallComponent}); }
