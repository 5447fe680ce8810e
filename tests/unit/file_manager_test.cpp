#include "support/file_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/seam.h"
#include "tests/fakes/fake_file_tree.h"
#include "tests/fakes/fake_shell_folders.h"
#include "tests/fakes/fake_utf8_conversion.h"

namespace {

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

TEST(CompareEntryNames, NumericNamesByValueAfterAllOthers) {
  struct Case {
    std::string a;
    std::string b;
    int order;
  } cases[] = {
      {"a", "b", -1},
      {"b", "a", 1},
      {"a", "a", 0},
      {"B", "a", -1},     // bytes, not letters: 'B' is 0x42
      {"a", "ab", -1},
      {"\xc3\xa9", "z", 1},  // unsigned bytes: 0xC3 after 'z'
      {"9", "10", -1},    // numeric by value
      {"10", "9", 1},
      {"010", "10", 0},
      {"a", "9", -1},     // numeric after any other name
      {"9", "a", 1},
      {"", "a", 1},       // the empty name is numeric
      {"", "0", 0},
      {"1a", "2", -1},    // "1a" is not numeric
      {"-1", "1", -1},    // neither is "-1"
      {"99999999999", "2147483647", 0},  // saturated as atoi reads them
      {"2147483646", "99999999999", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(DAZA::CompareEntryNames(c.a, c.b)), c.order) << '"' << c.a << "\" vs \"" << c.b << '"';
  }
}

TEST(StringVector, GrowsByDoublingAndOwnsCopies) {
  DAZA::StringVector names;
  EXPECT_EQ(names.Count(), 0u);
  EXPECT_EQ(names.Capacity(), 10u);
  std::vector<std::size_t> capacities;
  for (int i = 0; i < 41; ++i) {
    std::string name = "n" + std::to_string(i);
    ASSERT_TRUE(names.Add(name));
    name = "changed";  // the vector holds its own copy
    capacities.push_back(names.Capacity());
  }
  EXPECT_EQ(names.Count(), 41u);
  EXPECT_EQ(capacities[9], 10u);
  EXPECT_EQ(capacities[10], 20u);
  EXPECT_EQ(capacities[20], 40u);
  EXPECT_EQ(capacities[40], 80u);
  for (std::size_t i = 0; i < names.Count(); ++i) EXPECT_EQ(names[i], "n" + std::to_string(i));
}

TEST(StringVector, SortsByTheComparison) {
  DAZA::StringVector names;
  for (const char* n : {"b", "10", "a", "9", "", "B"}) names.Add(n);
  names.Sort(DAZA::CompareEntryNames);
  std::vector<std::string> sorted;
  for (std::size_t i = 0; i < names.Count(); ++i) sorted.push_back(names[i]);
  EXPECT_EQ(sorted, (std::vector<std::string>{"B", "a", "b", "", "9", "10"}));
}

TEST(FileManager, DeleteTreeCountsAMissingPathAsDeleted) {
  FakeFileTree tree;
  platform::ScopedSeam<platform::FileTree> seam(&tree);
  DAZA::WindowsFileManager manager;
  struct Case {
    std::uint32_t result;
    bool deleted;
  } cases[] = {{0, true}, {2, true}, {0x7C, true}, {0x402, true}, {3, false}, {5, false}, {0x78, false},
               {0x401, false}, {1113, false}};
  for (const Case& c : cases) {
    tree.shellDeleteResult = c.result;
    EXPECT_EQ(manager.DeleteTree("/x/y"), c.deleted) << c.result;
  }
  EXPECT_EQ(tree.shellDeleted.back(), "/x/y");
}

TEST(FileManager, PerUserFoldersAreComputedOncePerProcess) {
  FakeShellFolders folders;
  FakeUtf8Conversion conversion;
  platform::ScopedSeam<platform::ShellFolders> folderSeam(&folders);
  platform::ScopedSeam<platform::Utf8Conversion> conversionSeam(&conversion);
  DAZA::ForgetFolderPaths();
  DAZA::WindowsFileManager manager;

  // The first call fails to convert: nothing is kept, and the next call
  // tries again.
  folders.appDataFolder = L"/home/\u00e9mile/.local/share";
  conversion.failWideToUtf8With = 87;
  EXPECT_EQ(manager.AssetCacheFolder(), "");
  conversion.failWideToUtf8With = 0;

  const std::string base = "/home/\xc3\xa9mile/.local/share";
  EXPECT_EQ(manager.AssetCacheFolder(), base + "/Orrin/Vexel Player/AssetCache");
  EXPECT_EQ(manager.OVCacheFolder(), base + "/Orrin/Vexel Player/OVCache");
  EXPECT_EQ(manager.LegacyPlayerFolder(), base + "/Kestrania/Vexel Player");
  EXPECT_EQ(manager.PrivateDataFolder(), base + "/Orrin/Vexel Player/OPSPrivateData2");
  const int calls = folders.calls;

  folders.appDataFolder = L"/moved";
  DAZA::WindowsFileManager another;
  EXPECT_EQ(another.AssetCacheFolder(), base + "/Orrin/Vexel Player/AssetCache");
  EXPECT_EQ(another.PrivateDataFolder(), base + "/Orrin/Vexel Player/OPSPrivateData2");
  EXPECT_EQ(folders.calls, calls);
  EXPECT_EQ(manager.PathSeparator(), "/");
  DAZA::ForgetFolderPaths();
}

TEST(FileManager, ListingANonUtf8PathGivesNoVectorAndAMissingFolderAnEmptyOne) {
  FakeFileTree tree;
  platform::ScopedSeam<platform::FileTree> seam(&tree);
  DAZA::WindowsFileManager manager;
  auto missing = manager.ListFolderSorted("/no/such/folder");
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->Count(), 0u);
  tree.listFolderError = platform::kPathNotUtf8;
  EXPECT_EQ(manager.ListFolderSorted("/not-utf8-\xff"), nullptr);
}

}  // namespace
