// The run without arguments: the service, or the request to start it.
#pragma once

class ServiceController;

// Returns the exit code of the run.
int RunServiceRole(ServiceController& controller);
