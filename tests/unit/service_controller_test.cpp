#include "service/service_controller.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/seam.h"
#include "support/localized_text.h"
#include "task/task_names.h"
#include "update/schedule_state.h"
#include "tests/fakes/fake_os_version.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_service_control.h"
#include "tests/fakes/fake_task_platform.h"
#include "tests/fakes/log_capture.h"

namespace {

namespace scm = platform::scm;
using Messages = std::vector<std::wstring>;
using Kinds = std::vector<std::string>;

const wchar_t kPlainPath[] = L"C:\\Tools\\VexelPlayerUpdateService.exe";
const wchar_t kSpacedPath[] = L"C:\\Program Files\\Orrin\\Vexel Player\\VexelPlayerUpdateService.exe";
const wchar_t kDescription[] = L"Keeps the Orrin Vexel Player up to date (test text 120).";

class ServiceControllerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Whatever the path, every handle that was opened has been closed, and
    // no step was given a handle that was not open.
    EXPECT_EQ(manager_.OpenHandles(), 0u);
    EXPECT_EQ(manager_.misuses, 0);
  }

  ServiceControllerTest() { tasks_.strings.Set(kServiceDescriptionText, kDescription); }

  FakeServiceControlManager manager_;
  platform::ScopedSeam<platform::ServiceControlManager> seam_{&manager_};
  LogCapture log_{true};
  // What the scheduled-task step of the installation reaches: the string
  // table too, whose text 120 is the description. Windows 7: version 2.
  FakeTaskPlatform tasks_;
  FakeRegistry registry_;
  platform::ScopedSeam<platform::Registry> registrySeam_{&registry_};
  FakeOsVersionQuery os_;
  platform::ScopedSeam<platform::OsVersionQuery> osSeam_{&os_};
  ServiceController controller_{kPlainPath, kServiceName, kServiceDisplayName};
};

using Operation = std::function<bool(ServiceController&)>;

struct Named {
  const char* name;
  Operation run;
};

const Named kCreate{"Create", [](ServiceController& c) { return c.Create(); }};
const Named kStart{"Start", [](ServiceController& c) { return c.Start(); }};
const Named kStop{"Stop", [](ServiceController& c) { return c.Stop(); }};
const Named kRemove{"Remove", [](ServiceController& c) { return c.Remove(); }};
const Named kSetDescription{"SetDescription", [](ServiceController& c) { return c.SetDescription(); }};
const Named kExists{"Exists", [](ServiceController& c) { return c.Exists(); }};
const Named kReconfigure{"Reconfigure", [](ServiceController& c) { return c.Reconfigure(); }};

struct FailureCase {
  Named operation;
  const char* failingStep;
  platform::ErrorNumber error;
  Messages messages;
  Kinds closed;  // the handles closed, in order
};

TEST_F(ServiceControllerTest, EachFailureIsLoggedWithItsErrorNumberAndClosesWhatWasOpened) {
  const FailureCase cases[] = {
      {kCreate, "OpenSCManagerW", 5, {L"1219 5"}, {}},
      {kCreate, "CreateServiceW", 1072, {L"1220 1072"}, {"manager"}},
      {kCreate, "ChangeServiceConfig2W", 5, {L"1603", L"1232 5"}, {"service", "manager", "service", "manager"}},
      {kStart, "OpenSCManagerW", 5, {L"1221 5"}, {}},
      {kStart, "OpenServiceW", 1060, {L"1222 1060"}, {"manager"}},
      {kStart, "StartServiceA", 1056, {L"1223 1056"}, {"service", "manager"}},
      {kStop, "OpenSCManagerW", 5, {L"1224 5"}, {}},
      {kStop, "OpenServiceW", 1060, {L"1225 1060"}, {"manager"}},
      {kStop, "ControlService", 1062, {L"1226 1062"}, {"service", "manager"}},
      {kRemove, "OpenSCManagerW", 5, {L"1227 5"}, {}},
      {kRemove, "OpenServiceW", 1060, {L"1228 1060"}, {"manager"}},
      {kRemove, "DeleteService", 1072, {L"1229 1072"}, {"service", "manager"}},
      {kSetDescription, "OpenSCManagerW", 5, {L"1230 5"}, {}},
      {kSetDescription, "OpenServiceW", 1060, {L"1231 1060"}, {"manager"}},
      {kSetDescription, "ChangeServiceConfig2W", 1072, {L"1232 1072"}, {"service", "manager"}},
      {kExists, "OpenSCManagerW", 5, {L"1302 5"}, {}},
      {kExists, "OpenServiceW", 1060, {}, {"manager"}},
      {kReconfigure, "OpenSCManagerW", 5, {L"1303 5"}, {}},
      {kReconfigure, "OpenServiceW", 1060, {L"1304 1060"}, {"manager"}},
      {kReconfigure, "ChangeServiceConfigW", 1072, {L"1427 1072"}, {"service", "manager"}},
      {kReconfigure, "ChangeServiceConfig2W", 5, {L"1232 5"}, {"service", "manager", "service", "manager"}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(std::string(c.operation.name) + " / " + c.failingStep);
    FakeServiceControlManager manager;
    manager.registered = std::string(c.operation.name) != "Create";
    manager.running = true;
    manager.failures[c.failingStep] = c.error;
    platform::ScopedSeam<platform::ServiceControlManager> seam(&manager);
    LogCapture log(true);

    EXPECT_FALSE(c.operation.run(controller_));
    EXPECT_EQ(log.Messages(), c.messages);
    EXPECT_EQ(manager.ClosedKinds(), c.closed);
    EXPECT_EQ(manager.OpenHandles(), 0u);
    EXPECT_EQ(manager.misuses, 0);
  }
}

TEST_F(ServiceControllerTest, FailureLinesAreErrorsAndTheReconfigureWarningIsAWarning) {
  manager_.registered = true;
  manager_.failures["OpenServiceW"] = 1060;
  EXPECT_FALSE(controller_.Start());
  manager_.failures.clear();
  manager_.failures["ChangeServiceConfigW"] = 1072;
  EXPECT_FALSE(controller_.Reconfigure());
  const std::vector<std::wstring> lines = log_.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(L"[error] 1222 1060\r\n"), std::wstring::npos) << lines[0];
  EXPECT_NE(lines[1].find(L"[warning] 1427 1072\r\n"), std::wstring::npos) << lines[1];
}

TEST_F(ServiceControllerTest, OnlyTheReconfigureWarningReadsTheErrorAfterTheHandlesAreClosed) {
  // Closing leaves its own number behind: the lines show where each
  // operation read the last error.
  manager_.registered = true;
  manager_.closeLeavesLastError = 1168;
  manager_.failures["ChangeServiceConfigW"] = 1072;
  manager_.failures["ControlService"] = 1062;
  manager_.failures["DeleteService"] = 1072;
  EXPECT_FALSE(controller_.Reconfigure());
  EXPECT_FALSE(controller_.Stop());
  EXPECT_FALSE(controller_.Remove());
  EXPECT_EQ(log_.Messages(), (Messages{L"1427 1168", L"1226 1062", L"1229 1072"}));
}

struct SuccessCase {
  Named operation;
  std::uint32_t managerAccess;
  std::uint32_t serviceAccess;
  std::vector<std::string> steps;
  Messages messages;
};

TEST_F(ServiceControllerTest, EachOperationOpensWithItsAccessActsAndLogsItsSuccess) {
  using S = std::vector<std::string>;
  const S description = {"OpenSCManagerW", "OpenServiceW", "ChangeServiceConfig2W", "CloseServiceHandle",
                         "CloseServiceHandle"};
  auto then = [](S first, const S& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
  };
  const SuccessCase cases[] = {
      {kStart,
       scm::kManagerAllAccess,
       scm::kServiceAllAccess,
       {"OpenSCManagerW", "OpenServiceW", "StartServiceA", "CloseServiceHandle", "CloseServiceHandle"},
       {L"1604"}},
      {kStop,
       scm::kManagerAllAccess,
       scm::kServiceAllAccess,
       {"OpenSCManagerW", "OpenServiceW", "ControlService", "CloseServiceHandle", "CloseServiceHandle"},
       {L"1605"}},
      {kRemove,
       scm::kManagerAllAccess,
       scm::kServiceAllAccess,
       {"OpenSCManagerW", "OpenServiceW", "DeleteService", "CloseServiceHandle", "CloseServiceHandle"},
       {L"1606"}},
      {kSetDescription, scm::kManagerAllAccess, scm::kServiceChangeConfig, description, {}},
      {kExists,
       scm::kManagerAllAccess,
       scm::kServiceAllAccess,
       {"OpenSCManagerW", "OpenServiceW", "CloseServiceHandle", "CloseServiceHandle"},
       {}},
      {kReconfigure,
       scm::kManagerAllAccess,
       scm::kServiceChangeConfig,
       then({"OpenSCManagerW", "OpenServiceW", "ChangeServiceConfigW", "CloseServiceHandle", "CloseServiceHandle"},
            description),
       {}},
      {kCreate,
       scm::kManagerCreateService,
       scm::kServiceStart | scm::kServiceStop,
       then({"OpenSCManagerW", "CreateServiceW", "CloseServiceHandle", "CloseServiceHandle"}, description),
       {L"1603"}},
  };
  for (const SuccessCase& c : cases) {
    SCOPED_TRACE(c.operation.name);
    FakeServiceControlManager manager;
    manager.registered = std::string(c.operation.name) != "Create";
    manager.running = std::string(c.operation.name) != "Start";
    platform::ScopedSeam<platform::ServiceControlManager> seam(&manager);
    LogCapture log(true);

    EXPECT_TRUE(c.operation.run(controller_));
    EXPECT_EQ(log.Messages(), c.messages);
    EXPECT_EQ(manager.Steps(), c.steps);
    ASSERT_GE(manager.calls.size(), 2u);
    EXPECT_EQ(manager.calls[0].value, c.managerAccess);
    EXPECT_EQ(manager.calls[1].value, c.serviceAccess);
    EXPECT_EQ(manager.calls[1].name, kServiceName);
    // Service handle first, then the manager's, each time.
    for (std::size_t i = 0; i < manager.ClosedKinds().size(); ++i) {
      EXPECT_EQ(manager.ClosedKinds()[i], i % 2 == 0 ? "service" : "manager");
    }
    EXPECT_EQ(manager.OpenHandles(), 0u);
  }
}

TEST_F(ServiceControllerTest, StopSendsTheStopControl) {
  manager_.registered = manager_.running = true;
  EXPECT_TRUE(controller_.Stop());
  ASSERT_NE(manager_.Find("ControlService"), nullptr);
  EXPECT_EQ(manager_.Find("ControlService")->value, scm::kControlStop);
}

TEST_F(ServiceControllerTest, ExistsIsTrueOnlyForARegisteredService) {
  EXPECT_FALSE(controller_.Exists());
  manager_.registered = true;
  EXPECT_TRUE(controller_.Exists());
  EXPECT_TRUE(log_.Messages().empty());
}

TEST_F(ServiceControllerTest, CreateRegistersAnOwnProcessDemandStartLocalSystemService) {
  EXPECT_TRUE(controller_.Create());
  ASSERT_TRUE(manager_.registration.has_value());
  const platform::ServiceRegistration& r = *manager_.registration;
  EXPECT_EQ(r.serviceName, L"OrrinVexelPlayerUpdateSvc");
  EXPECT_EQ(r.displayName, L"Orrin Vexel Player Update Service");
  EXPECT_EQ(r.desiredAccess, scm::kServiceStart | scm::kServiceStop);
  EXPECT_EQ(r.serviceType, scm::kWin32OwnProcess);
  EXPECT_EQ(r.startType, scm::kDemandStart);
  EXPECT_EQ(r.errorControl, scm::kErrorNormal);
  EXPECT_EQ(r.binaryPathName, kPlainPath);
  // Text 120 exactly: nothing of the table entry that follows it.
  EXPECT_EQ(manager_.description, std::wstring(kDescription));
}

TEST_F(ServiceControllerTest, WithoutText120TheDescriptionSaysSo) {
  FakeStringResources empty;
  platform::ScopedSeam<platform::StringResources> seam(&empty);
  manager_.registered = true;
  EXPECT_TRUE(controller_.SetDescription());
  EXPECT_EQ(manager_.description, std::wstring(L"MISSING LOCALIZATION"));
}

TEST_F(ServiceControllerTest, ReconfigureRewritesOnlyBinaryPathAndDisplayName) {
  manager_.registered = true;
  EXPECT_TRUE(controller_.Reconfigure());
  ASSERT_TRUE(manager_.change.has_value());
  EXPECT_EQ(manager_.change->serviceType, scm::kNoChange);
  EXPECT_EQ(manager_.change->startType, scm::kNoChange);
  EXPECT_EQ(manager_.change->errorControl, scm::kNoChange);
  EXPECT_EQ(manager_.change->binaryPathName, kPlainPath);
  EXPECT_EQ(manager_.change->displayName, L"Orrin Vexel Player Update Service");
  EXPECT_EQ(manager_.description, std::wstring(kDescription));
}

TEST_F(ServiceControllerTest, ABinaryPathWithABlankIsRegisteredInQuotationMarks) {
  struct Case {
    const wchar_t* path;
    const wchar_t* registered;
  };
  const Case cases[] = {
      {kSpacedPath, L"\"C:\\Program Files\\Orrin\\Vexel Player\\VexelPlayerUpdateService.exe\""},
      {L"C:\\Tools\\Vexel Player Update.exe", L"\"C:\\Tools\\Vexel Player Update.exe\""},
      {kPlainPath, kPlainPath},
      {L"\\\\server\\share\\Vexel.exe", L"\\\\server\\share\\Vexel.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::wstring(c.path));
    ServiceController controller(c.path, kServiceName, kServiceDisplayName);
    EXPECT_EQ(controller.RegisteredBinaryPath(), c.registered);
    EXPECT_EQ(controller.ExecutablePath(), c.path);

    FakeServiceControlManager fresh;
    platform::ScopedSeam<platform::ServiceControlManager> seam(&fresh);
    EXPECT_TRUE(controller.Create());
    ASSERT_TRUE(fresh.registration.has_value());
    EXPECT_EQ(fresh.registration->binaryPathName, c.registered);
    EXPECT_TRUE(controller.Reconfigure());
    ASSERT_TRUE(fresh.change.has_value());
    EXPECT_EQ(fresh.change->binaryPathName, c.registered);
    EXPECT_EQ(fresh.OpenHandles(), 0u);
  }
}

struct InstallCase {
  const char* situation;
  bool registered;
  bool running;
  bool result;
  std::vector<std::string> actions;  // the steps other than opening and closing
  Messages messages;
};

TEST_F(ServiceControllerTest, InstallRegistersAnewOrReRegistersOnlyWhenTheStopWasAcceptedThenCreatesTheTask) {
  const InstallCase cases[] = {
      {"not registered", false, false, true, {"CreateServiceW", "ChangeServiceConfig2W"}, {L"1603", L"1627"}},
      {"registered and stopped", true, false, false, {"ControlService"}, {L"1226 1062", L"1627"}},
      {"registered and running",
       true,
       true,
       true,
       {"ControlService", "ChangeServiceConfigW", "ChangeServiceConfig2W"},
       {L"1605", L"1627"}},
  };
  for (const InstallCase& c : cases) {
    SCOPED_TRACE(c.situation);
    FakeServiceControlManager manager;
    manager.registered = c.registered;
    manager.running = c.running;
    platform::ScopedSeam<platform::ServiceControlManager> seam(&manager);
    FakeTaskPlatform tasks;
    FakeRegistry registry;
    platform::ScopedSeam<platform::Registry> registrySeam(&registry);
    LogCapture log(true);

    EXPECT_EQ(controller_.Install(), c.result);
    std::vector<std::string> actions;
    for (const std::string& step : manager.Steps()) {
      if (step != "OpenSCManagerW" && step != "OpenServiceW" && step != "CloseServiceHandle") actions.push_back(step);
    }
    EXPECT_EQ(actions, c.actions);
    EXPECT_EQ(log.Messages(), c.messages);
    EXPECT_EQ(manager.OpenHandles(), 0u);
    EXPECT_TRUE(manager.registered);
    // The task and its schedule state, whatever the registration step did.
    ASSERT_EQ(tasks.v2.tasks.count(kScheduledTaskName), 1u);
    EXPECT_EQ(tasks.v2.tasks[kScheduledTaskName].definition.actions.at(0).path, kPlainPath);
    EXPECT_TRUE(registry.Stored(ScheduleKey, kUpdateAttemptsValue).has_value());
  }
}

TEST_F(ServiceControllerTest, InstallReportsAFailedRegistrationAndStillCreatesTheTask) {
  manager_.failures["CreateServiceW"] = 5;
  EXPECT_FALSE(controller_.Install());
  EXPECT_EQ(log_.Messages(), (Messages{L"1220 5", L"1627"}));
  EXPECT_EQ(tasks_.v2.tasks.count(kScheduledTaskName), 1u);
}

TEST_F(ServiceControllerTest, InstallReportsAFailedTaskCreation) {
  tasks_.com.Fail("CoInitializeEx", platform::com::kFail, 31);
  EXPECT_FALSE(controller_.Install());
  EXPECT_TRUE(manager_.registered);
  ASSERT_FALSE(log_.Messages().empty());
  EXPECT_EQ(log_.Messages().front(), L"1603");
  EXPECT_TRUE(tasks_.v2.tasks.empty());
}

TEST_F(ServiceControllerTest, InstallWithAFailedReconfigureReportsFailure) {
  manager_.registered = manager_.running = true;
  manager_.failures["ChangeServiceConfigW"] = 1072;
  EXPECT_FALSE(controller_.Install());
  EXPECT_EQ(log_.Messages(), (Messages{L"1605", L"1427 1072", L"1627"}));
  EXPECT_FALSE(manager_.description.has_value());
}

}  // namespace
