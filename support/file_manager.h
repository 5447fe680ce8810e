// File-system chores around the player's per-user folders: deleting trees,
// pruning files by age, measuring and creating folders, locating the
// per-user cache and data folders, listing a folder in order.
//
// Paths cross the interface as UTF-8. Every operation reports failure only
// through its result (false, 0, empty text or no vector) and logs nothing;
// only running out of memory while copying a path may throw std::bad_alloc.
//
// WindowsFileManager works through platform::FileTree and
// platform::ShellFolders; on Linux the same class runs on the POSIX
// adapters, which give the platform's equivalents (the user's data folder
// for the application-data folder, recursive removal for the shell's
// delete), with "/" for the separator.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/pointer_vector.h"

namespace DAZA {

class FileManager {
 public:
  virtual ~FileManager() = default;

  // Deletes the file or folder tree at `path` through the shell, silently.
  // True when it is gone, a path that never existed included.
  virtual bool DeleteTree(const std::string& path) = 0;
  // Deletes each file below `folder` whose age (now less its last write) is
  // strictly between the two ages, given in seconds, and removes each folder
  // emptied so, `folder` itself included. False when `folder` cannot be
  // walked, or was emptied and cannot be removed.
  virtual bool RemoveAgedFiles(const std::string& folder, std::uint64_t minimumAgeSeconds,
                               std::uint64_t maximumAgeSeconds) = 0;
  // A file's size; a folder's entries' sizes summed, recursively; 0 for a
  // path that does not exist. Links are counted, not followed.
  virtual std::uint64_t GetFolderSize(const std::string& path) = 0;
  // Creates every missing folder of `parent` from the top down, then
  // `parent`, separator, `name`. True when that folder exists afterwards.
  virtual bool CreateSubfolder(const std::string& parent, const std::string& name) = 0;
  // The platform's path separator: "\" on Windows.
  virtual std::string PathSeparator() = 0;
  // The application-data folder followed by Orrin\Vexel Player\AssetCache,
  // Orrin\Vexel Player\OVCache, Kestrania\Vexel Player and
  // Orrin\Vexel Player\OPSPrivateData2. Each is computed once per process,
  // on its first successful call; later calls return the same text.
  virtual std::string AssetCacheFolder() = 0;
  virtual std::string OVCacheFolder() = 0;
  virtual std::string LegacyPlayerFolder() = 0;
  virtual std::string PrivateDataFolder() = 0;
  // The names of the folder's entries, "." and ".." left out, in the order
  // of CompareEntryNames. An unreadable folder gives an empty vector; no
  // vector when memory runs out or the path is not UTF-8.
  virtual std::unique_ptr<StringVector> ListFolderSorted(const std::string& folder) = 0;
};

class WindowsFileManager final : public FileManager {
 public:
  bool DeleteTree(const std::string& path) override;
  bool RemoveAgedFiles(const std::string& folder, std::uint64_t minimumAgeSeconds,
                       std::uint64_t maximumAgeSeconds) override;
  std::uint64_t GetFolderSize(const std::string& path) override;
  bool CreateSubfolder(const std::string& parent, const std::string& name) override;
  std::string PathSeparator() override;
  std::string AssetCacheFolder() override;
  std::string OVCacheFolder() override;
  std::string LegacyPlayerFolder() override;
  std::string PrivateDataFolder() override;
  std::unique_ptr<StringVector> ListFolderSorted(const std::string& folder) override;
};

// Negative when `a` sorts before `b`, 0 when they sort alike, positive
// after. A name of digits only (the empty name too) is numeric. Numeric
// names compare by their decimal value (read as atoi reads it, saturated at
// 2147483647) and sort after all others; other names compare byte by byte
// as unsigned bytes.
int CompareEntryNames(const std::string& a, const std::string& b);

// Tests only: forgets the kept per-user folder paths.
void ForgetFolderPaths();

}  // namespace DAZA
