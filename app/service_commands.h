// The management options that register and remove the service.
#pragma once

class ServiceController;

// "-install": the installation sequence of the ServiceController. The exit
// code is 0 whatever the result; the steps log their own failures.
int InstallCommand(ServiceController& controller);
// "-uninstall": removes the scheduled task and its schedule values, then,
// only when the service is registered, sends it the stop control and removes
// it, whether or not the stop was accepted. The exit code is 0.
int UninstallCommand(ServiceController& controller);
