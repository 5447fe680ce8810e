// The host build's entry point: the arguments arrive as UTF-8 and are handed
// on as wide text, as the Windows build receives them.
#include <string>
#include <vector>

#include "app/entry.h"
#include "support/utf16.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> wide;
  wide.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) wide.push_back(Utf8ToWideLossy(argv[i]));
  std::vector<const wchar_t*> pointers;
  for (const std::wstring& w : wide) pointers.push_back(w.c_str());
  pointers.push_back(nullptr);
  return RunProgram(argc, pointers.data());
}
