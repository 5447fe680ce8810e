// vexel-log reading a real file while another thread appends to it.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/log_file.h"
#include "platform/seam.h"
#include "tests/fakes/fake_reader_system.h"
#include "tests/support/temp_dir.h"
#include "tools/logreader/reader_system.h"

namespace {

constexpr int kLines = 400;

std::string NumberedLine(int i) {
  return LogLineBytes({2010, 11, 3, 9, i / 1000 % 60, i / 10 % 60, i % 1000}, kLogInformation,
                      L"1622 " + std::to_wstring(i));
}

// The real file system under a reader whose waits are short and whose
// output is kept.
class CapturingSystem final : public logreader::ReaderSystem {
 public:
  explicit CapturingSystem(std::function<bool()> keepFollowing) : keepFollowing_(std::move(keepFollowing)) {}

  std::string DefaultLogPath() override { return ""; }
  bool Read(const std::string& path, std::uint64_t offset, std::size_t maxBytes, std::string& out,
            std::uint64_t& fileSize, std::string& error) override {
    return real_->Read(path, offset, maxBytes, out, fileSize, error);
  }
  void Out(const std::string& text) override { out += text; }
  void Err(const std::string& text) override { err += text; }
  void Flush() override {}
  bool WaitForMore() override {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    // One more look after the writer is done, then stop.
    if (finishing_) return false;
    if (!keepFollowing_()) finishing_ = true;
    return true;
  }

  std::string out;
  std::string err;

 private:
  std::unique_ptr<logreader::ReaderSystem> real_ = logreader::MakePlatformReaderSystem();
  std::function<bool()> keepFollowing_;
  bool finishing_ = false;
};

// The numbers of the printed "1622 n" lines, and the markers of anything else.
std::vector<std::string> Printed(const std::string& out) {
  std::vector<std::string> printed;
  std::size_t start = 0;
  while (start < out.size()) {
    const std::size_t end = out.find('\n', start);
    const std::string line = out.substr(start, end - start);
    start = end + 1;
    const std::size_t control = line.find("; control code ");
    if (line.rfind("[", 0) == 0 || control == std::string::npos) {
      printed.push_back(line.substr(0, line.find(' ')));
    } else {
      const std::size_t number = control + 15;
      printed.push_back(line.substr(number, line.find(' ', number) - number));
    }
  }
  return printed;
}

std::vector<std::string> Numbers(int count) {
  std::vector<std::string> numbers;
  for (int i = 0; i < count; ++i) numbers.push_back(std::to_string(i));
  return numbers;
}

// Appends the numbered lines, each in three writes cut at odd byte counts,
// so that a reader finds torn lines and torn code units. Sets `done` at the
// end, also when it fails, so that no reader waits for ever.
void AppendInPieces(const std::string& path, std::atomic<bool>& done) {
  struct SetWhenDone {
    std::atomic<bool>& flag;
    ~SetWhenDone() { flag = true; }
  } setWhenDone{done};
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < kLines; ++i) {
    const std::string line = NumberedLine(i);
    const std::size_t cuts[] = {0, 7, 7 + static_cast<std::size_t>(i % 23), line.size()};
    for (int k = 0; k < 3; ++k) {
      const std::size_t size = cuts[k + 1] - cuts[k];
      EXPECT_EQ(::write(fd, line.data() + cuts[k], size), static_cast<ssize_t>(size));
      std::this_thread::yield();
    }
    // Now and then a pause, so that the readers meet the log half-written.
    if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ::close(fd);
}

TEST(LogReaderAppend, FollowReadsEveryLineOnceWhileAnotherThreadAppendsInPieces) {
  TempDir dir;
  const std::string path = (dir / "VexelInstall.log").string();
  WriteFileBytes(path, "");
  std::atomic<bool> done{false};
  CapturingSystem system([&] { return !done.load(); });
  std::thread writer(AppendInPieces, path, std::ref(done));
  const int exit = logreader::RunLogReader({"--follow", path}, system);
  writer.join();
  EXPECT_EQ(exit, logreader::kExitShown) << system.err;
  EXPECT_EQ(Printed(system.out), Numbers(kLines));
  EXPECT_EQ(system.err, "");
}

TEST(LogReaderAppend, EachReadShowsTheCompleteLinesSoFarAndAtMostATornLast) {
  TempDir dir;
  const std::string path = (dir / "VexelInstall.log").string();
  WriteFileBytes(path, "");
  std::atomic<bool> done{false};
  std::thread writer(AppendInPieces, path, std::ref(done));
  int reads = 0;
  while (!done) {
    CapturingSystem system([] { return false; });
    ASSERT_EQ(logreader::RunLogReader({path}, system), logreader::kExitShown) << system.err;
    std::vector<std::string> printed = Printed(system.out);
    // The writer may be in the middle of a line: only the last may be torn.
    if (!printed.empty() && printed.back() == "[incomplete") printed.pop_back();
    EXPECT_EQ(printed, Numbers(static_cast<int>(printed.size())));
    ++reads;
  }
  writer.join();
  CapturingSystem system([] { return false; });
  ASSERT_EQ(logreader::RunLogReader({path}, system), logreader::kExitShown);
  EXPECT_EQ(Printed(system.out), Numbers(kLines));
  EXPECT_GT(reads, 0);
}

// The program's own writer: one append per line, from two threads at once,
// as the service thread and the control handler do.
TEST(LogReaderAppend, LinesOfTwoWritingThreadsAreAllRead) {
  TempDir dir;
  const std::string path = (dir / "VexelInstall.log").string();
  std::atomic<int> running{2};
  auto write = [&](int first) {
    platform::SharedAppendFile& file = platform::PlatformDefault<platform::SharedAppendFile>();
    for (int i = first; i < kLines; i += 2) {
      const std::string line = NumberedLine(i);
      EXPECT_TRUE(file.Append(path, line.data(), line.size()).ok);
    }
    --running;
  };
  WriteFileBytes(path, "");
  CapturingSystem system([&] { return running.load() > 0; });
  std::thread even(write, 0);
  std::thread odd(write, 1);
  const int exit = logreader::RunLogReader({"--follow", path}, system);
  even.join();
  odd.join();
  EXPECT_EQ(exit, logreader::kExitShown);
  std::vector<std::string> printed = Printed(system.out);
  // The two threads' lines interleave; numbers sort by length, then digits.
  std::sort(printed.begin(), printed.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  EXPECT_EQ(printed, Numbers(kLines));
}

}  // namespace
