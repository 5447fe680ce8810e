// The scheduled task through the Task Scheduler 1.0 interfaces (before
// Windows Vista).
#pragma once

#include <string>

// Creates and saves the work item "Orrin Vexel Player Updater": it starts
// `executablePath` every hour under the local system account, from a daily
// trigger repeated every 60 minutes at a random minute. When a work item of
// that name exists, only its first trigger's repetition interval is set to
// 60 minutes and the item is saved again. True when the work item was saved
// (created or updated). Logs each failure where it happens.
bool CreateTaskV1(const std::wstring& executablePath);
