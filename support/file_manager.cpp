#include "support/file_manager.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include "platform/clock.h"
#include "platform/file_tree.h"
#include "platform/path_separator.h"
#include "platform/seam.h"
#include "support/folder_path_cache.h"

namespace DAZA {
namespace {

std::string g_pathSeparator;
std::string g_assetCacheFolder;
std::string g_ovCacheFolder;
std::string g_legacyPlayerFolder;
std::string g_privateDataFolder;

platform::FileTree& Tree() { return platform::Seam<platform::FileTree>::Get(); }

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

bool IsSeparator(char c) { return c == platform::kPathSeparator || (platform::kPathSeparator == '\\' && c == '/'); }

std::string Join(const std::string& folder, const std::string& name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path += folder;
  path += platform::kPathSeparator;
  path += name;
  return path;
}

// Seconds as 100-nanosecond units, saturated.
std::uint64_t ToFileTimeUnits(std::uint64_t seconds) {
  constexpr std::uint64_t kUnitsPerSecond = 10000000ULL;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  return seconds > kMax / kUnitsPerSecond ? kMax : seconds * kUnitsPerSecond;
}

struct Walk {
  bool made = false;     // the folder could be enumerated
  bool emptied = false;  // everything in it was removed
};

// One folder of RemoveAgedFiles, and each subfolder in turn.
Walk WalkAged(const std::string& folder, std::uint64_t minimum, std::uint64_t maximum) {
  const std::uint64_t now = platform::Seam<platform::SystemClock>::Get().NowFileTime();
  platform::StepOr<std::vector<platform::FolderEntry>> entries = Tree().ListFolder(folder);
  if (!entries.ok) return Walk{};
  bool emptied = true;
  for (const platform::FolderEntry& entry : entries.value) {
    if (!entry.nameConverted) {
      emptied = false;  // a name without a UTF-8 form cannot be named back
      continue;
    }
    if (IsDotEntry(entry.name)) continue;
    const std::string path = Join(folder, entry.name);
    if (entry.isFolder) {
      const Walk inner = WalkAged(path, minimum, maximum);
      if (!inner.made || !inner.emptied || !Tree().RemoveFolder(path).ok) emptied = false;
      continue;
    }
    // A file, or a link (never walked into): it ages and goes as itself. A
    // file last written in the future has no age yet.
    const std::uint64_t age = now > entry.lastWriteTime ? now - entry.lastWriteTime : 0;
    if (age > minimum && age < maximum && Tree().DeleteFile(path).ok) continue;
    emptied = false;
  }
  return Walk{true, emptied};
}

}  // namespace

bool WindowsFileManager::DeleteTree(const std::string& path) {
  switch (Tree().ShellDelete(path)) {
    case 0:
    case 2:      // the file was not found
    case 0x7C:   // the path is not valid: nothing by that name
    case 0x402:  // an unknown error the shell gives for a path that does not exist
      return true;
    default:
      return false;
  }
}

bool WindowsFileManager::RemoveAgedFiles(const std::string& folder, std::uint64_t minimumAgeSeconds,
                                         std::uint64_t maximumAgeSeconds) {
  try {
    const Walk walk = WalkAged(folder, ToFileTimeUnits(minimumAgeSeconds), ToFileTimeUnits(maximumAgeSeconds));
    if (!walk.made) return false;
    if (walk.emptied) return Tree().RemoveFolder(folder).ok;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::uint64_t WindowsFileManager::GetFolderSize(const std::string& path) {
  try {
    platform::StepOr<platform::PathInfo> info = Tree().Examine(path);
    if (!info.ok) return 0;
    if (!info.value.isFolder || info.value.isLink) return info.value.size;
    platform::StepOr<std::vector<platform::FolderEntry>> entries = Tree().ListFolder(path);
    if (!entries.ok) return 0;
    std::uint64_t total = 0;
    for (const platform::FolderEntry& entry : entries.value) {
      if (entry.nameConverted && IsDotEntry(entry.name)) continue;
      if (entry.isFolder && entry.nameConverted) {
        total += GetFolderSize(Join(path, entry.name));
      } else if (!entry.isFolder) {
        total += entry.size;
      }
    }
    return total;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

bool WindowsFileManager::CreateSubfolder(const std::string& parent, const std::string& name) {
  try {
    // Every folder on the parent's path, from the top down; those that exist
    // already, and prefixes that are no folder at all ("C:"), fail harmlessly.
    for (std::size_t i = 1; i < parent.size(); ++i) {
      if (IsSeparator(parent[i]) && !IsSeparator(parent[i - 1])) Tree().CreateFolder(parent.substr(0, i));
    }
    Tree().CreateFolder(parent);
    const std::string folder = Join(parent, name);
    Tree().CreateFolder(folder);
    platform::StepOr<platform::PathInfo> info = Tree().Examine(folder);
    return info.ok && info.value.isFolder;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::string WindowsFileManager::PathSeparator() {
  g_pathSeparator.assign(1, platform::kPathSeparator);
  return g_pathSeparator;
}

std::string WindowsFileManager::AssetCacheFolder() {
  return CachedFolderPath(g_assetCacheFolder, ShellFolder::kAppData, {L"Orrin", L"Vexel Player", L"AssetCache"});
}

std::string WindowsFileManager::OVCacheFolder() {
  return CachedFolderPath(g_ovCacheFolder, ShellFolder::kAppData, {L"Orrin", L"Vexel Player", L"OVCache"});
}

std::string WindowsFileManager::LegacyPlayerFolder() {
  return CachedFolderPath(g_legacyPlayerFolder, ShellFolder::kAppData, {L"Kestrania", L"Vexel Player"});
}

std::string WindowsFileManager::PrivateDataFolder() {
  return CachedFolderPath(g_privateDataFolder, ShellFolder::kAppData,
                          {L"Orrin", L"Vexel Player", L"OPSPrivateData2"});
}

std::unique_ptr<StringVector> WindowsFileManager::ListFolderSorted(const std::string& folder) {
  try {
    auto names = std::make_unique<StringVector>();
    platform::StepOr<std::vector<platform::FolderEntry>> entries = Tree().ListFolder(folder);
    if (!entries.ok) {
      if (entries.error == platform::kPathNotUtf8) return nullptr;
      return names;
    }
    for (const platform::FolderEntry& entry : entries.value) {
      if (!entry.nameConverted || IsDotEntry(entry.name)) continue;
      if (!names->Add(entry.name)) return nullptr;
    }
    names->Sort(CompareEntryNames);
    return names;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

namespace {

bool IsNumeric(const std::string& name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::int32_t DecimalValue(const std::string& digits) {
  std::int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

int CompareEntryNames(const std::string& a, const std::string& b) {
  const bool numericA = IsNumeric(a);
  const bool numericB = IsNumeric(b);
  if (numericA && numericB) {
    const std::int32_t va = DecimalValue(a);
    const std::int32_t vb = DecimalValue(b);
    return va < vb ? -1 : (va > vb ? 1 : 0);
  }
  if (numericA) return 1;
  if (numericB) return -1;
  // std::string compares as unsigned bytes (char_traits<char> is memcmp).
  const int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

void ForgetFolderPaths() {
  g_assetCacheFolder.clear();
  g_ovCacheFolder.clear();
  g_legacyPlayerFolder.clear();
  g_privateDataFolder.clear();
}

}  // namespace DAZA
