// Names of well-known Windows error codes and service control codes, so that
// the numbers on the log's lines read as words. Not every code has one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace logreader {

struct NamedCode {
  std::uint32_t value;
  const char* name;  // the symbol of the Windows headers, "ERROR_ACCESS_DENIED"
};

// Windows error codes (ERROR_*, WAIT_TIMEOUT, ERROR_WINHTTP_*) and HRESULTs
// (E_*, CO_E_*, CRYPT_E_*, ...): ascending, unique values.
const NamedCode* WindowsErrorNames();
std::size_t WindowsErrorNameCount();

// The symbol of a Windows error code or HRESULT, or null.
const char* WindowsErrorName(std::uint32_t value);

struct ServiceControl {
  std::uint32_t value;
  const char* name;    // "SERVICE_CONTROL_INTERROGATE"
  const char* words;   // "interrogate"
};

// The service control codes a handler can receive: ascending, unique values.
const ServiceControl* ServiceControls();
std::size_t ServiceControlCount();

// The control of that code, or null (codes 128 to 255 are the service's own).
const ServiceControl* FindServiceControl(std::uint32_t value);

}  // namespace logreader
