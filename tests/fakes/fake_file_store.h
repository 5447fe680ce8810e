// Files in memory: folders that exist, files with their bytes, and failures
// of single steps on demand.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/file_store.h"

class FakeFileStore final : public platform::FileStore {
 public:
  // Folders in which files may be created; a path's folder is the text
  // before its last "/".
  std::set<std::string> folders;
  std::map<std::string, std::string> files;

  // Each Read hands out at most this many bytes.
  std::size_t readChunk = 1 << 16;
  // Failures, each with the error number the step reports (0: none).
  platform::ErrorNumber failOpenWith = 0;
  platform::ErrorNumber failReadWith = 0;     // every Read after `readsBeforeFailure` reads
  std::size_t readsBeforeFailure = 0;
  platform::ErrorNumber failCreateWith = 0;
  platform::ErrorNumber failWriteWith = 0;    // the write numbered `failingWrite` (1 = first)
  std::size_t failingWrite = 1;
  platform::ErrorNumber failFlushWith = 0;
  platform::ErrorNumber failReplaceWith = 0;
  bool openRunsOutOfMemory = false;           // OpenForReading throws std::bad_alloc

  // What happened.
  int opens = 0;
  std::size_t writes = 0;
  std::vector<std::string> created;
  std::vector<std::string> deleted;

  static std::string FolderOf(const std::string& path);

  platform::StepOr<std::unique_ptr<platform::FileReader>> OpenForReading(const std::string& path) override;
  platform::StepOr<platform::NewFile> CreateBeside(const std::string& target) override;
  platform::Step Replace(const std::string& from, const std::string& target) override;
  platform::Step Delete(const std::string& path) override;

  // For the writer: appends to a file the store holds.
  platform::Step WriteTo(const std::string& path, const void* bytes, std::size_t size);
  platform::Step Flush();
};
