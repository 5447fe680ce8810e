#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/last_error.h"
#include "platform/posix/errors_posix.h"
#include "platform/seam.h"
#include "platform/temp_names.h"
#include "support/utf16.h"

namespace platform {
namespace {

constexpr ErrorNumber kFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE

template <class T>
StepOr<T> FailWith(ErrorNumber error) {
  SetLastError(error);
  return StepOr<T>::Failure(error);
}

template <class T>
StepOr<T> FailFromErrno() {
  return StepOr<T>::Failure(posix::FailFromErrno().error);
}

void AppendHex(std::wstring& out, std::uint32_t value, int digits) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xFu];
}

class PosixTempNames final : public TempNames {
 public:
  StepOr<std::wstring> TempFolderPath() override {
    const char* variable = std::getenv("TMPDIR");
    std::string path = (variable != nullptr && variable[0] == '/') ? variable : "/tmp";
    if (path.back() != '/') path += '/';
    std::wstring wide = Utf8ToWideLossy(path);
    if (wide.size() >= kMaxPath) return FailWith<std::wstring>(error::kInsufficientBuffer);
    return StepOr<std::wstring>::Success(wide);
  }

  StepOr<Guid> CreateGuid() override {
    std::uint8_t bytes[16];
    std::size_t got = 0;
    while (got < sizeof(bytes)) {
      const ssize_t n = ::getrandom(bytes + got, sizeof(bytes) - got, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return FailFromErrno<Guid>();
      got += static_cast<std::size_t>(n);
    }
    // Version 4 (random), variant 1, as CoCreateGuid makes them.
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0Fu) | 0x40u);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3Fu) | 0x80u);
    Guid guid;
    guid.data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
                 bytes[3];
    guid.data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    guid.data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) guid.data4[i] = bytes[8 + i];
    return StepOr<Guid>::Success(guid);
  }

  std::wstring GuidText(const Guid& guid) override {
    std::wstring text = L"{";
    AppendHex(text, guid.data1, 8);
    text += L'-';
    AppendHex(text, guid.data2, 4);
    text += L'-';
    AppendHex(text, guid.data3, 4);
    text += L'-';
    AppendHex(text, guid.data4[0], 2);
    AppendHex(text, guid.data4[1], 2);
    text += L'-';
    for (int i = 2; i < 8; ++i) AppendHex(text, guid.data4[i], 2);
    text += L'}';
    return text;
  }

  StepOr<std::wstring> CreateTempFile(const std::wstring& folder, const std::wstring& prefix) override {
    std::string name = WideToUtf8(folder);
    if (name.empty() || name.back() != '/') name += '/';
    name += WideToUtf8(prefix) + "XXXXXX";
    if (Utf8ToWideLossy(name).size() >= kMaxPath) return FailWith<std::wstring>(kFilenameTooLong);
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return FailFromErrno<std::wstring>();
    ::close(fd);
    return StepOr<std::wstring>::Success(Utf8ToWideLossy(name));
  }
};

}  // namespace

template <>
TempNames& PlatformDefault<TempNames>() {
  static PosixTempNames names;
  return names;
}

}  // namespace platform
