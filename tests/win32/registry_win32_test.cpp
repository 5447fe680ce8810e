// The Win32 registry and OS version adapters against the real Windows API:
// the shared registry suites on the prefix's registry, the view the 32-bit
// program's values land in, and the adapter's error numbers.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "platform/os_version.h"
#include "platform/registry.h"
#include "platform/seam.h"
#include "tests/fakes/fake_clock.h"
#include "tests/support/registry_cases.h"
#include "update/installed_version.h"
#include "update/schedule_state.h"

namespace {

// Every key these tests touch, in both views; the parent goes too when the
// tests left it empty.
const wchar_t* const kTestKeys[] = {
    L"SOFTWARE\\Kestrania\\VexelPlayer",
    L"SOFTWARE\\Kestrania\\VexelPlayerActiveX",
    L"SOFTWARE\\Kestrania\\VexelPlayerPlugin",
    L"SOFTWARE\\Kestrania\\RegistryAdapterTest (delete me)",
    L"SOFTWARE\\Kestrania",
};
const wchar_t kAdapterTestKey[] = L"SOFTWARE\\Kestrania\\RegistryAdapterTest (delete me)";

void DeleteTestKeys() {
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    for (const wchar_t* key : kTestKeys) ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key, view, 0);
  }
}

class Win32RegistryUnderTest final : public BorrowedRegistry {
 public:
  Win32RegistryUnderTest() : BorrowedRegistry(platform::PlatformDefault<platform::Registry>()) { DeleteTestKeys(); }
  ~Win32RegistryUnderTest() override { DeleteTestKeys(); }
};

RegistryBackend WindowsBackend() {
  return RegistryBackend{"Windows", [] { return std::make_unique<Win32RegistryUnderTest>(); }};
}

INSTANTIATE_TEST_SUITE_P(Windows, ScheduleStateCases, ::testing::Values(WindowsBackend()), BackendName);
INSTANTIATE_TEST_SUITE_P(Windows, InstalledVersionCases, ::testing::Values(WindowsBackend()), BackendName);

// A key of one view, opened or created with the raw API, closed at the end.
class RawKey {
 public:
  RawKey(const wchar_t* subkey, REGSAM view, bool create) {
    status_ = create ? ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_ALL_ACCESS | view, nullptr, &key_, nullptr)
                     : ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ | view, &key_);
  }
  ~RawKey() {
    if (status_ == ERROR_SUCCESS) ::RegCloseKey(key_);
  }
  RawKey(const RawKey&) = delete;
  RawKey& operator=(const RawKey&) = delete;
  LONG Status() const { return status_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
  LONG status_ = ERROR_INVALID_HANDLE;
};

struct RawValue {
  LONG status = ERROR_INVALID_HANDLE;
  DWORD type = REG_NONE;
  std::string bytes;
};

RawValue Query(const RawKey& key, const wchar_t* name) {
  RawValue value;
  char buffer[64];
  DWORD size = sizeof buffer;
  value.status = ::RegQueryValueExW(key.Get(), name, nullptr, &value.type, reinterpret_cast<BYTE*>(buffer), &size);
  if (value.status == ERROR_SUCCESS) value.bytes.assign(buffer, size);
  return value;
}

class Win32RegistryView : public ::testing::Test {
 protected:
  void SetUp() override {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
    ASSERT_TRUE(wow64) << "these tests need a 64-bit prefix, where the 32-bit view is a view of its own";
    DeleteTestKeys();
  }
  void TearDown() override { DeleteTestKeys(); }
};

TEST_F(Win32RegistryView, ScheduleValuesLandInThe32BitViewWithTheirTypesAndSizes) {
  FakeClock clock;
  clock.fileTime = 0x0123456789ABCDEFULL;
  platform::ScopedSeam<platform::SystemClock> clockSeam(&clock);
  ASSERT_TRUE(WriteLastUpdateCheck(false));
  ASSERT_TRUE(WriteCheckFrequency(2u));
  ASSERT_TRUE(WriteUpdateAttempts(5));

  // As 64-bit tools see it: below Wow6432Node.
  RawKey seen64(L"SOFTWARE\\Wow6432Node\\Kestrania\\VexelPlayer", KEY_WOW64_64KEY, false);
  ASSERT_EQ(seen64.Status(), ERROR_SUCCESS);
  const RawValue last = Query(seen64, L"LastUpdateCheck");
  ASSERT_EQ(last.status, ERROR_SUCCESS);
  EXPECT_EQ(last.type, static_cast<DWORD>(REG_QWORD));
  EXPECT_EQ(last.bytes, Le64(0x0123456789ABCDEFULL));
  const RawValue frequency = Query(seen64, L"CheckFrequency");
  ASSERT_EQ(frequency.status, ERROR_SUCCESS);
  EXPECT_EQ(frequency.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(frequency.bytes, Le32(2));
  const RawValue attempts = Query(seen64, L"UpdateAttempts");
  ASSERT_EQ(attempts.status, ERROR_SUCCESS);
  EXPECT_EQ(attempts.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(attempts.bytes, Le32(5));

  RawKey seen32(ScheduleKey, KEY_WOW64_32KEY, false);
  EXPECT_EQ(seen32.Status(), ERROR_SUCCESS);
  RawKey native64(ScheduleKey, KEY_WOW64_64KEY, false);
  EXPECT_EQ(native64.Status(), ERROR_FILE_NOT_FOUND) << "nothing is written to the 64-bit view";
}

TEST_F(Win32RegistryView, ReadsComeFromThe32BitViewOnly) {
  const std::string now = Le64(0x01D0000000000000ULL);
  const std::string version = Utf16Le(u"11.2.202.228") + Le16(0);
  ComponentVersion newer;
  newer.major = 11;
  newer.minor = 2;
  newer.buildMajor = 202;
  newer.buildMinor = 235;
  newer.flavour = kFlavourPlugin;
  FakeClock clock;
  clock.fileTime = 0x01D0000000000000ULL;
  platform::ScopedSeam<platform::SystemClock> clockSeam(&clock);

  {
    RawKey schedule64(ScheduleKey, KEY_WOW64_64KEY, true);
    RawKey plugin64(kPluginVersionKey, KEY_WOW64_64KEY, true);
    ASSERT_EQ(schedule64.Status(), ERROR_SUCCESS);
    ASSERT_EQ(plugin64.Status(), ERROR_SUCCESS);
    ::RegSetValueExW(schedule64.Get(), L"LastUpdateCheck", 0, REG_QWORD, reinterpret_cast<const BYTE*>(now.data()), 8);
    ::RegSetValueExW(plugin64.Get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.data()),
                     static_cast<DWORD>(version.size()));
  }
  EXPECT_TRUE(IsCheckDue()) << "a check recorded in the 64-bit view only is not seen";
  EXPECT_FALSE(NeedsUpdate(newer)) << "a version recorded in the 64-bit view only is not seen";

  {
    RawKey schedule32(ScheduleKey, KEY_WOW64_32KEY, true);
    RawKey plugin32(kPluginVersionKey, KEY_WOW64_32KEY, true);
    ASSERT_EQ(schedule32.Status(), ERROR_SUCCESS);
    ASSERT_EQ(plugin32.Status(), ERROR_SUCCESS);
    ::RegSetValueExW(schedule32.Get(), L"LastUpdateCheck", 0, REG_QWORD, reinterpret_cast<const BYTE*>(now.data()), 8);
    ::RegSetValueExW(plugin32.Get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.data()),
                     static_cast<DWORD>(version.size()));
  }
  EXPECT_FALSE(IsCheckDue());
  EXPECT_TRUE(NeedsUpdate(newer));
}

TEST_F(Win32RegistryView, AdapterStepsReportTheRegistrysErrors) {
  platform::Registry& registry = platform::Seam<platform::Registry>::Get();
  const auto expectFailure = [](const auto& step, DWORD e, const char* what) {
    EXPECT_FALSE(step.ok) << what;
    EXPECT_EQ(step.error, static_cast<platform::ErrorNumber>(e)) << what;
    EXPECT_EQ(::GetLastError(), e) << what;
  };
  ::SetLastError(0);
  expectFailure(registry.OpenKey(kAdapterTestKey, platform::RegistryAccess::kRead), ERROR_FILE_NOT_FOUND,
                "missing key");

  auto created = registry.CreateKey(kAdapterTestKey);
  ASSERT_TRUE(created.ok) << created.error;
  ASSERT_TRUE(registry.SetValue(created.value, L"Long", REG_BINARY, "12345", 5).ok);
  char buffer[4];
  expectFailure(registry.QueryValue(created.value, L"Long", buffer, sizeof buffer), ERROR_ACCESS_DENIED,
                "query on a KEY_SET_VALUE handle");
  expectFailure(registry.DeleteValue(created.value, L"Missing"), ERROR_FILE_NOT_FOUND, "delete of a missing value");
  EXPECT_TRUE(registry.CloseKey(created.value).ok);

  auto opened = registry.OpenKey(kAdapterTestKey, platform::RegistryAccess::kRead);
  ASSERT_TRUE(opened.ok) << opened.error;
  expectFailure(registry.QueryValue(opened.value, L"Long", buffer, sizeof buffer), ERROR_MORE_DATA, "too long");
  expectFailure(registry.QueryValue(opened.value, L"Missing", buffer, sizeof buffer), ERROR_FILE_NOT_FOUND,
                "missing value");
  expectFailure(registry.SetValue(opened.value, L"X", REG_DWORD, "\0\0\0\0", 4), ERROR_ACCESS_DENIED,
                "set on a KEY_READ handle");
  char big[8] = {};
  auto queried = registry.QueryValue(opened.value, L"Long", big, sizeof big);
  ASSERT_TRUE(queried.ok);
  EXPECT_EQ(queried.value.type, static_cast<std::uint32_t>(REG_BINARY));
  EXPECT_EQ(std::string(big, queried.value.size), "12345");
  EXPECT_TRUE(registry.CloseKey(opened.value).ok);

  auto deleter = registry.OpenKey(kAdapterTestKey, platform::RegistryAccess::kSetValue);
  ASSERT_TRUE(deleter.ok) << deleter.error;
  EXPECT_TRUE(registry.DeleteValue(deleter.value, L"Long").ok);
  EXPECT_TRUE(registry.CloseKey(deleter.value).ok);
}

TEST(Win32OsVersionQuery, ReportsWhatTheSystemReports) {
  OSVERSIONINFOW wide{};
  wide.dwOSVersionInfoSize = sizeof wide;
  ASSERT_TRUE(::GetVersionExW(&wide));
  const platform::OsVersion version = platform::Seam<platform::OsVersionQuery>::Get().Query();
  EXPECT_EQ(version.platformId, wide.dwPlatformId);
  EXPECT_EQ(version.major, wide.dwMajorVersion);
  EXPECT_EQ(version.minor, wide.dwMinorVersion);
  EXPECT_EQ(version.platformId, 2u) << "wine reports an NT-family Windows";
}

}  // namespace
