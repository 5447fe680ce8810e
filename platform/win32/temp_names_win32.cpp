#include <windows.h>
#include <objbase.h>

#include "platform/seam.h"
#include "platform/temp_names.h"

namespace platform {
namespace {

class Win32TempNames final : public TempNames {
 public:
  StepOr<std::wstring> TempFolderPath() override {
    wchar_t buffer[kMaxPath] = {};
    const DWORD length = ::GetTempPathW(kMaxPath, buffer);
    if (length == 0) return StepOr<std::wstring>::Failure(::GetLastError());
    if (length >= kMaxPath) {
      // The length the path needs: it does not fit.
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return StepOr<std::wstring>::Failure(ERROR_INSUFFICIENT_BUFFER);
    }
    return StepOr<std::wstring>::Success(std::wstring(buffer, length));
  }

  StepOr<Guid> CreateGuid() override {
    GUID native{};
    const HRESULT result = ::CoCreateGuid(&native);
    if (FAILED(result)) {
      ::SetLastError(static_cast<DWORD>(result));
      return StepOr<Guid>::Failure(static_cast<ErrorNumber>(result));
    }
    Guid guid;
    guid.data1 = native.Data1;
    guid.data2 = native.Data2;
    guid.data3 = native.Data3;
    for (int i = 0; i < 8; ++i) guid.data4[i] = native.Data4[i];
    return StepOr<Guid>::Success(guid);
  }

  std::wstring GuidText(const Guid& guid) override {
    GUID native{};
    native.Data1 = guid.data1;
    native.Data2 = guid.data2;
    native.Data3 = guid.data3;
    for (int i = 0; i < 8; ++i) native.Data4[i] = guid.data4[i];
    wchar_t buffer[kMaxPath] = {};
    // The count includes the terminating zero; 0 when nothing was written.
    const int count = ::StringFromGUID2(native, buffer, static_cast<int>(kMaxPath));
    if (count <= 1) return std::wstring();
    return std::wstring(buffer, static_cast<std::size_t>(count - 1));
  }

  StepOr<std::wstring> CreateTempFile(const std::wstring& folder, const std::wstring& prefix) override {
    wchar_t buffer[kMaxPath] = {};
    if (::GetTempFileNameW(folder.c_str(), prefix.c_str(), 0, buffer) == 0) {
      return StepOr<std::wstring>::Failure(::GetLastError());
    }
    return StepOr<std::wstring>::Success(std::wstring(buffer));
  }
};

}  // namespace

template <>
TempNames& PlatformDefault<TempNames>() {
  static Win32TempNames names;
  return names;
}

}  // namespace platform
