#include "support/folder_path_cache.h"

#include "platform/path_separator.h"
#include "platform/seam.h"
#include "platform/utf8_conversion.h"

std::string CachedFolderPath(std::string& cache, ShellFolder folder, std::initializer_list<const wchar_t*> parts) {
  if (!cache.empty()) return cache;
  platform::ShellFolders& shell = platform::Seam<platform::ShellFolders>::Get();
  platform::StepOr<std::wstring> base = folder == ShellFolder::kSystem ? shell.SystemFolder() : shell.AppDataFolder();
  std::wstring path = base.ok ? base.value : std::wstring();
  for (const wchar_t* part : parts) {
    path += platform::kWidePathSeparator;
    path += part;
  }
  platform::StepOr<std::string> utf8 = platform::Seam<platform::Utf8Conversion>::Get().WideToUtf8(path);
  if (utf8.ok && cache.empty()) cache = utf8.value;
  return cache;
}
