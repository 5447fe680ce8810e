// A process launcher that records what it would start, or fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/process_launcher.h"

class FakeProcessLauncher final : public platform::ProcessLauncher {
 public:
  struct Start {
    std::wstring application;
    std::wstring commandLine;
    std::uint32_t flags;
  };
  platform::ErrorNumber failWith = 0;  // non-zero: nothing starts, the call fails with it
  std::vector<Start> starts;           // every call, started or not

  platform::Step StartProcess(const std::wstring& application, std::wstring& commandLine,
                              std::uint32_t creationFlags) override {
    starts.push_back(Start{application, commandLine, creationFlags});
    if (failWith != 0) {
      platform::SetLastError(failWith);
      return platform::Step::Failure(failWith);
    }
    return platform::Step::Success();
  }
};
