// The installed version of each flavour, as the runtime's installer records
// it in the registry, and whether the manifest's version should replace it.
// Everything here only reads: nothing is written to the registry or the log.
#pragma once

#include <cstdint>

#include "update/component_version.h"

// The four parts of an installed version, with the meaning they have in
// ComponentVersion. All four 0: no usable installed version was found.
struct InstalledVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t buildMajor = 0;
  std::uint32_t buildMinor = 0;
};

// Where each flavour records itself, below HKEY_LOCAL_MACHINE (read in the
// registry view of the program's own bitness).
inline constexpr wchar_t kActiveXVersionKey[] = L"Software\\Kestrania\\VexelPlayerActiveX";
inline constexpr wchar_t kPluginVersionKey[] = L"Software\\Kestrania\\VexelPlayerPlugin";
// Wide text of decimal parts separated by full stops, "11.2.202.228".
inline constexpr wchar_t kVersionValue[] = L"Version";
// A 32-bit number; not 0 marks the script-debugger build, never updated.
inline constexpr wchar_t kScriptDebuggerValue[] = L"isScriptDebugger";

// The "Version" buffer: 2048 bytes, 1024 UTF-16 units.
inline constexpr std::uint32_t kVersionBufferBytes = 2048;

// The installed version of `flavour` (kFlavourActiveX or kFlavourPlugin).
// All zeros when the flavour is another number, its key cannot be opened,
// "Version" cannot be read (missing, or longer than 2048 bytes), the build
// is marked as the script debugger, or the text has more than four parts.
//
// The value's type is not looked at: its bytes are UTF-16LE text that ends
// at the first zero unit or at the end of the data (an odd last byte is no
// unit). The text splits at each full stop into at most four parts, read in
// order as major, minor, buildMajor and buildMinor; parts the text lacks are
// 0. Each part is read as an unsigned decimal number: leading white space is
// skipped, one '+' or '-' may come next (a minus negates modulo 2^32), then
// the digits up to the first non-digit; a part without digits is 0 and one
// whose digits exceed 4294967295 is 4294967295.
InstalledVersion ReadInstalledVersion(Flavour flavour);

// 1 when `a` is newer than `b`, -1 when `b` is newer, 0 when they are equal:
// major, minor, buildMajor and buildMinor compared in this order as unsigned
// numbers.
int CompareVersions(const InstalledVersion& a, const InstalledVersion& b);

// The four parts of a manifest's version, without its flavour.
InstalledVersion VersionParts(const ComponentVersion& version);

// True when the flavour of `manifestVersion` should be updated to it: never
// the ActiveX control when OsClass is 3; never a flavour without a usable
// installed version; otherwise exactly when the manifest's version is newer
// than the installed one.
bool NeedsUpdate(const ComponentVersion& manifestVersion);

// The running Windows version's class, 0 until DetectOsClass has run:
//   1  before 6.0, or a platform other than the NT family
//   2  6.0 and 6.1 (Windows Vista and 7)
//   3  6.2 and later (Windows 8 and later)
// Set once while the service object is constructed, before any update cycle,
// and only read afterwards.
extern std::int32_t OsClass;

inline constexpr std::int32_t kOsClassUnknown = 0;
inline constexpr std::int32_t kOsClassBeforeVista = 1;
inline constexpr std::int32_t kOsClassVistaTo7 = 2;
inline constexpr std::int32_t kOsClassWindows8AndLater = 3;

// Sets OsClass from the operating system's version query.
void DetectOsClass();
