#include "service/service_runtime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "config/config_file.h"
#include "config/update_settings.h"
#include "platform/log_file.h"
#include "platform/seam.h"
#include "service/service_controller.h"
#include "support/utf16.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_os_version.h"
#include "tests/fakes/fake_service_control.h"
#include "tests/fakes/fake_shell_folders.h"
#include "tests/fakes/fake_utf8_conversion.h"
#include "tests/fakes/log_capture.h"
#include "update/installed_version.h"

namespace {

namespace scm = platform::scm;
using Messages = std::vector<std::wstring>;

// Passes every line on to the capture and lets a test act, on the writing
// thread, when a line has been written.
class HookedLogFile final : public platform::SharedAppendFile {
 public:
  explicit HookedLogFile(platform::SharedAppendFile& inner) : inner_(inner) {}
  std::function<void(const std::wstring& message)> onLine;

  platform::Step Append(const std::string& path, const void* bytes, std::size_t size) override {
    platform::Step step = inner_.Append(path, bytes, size);
    if (onLine) {
      std::wstring line = DecodeUtf16LE(std::string(static_cast<const char*>(bytes), size));
      const std::size_t start = line.find(L"] ");
      const std::size_t end = line.rfind(L"\r\n");
      if (start != std::wstring::npos && end != std::wstring::npos) onLine(line.substr(start + 2, end - start - 2));
    }
    return step;
  }

 private:
  platform::SharedAppendFile& inner_;
};

// One status report: state, checkpoint, wait hint, controls accepted.
struct Seen {
  std::uint32_t state, checkPoint, waitHint, accepted;
  bool operator==(const Seen& o) const {
    return state == o.state && checkPoint == o.checkPoint && waitHint == o.waitHint && accepted == o.accepted;
  }
};

// The seams an UpdateService's construction reads: the Windows version and
// the configuration file below the fake system folder "/sys".
struct ServiceRoleMachine {
  ServiceRoleMachine() {
    saved = UpdateSettings;
    savedOsClass = OsClass;
    savedManifestHost = ManifestServerHost;
    savedDownloadHost = DownloadServerHost;
    UpdateSettings = UpdateSettingsRecord{};
    folders.systemFolder = L"/sys";
    store.folders.insert("/sys/Kestran/Vexel");
    ForgetConfigFilePath();
  }
  ~ServiceRoleMachine() {
    ForgetConfigFilePath();
    UpdateSettings = saved;
    OsClass = savedOsClass;
    ManifestServerHost = savedManifestHost;
    DownloadServerHost = savedDownloadHost;
  }

  UpdateSettingsRecord saved;
  std::int32_t savedOsClass = 0;
  std::wstring savedManifestHost, savedDownloadHost;
  FakeOsVersionQuery os;
  FakeShellFolders folders;
  FakeFileStore store;
  FakeUtf8Conversion conversion;
  platform::ScopedSeam<platform::OsVersionQuery> osSeam{&os};
  platform::ScopedSeam<platform::ShellFolders> folderSeam{&folders};
  platform::ScopedSeam<platform::FileStore> storeSeam{&store};
  platform::ScopedSeam<platform::Utf8Conversion> conversionSeam{&conversion};
};

// A service run driven by the fake dispatcher. No configuration file: the
// settings load as all false, so the cycle is kept from touching anything
// (silent auto-update off) and writes its first and last lines only, 1608
// and 1612. Verbose logging is forced on to show the information lines.
class ServiceRuntimeTest : public ::testing::Test {
 protected:
  ServiceRuntimeTest() { ProcessUpdateService = &service_; }
  ~ServiceRuntimeTest() override { ProcessUpdateService = nullptr; }

  // The reports, with the checkpoints made relative to the first report's:
  // the counter is the process's and grows across tests.
  std::vector<Seen> Reports() {
    std::vector<Seen> seen;
    const std::vector<FakeServiceHost::Report> reports = host_.Reports();
    const std::uint32_t base = reports.empty() ? 0 : reports.front().status.checkPoint - 1;
    for (const FakeServiceHost::Report& r : reports) {
      EXPECT_EQ(r.handle, FakeServiceHost::kStatusHandle);
      EXPECT_EQ(r.status.serviceType, scm::kWin32OwnProcess);
      EXPECT_EQ(r.status.win32ExitCode, 0u);
      EXPECT_EQ(r.status.serviceSpecificExitCode, 0u);
      const std::uint32_t checkPoint = r.status.checkPoint == 0 ? 0 : r.status.checkPoint - base;
      seen.push_back(Seen{r.status.currentState, checkPoint, r.status.waitHint, r.status.controlsAccepted});
    }
    return seen;
  }

  ServiceRoleMachine machine_;
  UpdateService service_{L"C:\\Program Files\\Orrin\\VexelPlayerUpdateService.exe"};
  FakeServiceHost host_;
  platform::ScopedSeam<platform::ServiceHost> hostSeam_{&host_};
  LogCapture log_{true};
  HookedLogFile hooked_{log_.file};
  platform::ScopedSeam<platform::SharedAppendFile> logSeam_{&hooked_};
};

const Seen kStartPending{scm::kStartPending, 1, 3000, scm::kAcceptNone};
const Seen kRunning{scm::kRunning, 0, 0, scm::kAcceptStop};
const Seen kStopped{scm::kStopped, 0, 0, scm::kAcceptStop};

TEST_F(ServiceRuntimeTest, AServiceRunReportsStartPendingRunningStoppedAroundOneCycle) {
  EXPECT_TRUE(RunServiceDispatcher());
  EXPECT_EQ(Reports(), (std::vector<Seen>{kStartPending, kRunning, kStopped}));
  EXPECT_EQ(log_.Messages(), (Messages{L"1618", L"1608", L"1612", L"1620"}));
  EXPECT_EQ(host_.DispatchedName(), kServiceName);
  EXPECT_EQ(host_.RegisteredName(), kServiceName);
  EXPECT_EQ(host_.Created().size(), 1u);
  EXPECT_TRUE(host_.Signalled().empty());
}

TEST_F(ServiceRuntimeTest, AStopDuringTheCycleReportsTwoStopPendingAndTheCycleCompletes) {
  platform::ErrorNumber refused = 99;
  hooked_.onLine = [&](const std::wstring& message) {
    if (message == L"1608") refused = host_.SendControl(scm::kControlStop);
  };
  EXPECT_TRUE(RunServiceDispatcher());
  EXPECT_EQ(refused, 0u);
  const Seen stopPending1{scm::kStopPending, 2, 0, scm::kAcceptStop};
  const Seen stopPending2{scm::kStopPending, 3, 0, scm::kAcceptStop};
  EXPECT_EQ(Reports(), (std::vector<Seen>{kStartPending, kRunning, stopPending1, stopPending2, kStopped}));
  EXPECT_EQ(log_.Messages(), (Messages{L"1618", L"1608", L"1622 1", L"1623", L"1612", L"1620"}));
  ASSERT_EQ(host_.Created().size(), 1u);
  EXPECT_EQ(host_.Signalled(), host_.Created());
}

TEST_F(ServiceRuntimeTest, OtherControlsAreLoggedAndReportNothing) {
  // Interrogate, pause (2), continue (3) and a user-defined control (128).
  hooked_.onLine = [&](const std::wstring& message) {
    if (message != L"1608") return;
    for (std::uint32_t control : {scm::kControlInterrogate, 2u, 3u, 128u}) EXPECT_EQ(host_.SendControl(control), 0u);
  };
  EXPECT_TRUE(RunServiceDispatcher());
  EXPECT_EQ(Reports(), (std::vector<Seen>{kStartPending, kRunning, kStopped}));
  EXPECT_EQ(log_.Messages(),
            (Messages{L"1618", L"1608", L"1622 4", L"1622 2", L"1622 3", L"1622 128", L"1612", L"1620"}));
  EXPECT_TRUE(host_.Signalled().empty());
}

TEST_F(ServiceRuntimeTest, AFailedHandlerRegistrationReportsNoStatus) {
  host_.registrationFails = 1083;  // ERROR_SERVICE_NOT_IN_EXE
  EXPECT_TRUE(RunServiceDispatcher());
  EXPECT_TRUE(host_.Reports().empty());
  EXPECT_EQ(log_.Messages(), (Messages{L"1618", L"1240 1083", L"1620"}));
  EXPECT_NE(log_.Lines()[1].find(L"[error] 1240 1083"), std::wstring::npos);
}

TEST_F(ServiceRuntimeTest, AStopEventThatCannotBeCreatedStopsTheServiceWithoutACycle) {
  host_.eventFails = 1450;  // ERROR_NO_SYSTEM_RESOURCES
  EXPECT_TRUE(RunServiceDispatcher());
  EXPECT_EQ(Reports(), (std::vector<Seen>{kStartPending, kStopped}));
  EXPECT_EQ(log_.Messages(), (Messages{L"1618", L"1620"}));
}

TEST_F(ServiceRuntimeTest, WithoutAnUpdateServiceTheServiceLogsAndStillStops) {
  ProcessUpdateService = nullptr;
  platform::SetLastError(0);
  EXPECT_TRUE(RunServiceDispatcher());
  EXPECT_EQ(Reports(), (std::vector<Seen>{kStartPending, kRunning, kStopped}));
  const Messages messages = log_.Messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], L"1618");
  EXPECT_EQ(messages[1].substr(0, 5), L"1241 ");
  EXPECT_EQ(messages[2], L"1620");
}

TEST_F(ServiceRuntimeTest, FailedStatusReportsAreIgnored) {
  host_.statusFails = 6;
  EXPECT_TRUE(RunServiceDispatcher());
  EXPECT_EQ(host_.States(), (std::vector<std::uint32_t>{scm::kStartPending, scm::kRunning, scm::kStopped}));
  EXPECT_EQ(log_.Messages(), (Messages{L"1618", L"1608", L"1612", L"1620"}));
}

TEST_F(ServiceRuntimeTest, OutsideTheServiceControlManagerTheDispatcherFailsAtOnce) {
  host_.dispatcherFails = scm::kErrorNotStartedAsService;
  EXPECT_FALSE(RunServiceDispatcher());
  EXPECT_TRUE(host_.Reports().empty());
  EXPECT_EQ(log_.Messages(), (Messages{L"1618", L"1619 1063"}));
  // Information, not an error.
  EXPECT_NE(log_.Lines()[1].find(L"[info] 1619 1063"), std::wstring::npos);
}

TEST_F(ServiceRuntimeTest, AStopRacingTheEndOfTheCycleNeverSplitsOrFollowsStopped) {
  // A stop sent from another thread at an arbitrary moment of the run: the
  // reports are always START_PENDING, RUNNING, then either nothing or two
  // adjacent STOP_PENDING, then STOPPED last, with checkpoints rising.
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    FakeServiceHost host;
    platform::ScopedSeam<platform::ServiceHost> seam(&host);
    std::atomic<bool> go{false};
    std::thread sender;
    hooked_.onLine = [&](const std::wstring& message) {
      if (message == L"1608" && !go.exchange(true)) {
        sender = std::thread([&host, round] {
          for (int i = 0; i < round % 7; ++i) std::this_thread::yield();
          host.SendControl(scm::kControlStop);
        });
      }
    };
    EXPECT_TRUE(RunServiceDispatcher());
    if (sender.joinable()) sender.join();
    hooked_.onLine = nullptr;

    std::vector<FakeServiceHost::Report> reports = host.Reports();
    std::vector<std::uint32_t> states;
    for (const auto& r : reports) states.push_back(r.status.currentState);
    const std::vector<std::uint32_t> plain{scm::kStartPending, scm::kRunning, scm::kStopped};
    const std::vector<std::uint32_t> stopped{scm::kStartPending, scm::kRunning, scm::kStopPending, scm::kStopPending,
                                             scm::kStopped};
    EXPECT_TRUE(states == plain || states == stopped);
    if (states == stopped) {
      EXPECT_EQ(reports[3].status.checkPoint, reports[2].status.checkPoint + 1);
    }
  }
}

TEST(UpdateServiceConstruction, ClassifiesTheWindowsVersionAndLoadsTheSettings) {
  ServiceRoleMachine machine;
  machine.os.version = platform::OsVersion{2, 6, 2};
  machine.store.files["/sys/Kestran/Vexel/vxm.cfg"] = "SilentAutoUpdateEnable=1\r\nAutoUpdateDisable=0\r\n";
  OsClass = kOsClassUnknown;
  LogCapture log(true);
  UpdateService service(L"C:\\Tools\\VexelPlayerUpdateService.exe");
  EXPECT_EQ(service.ExecutablePath(), L"C:\\Tools\\VexelPlayerUpdateService.exe");
  EXPECT_EQ(machine.os.queries, 1);
  EXPECT_EQ(OsClass, kOsClassWindows8AndLater);
  EXPECT_TRUE(UpdateSettings.silentAutoUpdateEnabled);
  EXPECT_FALSE(UpdateSettings.autoUpdateDisabled);
  EXPECT_EQ(log.Codes(), (Messages{L"1614", L"1615"}));
}

TEST(UpdateServiceConstruction, SettingsThatRunOutOfMemoryAreLoggedAsAnError) {
  ServiceRoleMachine machine;
  machine.store.openRunsOutOfMemory = true;
  LogCapture log(false);
  platform::SetLastError(8);
  UpdateService service(L"C:\\Tools\\VexelPlayerUpdateService.exe");
  ASSERT_EQ(log.Codes(), (Messages{L"1233"}));
  EXPECT_NE(log.Lines()[0].find(L"[error] 1233 "), std::wstring::npos);
}

}  // namespace
