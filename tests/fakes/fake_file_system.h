// Files, folders and temporary names in memory, each step able to fail.
//
// FakeFileSystem keeps folders and files by full path; a name without a
// path separator lies in `currentDirectory`. It behaves as Windows does
// where the download relies on it: a file must be created in an existing
// folder, a folder is removed only when empty, and a file open for writing
// (no sharing) can be neither opened again nor deleted. Every call is
// recorded, and every handle it hands out must be closed exactly once.
//
// FakeTempNames hands out the temporary folder path, GUIDs and their text,
// and creates its temporary files in a FakeFileSystem.
#pragma once

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/path_separator.h"
#include "platform/temp_names.h"
#include "support/utf16.h"

class FakeFileSystem final : public platform::FileSystem {
 public:
  static constexpr platform::ErrorNumber kDirectoryNotEmpty = 145;

  // Full paths, without a separator at the end.
  std::wstring currentDirectory;
  std::set<std::wstring> folders;
  std::map<std::wstring, std::string> files;

  // The most one Read delivers, to exercise callers that read in pieces.
  std::uint32_t largestRead = 0xFFFFFFFFu;
  // When set, FileSize reports this instead of the file's size.
  bool overrideSize = false;
  std::uint32_t reportedSize = 0;

  // Every call, as "CreateFolder <path>", "CreateForWriting <path>",
  // "OpenForReading <path>", "FileSize <path>", "Write <path> <size>",
  // "Read <path> <size>", "Close <path>", "RemoveFile <path>",
  // "RemoveFolder <path>" (paths in UTF-8, as resolved).
  std::vector<std::string> calls;
  int badCloses = 0;
  // Runs after each call has been recorded, with its record.
  std::function<void(const std::string&)> afterCall;

  // The step `step` fails with `error` for a path containing `pathPart`
  // (the path of the handle's file, for the handle steps; empty: any),
  // after `skip` such calls have succeeded; once.
  void Fail(const std::string& step, platform::ErrorNumber error, const std::wstring& pathPart = L"", int skip = 0) {
    failures_.push_back(Failure{step, pathPart, error, skip, false});
  }

  static std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    return folder + platform::kWidePathSeparator + name;
  }
  std::size_t OpenHandles() const { return open_.size(); }
  // Paths of every folder and file below `folder`.
  std::vector<std::wstring> Below(const std::wstring& folder) const {
    std::vector<std::wstring> found;
    const std::wstring prefix = folder + platform::kWidePathSeparator;
    for (const std::wstring& f : folders) {
      if (f.compare(0, prefix.size(), prefix) == 0) found.push_back(f);
    }
    for (const auto& file : files) {
      if (file.first.compare(0, prefix.size(), prefix) == 0) found.push_back(file.first);
    }
    return found;
  }

  std::wstring Resolve(const std::wstring& path) const {
    std::wstring full = path;
    if (full.find(L'\\') == std::wstring::npos && full.find(L'/') == std::wstring::npos) {
      full = Join(currentDirectory, full);
    }
    while (full.size() > 1 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    return full;
  }
  static std::wstring Parent(const std::wstring& path) {
    const std::size_t at = path.find_last_of(L"\\/");
    return at == std::wstring::npos ? std::wstring() : path.substr(0, at);
  }

  platform::Step CreateFolder(const std::wstring& path) override {
    const std::wstring full = Record("CreateFolder", path);
    if (Scripted("CreateFolder", full)) return Failed();
    if (folders.count(full) != 0 || files.count(full) != 0) return FailWith(platform::error::kAlreadyExists);
    if (folders.count(Parent(full)) == 0) return FailWith(platform::error::kPathNotFound);
    folders.insert(full);
    return platform::Step::Success();
  }

  platform::Step RemoveFolder(const std::wstring& path) override {
    const std::wstring full = Record("RemoveFolder", path);
    if (Scripted("RemoveFolder", full)) return Failed();
    if (folders.count(full) == 0) return FailWith(platform::error::kFileNotFound);
    if (!Below(full).empty()) return FailWith(kDirectoryNotEmpty);
    folders.erase(full);
    return platform::Step::Success();
  }

  platform::StepOr<platform::FileHandle> CreateForWriting(const std::wstring& path) override {
    const std::wstring full = Record("CreateForWriting", path);
    if (Scripted("CreateForWriting", full)) return FailedOr<platform::FileHandle>();
    if (folders.count(full) != 0) return FailWithOr<platform::FileHandle>(platform::error::kAccessDenied);
    if (folders.count(Parent(full)) == 0) return FailWithOr<platform::FileHandle>(platform::error::kPathNotFound);
    if (IsOpen(full)) return FailWithOr<platform::FileHandle>(platform::error::kSharingViolation);
    files[full].clear();
    return platform::StepOr<platform::FileHandle>::Success(Open(full, true));
  }

  platform::StepOr<platform::FileHandle> OpenForReading(const std::wstring& path) override {
    const std::wstring full = Record("OpenForReading", path);
    if (Scripted("OpenForReading", full)) return FailedOr<platform::FileHandle>();
    if (files.count(full) == 0) return FailWithOr<platform::FileHandle>(platform::error::kFileNotFound);
    if (IsOpenForWriting(full)) return FailWithOr<platform::FileHandle>(platform::error::kSharingViolation);
    return platform::StepOr<platform::FileHandle>::Success(Open(full, false));
  }

  platform::StepOr<std::uint32_t> FileSize(platform::FileHandle file) override {
    OpenFile* open = Handle("FileSize", file);
    if (open == nullptr) return FailWithOr<std::uint32_t>(platform::error::kInvalidHandle);
    if (Scripted("FileSize", open->path)) return FailedOr<std::uint32_t>();
    const auto size = static_cast<std::uint32_t>(files[open->path].size());
    return platform::StepOr<std::uint32_t>::Success(overrideSize ? reportedSize : size);
  }

  platform::Step Write(platform::FileHandle file, const void* bytes, std::uint32_t size) override {
    OpenFile* open = Handle("Write", file, size);
    if (open == nullptr) return FailWith(platform::error::kInvalidHandle);
    if (Scripted("Write", open->path)) return Failed();
    if (!open->writing) return FailWith(platform::error::kAccessDenied);
    files[open->path].append(static_cast<const char*>(bytes), size);
    return platform::Step::Success();
  }

  platform::StepOr<std::uint32_t> Read(platform::FileHandle file, void* buffer, std::uint32_t size) override {
    OpenFile* open = Handle("Read", file, size);
    if (open == nullptr) return FailWithOr<std::uint32_t>(platform::error::kInvalidHandle);
    if (Scripted("Read", open->path)) return FailedOr<std::uint32_t>();
    if (open->writing) return FailWithOr<std::uint32_t>(platform::error::kAccessDenied);
    const std::string& bytes = files[open->path];
    std::size_t n = open->position < bytes.size() ? bytes.size() - open->position : 0;
    if (n > size) n = size;
    if (n > largestRead) n = largestRead;
    if (n > 0) std::memcpy(buffer, bytes.data() + open->position, n);
    open->position += n;
    return platform::StepOr<std::uint32_t>::Success(static_cast<std::uint32_t>(n));
  }

  platform::Step Close(platform::FileHandle file) override {
    OpenFile* open = Handle("Close", file);
    if (open == nullptr) {
      ++badCloses;
      return FailWith(platform::error::kInvalidHandle);
    }
    const std::wstring path = open->path;
    open_.erase(file.value);  // released whatever the result
    if (Scripted("Close", path)) return Failed();
    return platform::Step::Success();
  }

  platform::Step RemoveFile(const std::wstring& path) override {
    const std::wstring full = Record("RemoveFile", path);
    if (Scripted("RemoveFile", full)) return Failed();
    if (folders.count(full) != 0) return FailWith(platform::error::kAccessDenied);
    if (files.count(full) == 0) return FailWith(platform::error::kFileNotFound);
    if (IsOpen(full)) return FailWith(platform::error::kSharingViolation);
    files.erase(full);
    return platform::Step::Success();
  }

  // Creates an empty file, as GetTempFileNameW does; for FakeTempNames.
  bool AddEmptyFile(const std::wstring& full) {
    if (folders.count(Parent(full)) == 0 || files.count(full) != 0) return false;
    files[full];
    return true;
  }

 private:
  struct Failure {
    std::string step;
    std::wstring pathPart;
    platform::ErrorNumber error;
    int skip;
    bool used;
  };
  struct OpenFile {
    std::wstring path;
    bool writing;
    std::size_t position = 0;
  };

  void Note(const std::string& call) {
    calls.push_back(call);
    if (afterCall) afterCall(call);
  }
  std::wstring Record(const std::string& step, const std::wstring& path) {
    const std::wstring full = Resolve(path);
    Note(step + " " + WideToUtf8(full));
    return full;
  }
  OpenFile* Handle(const std::string& step, platform::FileHandle file, std::uint32_t size = 0) {
    auto it = open_.find(file.value);
    if (it == open_.end()) {
      Note(step + " <not open>");
      return nullptr;
    }
    std::string call = step + " " + WideToUtf8(it->second.path);
    if (step == "Write" || step == "Read") call += " " + std::to_string(size);
    Note(call);
    return &it->second;
  }
  bool Scripted(const std::string& step, const std::wstring& path) {
    for (Failure& f : failures_) {
      if (f.used || f.step != step || path.find(f.pathPart) == std::wstring::npos) continue;
      if (f.skip > 0) {
        --f.skip;
        continue;
      }
      f.used = true;
      failing_ = f.error;
      return true;
    }
    return false;
  }
  platform::Step Failed() { return FailWith(failing_); }
  template <class T>
  platform::StepOr<T> FailedOr() {
    return FailWithOr<T>(failing_);
  }
  static platform::Step FailWith(platform::ErrorNumber error) {
    platform::SetLastError(error);
    return platform::Step::Failure(error);
  }
  template <class T>
  static platform::StepOr<T> FailWithOr(platform::ErrorNumber error) {
    platform::SetLastError(error);
    return platform::StepOr<T>::Failure(error);
  }
  platform::FileHandle Open(const std::wstring& full, bool writing) {
    open_[++last_] = OpenFile{full, writing};
    return platform::FileHandle{last_};
  }
  bool IsOpen(const std::wstring& full) const {
    for (const auto& open : open_) {
      if (open.second.path == full) return true;
    }
    return false;
  }
  bool IsOpenForWriting(const std::wstring& full) const {
    for (const auto& open : open_) {
      if (open.second.path == full && open.second.writing) return true;
    }
    return false;
  }

  std::vector<Failure> failures_;
  platform::ErrorNumber failing_ = 0;
  std::map<std::uintptr_t, OpenFile> open_;
  std::uintptr_t last_ = 0;
};

class FakeTempNames final : public platform::TempNames {
 public:
  explicit FakeTempNames(FakeFileSystem& files) : files_(files) {}

  // What TempFolderPath gives (it ends with the separator), or its failure.
  std::wstring tempPath;
  platform::ErrorNumber tempPathError = 0;
  // The GUID CreateGuid gives, or its failure.
  platform::Guid guid{0x0123ABCDu, 0x4567u, 0x89EFu, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  platform::ErrorNumber guidError = 0;
  // GuidText gives nothing.
  bool guidTextFails = false;
  // CreateTempFile fails with this.
  platform::ErrorNumber tempFileError = 0;
  int calls = 0;

  platform::StepOr<std::wstring> TempFolderPath() override {
    ++calls;
    if (tempPathError != 0) return Fail<std::wstring>(tempPathError);
    return platform::StepOr<std::wstring>::Success(tempPath);
  }
  platform::StepOr<platform::Guid> CreateGuid() override {
    ++calls;
    if (guidError != 0) return Fail<platform::Guid>(guidError);
    return platform::StepOr<platform::Guid>::Success(guid);
  }
  std::wstring GuidText(const platform::Guid& g) override {
    ++calls;
    if (guidTextFails) return std::wstring();
    char text[64];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return Utf8ToWideLossy(text);
  }
  platform::StepOr<std::wstring> CreateTempFile(const std::wstring& folder, const std::wstring& prefix) override {
    ++calls;
    if (tempFileError != 0) return Fail<std::wstring>(tempFileError);
    std::wstring base = folder;
    if (!base.empty() && base.back() == platform::kWidePathSeparator) base.pop_back();
    char number[16];
    std::snprintf(number, sizeof number, "%X.tmp", ++created_);
    const std::wstring path = FakeFileSystem::Join(base, prefix.substr(0, 3) + Utf8ToWideLossy(number));
    if (!files_.AddEmptyFile(path)) return Fail<std::wstring>(platform::error::kPathNotFound);
    return platform::StepOr<std::wstring>::Success(path);
  }

 private:
  template <class T>
  static platform::StepOr<T> Fail(platform::ErrorNumber error) {
    platform::SetLastError(error);
    return platform::StepOr<T>::Failure(error);
  }
  FakeFileSystem& files_;
  unsigned created_ = 0xA0;
};
