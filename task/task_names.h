// The names the scheduled task is known by, in both scheduler generations.
#pragma once

// The task's name; in version 2 it lives in the root task folder.
inline constexpr wchar_t kScheduledTaskName[] = L"Orrin Vexel Player Updater";
inline constexpr wchar_t kRootTaskFolder[] = L"\\";
// The author (version 2) or creator (version 1) of a task this program makes.
inline constexpr wchar_t kScheduledTaskAuthor[] = L"Orrin Systems Incorporated";
