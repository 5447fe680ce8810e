// The installed version probe's registry steps and failures on the fake
// registry, and the classification of the Windows version. What the version
// texts mean is tested on every registry by
// tests/support/installed_version_cases.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/seam.h"
#include "tests/fakes/fake_os_version.h"
#include "tests/fakes/fake_registry.h"
#include "tests/support/registry_cases.h"
#include "update/installed_version.h"

namespace {

using platform::registry_type::kDword;
using platform::registry_type::kSz;
using Calls = std::vector<std::string>;

const std::string kOpenActiveX = "RegOpenKeyExW(Software\\Kestrania\\VexelPlayerActiveX, KEY_READ)";
const std::string kOpenPlugin = "RegOpenKeyExW(Software\\Kestrania\\VexelPlayerPlugin, KEY_READ)";
const std::string kQueryVersion = "RegQueryValueExW(Version, 2048)";
const std::string kQueryMarker = "RegQueryValueExW(isScriptDebugger, 4)";
const std::string kClose = "RegCloseKey";

ComponentVersion Manifest(Flavour flavour, std::uint32_t buildMinor) {
  ComponentVersion v;
  v.major = 11;
  v.minor = 2;
  v.buildMajor = 202;
  v.buildMinor = buildMinor;
  v.flavour = flavour;
  return v;
}

class InstalledVersionSteps : public ::testing::Test {
 protected:
  InstalledVersionSteps() : seam_(&registry_), savedOsClass_(OsClass) { OsClass = kOsClassVistaTo7; }
  ~InstalledVersionSteps() override { OsClass = savedOsClass_; }

  void PlantVersion(const wchar_t* key, const std::u16string& text) {
    registry_.Plant(key, kVersionValue, kSz, Utf16Le(text) + Le16(0));
  }

  FakeRegistry registry_;

 private:
  platform::ScopedSeam<platform::Registry> seam_;
  std::int32_t savedOsClass_;
};

TEST_F(InstalledVersionSteps, OpensQueriesVersionThenMarkerAndCloses) {
  PlantVersion(kActiveXVersionKey, u"11.2.202.228");
  EXPECT_TRUE(NeedsUpdate(Manifest(kFlavourActiveX, 235)));
  EXPECT_EQ(registry_.calls, (Calls{kOpenActiveX, kQueryVersion, kQueryMarker, kClose}));

  registry_.calls.clear();
  EXPECT_FALSE(NeedsUpdate(Manifest(kFlavourPlugin, 235)));
  EXPECT_EQ(registry_.calls, (Calls{kOpenPlugin})) << "no key: nothing queried, nothing to close";
}

TEST_F(InstalledVersionSteps, MarkerIsQueriedOnlyWhenTheVersionWasRead) {
  registry_.Plant(kPluginVersionKey, kScriptDebuggerValue, kDword, Le32(0));
  EXPECT_FALSE(NeedsUpdate(Manifest(kFlavourPlugin, 235)));
  EXPECT_EQ(registry_.calls, (Calls{kOpenPlugin, kQueryVersion, kClose}));
}

TEST_F(InstalledVersionSteps, FailedQueriesNeverUseTheirBuffers) {
  // The fake scribbles 0xCD over a failed query's buffer: as text that is no
  // version at all, as a marker it is non-zero.
  PlantVersion(kPluginVersionKey, u"11.2.202.228");
  registry_.FailNext("RegQueryValueExW", platform::error::kMoreData, kVersionValue);
  EXPECT_FALSE(NeedsUpdate(Manifest(kFlavourPlugin, 235))) << "an unreadable Version";
  EXPECT_EQ(registry_.OpenKeys(), 0u);

  registry_.Plant(kPluginVersionKey, kScriptDebuggerValue, kDword, Le32(0));
  registry_.FailNext("RegQueryValueExW", platform::error::kMoreData, kScriptDebuggerValue);
  EXPECT_TRUE(NeedsUpdate(Manifest(kFlavourPlugin, 235))) << "an unreadable marker marks nothing";

  registry_.FailNext("RegOpenKeyExW", platform::error::kAccessDenied);
  EXPECT_FALSE(NeedsUpdate(Manifest(kFlavourPlugin, 235)));

  registry_.FailNext("RegCloseKey", platform::error::kInvalidHandle);
  EXPECT_TRUE(NeedsUpdate(Manifest(kFlavourPlugin, 235))) << "a failed close changes no reading";
}

TEST_F(InstalledVersionSteps, NoRegistryAccessForActiveXOnWindows8OrForOtherFlavours) {
  PlantVersion(kActiveXVersionKey, u"11.2.202.228");
  OsClass = kOsClassWindows8AndLater;
  EXPECT_FALSE(NeedsUpdate(Manifest(kFlavourActiveX, 235)));
  EXPECT_FALSE(NeedsUpdate(Manifest(0, 235)));
  EXPECT_FALSE(NeedsUpdate(Manifest(3, 235)));
  EXPECT_TRUE(registry_.calls.empty());
}

TEST(CompareVersions, ComparesPartByPartAsUnsignedNumbers) {
  struct Row {
    InstalledVersion a, b;
    int result;
  };
  const Row rows[] = {
      {{11, 2, 202, 228}, {11, 2, 202, 228}, 0},
      {{11, 2, 202, 235}, {11, 2, 202, 228}, 1},
      {{11, 2, 202, 228}, {11, 2, 202, 235}, -1},
      {{12, 0, 0, 0}, {11, 99, 99, 99}, 1},
      {{11, 1, 999, 999}, {11, 2, 0, 0}, -1},
      {{11, 2, 203, 0}, {11, 2, 202, 999}, 1},
      {{4294967295U, 0, 0, 0}, {1, 0, 0, 0}, 1},
      {{0, 0, 0, 0}, {0, 0, 0, 4294967295U}, -1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CompareVersions(row.a, row.b), row.result)
        << row.a.major << '.' << row.a.minor << '.' << row.a.buildMajor << '.' << row.a.buildMinor << " vs "
        << row.b.major << '.' << row.b.minor << '.' << row.b.buildMajor << '.' << row.b.buildMinor;
  }
}

TEST(DetectOsClass, ClassifiesTheReportedWindowsVersion) {
  struct Row {
    std::uint32_t platformId, major, minor;
    std::int32_t osClass;
  };
  const Row rows[] = {
      {2, 5, 0, 1},  {2, 5, 1, 1},  {2, 5, 2, 1},  {2, 6, 0, 2}, {2, 6, 1, 2}, {2, 6, 2, 3},
      {2, 6, 3, 3},  {2, 10, 0, 3}, {2, 7, 0, 3},  {2, 4, 90, 1},
      {1, 4, 90, 1},  // Windows 98: not the NT family
      {1, 6, 2, 1},  {1, 10, 0, 1}, {0, 0, 0, 1},  // a failed query reads as zeros
  };
  FakeOsVersionQuery query;
  platform::ScopedSeam<platform::OsVersionQuery> seam(&query);
  const std::int32_t saved = OsClass;
  for (const Row& row : rows) {
    query.version = platform::OsVersion{row.platformId, row.major, row.minor};
    OsClass = 0;
    DetectOsClass();
    EXPECT_EQ(OsClass, row.osClass) << "platform " << row.platformId << ", " << row.major << '.' << row.minor;
  }
  EXPECT_EQ(query.queries, static_cast<int>(std::size(rows)));
  OsClass = saved;
}

TEST(DetectOsClass, Windows8KeepsTheActiveXControlAndUpdatesThePlugin) {
  FakeRegistry registry;
  platform::ScopedSeam<platform::Registry> registrySeam(&registry);
  FakeOsVersionQuery query;
  platform::ScopedSeam<platform::OsVersionQuery> querySeam(&query);
  const std::int32_t saved = OsClass;
  registry.Plant(kActiveXVersionKey, kVersionValue, kSz, Utf16Le(u"11.2.202.228"));
  registry.Plant(kPluginVersionKey, kVersionValue, kSz, Utf16Le(u"11.2.202.228"));

  query.version = platform::OsVersion{2, 6, 1};
  DetectOsClass();
  EXPECT_TRUE(NeedsUpdate(Manifest(kFlavourActiveX, 235))) << "Windows 7";
  query.version = platform::OsVersion{2, 6, 2};
  DetectOsClass();
  EXPECT_FALSE(NeedsUpdate(Manifest(kFlavourActiveX, 235))) << "Windows 8";
  EXPECT_TRUE(NeedsUpdate(Manifest(kFlavourPlugin, 235))) << "Windows 8";
  OsClass = saved;
}

}  // namespace
