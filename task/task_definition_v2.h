// The scheduled task through the Task Scheduler 2.0 interfaces (Windows Vista
// and later).
#pragma once

#include <string>

// Registers the task "Orrin Vexel Player Updater" in the root task folder:
// it starts `executablePath` every hour under the SYSTEM account, from a
// daily trigger repeated hourly at a random minute. When a task of that name
// exists, only its first trigger's repetition interval is set to one hour
// and the definition is registered again. True when the task was
// registered (created or updated). Logs each failure where it happens.
bool CreateTaskV2(const std::wstring& executablePath);

// "2000-01-01T00:00:00Z" with a random minute from 00 to 59: the tens digit
// from one secure draw (modulo 6), the units digit from a second (modulo
// 10); a failed draw makes its digit 0.
std::wstring MakeStartBoundary();
