// The CryptoAPI adapter against crypt32.dll: the table of signed packages,
// and the library's load from the system folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/crypto_api.h"
#include "platform/seam.h"
#include "tests/support/signed_packages.h"
#include "transfer/signature_verifier.h"

namespace {

class CryptoApiPackages : public testing::TestWithParam<SignedPackageCase> {};

TEST_P(CryptoApiPackages, GiveTheVerdictOfTheTable) { CheckSignedPackage(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Table, CryptoApiPackages, testing::ValuesIn(SignedPackageCases()),
                         [](const testing::TestParamInfo<SignedPackageCase>& info) {
                           return SignedPackageCaseName(info.param);
                         });

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameW(module, path, MAX_PATH * 2);
  return std::wstring(path, n);
}

TEST(Win32CryptoLibrary, BindsCrypt32FromTheSystemFolder) {
  CryptoApiBinding binding;
  ASSERT_TRUE(BindCryptoApi(binding));
  ASSERT_NE(binding.library, nullptr);
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  std::wstring loaded = ModulePath(reinterpret_cast<HMODULE>(binding.library));
  EXPECT_EQ(CompareStringOrdinal(loaded.c_str(), -1, (std::wstring(system) + L"\\crypt32.dll").c_str(), -1, TRUE),
            CSTR_EQUAL);
  EXPECT_NE(binding.decodeObject, nullptr);
  UnloadCryptoApi(binding);
  EXPECT_EQ(binding.library, nullptr);
}

TEST(Win32CryptoLibrary, ALibraryMissingFromTheSystemFolderIsNotSearchedForElsewhere) {
  // A DLL of that name beside the test program would be found by the
  // ordinary search; the load by full path in the system folder must not.
  std::wstring here = ModulePath(nullptr);
  std::wstring planted = here.substr(0, here.find_last_of(L'\\') + 1) + L"vexel-planted-library.dll";
  ASSERT_TRUE(CopyFileW((ModulePath(GetModuleHandleW(L"kernel32.dll"))).c_str(), planted.c_str(), FALSE));
  CryptoApiBinding binding;
  EXPECT_FALSE(LoadSystemLibrary(L"vexel-planted-library.dll", binding));
  EXPECT_EQ(binding.library, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  DeleteFileW(planted.c_str());
}

}  // namespace
