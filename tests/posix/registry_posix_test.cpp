// The host's registry store on the real file system: the shared suites, its
// files, its error numbers, and what it keeps between processes.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "platform/posix/registry_posix.h"
#include "platform/seam.h"
#include "tests/support/registry_cases.h"
#include "tests/support/temp_dir.h"
#include "update/installed_version.h"
#include "update/schedule_state.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using platform::RegistryAccess;
using platform::posix::PosixRegistry;
namespace error = platform::error;
namespace registry_type = platform::registry_type;

class StoreUnderTest final : public RegistryUnderTest {
 public:
  StoreUnderTest() : store_(dir_.Path() / "registry") {}
  platform::Registry& Get() override { return store_; }

 private:
  TempDir dir_;
  PosixRegistry store_;
};

RegistryBackend StoreBackend() {
  return RegistryBackend{"Store", [] { return std::make_unique<StoreUnderTest>(); }};
}

INSTANTIATE_TEST_SUITE_P(Store, ScheduleStateCases, ::testing::Values(StoreBackend()), BackendName);
INSTANTIATE_TEST_SUITE_P(Store, InstalledVersionCases, ::testing::Values(StoreBackend()), BackendName);

class PosixRegistryTest : public ::testing::Test {
 protected:
  PosixRegistryTest() : root_(dir_.Path() / "registry"), store_(root_) {}

  platform::RegistryKeyHandle Create(const std::wstring& subkey) {
    auto created = store_.CreateKey(subkey);
    EXPECT_TRUE(created.ok) << "error " << created.error;
    return created.value;
  }
  platform::RegistryKeyHandle Open(const std::wstring& subkey, RegistryAccess access) {
    auto opened = store_.OpenKey(subkey, access);
    EXPECT_TRUE(opened.ok) << "error " << opened.error;
    return opened.value;
  }

  TempDir dir_;
  fs::path root_;
  PosixRegistry store_;
};

TEST_F(PosixRegistryTest, ValuesAreFilesWithTheirTypeAndBytes) {
  platform::ScopedSeam<platform::Registry> seam(&store_);
  ASSERT_TRUE(WriteUpdateAttempts(7));
  ASSERT_TRUE(WriteCheckFrequency(2u));
  ASSERT_TRUE(WriteLastUpdateCheck(true));
  const fs::path key = root_ / "HKEY_LOCAL_MACHINE" / "software.key" / "kestrania.key" / "vexelplayer.key";
  EXPECT_EQ(store_.ValueFile(ScheduleKey, kUpdateAttemptsValue), key / "updateattempts.value");
  EXPECT_EQ(ReadFileBytes(key / "updateattempts.value"), std::string("VXRV") + Le32(4) + Le32(7));
  EXPECT_EQ(ReadFileBytes(key / "checkfrequency.value"), std::string("VXRV") + Le32(4) + Le32(2));
  EXPECT_EQ(ReadFileBytes(key / "lastupdatecheck.value"), std::string("VXRV") + Le32(11) + Le64(0));
  // Only the three values: the replacements left no temporary files.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(key)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"checkfrequency.value", "lastupdatecheck.value", "updateattempts.value"}));
  EXPECT_EQ(fs::status(key / "updateattempts.value").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

TEST_F(PosixRegistryTest, NamesCompareWithoutCaseAndOddCharactersAreEscaped) {
  // The schedule key is spelt "SOFTWARE\...", the version keys "Software\...".
  platform::RegistryKeyHandle created = Create(L"SOFTWARE\\Kestrania\\Odd Name/..");
  ASSERT_TRUE(store_.SetValue(created, L"Value.Name", registry_type::kSz, "ab", 2).ok);
  ASSERT_TRUE(store_.SetValue(created, L"", registry_type::kDword, "\1\0\0\0", 4).ok);
  ASSERT_TRUE(store_.CloseKey(created).ok);
  const fs::path key = root_ / "HKEY_LOCAL_MACHINE/software.key/kestrania.key/odd%20name%2F%2E%2E.key";
  EXPECT_TRUE(fs::exists(key / "value%2Ename.value"));
  EXPECT_TRUE(fs::exists(key / ".value")) << "the default value";

  platform::RegistryKeyHandle opened = Open(L"software\\KESTRANIA\\odd NAME/..\\", RegistryAccess::kRead);
  char buffer[4] = {};
  auto queried = store_.QueryValue(opened, L"VALUE.name", buffer, sizeof buffer);
  ASSERT_TRUE(queried.ok);
  EXPECT_EQ(queried.value.type, registry_type::kSz);
  EXPECT_EQ(std::string(buffer, queried.value.size), "ab");
  queried = store_.QueryValue(opened, L"", buffer, sizeof buffer);
  ASSERT_TRUE(queried.ok);
  EXPECT_EQ(queried.value.type, registry_type::kDword);
  EXPECT_TRUE(store_.CloseKey(opened).ok);
}

TEST_F(PosixRegistryTest, StepsFailWithTheRegistrysErrorNumbers) {
  char buffer[4] = {'x', 'x', 'x', 'x'};
  const auto expectFailure = [](const auto& step, platform::ErrorNumber e, const char* what) {
    EXPECT_FALSE(step.ok) << what;
    EXPECT_EQ(step.error, e) << what;
    EXPECT_EQ(platform::LastError(), e) << what;
  };
  platform::SetLastError(0);
  expectFailure(store_.OpenKey(L"SOFTWARE\\Missing", RegistryAccess::kRead), error::kFileNotFound, "missing key");
  expectFailure(store_.OpenKey(L"SOFTWARE\\\\Double", RegistryAccess::kRead), error::kBadPathname, "empty component");
  expectFailure(store_.CreateKey(L"\\Leading"), error::kBadPathname, "leading backslash");

  platform::RegistryKeyHandle writer = Create(L"SOFTWARE\\Test");
  ASSERT_TRUE(store_.SetValue(writer, L"Long", registry_type::kBinary, "12345", 5).ok);
  expectFailure(store_.QueryValue(writer, L"Long", buffer, sizeof buffer), error::kAccessDenied, "query on set handle");

  platform::RegistryKeyHandle reader = Open(L"SOFTWARE\\Test", RegistryAccess::kRead);
  expectFailure(store_.QueryValue(reader, L"Missing", buffer, sizeof buffer), error::kFileNotFound, "missing value");
  expectFailure(store_.QueryValue(reader, L"Long", buffer, sizeof buffer), error::kMoreData, "value too long");
  EXPECT_EQ(std::string(buffer, 4), "xxxx") << "a value too long for the buffer is not copied";
  expectFailure(store_.SetValue(reader, L"X", registry_type::kDword, "\0\0\0\0", 4), error::kAccessDenied,
                "set on read handle");
  expectFailure(store_.DeleteValue(reader, L"Long"), error::kAccessDenied, "delete on read handle");
  expectFailure(store_.DeleteValue(writer, L"Missing"), error::kFileNotFound, "delete of a missing value");

  // A value file that is not one of ours.
  WriteFileBytes(store_.ValueFile(L"SOFTWARE\\Test", L"Broken"), "junk");
  expectFailure(store_.QueryValue(reader, L"Broken", buffer, sizeof buffer), error::kRegistryCorrupt, "corrupt");

  EXPECT_TRUE(store_.CloseKey(reader).ok);
  EXPECT_TRUE(store_.CloseKey(writer).ok);
  expectFailure(store_.CloseKey(reader), error::kInvalidHandle, "closed twice");
  expectFailure(store_.QueryValue(reader, L"Long", buffer, sizeof buffer), error::kInvalidHandle, "closed handle");
}

TEST_F(PosixRegistryTest, AnUnusableRootFailsTheStepsAndCreatesNothing) {
  WriteFileBytes(root_, "a file where the store's folder should be");
  PosixRegistry store(root_);
  platform::ScopedSeam<platform::Registry> seam(&store);
  EXPECT_FALSE(WriteUpdateAttempts(0));
  std::uint32_t count = 5;
  EXPECT_FALSE(ReadUpdateAttempts(count));
  EXPECT_FALSE(DeleteUpdateAttempts());
  EXPECT_TRUE(IsCheckDue());
  EXPECT_TRUE(fs::is_regular_file(root_));
}

TEST_F(PosixRegistryTest, ReadersSeeTheOldValueOrTheNewOneNeverAMixture) {
  // Two stores on one folder, as two processes would have; one writes two
  // 8-byte patterns in turn while the other keeps reading.
  PosixRegistry reader(root_);
  const std::string a = Le64(0x1111111111111111ULL), b = Le64(0x2222222222222222ULL);
  platform::RegistryKeyHandle w = Create(ScheduleKey);
  ASSERT_TRUE(store_.SetValue(w, kLastUpdateCheckValue, registry_type::kQword, a.data(), 8).ok);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 200; ++i) {
      const std::string& v = i % 2 == 0 ? b : a;
      EXPECT_TRUE(store_.SetValue(w, kLastUpdateCheckValue, registry_type::kQword, v.data(), 8).ok);
    }
    done = true;
  });
  int reads = 0;
  std::string failure;
  while ((!done || reads == 0) && failure.empty()) {
    auto opened = reader.OpenKey(ScheduleKey, RegistryAccess::kRead);
    if (!opened.ok) {
      failure = "open failed: " + std::to_string(opened.error);
      break;
    }
    char buffer[8];
    auto queried = reader.QueryValue(opened.value, kLastUpdateCheckValue, buffer, sizeof buffer);
    reader.CloseKey(opened.value);
    if (!queried.ok || queried.value.size != 8) {
      failure = "query failed: " + std::to_string(queried.error);
    } else if (std::string(buffer, 8) != a && std::string(buffer, 8) != b) {
      failure = "a mixture of two values";
    }
    ++reads;
  }
  writer.join();
  EXPECT_EQ(failure, "");
  EXPECT_TRUE(store_.CloseKey(w).ok);
}

// Runs the helper program on the store's folder; its exit code and output.
struct HelperRun {
  int exitCode = -1;
  std::string output;
};

HelperRun RunHelper(const fs::path& root, const std::vector<std::string>& steps) {
  std::vector<std::string> args{VEXEL_REGISTRY_HELPER, root.string()};
  args.insert(args.end(), steps.begin(), steps.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fds[2];
  HelperRun run;
  if (::pipe(fds) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (spawned != 0) {
    ::close(fds[0]);
    return run;
  }
  char chunk[256];
  ssize_t n;
  while ((n = ::read(fds[0], chunk, sizeof chunk)) > 0) run.output.append(chunk, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

TEST_F(PosixRegistryTest, AnotherProcessReadsAndChangesWhatThisOneWrote) {
  {
    platform::ScopedSeam<platform::Registry> seam(&store_);
    ASSERT_TRUE(WriteUpdateAttempts(6));
    ASSERT_TRUE(WriteCheckFrequency(3u));
    ASSERT_TRUE(WriteLastUpdateCheck(false));  // now, by the real clock
  }
  const HelperRun run = RunHelper(root_, {"print", "increment", "reset-last", "frequency=2", "print"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output, "attempts=6 frequency=3 due=0\nattempts=7 frequency=2 due=1\n");

  // A store opened afresh in this process finds what the other one left.
  PosixRegistry reopened(root_);
  platform::ScopedSeam<platform::Registry> seam(&reopened);
  std::uint32_t attempts = 0, days = 0;
  EXPECT_TRUE(ReadUpdateAttempts(attempts));
  EXPECT_EQ(attempts, 7u);
  EXPECT_TRUE(ReadCheckFrequency(days));
  EXPECT_EQ(days, 2u);
  EXPECT_TRUE(IsCheckDue());

  const HelperRun cleared = RunHelper(root_, {"delete-attempts", "print", "delete-attempts"});
  EXPECT_EQ(cleared.exitCode, 1) << "the second deletion finds nothing";
  EXPECT_EQ(cleared.output, "attempts=missing frequency=2 due=1\n");
  EXPECT_FALSE(ReadUpdateAttempts(attempts));
}

}  // namespace
