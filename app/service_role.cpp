#include "app/service_role.h"

#include "service/service_controller.h"

// The service runtime hands the main thread to the service control manager
// here; until it is part of the program, a run without arguments only writes
// its start lines.
int RunServiceRole(ServiceController& /*controller*/) { return 0; }
