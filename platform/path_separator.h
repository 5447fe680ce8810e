// The path separator of the platform the program is built for.
#pragma once

namespace platform {
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr wchar_t kWidePathSeparator = L'\\';
#else
inline constexpr char kPathSeparator = '/';
inline constexpr wchar_t kWidePathSeparator = L'/';
#endif
}  // namespace platform
