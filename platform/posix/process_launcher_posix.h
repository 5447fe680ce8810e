// What the POSIX process launcher does with a Windows command line.
#pragma once

#include <string>
#include <vector>

namespace platform::posix {

// The arguments of `commandLine` by the Windows rules: blanks and tabs
// outside double quotes separate them, double quotes group and are dropped,
// and backslashes are literal except before a double quote, where each pair
// stands for one backslash and an odd one makes the quote literal.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

}  // namespace platform::posix
