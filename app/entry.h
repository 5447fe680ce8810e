// The process entry: decides the role of the run, performs it and returns
// the exit code. The platform's main functions call it with the argument
// vector as wide text.
#pragma once

// Exit codes besides 0.
inline constexpr int kExitSilentUpdateEnabled = 1001;  // "-isSAUEnabled" found it enabled
inline constexpr int kExitOutOfMemory = -1;            // the run's objects could not be created
inline constexpr int kExitUnexpectedFailure = -2;      // an operation ended in an unexpected failure

int RunProgram(int argc, const wchar_t* const* argv);
