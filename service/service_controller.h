// The one ServiceController of a run: the executable's full path and the
// service's names, fixed at construction. Every operation against the
// service control manager goes through it.
//
// Each operation opens the manager and the service afresh, acts, and closes
// the service handle and then the manager handle before it returns, on every
// path. Failures are written to the activity log where they happen, with the
// thread's last error; the result only says whether the operation succeeded.
#pragma once

#include <string>
#include <utility>

inline constexpr wchar_t kServiceName[] = L"OrrinVexelPlayerUpdateSvc";
inline constexpr wchar_t kServiceDisplayName[] = L"Orrin Vexel Player Update Service";

class ServiceController {
 public:
  ServiceController(std::wstring executablePath, std::wstring serviceName, std::wstring displayName)
      : executablePath_(std::move(executablePath)),
        serviceName_(std::move(serviceName)),
        displayName_(std::move(displayName)) {}

  const std::wstring& ExecutablePath() const { return executablePath_; }
  const std::wstring& ServiceName() const { return serviceName_; }
  const std::wstring& DisplayName() const { return displayName_; }

  // The binary path the service is registered with: the executable path,
  // in quotation marks when it contains a blank, so that the manager never
  // takes a leading piece of it ("C:\Program") for the program; otherwise
  // exactly as held. It carries no arguments.
  std::wstring RegisteredBinaryPath() const;

  // Registers the service: own process, started on demand, normal error
  // control, LocalSystem, the registered binary path, the display name.
  // Then sets the description; the result is that of SetDescription.
  bool Create();
  // Asks the manager to start the service, without arguments. True when the
  // request was accepted.
  bool Start();
  // Sends the stop control; does not wait for the service to stop. True when
  // the control was accepted (false when the service is not running).
  bool Stop();
  // Marks the service for deletion.
  bool Remove();
  // Sets the service's description to the localized service description.
  bool SetDescription();
  // True when the service is registered. Only a failure to open the manager
  // is logged.
  bool Exists() const;
  // Rewrites the binary path and the display name of the registered service,
  // leaving type, start type, error control and account as they are; then
  // sets the description, whose result it returns.
  bool Reconfigure();
  // The "-install" sequence: re-registers a registered service when its stop
  // control is accepted, or registers it anew; then creates the scheduled
  // task. True when both steps succeeded.
  bool Install();

 private:
  const std::wstring executablePath_;
  const std::wstring serviceName_;
  const std::wstring displayName_;
};
