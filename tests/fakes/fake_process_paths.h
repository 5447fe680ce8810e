// Full-path expansion that prefixes a fixed folder, fails, or throws.
#pragma once

#include <new>
#include <string>

#include "platform/last_error.h"
#include "platform/process_paths.h"

class FakeProcessPaths final : public platform::ProcessPaths {
 public:
  std::wstring currentDirectory = L"C:\\Work\\";
  platform::ErrorNumber failWith = 0;  // non-zero: the expansion fails with it
  bool throwOutOfMemory = false;       // the expansion runs out of memory
  int calls = 0;

  platform::StepOr<std::wstring> FullPathName(const std::wstring& name) override {
    ++calls;
    if (throwOutOfMemory) throw std::bad_alloc();
    if (failWith != 0) {
      platform::SetLastError(failWith);
      return platform::StepOr<std::wstring>::Failure(failWith);
    }
    if (name.size() > 1 && name[1] == L':') return platform::StepOr<std::wstring>::Success(name);
    return platform::StepOr<std::wstring>::Success(currentDirectory + name);
  }
};
