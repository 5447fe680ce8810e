// The registry under HKEY_LOCAL_MACHINE: open or create a key, query, set
// and delete one value of it, close it.
//
// Keys are opened by path below HKEY_LOCAL_MACHINE, such as
// "SOFTWARE\Kestrania\VexelPlayer"; key and value names compare without
// regard to the case of ASCII letters, as Windows compares them. No registry
// view is ever named: the program reaches the view of its own bitness, which
// for the 32-bit Windows build is the 32-bit view (on 64-bit Windows, the
// keys that 64-bit tools see under Wow6432Node). A build of another bitness
// that must reach the same keys has to ask for the 32-bit view in its
// adapter.
//
// Every step returns its error number on failure and also leaves it as the
// thread's last error. A key handle comes from OpenKey or CreateKey and must
// be given back to CloseKey exactly once; RegistryKey below does that.
#pragma once

#include <cstdint>
#include <string>

#include "platform/last_error.h"
#include "platform/step.h"

namespace platform {

// The registry's own error numbers, beside those of platform/last_error.h.
namespace error {
inline constexpr ErrorNumber kBadPathname = 161;       // ERROR_BAD_PATHNAME
inline constexpr ErrorNumber kRegistryCorrupt = 1009;  // ERROR_BADDB
}  // namespace error

// An open key. Zero is never a valid handle.
using RegistryKeyHandle = std::uintptr_t;

// What a handle from OpenKey may do.
enum class RegistryAccess {
  kRead,      // KEY_READ: query values
  kSetValue,  // KEY_SET_VALUE: set and delete values
};

// Registry value types, numbered as Windows numbers them.
namespace registry_type {
inline constexpr std::uint32_t kNone = 0;    // REG_NONE
inline constexpr std::uint32_t kSz = 1;      // REG_SZ
inline constexpr std::uint32_t kBinary = 3;  // REG_BINARY
inline constexpr std::uint32_t kDword = 4;   // REG_DWORD, 4 bytes little-endian
inline constexpr std::uint32_t kQword = 11;  // REG_QWORD, 8 bytes little-endian
}  // namespace registry_type

// What a successful query found.
struct QueriedValue {
  std::uint32_t type = registry_type::kNone;  // the stored type, as it is
  std::uint32_t size = 0;                     // bytes copied into the buffer
};

class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyExW on HKEY_LOCAL_MACHINE with `subkey`, options 0 and the
  // access asked for. The key is never created. Failure: kFileNotFound when
  // the key (or one above it) does not exist, kAccessDenied when the access
  // is refused, or what else the platform reports.
  virtual StepOr<RegistryKeyHandle> OpenKey(const std::wstring& subkey, RegistryAccess access) = 0;

  // RegCreateKeyExW on HKEY_LOCAL_MACHINE with `subkey`, no class,
  // REG_OPTION_NON_VOLATILE, access KEY_SET_VALUE and default security:
  // opens the key, creating it and every missing key above it first.
  // Failure: the key could not be created or opened (kAccessDenied, for
  // one); nothing is left half-made that a later open would find broken.
  virtual StepOr<RegistryKeyHandle> CreateKey(const std::wstring& subkey) = 0;

  // RegQueryValueExW: copies the data of value `name` into `buffer`, which
  // holds `size` bytes; whatever the value's type, its bytes come as they
  // are stored. Needs a handle opened for reading. Failure: kFileNotFound
  // when there is no such value, kMoreData when its data is longer than
  // `size` (the buffer's content is then undefined), kAccessDenied when the
  // handle may not read, kInvalidHandle for a handle that is not open.
  virtual StepOr<QueriedValue> QueryValue(RegistryKeyHandle key, const std::wstring& name, void* buffer,
                                          std::uint32_t size) = 0;

  // RegSetValueExW: replaces value `name` (or adds it) with `size` bytes of
  // `data` and the type given, as one change: a reader sees the old value or
  // the new one, never a mixture, and after a failure the old value stays.
  // Needs a handle that may set values (CreateKey's, or OpenKey's with
  // kSetValue). Failure: kAccessDenied, kInvalidHandle, or what else the
  // platform reports.
  virtual Step SetValue(RegistryKeyHandle key, const std::wstring& name, std::uint32_t type, const void* data,
                        std::uint32_t size) = 0;

  // RegDeleteValueW: removes value `name`. Needs a handle that may set
  // values. Failure: kFileNotFound when there is no such value,
  // kAccessDenied, kInvalidHandle.
  virtual Step DeleteValue(RegistryKeyHandle key, const std::wstring& name) = 0;

  // RegCloseKey: gives the handle back. Failure: kInvalidHandle for a
  // handle that is not open.
  virtual Step CloseKey(RegistryKeyHandle key) = 0;
};

// Owns one open key and closes it, through the registry that opened it, when
// it goes out of scope; the thread's last error survives the closing.
class RegistryKey {
 public:
  RegistryKey(Registry& registry, RegistryKeyHandle handle) : registry_(&registry), handle_(handle) {}
  ~RegistryKey() { Close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  RegistryKeyHandle Handle() const { return handle_; }

  // Closes the key now, if it is still open.
  void Close() {
    if (handle_ == 0) return;
    const ErrorNumber saved = LastError();
    registry_->CloseKey(handle_);
    SetLastError(saved);
    handle_ = 0;
  }

 private:
  Registry* registry_;
  RegistryKeyHandle handle_;
};

}  // namespace platform
