// The file manager against the real file system of the host.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/shell_folders_posix.h"
#include "platform/seam.h"
#include "support/file_manager.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kDay = 24 * 60 * 60;

// Makes a file of `size` bytes last written `secondsAgo` seconds ago.
void MakeFile(const fs::path& path, std::size_t size, std::time_t secondsAgo) {
  fs::create_directories(path.parent_path());
  WriteFileBytes(path, std::string(size, 'x'));
  const std::time_t when = std::time(nullptr) - secondsAgo;
  timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

class FileManagerPosixTest : public ::testing::Test {
 protected:
  std::string P(const std::string& relative) const { return (dir_.Path() / relative).string(); }
  TempDir dir_;
  DAZA::WindowsFileManager manager_;
};

TEST_F(FileManagerPosixTest, DeleteTreeRemovesEverythingAndNeverFollowsALink) {
  MakeFile(P("tree/a/b/file"), 3, 0);
  MakeFile(P("tree/top"), 3, 0);
  MakeFile(P("outside/kept"), 3, 0);
  fs::create_directory_symlink(P("outside"), P("tree/a/link"));
  EXPECT_TRUE(manager_.DeleteTree(P("tree")));
  EXPECT_FALSE(fs::exists(P("tree")));
  EXPECT_TRUE(fs::exists(P("outside/kept")));
  EXPECT_TRUE(manager_.DeleteTree(P("never-there")));
  EXPECT_TRUE(manager_.DeleteTree(P("outside/kept")));
  EXPECT_FALSE(fs::exists(P("outside/kept")));
}

TEST_F(FileManagerPosixTest, RemoveAgedFilesDeletesFilesInsideTheAgeWindow) {
  MakeFile(P("cache/recent"), 1, 3600);
  MakeFile(P("cache/old"), 1, 3 * kDay);
  MakeFile(P("cache/fresh/one"), 1, 60);
  MakeFile(P("cache/fresh/deeper/two"), 1, 7200);
  MakeFile(P("cache/mixed/recent"), 1, 60);
  MakeFile(P("cache/mixed/old"), 1, 2 * kDay);
  EXPECT_TRUE(manager_.RemoveAgedFiles(P("cache"), 0, kDay));
  EXPECT_FALSE(fs::exists(P("cache/recent")));
  EXPECT_TRUE(fs::exists(P("cache/old")));
  EXPECT_FALSE(fs::exists(P("cache/fresh"))) << "a folder emptied is removed";
  EXPECT_FALSE(fs::exists(P("cache/mixed/recent")));
  EXPECT_TRUE(fs::exists(P("cache/mixed/old")));
  EXPECT_TRUE(fs::exists(P("cache"))) << "it still holds an older file";
}

TEST_F(FileManagerPosixTest, RemoveAgedFilesHonoursTheMinimumAge) {
  MakeFile(P("cache/young"), 1, 60);
  MakeFile(P("cache/middle"), 1, 2 * kDay);
  MakeFile(P("cache/ancient"), 1, 30 * kDay);
  EXPECT_TRUE(manager_.RemoveAgedFiles(P("cache"), kDay, 7 * kDay));
  EXPECT_TRUE(fs::exists(P("cache/young")));
  EXPECT_FALSE(fs::exists(P("cache/middle")));
  EXPECT_TRUE(fs::exists(P("cache/ancient")));
}

TEST_F(FileManagerPosixTest, RemoveAgedFilesOnAnEmptyOrMissingFolder) {
  fs::create_directories(P("empty"));
  EXPECT_TRUE(manager_.RemoveAgedFiles(P("empty"), 0, kDay));
  EXPECT_FALSE(fs::exists(P("empty")));
  EXPECT_FALSE(manager_.RemoveAgedFiles(P("missing"), 0, kDay));
}

TEST_F(FileManagerPosixTest, RemoveAgedFilesRemovesALinkButNotWhatItPointsAt) {
  MakeFile(P("outside/recent"), 1, 60);
  fs::create_directories(P("cache"));
  fs::create_directory_symlink(P("outside"), P("cache/link"));
  EXPECT_TRUE(manager_.RemoveAgedFiles(P("cache"), 0, kDay));
  EXPECT_TRUE(fs::exists(P("outside/recent")));
  EXPECT_FALSE(fs::exists(P("cache")));
}

TEST_F(FileManagerPosixTest, GetFolderSizeSumsFilesRecursively) {
  MakeFile(P("f/a"), 10, 0);
  MakeFile(P("f/sub/b"), 20, 0);
  MakeFile(P("f/sub/deeper/c"), 30, 0);
  fs::create_directories(P("f/empty"));
  MakeFile(P("big/file"), 100000, 0);
  fs::create_directory_symlink(P("big"), P("f/link"));
  const std::uint64_t linkSize = fs::read_symlink(P("f/link")).string().size();
  EXPECT_EQ(manager_.GetFolderSize(P("f")), 60u + linkSize);
  EXPECT_EQ(manager_.GetFolderSize(P("f/sub/b")), 20u);
  EXPECT_EQ(manager_.GetFolderSize(P("nothing")), 0u);
}

TEST_F(FileManagerPosixTest, CreateSubfolderCreatesTheWholePath) {
  EXPECT_TRUE(manager_.CreateSubfolder(P("a/b/c"), "d"));
  EXPECT_TRUE(fs::is_directory(P("a/b/c/d")));
  EXPECT_TRUE(manager_.CreateSubfolder(P("a/b/c"), "d")) << "it exists already";
  MakeFile(P("file"), 1, 0);
  EXPECT_FALSE(manager_.CreateSubfolder(P("file"), "d"));
}

TEST_F(FileManagerPosixTest, ListFolderSortedPutsNumericNamesLast) {
  for (const char* name : {"b", "10", "a", "9"}) MakeFile(P(std::string("list/") + name), 1, 0);
  fs::create_directories(P("list/c"));
  auto names = manager_.ListFolderSorted(P("list"));
  ASSERT_NE(names, nullptr);
  std::vector<std::string> listed;
  for (std::size_t i = 0; i < names->Count(); ++i) listed.push_back((*names)[i]);
  EXPECT_EQ(listed, (std::vector<std::string>{"a", "b", "c", "9", "10"}));
  auto missing = manager_.ListFolderSorted(P("missing"));
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->Count(), 0u);
}

TEST_F(FileManagerPosixTest, PerUserFoldersLieBelowTheUsersDataFolder) {
  platform::posix::PosixShellFolders folders("/etc", P("data"));
  platform::ScopedSeam<platform::ShellFolders> seam(&folders);
  DAZA::ForgetFolderPaths();
  EXPECT_EQ(manager_.AssetCacheFolder(), P("data") + "/Orrin/Vexel Player/AssetCache");
  EXPECT_EQ(manager_.LegacyPlayerFolder(), P("data") + "/Kestrania/Vexel Player");
  EXPECT_EQ(manager_.PathSeparator(), "/");
  DAZA::ForgetFolderPaths();
}

}  // namespace
