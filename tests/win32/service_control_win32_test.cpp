// The service control manager adapters against the real manager.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/seam.h"
#include "platform/service_control.h"

namespace {

namespace scm = platform::scm;
using platform::ScHandle;

const wchar_t kScratchName[] = L"VexelAdapterScratchSvc";

platform::ServiceControlManager& Manager() { return platform::PlatformDefault<platform::ServiceControlManager>(); }
platform::ServiceHost& Host() { return platform::PlatformDefault<platform::ServiceHost>(); }

struct Config {
  DWORD type = 0, start = 0, error = 0;
  std::wstring binary, display, account, description;
};

// What the manager holds for the scratch service, read with the plain API.
bool Query(Config& out) {
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return false;
  SC_HANDLE service = ::OpenServiceW(manager, kScratchName, SERVICE_QUERY_CONFIG);
  bool ok = service != nullptr;
  if (ok) {
    DWORD needed = 0;
    ::QueryServiceConfigW(service, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 1);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    ok = ::QueryServiceConfigW(service, config, needed, &needed) != FALSE;
    if (ok) {
      out.type = config->dwServiceType;
      out.start = config->dwStartType;
      out.error = config->dwErrorControl;
      out.binary = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
      out.display = config->lpDisplayName ? config->lpDisplayName : L"";
      out.account = config->lpServiceStartName ? config->lpServiceStartName : L"";
    }
    needed = 0;
    ::QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
    std::vector<BYTE> text(needed + sizeof(SERVICE_DESCRIPTIONW));
    auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(text.data());
    if (::QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, text.data(), static_cast<DWORD>(text.size()),
                               &needed) &&
        description->lpDescription != nullptr) {
      out.description = description->lpDescription;
    }
    ::CloseServiceHandle(service);
  }
  ::CloseServiceHandle(manager);
  return ok;
}

void DeleteScratch() {
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return;
  SC_HANDLE service = ::OpenServiceW(manager, kScratchName, SERVICE_ALL_ACCESS);
  if (service != nullptr) {
    ::DeleteService(service);
    ::CloseServiceHandle(service);
  }
  ::CloseServiceHandle(manager);
}

class ServiceControlWin32Test : public ::testing::Test {
 protected:
  void SetUp() override { DeleteScratch(); }
  void TearDown() override { DeleteScratch(); }
};

TEST_F(ServiceControlWin32Test, RegistersRewritesDescribesAndRemovesAService) {
  platform::StepOr<ScHandle> manager = Manager().OpenManager(scm::kManagerAllAccess);
  ASSERT_TRUE(manager.ok) << manager.error;

  platform::ServiceRegistration registration;
  registration.serviceName = kScratchName;
  registration.displayName = L"Vexel adapter scratch";
  registration.desiredAccess = scm::kServiceStart | scm::kServiceStop;
  registration.serviceType = scm::kWin32OwnProcess;
  registration.startType = scm::kDemandStart;
  registration.errorControl = scm::kErrorNormal;
  registration.binaryPathName = L"\"C:\\Program Files\\Vexel Scratch\\missing.exe\"";
  platform::StepOr<ScHandle> created = Manager().CreateNewService(manager.value, registration);
  ASSERT_TRUE(created.ok) << created.error;
  EXPECT_TRUE(Manager().CloseServiceHandle(created.value).ok);

  Config config;
  ASSERT_TRUE(Query(config));
  EXPECT_EQ(config.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config.start, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(config.error, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(config.binary, registration.binaryPathName);
  EXPECT_EQ(config.display, L"Vexel adapter scratch");
  EXPECT_EQ(config.account, L"LocalSystem");

  // A second registration under the same name is refused.
  platform::StepOr<ScHandle> again = Manager().CreateNewService(manager.value, registration);
  EXPECT_FALSE(again.ok);
  EXPECT_EQ(again.error, scm::kErrorServiceExists);
  EXPECT_EQ(::GetLastError(), scm::kErrorServiceExists);

  platform::StepOr<ScHandle> service = Manager().OpenNamedService(manager.value, kScratchName, scm::kServiceAllAccess);
  ASSERT_TRUE(service.ok) << service.error;

  platform::ServiceConfigChange change;
  change.binaryPathName = L"C:\\Tools\\other.exe";
  change.displayName = L"Vexel adapter scratch, rewritten";
  ASSERT_TRUE(Manager().ChangeConfig(service.value, change).ok);
  ASSERT_TRUE(Manager().ChangeDescription(service.value, L"A description \u00e5\u00e4\u00f6").ok);
  ASSERT_TRUE(Query(config));
  EXPECT_EQ(config.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config.start, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(config.binary, L"C:\\Tools\\other.exe");
  EXPECT_EQ(config.display, L"Vexel adapter scratch, rewritten");
  EXPECT_EQ(config.account, L"LocalSystem");
  EXPECT_EQ(config.description, L"A description \u00e5\u00e4\u00f6");

  // Not running: the stop control is refused.
  platform::Step stop = Manager().ControlService(service.value, scm::kControlStop);
  EXPECT_FALSE(stop.ok);
  EXPECT_EQ(stop.error, scm::kErrorServiceNotActive);
  EXPECT_EQ(::GetLastError(), scm::kErrorServiceNotActive);

  // Its program does not exist: the start request fails, with the error set.
  platform::Step start = Manager().StartWithoutArguments(service.value);
  EXPECT_FALSE(start.ok);
  EXPECT_NE(start.error, 0u);
  EXPECT_EQ(::GetLastError(), start.error);

  EXPECT_TRUE(Manager().DeleteService(service.value).ok);
  EXPECT_TRUE(Manager().CloseServiceHandle(service.value).ok);

  platform::StepOr<ScHandle> gone = Manager().OpenNamedService(manager.value, kScratchName, scm::kServiceAllAccess);
  EXPECT_FALSE(gone.ok);
  EXPECT_EQ(gone.error, scm::kErrorServiceDoesNotExist);
  EXPECT_TRUE(Manager().CloseServiceHandle(manager.value).ok);
  EXPECT_TRUE(Manager().CloseServiceHandle(ScHandle::None).ok);
}

TEST_F(ServiceControlWin32Test, AMissingServiceCannotBeOpened) {
  platform::StepOr<ScHandle> manager = Manager().OpenManager(scm::kManagerAllAccess);
  ASSERT_TRUE(manager.ok);
  platform::StepOr<ScHandle> service = Manager().OpenNamedService(manager.value, kScratchName, scm::kServiceAllAccess);
  EXPECT_FALSE(service.ok);
  EXPECT_EQ(service.error, scm::kErrorServiceDoesNotExist);
  EXPECT_EQ(::GetLastError(), scm::kErrorServiceDoesNotExist);
  EXPECT_TRUE(Manager().CloseServiceHandle(manager.value).ok);
}

TEST(ServiceHostWin32, OutsideTheManagerTheDispatcherFailsAtOnce) {
  platform::Step run = Host().RunDispatcher(L"VexelAdapterScratchSvc", [](std::uint32_t, wchar_t**) {});
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.error, scm::kErrorNotStartedAsService);
  EXPECT_EQ(::GetLastError(), scm::kErrorNotStartedAsService);
}

TEST(ServiceHostWin32, TheStopEventIsManualResetAndStartsUnsignalled) {
  platform::StepOr<platform::EventHandle> event = Host().CreateManualResetEvent();
  ASSERT_TRUE(event.ok);
  HANDLE h = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(event.value));
  EXPECT_EQ(::WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(Host().SignalEvent(event.value).ok);
  EXPECT_EQ(::WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(::WaitForSingleObject(h, 0), WAIT_OBJECT_0);  // stays signalled
  ::CloseHandle(h);
}

}  // namespace
