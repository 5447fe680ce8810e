#include <windows.h>

#include "platform/registry.h"
#include "platform/seam.h"

namespace platform {
namespace {

// The registry functions return their error instead of setting the thread's
// last error; the adapter sets it, as every adapter does on failure.
Step Result(LONG status) {
  if (status == ERROR_SUCCESS) return Step::Success();
  ::SetLastError(static_cast<DWORD>(status));
  return Step::Failure(static_cast<ErrorNumber>(status));
}

HKEY ToKey(RegistryKeyHandle handle) { return reinterpret_cast<HKEY>(handle); }
RegistryKeyHandle ToHandle(HKEY key) { return reinterpret_cast<RegistryKeyHandle>(key); }

// No KEY_WOW64_32KEY or KEY_WOW64_64KEY anywhere: a 32-bit process reaches
// the 32-bit view by itself. A 64-bit build would have to add
// KEY_WOW64_32KEY to every access mask here to reach the same keys.
class Win32Registry final : public Registry {
 public:
  StepOr<RegistryKeyHandle> OpenKey(const std::wstring& subkey, RegistryAccess access) override {
    const REGSAM sam = access == RegistryAccess::kRead ? KEY_READ : KEY_SET_VALUE;
    HKEY key = nullptr;
    Step step = Result(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, sam, &key));
    if (!step) return StepOr<RegistryKeyHandle>::Failure(step.error);
    return StepOr<RegistryKeyHandle>::Success(ToHandle(key));
  }

  StepOr<RegistryKeyHandle> CreateKey(const std::wstring& subkey) override {
    HKEY key = nullptr;
    Step step = Result(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_SET_VALUE, nullptr, &key, nullptr));
    if (!step) return StepOr<RegistryKeyHandle>::Failure(step.error);
    return StepOr<RegistryKeyHandle>::Success(ToHandle(key));
  }

  StepOr<QueriedValue> QueryValue(RegistryKeyHandle key, const std::wstring& name, void* buffer,
                                  std::uint32_t size) override {
    DWORD type = REG_NONE;
    DWORD bytes = size;
    Step step =
        Result(::RegQueryValueExW(ToKey(key), name.c_str(), nullptr, &type, static_cast<LPBYTE>(buffer), &bytes));
    if (!step) return StepOr<QueriedValue>::Failure(step.error);
    return StepOr<QueriedValue>::Success(QueriedValue{type, bytes});
  }

  Step SetValue(RegistryKeyHandle key, const std::wstring& name, std::uint32_t type, const void* data,
                std::uint32_t size) override {
    return Result(::RegSetValueExW(ToKey(key), name.c_str(), 0, type, static_cast<const BYTE*>(data), size));
  }

  Step DeleteValue(RegistryKeyHandle key, const std::wstring& name) override {
    return Result(::RegDeleteValueW(ToKey(key), name.c_str()));
  }

  Step CloseKey(RegistryKeyHandle key) override { return Result(::RegCloseKey(ToKey(key))); }
};

}  // namespace

template <>
Registry& PlatformDefault<Registry>() {
  static Win32Registry registry;
  return registry;
}

}  // namespace platform
