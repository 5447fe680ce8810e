#include "app/service_role.h"

#include <memory>
#include <new>

#include "app/entry.h"
#include "service/service_controller.h"
#include "service/service_runtime.h"

namespace {

// Clears the process-wide pointer when the UpdateService goes, however the
// dispatcher ends.
class PublishedService {
 public:
  explicit PublishedService(UpdateService* service) { ProcessUpdateService = service; }
  ~PublishedService() { ProcessUpdateService = nullptr; }
  PublishedService(const PublishedService&) = delete;
  PublishedService& operator=(const PublishedService&) = delete;
};

}  // namespace

int RunServiceRole(ServiceController& controller) {
  std::unique_ptr<UpdateService> service;
  try {
    service = std::make_unique<UpdateService>(controller.ExecutablePath());
  } catch (const std::bad_alloc&) {
    return kExitOutOfMemory;
  }

  bool dispatched = false;
  {
    PublishedService published(service.get());
    dispatched = RunServiceDispatcher();
  }
  service.reset();

  // Not started by the service control manager (the scheduled task or a
  // user ran the program): ask the manager to start the service, which runs
  // this executable once more, without arguments.
  if (!dispatched) controller.Start();
  return 0;
}
