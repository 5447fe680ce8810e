// The installed version probe against each registry (see registry_cases.h).
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "tests/support/registry_cases.h"
#include "update/installed_version.h"

namespace {

using platform::registry_type::kBinary;
using platform::registry_type::kDword;
using platform::registry_type::kQword;
using platform::registry_type::kSz;

constexpr std::uint32_t kMax = 4294967295U;

struct Parts {
  std::uint32_t major, minor, buildMajor, buildMinor;
  bool operator==(const Parts& o) const {
    return major == o.major && minor == o.minor && buildMajor == o.buildMajor && buildMinor == o.buildMinor;
  }
};
std::ostream& operator<<(std::ostream& out, const Parts& p) {
  return out << p.major << '.' << p.minor << '.' << p.buildMajor << '.' << p.buildMinor;
}
Parts Of(const InstalledVersion& v) { return Parts{v.major, v.minor, v.buildMajor, v.buildMinor}; }
ComponentVersion Manifest(const Parts& p, Flavour flavour) {
  ComponentVersion v;
  v.major = p.major;
  v.minor = p.minor;
  v.buildMajor = p.buildMajor;
  v.buildMinor = p.buildMinor;
  v.flavour = flavour;
  return v;
}
constexpr Parts kZero{0, 0, 0, 0};

// Version text as the runtime's installer stores it: REG_SZ, terminator
// included.
std::string Sz(const std::u16string& text) { return Utf16Le(text) + Le16(0); }

const wchar_t* KeyOf(Flavour flavour) { return flavour == kFlavourActiveX ? kActiveXVersionKey : kPluginVersionKey; }

TEST_P(InstalledVersionCases, VersionTextsReadAndCompareAgainstTheManifest) {
  struct Row {
    const char* label;
    std::uint32_t type;
    std::string bytes;
    Parts read;
    Parts older, newer;  // manifests on either side of it (unused for all zeros)
  };
  const std::u16string fullBuffer = u"1.2.3." + std::u16string(1017, u' ') + u"4";  // 1024 units, 2048 bytes
  const Row rows[] = {
      {"four parts", kSz, Sz(u"11.2.202.228"), {11, 2, 202, 228}, {11, 1, 999, 999}, {11, 2, 202, 235}},
      {"two parts", kSz, Sz(u"11.2"), {11, 2, 0, 0}, {11, 1, 0, 0}, {11, 2, 0, 1}},
      {"empty part", kSz, Sz(u"11..202"), {11, 0, 202, 0}, {11, 0, 201, 999}, {11, 0, 202, 1}},
      {"commas", kSz, Sz(u"11,2,202,228"), {11, 0, 0, 0}, {10, 99, 0, 0}, {11, 0, 0, 1}},
      {"minus one", kSz, Sz(u"-1"), {kMax, 0, 0, 0}, {kMax - 1, 9, 9, 9}, {kMax, 0, 0, 1}},
      {"minus in a later part, plus sign", kSz, Sz(u"+11.-2"), {11, kMax - 1, 0, 0}, {11, kMax - 2, 0, 0},
       {11, kMax, 0, 0}},
      {"eleven digits", kSz, Sz(u"12345678901.2"), {kMax, 2, 0, 0}, {kMax, 1, 9, 9}, {kMax, 2, 0, 1}},
      {"leading blanks", kSz, Sz(u"  11.\t2. 202.\r\n228"), {11, 2, 202, 228}, {11, 2, 202, 227}, {11, 2, 203, 0}},
      {"digits up to the first non-digit", kSz, Sz(u"11.2abc.3x.4 beta"), {11, 2, 3, 4}, {11, 2, 3, 3},
       {11, 2, 3, 5}},
      {"text ends at the first zero unit", kSz, Sz(std::u16string(u"11.2\0.9.9.9.9", 13)), {11, 2, 0, 0},
       {11, 1, 0, 0}, {11, 2, 0, 1}},
      {"no terminator, odd last byte", kSz, Utf16Le(u"11.2") + "3", {11, 2, 0, 0}, {11, 1, 0, 0}, {11, 2, 0, 1}},
      // REG_BINARY: Windows may refuse a REG_SZ that leaves no room for the
      // terminator it adds, and does so under wine.
      {"2048 bytes without terminator", kBinary, Utf16Le(fullBuffer), {1, 2, 3, 4}, {1, 2, 3, 3}, {1, 2, 3, 5}},
      {"type is not examined", kBinary, Utf16Le(u"11.2.202.228"), {11, 2, 202, 228}, {11, 2, 202, 227},
       {11, 2, 202, 229}},
      {"smallest usable", kSz, Sz(u"0.0.0.1"), {0, 0, 0, 1}, {0, 0, 0, 0}, {0, 0, 1, 0}},
      {"empty text", kSz, Sz(u""), kZero, kZero, kZero},
      {"no bytes at all", kSz, "", kZero, kZero, kZero},
      {"five parts", kSz, Sz(u"11.2.202.228.5"), kZero, kZero, kZero},
      {"trailing full stop after four parts", kSz, Sz(u"11.2.202.228."), kZero, kZero, kZero},
      {"not a number", kSz, Sz(u"abc"), kZero, kZero, kZero},
      {"all zero", kSz, Sz(u"0.0.0.0"), kZero, kZero, kZero},
      {"longer than 2048 bytes", kSz, Sz(fullBuffer), kZero, kZero, kZero},
  };
  for (const Flavour flavour : {kFlavourActiveX, kFlavourPlugin}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.label) + (flavour == kFlavourActiveX ? " (ActiveX)" : " (plug-in)"));
      Fresh();
      Plant(KeyOf(flavour), kVersionValue, row.type, row.bytes);
      const Parts read = Of(ReadInstalledVersion(flavour));
      EXPECT_EQ(read, row.read);
      if (read == kZero) {
        EXPECT_FALSE(NeedsUpdate(Manifest({99, 0, 0, 0}, flavour))) << "unusable versions are never updated";
        continue;
      }
      EXPECT_FALSE(NeedsUpdate(Manifest(row.older, flavour))) << "older manifest";
      EXPECT_FALSE(NeedsUpdate(Manifest(row.read, flavour))) << "equal manifest";
      EXPECT_TRUE(NeedsUpdate(Manifest(row.newer, flavour))) << "newer manifest";
    }
  }
}

TEST_P(InstalledVersionCases, ScriptDebuggerMarkerPreventsTheUpdate) {
  struct Row {
    const char* label;
    std::optional<std::uint32_t> type;
    std::string bytes;
    bool update;
  };
  const Row rows[] = {
      {"no marker", std::nullopt, "", true},
      {"marker 0", kDword, Le32(0), true},
      {"marker 1", kDword, Le32(1), false},
      {"marker in the high byte", kDword, Le32(0x01000000), false},
      {"2-byte marker", kBinary, Le16(0x0100), false},
      {"1-byte zero marker", kBinary, std::string(1, '\0'), true},
      {"marker as text, type not examined", kSz, Sz(u"1"), false},
      // Longer than its 4-byte buffer: it cannot be read and marks nothing.
      {"8-byte marker cannot be read", kQword, Le64(1), true},
  };
  for (const Flavour flavour : {kFlavourActiveX, kFlavourPlugin}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.label) + (flavour == kFlavourActiveX ? " (ActiveX)" : " (plug-in)"));
      Fresh();
      Plant(KeyOf(flavour), kVersionValue, kSz, Sz(u"11.2.202.228"));
      if (row.type) Plant(KeyOf(flavour), kScriptDebuggerValue, *row.type, row.bytes);
      EXPECT_EQ(NeedsUpdate(Manifest({11, 2, 202, 235}, flavour)), row.update);
      EXPECT_EQ(Of(ReadInstalledVersion(flavour)) == kZero, !row.update);
    }
  }
}

TEST_P(InstalledVersionCases, MissingKeyOrVersionIsNeverUpdated) {
  for (const Flavour flavour : {kFlavourActiveX, kFlavourPlugin}) {
    SCOPED_TRACE(flavour);
    Fresh();
    EXPECT_EQ(Of(ReadInstalledVersion(flavour)), kZero);
    EXPECT_FALSE(NeedsUpdate(Manifest({11, 2, 202, 235}, flavour)));
    Plant(KeyOf(flavour), kScriptDebuggerValue, kDword, Le32(0));
    EXPECT_EQ(Of(ReadInstalledVersion(flavour)), kZero) << "key without Version";
    EXPECT_FALSE(NeedsUpdate(Manifest({11, 2, 202, 235}, flavour)));
  }
  // Each flavour reads its own key only.
  Fresh();
  Plant(kPluginVersionKey, kVersionValue, kSz, Sz(u"11.2.202.228"));
  EXPECT_EQ(Of(ReadInstalledVersion(kFlavourActiveX)), kZero);
  EXPECT_EQ(Of(ReadInstalledVersion(kFlavourPlugin)), (Parts{11, 2, 202, 228}));
  for (const Flavour other : {0, 3, -1}) {
    EXPECT_EQ(Of(ReadInstalledVersion(other)), kZero) << other;
    EXPECT_FALSE(NeedsUpdate(Manifest({99, 0, 0, 0}, other))) << other;
  }
}

TEST_P(InstalledVersionCases, ActiveXIsNeverUpdatedOnWindows8AndLater) {
  OsClass = kOsClassWindows8AndLater;
  EXPECT_FALSE(NeedsUpdate(Manifest({11, 2, 202, 235}, kFlavourActiveX))) << "key missing";
  Plant(kActiveXVersionKey, kVersionValue, kSz, Sz(u"11.2.202.228"));
  Plant(kPluginVersionKey, kVersionValue, kSz, Sz(u"11.2.202.228"));
  EXPECT_FALSE(NeedsUpdate(Manifest({11, 2, 202, 235}, kFlavourActiveX))) << "older ActiveX control";
  EXPECT_TRUE(NeedsUpdate(Manifest({11, 2, 202, 235}, kFlavourPlugin))) << "the plug-in is judged normally";
  EXPECT_FALSE(NeedsUpdate(Manifest({11, 2, 202, 228}, kFlavourPlugin)));
  OsClass = kOsClassVistaTo7;
  EXPECT_TRUE(NeedsUpdate(Manifest({11, 2, 202, 235}, kFlavourActiveX))) << "the same key before Windows 8";
}

}  // namespace
