#include "update/installed_version.h"

#include <cstddef>

#include "platform/os_version.h"
#include "platform/registry.h"
#include "platform/seam.h"

std::int32_t OsClass = kOsClassUnknown;

namespace {

constexpr std::uint32_t kPlatformWin32Nt = 2;  // VER_PLATFORM_WIN32_NT
constexpr std::uint32_t kMaximumPart = 4294967295U;
constexpr int kParts = 4;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// One part of the version text, units [begin, end), as an unsigned number.
std::uint32_t ParsePart(const char16_t* begin, const char16_t* end) {
  const char16_t* p = begin;
  while (p != end && IsBlank(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == u'+' || *p == u'-')) {
    negative = *p == u'-';
    ++p;
  }
  std::uint64_t value = 0;
  bool digits = false;
  bool tooLarge = false;
  for (; p != end && IsDigit(*p); ++p) {
    digits = true;
    if (!tooLarge) {
      value = value * 10 + static_cast<std::uint64_t>(*p - u'0');
      tooLarge = value > kMaximumPart;
    }
  }
  if (!digits) return 0;
  if (tooLarge) return kMaximumPart;
  const auto part = static_cast<std::uint32_t>(value);
  return negative ? 0U - part : part;
}

// The version that `units` (the text without its terminator) states; all
// zeros when it has more than four parts.
InstalledVersion ParseVersionText(const char16_t* units, std::size_t count) {
  std::uint32_t parts[kParts] = {};
  const char16_t* const end = units + count;
  const char16_t* start = units;
  int index = 0;
  while (true) {
    const char16_t* stop = start;
    while (stop != end && *stop != u'.') ++stop;
    if (index == kParts) return InstalledVersion{};
    parts[index++] = ParsePart(start, stop);
    if (stop == end) break;
    start = stop + 1;
  }
  return InstalledVersion{parts[0], parts[1], parts[2], parts[3]};
}

const wchar_t* VersionKeyOf(Flavour flavour) {
  switch (flavour) {
    case kFlavourActiveX: return kActiveXVersionKey;
    case kFlavourPlugin: return kPluginVersionKey;
    default: return nullptr;
  }
}

bool IsAllZero(const InstalledVersion& v) {
  return v.major == 0 && v.minor == 0 && v.buildMajor == 0 && v.buildMinor == 0;
}

int CompareParts(std::uint32_t a, std::uint32_t b) { return a > b ? 1 : (a < b ? -1 : 0); }

}  // namespace

InstalledVersion ReadInstalledVersion(Flavour flavour) {
  const wchar_t* const keyName = VersionKeyOf(flavour);
  if (keyName == nullptr) return InstalledVersion{};

  platform::Registry& registry = platform::Seam<platform::Registry>::Get();
  platform::StepOr<platform::RegistryKeyHandle> opened = registry.OpenKey(keyName, platform::RegistryAccess::kRead);
  if (!opened) return InstalledVersion{};
  platform::RegistryKey key(registry, opened.value);

  unsigned char text[kVersionBufferBytes] = {};
  const platform::StepOr<platform::QueriedValue> version =
      registry.QueryValue(key.Handle(), kVersionValue, text, kVersionBufferBytes);
  bool scriptDebugger = false;
  if (version) {
    unsigned char flag[4] = {};
    const platform::StepOr<platform::QueriedValue> marker =
        registry.QueryValue(key.Handle(), kScriptDebuggerValue, flag, sizeof flag);
    if (marker) {
      for (std::uint32_t i = 0; i < marker.value.size && i < sizeof flag; ++i) scriptDebugger |= flag[i] != 0;
    }
  }
  key.Close();
  if (!version || scriptDebugger) return InstalledVersion{};

  // UTF-16LE units up to the first zero one or the end of the data read.
  char16_t units[kVersionBufferBytes / 2];
  const std::uint32_t bytes = version.value.size < kVersionBufferBytes ? version.value.size : kVersionBufferBytes;
  std::size_t count = 0;
  for (std::size_t i = 0; i + 1 < bytes; i += 2) {
    const auto unit = static_cast<char16_t>(text[i] | (text[i + 1] << 8));
    if (unit == u'\0') break;
    units[count++] = unit;
  }
  return ParseVersionText(units, count);
}

int CompareVersions(const InstalledVersion& a, const InstalledVersion& b) {
  if (int c = CompareParts(a.major, b.major)) return c;
  if (int c = CompareParts(a.minor, b.minor)) return c;
  if (int c = CompareParts(a.buildMajor, b.buildMajor)) return c;
  return CompareParts(a.buildMinor, b.buildMinor);
}

InstalledVersion VersionParts(const ComponentVersion& version) {
  return InstalledVersion{version.major, version.minor, version.buildMajor, version.buildMinor};
}

bool NeedsUpdate(const ComponentVersion& manifestVersion) {
  if (manifestVersion.flavour == kFlavourActiveX && OsClass == kOsClassWindows8AndLater) return false;
  const InstalledVersion installed = ReadInstalledVersion(manifestVersion.flavour);
  if (IsAllZero(installed)) return false;
  return CompareVersions(VersionParts(manifestVersion), installed) == 1;
}

void DetectOsClass() {
  const platform::OsVersion version = platform::Seam<platform::OsVersionQuery>::Get().Query();
  if (version.platformId == kPlatformWin32Nt && version.major >= 6) {
    OsClass = version.major > 6 || version.minor > 1 ? kOsClassWindows8AndLater : kOsClassVistaTo7;
  } else {
    OsClass = kOsClassBeforeVista;
  }
}
