// UTF-8 and wide text for the Win32 adapters.
#pragma once

#include <windows.h>

#include <string>

namespace platform::win32 {

// MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS) of a whole path: a
// path that is not valid UTF-8 is refused (ERROR_NO_UNICODE_TRANSLATION),
// never turned into another path. The empty path converts to empty text.
inline bool PathToWide(const std::string& path, std::wstring& wide) {
  wide.clear();
  if (path.empty()) return true;
  const int size = static_cast<int>(path.size());
  int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<std::size_t>(n));
  n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, wide.data(), n);
  if (n <= 0) return false;
  wide.resize(static_cast<std::size_t>(n));
  return true;
}

// WideCharToMultiByte(CP_UTF8, flags): `text` as UTF-8. False on failure,
// with the thread's last error set.
inline bool WideToUtf8(const std::wstring& text, DWORD flags, std::string& utf8) {
  utf8.clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  int n = ::WideCharToMultiByte(CP_UTF8, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  utf8.resize(static_cast<std::size_t>(n));
  n = ::WideCharToMultiByte(CP_UTF8, flags, text.data(), size, utf8.data(), n, nullptr, nullptr);
  if (n <= 0) return false;
  utf8.resize(static_cast<std::size_t>(n));
  return true;
}

}  // namespace platform::win32
