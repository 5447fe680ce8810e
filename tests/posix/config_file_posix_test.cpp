// The configuration file against the real file system of the host.
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "config/update_settings.h"
#include "platform/posix/shell_folders_posix.h"
#include "platform/seam.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Runs `step` in a child process that holds no privilege, so that the
// kernel's access checks apply even when the tests run as root. The child
// reports the step's result in its exit status.
bool RunUnprivileged(const std::function<bool()>& step) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    ::_exit(step() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 2) << "the child could not drop its privilege";
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ConfigFilePosixTest : public ::testing::Test {
 protected:
  ConfigFilePosixTest() : folders_(dir_.Path().string(), ""), seam_(&folders_) {
    folder_ = dir_.Path() / "Kestran" / "Vexel";
    file_ = folder_ / "vxm.cfg";
    ForgetConfigFilePath();
  }
  ~ConfigFilePosixTest() override { ForgetConfigFilePath(); }

  TempDir dir_;
  platform::posix::PosixShellFolders folders_;
  platform::ScopedSeam<platform::ShellFolders> seam_;
  fs::path folder_;
  fs::path file_;
};

TEST(PosixShellFolders, TheSystemFolderIsEtc) {
  ForgetConfigFilePath();
  EXPECT_EQ(ConfigFilePath(), "/etc/Kestran/Vexel/vxm.cfg");
  ForgetConfigFilePath();
}

TEST(PosixShellFolders, TheApplicationDataFolderIsTheUsersDataFolder) {
  platform::posix::PosixShellFolders folders;
  const char* savedXdg = std::getenv("XDG_DATA_HOME");
  const std::string saved = savedXdg != nullptr ? savedXdg : "";
  ::setenv("XDG_DATA_HOME", "/srv/data/", 1);
  EXPECT_EQ(folders.AppDataFolder().value, L"/srv/data/");
  ::setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  if (!home.empty() && home[0] == '/') {
    std::wstring expected(home.begin(), home.end());
    if (expected.back() == L'/') expected.pop_back();
    EXPECT_EQ(folders.AppDataFolder().value, expected + L"/.local/share");
  }
  if (savedXdg != nullptr) {
    ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
}

TEST_F(ConfigFilePosixTest, TheFileLiesBelowTheSystemFolderTheAdapterWasGiven) {
  EXPECT_EQ(ConfigFilePath(), file_.string());
}

TEST_F(ConfigFilePosixTest, SetUpdateModeCreatesTheFileInAnExistingFolder) {
  fs::create_directories(folder_);
  ASSERT_TRUE(SetUpdateMode(kUpdateModeSilent));
  EXPECT_EQ(ReadFileBytes(file_), "AutoUpdateDisable=0\r\nSilentAutoUpdateEnable=1\r\n");
  EXPECT_EQ(Names(folder_), std::vector<std::string>{"vxm.cfg"});
  EXPECT_TRUE(IsSilentUpdateEnabled());
}

TEST_F(ConfigFilePosixTest, AMissingFolderIsNotCreated) {
  EXPECT_FALSE(SetUpdateMode(kUpdateModeSilent));
  EXPECT_FALSE(IsSilentUpdateEnabled());
  EXPECT_TRUE(fs::is_empty(dir_.Path()));
  fs::create_directories(dir_.Path() / "Kestran");
  EXPECT_FALSE(SetUpdateMode(kUpdateModeDisabled));
  EXPECT_TRUE(fs::is_empty(dir_.Path() / "Kestran"));
}

TEST_F(ConfigFilePosixTest, SaveReplacesTheFileAndKeepsItsAccessMode) {
  fs::create_directories(folder_);
  WriteFileBytes(file_, "\xef\xbb\xbf# note\r\nOther=x\r\nSilentAutoUpdateEnable=1\r\n");
  ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
  ASSERT_TRUE(SetUpdateMode(kUpdateModeDisabled));
  EXPECT_EQ(ReadFileBytes(file_), "AutoUpdateDisable=1\r\nSilentAutoUpdateEnable=0\r\nOther=x\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Names(folder_), std::vector<std::string>{"vxm.cfg"});
}

// The folder refuses the new file although the file itself may be written:
// a save that truncated the file in place would go through and lose it on
// a failure; this one fails before the file is touched.
TEST_F(ConfigFilePosixTest, AFolderThatRefusesTheNewFileLeavesTheOldOne) {
  fs::create_directories(folder_);
  const std::string before = "SilentAutoUpdateEnable=1\r\nOther=x\r\n";
  WriteFileBytes(file_, before);
  ASSERT_EQ(::chmod(file_.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(folder_.c_str(), 0555), 0);
  const std::string path = file_.string();
  EXPECT_TRUE(RunUnprivileged([&] {
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0) return false;
    ::close(fd);
    return true;
  })) << "the file itself is writable";
  EXPECT_FALSE(RunUnprivileged([&] {
    ConfigFile file(path);
    file.Set("SilentAutoUpdateEnable", "0");
    return file.Save();
  }));
  ::chmod(folder_.c_str(), 0755);
  EXPECT_EQ(ReadFileBytes(file_), before);
  EXPECT_EQ(Names(folder_), std::vector<std::string>{"vxm.cfg"});
}

TEST_F(ConfigFilePosixTest, AFileThatMayNotBeWrittenIsNotReplaced) {
  fs::create_directories(folder_);
  const std::string before = "SilentAutoUpdateEnable=1\r\n";
  WriteFileBytes(file_, before);
  ASSERT_EQ(::chmod(file_.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(folder_.c_str(), 0777), 0);
  const std::string path = file_.string();
  EXPECT_FALSE(RunUnprivileged([&] {
    ConfigFile file(path);
    file.Set("SilentAutoUpdateEnable", "0");
    return file.Save();
  }));
  EXPECT_EQ(ReadFileBytes(file_), before);
  EXPECT_EQ(Names(folder_), std::vector<std::string>{"vxm.cfg"});
}

TEST_F(ConfigFilePosixTest, AFolderOrUnreadableFileReadsAsEmpty) {
  fs::create_directories(file_);  // a folder where the file should be
  ConfigFile folderInstead(file_.string());
  EXPECT_EQ(folderInstead.Table().Size(), 0u);
  EXPECT_FALSE(folderInstead.Save()) << "a folder is not replaced";
  EXPECT_TRUE(fs::is_directory(file_));
  fs::remove(file_);
  WriteFileBytes(file_, "SilentAutoUpdateEnable=1\r\n");
  ASSERT_EQ(::chmod(file_.c_str(), 0000), 0);
  const std::string path = file_.string();
  EXPECT_TRUE(RunUnprivileged([&] { return ConfigFile(path).Table().Size() == 0; }));
}

}  // namespace
