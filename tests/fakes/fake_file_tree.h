// A file tree whose shell delete and listing answer what the test says;
// the other steps fail as for a path that does not exist.
#pragma once

#include <string>
#include <vector>

#include "platform/file_tree.h"
#include "platform/last_error.h"

class FakeFileTree final : public platform::FileTree {
 public:
  std::uint32_t shellDeleteResult = 0;
  platform::ErrorNumber listFolderError = platform::error::kPathNotFound;
  std::vector<std::string> shellDeleted;

  std::uint32_t ShellDelete(const std::string& path) override {
    shellDeleted.push_back(path);
    return shellDeleteResult;
  }
  platform::StepOr<std::vector<platform::FolderEntry>> ListFolder(const std::string&) override {
    platform::SetLastError(listFolderError);
    return platform::StepOr<std::vector<platform::FolderEntry>>::Failure(listFolderError);
  }
  platform::StepOr<platform::PathInfo> Examine(const std::string&) override {
    platform::SetLastError(platform::error::kFileNotFound);
    return platform::StepOr<platform::PathInfo>::Failure(platform::error::kFileNotFound);
  }
  platform::Step DeleteFile(const std::string&) override { return Missing(); }
  platform::Step RemoveFolder(const std::string&) override { return Missing(); }
  platform::Step CreateFolder(const std::string&) override { return Missing(); }

 private:
  platform::Step Missing() {
    platform::SetLastError(platform::error::kPathNotFound);
    return platform::Step::Failure(platform::error::kPathNotFound);
  }
};
