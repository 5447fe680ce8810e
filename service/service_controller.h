// The one ServiceController of a run: the executable's full path and the
// service's names, fixed at construction. Every operation against the
// service control manager goes through it.
#pragma once

#include <string>

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

 private:
  const std::wstring executablePath_;
  const std::wstring serviceName_;
  const std::wstring displayName_;
};
