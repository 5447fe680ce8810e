// The scheduled task that wakes the service every hour: its creation with
// the initial schedule state, and its removal with the schedule state.
#pragma once

#include <string>

class ServiceController;

// Which generation of task scheduler interfaces the machine is driven through.
enum class SchedulerVersion : int {
  kVersion1 = 1,  // Task Scheduler 1.0, before Windows Vista
  kVersion2 = 2,  // Task Scheduler 2.0, Windows Vista and later
};

// Version 2 on the NT platform from major version 6 (Vista) on; version 1
// otherwise. Asks the operating system at every call.
SchedulerVersion CurrentSchedulerVersion();

// The creation of the task for one scheduler version, fixed when the object
// is made.
class ScheduledTaskCreator {
 public:
  // Copies the path and applies the scheduler version rule.
  explicit ScheduledTaskCreator(std::wstring path);

  // Creates or updates the task that starts `executablePath`: through version
  // 1 for SchedulerVersion 1, through version 2 otherwise. True on success.
  bool Create();

  const std::wstring& ExecutablePath() const { return executablePath; }
  SchedulerVersion Version() const { return schedulerVersion; }

 private:
  std::wstring executablePath;
  SchedulerVersion schedulerVersion;
};

// Initialises the schedule state (UpdateAttempts 0, then LastUpdateCheck 0,
// then CheckFrequency 1, each only when the one before was written; a failed
// write changes nothing else) and creates or updates the task that starts
// the controller's executable. True when the task was created or updated.
bool CreateDefaultTask(const ServiceController& controller);

// Deletes the schedule state (UpdateAttempts, then LastUpdateCheck, then
// CheckFrequency, each only when the one before was deleted) and the task.
// Reports and logs nothing of its own.
void DeleteScheduledTask();

// Delete the task through one scheduler generation; a missing task is no
// error. Only the failures to reach the scheduler are logged.
void DeleteTaskV1();
void DeleteTaskV2();
