// Process-wide folder paths below a folder the shell names, computed on
// first use and kept: the configuration file's path and the file manager's
// per-user folders.
#pragma once

#include <initializer_list>
#include <string>

#include "platform/shell_folders.h"

// Which shell folder a path starts from.
enum class ShellFolder { kSystem, kAppData };

// Returns `cache` when it is not empty. Otherwise asks the shell for the
// folder (a failure leaves it empty, so the path becomes the bare suffix),
// appends each of `parts` after the platform's separator, converts the
// whole to UTF-8 and, when that succeeds and `cache` is still empty, keeps
// it in `cache`. Returns `cache`: empty when the conversion failed.
std::string CachedFolderPath(std::string& cache, ShellFolder folder, std::initializer_list<const wchar_t*> parts);
