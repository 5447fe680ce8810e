#include "app/service_role.h"

#include <gtest/gtest.h>

#include <new>

#include "app/entry.h"
#include "platform/seam.h"
#include "service/service_runtime.h"
#include "tests/fakes/fake_program_platform.h"
#include "tests/fakes/log_capture.h"

namespace {

using Messages = std::vector<std::wstring>;
namespace scm = platform::scm;

// A run without arguments on a machine whose configuration file switches
// verbose logging on, with the service registered. Verbose logging is off
// until the settings are loaded, as in a real run.
class ServiceRoleTest : public ::testing::Test {
 protected:
  ServiceRoleTest() {
    manager_.registered = true;
    machine_.store.folders.insert("/sys/Kestran/Vexel");
    machine_.store.files["/sys/Kestran/Vexel/vxm.cfg"] = "SilentAutoUpdateVerboseLogging=1\r\n";
  }

  int RunBare() {
    const wchar_t* argv[] = {L"VexelPlayerUpdateService.exe", nullptr};
    return RunProgram(1, argv);
  }

  FakeProgramPlatform machine_;
  FakeServiceHost& host_ = machine_.host;
  FakeServiceControlManager& manager_ = machine_.manager;
  LogCapture log_{false};
};

TEST_F(ServiceRoleTest, OutsideTheServiceControlManagerTheRunAsksForTheServiceToStart) {
  host_.dispatcherFails = scm::kErrorNotStartedAsService;
  EXPECT_EQ(RunBare(), 0);
  // From the settings on: the settings lines, 1618, 1619 with the error, the
  // start request's 1604; never 1620.
  EXPECT_EQ(log_.Messages(), (Messages{L"1614", L"1616", L"1618", L"1619 1063", L"1604"}));
  EXPECT_EQ(manager_.Find("StartServiceA") != nullptr, true);
  EXPECT_TRUE(manager_.running);
  EXPECT_EQ(manager_.OpenHandles(), 0u);
  EXPECT_EQ(ProcessUpdateService, nullptr);
}

TEST_F(ServiceRoleTest, AFailedStartRequestStillEndsWithExitCodeZero) {
  host_.dispatcherFails = scm::kErrorNotStartedAsService;
  manager_.running = true;  // already running: the request is refused
  EXPECT_EQ(RunBare(), 0);
  EXPECT_EQ(log_.Messages(), (Messages{L"1614", L"1616", L"1618", L"1619 1063", L"1223 1056"}));
}

TEST_F(ServiceRoleTest, StartedByTheServiceControlManagerTheRunIsTheService) {
  EXPECT_EQ(RunBare(), 0);
  EXPECT_EQ(log_.Messages(), (Messages{L"1614", L"1616", L"1618", L"1608", L"1612", L"1620"}));
  EXPECT_EQ(host_.States(), (std::vector<std::uint32_t>{scm::kStartPending, scm::kRunning, scm::kStopped}));
  // No start request from the service itself.
  EXPECT_TRUE(manager_.calls.empty());
  EXPECT_EQ(ProcessUpdateService, nullptr);
}

// An operating system query that runs out of memory, as an allocation in
// the UpdateService's construction would.
class ExhaustedOsVersionQuery final : public platform::OsVersionQuery {
 public:
  platform::OsVersion Query() override { throw std::bad_alloc(); }
};

TEST_F(ServiceRoleTest, AnUpdateServiceThatCannotBeCreatedEndsTheRunWithMinusOne) {
  ExhaustedOsVersionQuery exhausted;
  platform::ScopedSeam<platform::OsVersionQuery> seam(&exhausted);
  EXPECT_EQ(RunBare(), kExitOutOfMemory);
  EXPECT_TRUE(log_.Lines().empty());
  EXPECT_EQ(host_.DispatcherRuns(), 0);
  EXPECT_TRUE(manager_.calls.empty());
  EXPECT_EQ(ProcessUpdateService, nullptr);
}

}  // namespace
