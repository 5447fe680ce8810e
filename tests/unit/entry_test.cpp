#include "app/entry.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_program_platform.h"
#include "tests/fakes/log_capture.h"

namespace {

class EntryTest : public ::testing::Test {
 protected:
  EntryTest() {
    // A run without arguments is the service role: it loads the settings
    // (no configuration file here) and, not being started by the service
    // control manager, asks it to start the registered service.
    machine_.host.dispatcherFails = platform::scm::kErrorNotStartedAsService;
    machine_.manager.registered = true;
  }

  FakeProgramPlatform machine_;
  FakeProcessPaths& paths_ = machine_.paths;
};

TEST_F(EntryTest, StartLinesAreIssuedInOrderBeforeAnyOperation) {
  // Verbose logging is normally off at this point, so these lines are never
  // written; with the switch forced on, their order and content show.
  LogCapture log(true);
  const wchar_t* argv[] = {L"VexelPlayerUpdateService.exe", L"-unknownOption", nullptr};
  EXPECT_EQ(RunProgram(2, argv), 0);
  EXPECT_EQ(log.Messages(),
            (std::vector<std::wstring>{L"C:\\Work\\VexelPlayerUpdateService.exe", L"1617", L"-unknownOption"}));
}

TEST_F(EntryTest, WithVerboseLoggingOffNothingIsWritten) {
  LogCapture log(false);
  const wchar_t* argv[] = {L"prog.exe", L"-Install", L"x", nullptr};
  EXPECT_EQ(RunProgram(3, argv), 0);
  const wchar_t* bare[] = {L"prog.exe", nullptr};
  EXPECT_EQ(RunProgram(1, bare), 0);
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(EntryTest, AProgramNameThatCannotBeExpandedIsUsedAsGiven) {
  LogCapture log(true);
  paths_.failWith = 87;
  const wchar_t* argv[] = {L"prog.exe", L"-unknownOption", nullptr};
  EXPECT_EQ(RunProgram(2, argv), 0);
  ASSERT_FALSE(log.Messages().empty());
  EXPECT_EQ(log.Messages().front(), L"prog.exe");
}

TEST_F(EntryTest, AnUnexpectedFailureEndsTheRunWithItsExitCodeAndAnErrorLine) {
  LogCapture log(false);
  paths_.throwOutOfMemory = true;
  const wchar_t* argv[] = {L"prog.exe", nullptr};
  EXPECT_EQ(RunProgram(1, argv), kExitUnexpectedFailure);
  ASSERT_EQ(log.Codes(), (std::vector<std::wstring>{L"1305"}));
  EXPECT_NE(log.Lines().front().find(L"[error] 1305 "), std::wstring::npos);
}

TEST_F(EntryTest, AnEmptyArgumentVectorIsTheServiceRole) {
  LogCapture log(false);
  EXPECT_EQ(RunProgram(0, nullptr), 0);
}

}  // namespace
