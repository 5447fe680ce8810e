// Names for temporary things: the account's temporary folder, new GUIDs and
// their registry text form, and unique temporary file names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/step.h"

namespace platform {

// The longest path a character buffer of the classic Windows calls holds,
// its terminating zero included (MAX_PATH).
inline constexpr std::size_t kMaxPath = 260;

// A GUID in its binary layout.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

class TempNames {
 public:
  virtual ~TempNames() = default;

  // GetTempPathW into a buffer of kMaxPath characters: the temporary folder
  // of the process's account, ending with the path separator (POSIX: TMPDIR
  // when it names an absolute path, else /tmp). Nothing is created or
  // checked. Failure: the platform gave no path, or one that does not fit the
  // buffer (then ERROR_INSUFFICIENT_BUFFER).
  virtual StepOr<std::wstring> TempFolderPath() = 0;

  // CoCreateGuid: a new random GUID (POSIX: version 4 from the system's
  // random source). Failure: the platform's error number (an HRESULT on
  // Windows).
  virtual StepOr<Guid> CreateGuid() = 0;

  // StringFromGUID2 into a buffer of kMaxPath characters: the registry text
  // form, braces, hyphens and upper-case hexadecimal digits, 38 characters:
  // "{01234567-89AB-CDEF-0123-456789ABCDEF}". Empty when the conversion
  // gives nothing.
  virtual std::wstring GuidText(const Guid& guid) = 0;

  // GetTempFileNameW(folder, prefix, 0): creates a new empty file with a
  // name no file in `folder` has (the first three characters of `prefix`,
  // hexadecimal digits, ".tmp"; POSIX: `prefix` and six random characters,
  // made with mkstemp) and gives its full path, at most kMaxPath - 1
  // characters. `folder` ends with the path separator or not. Failure: the
  // folder does not exist or refuses a new file, or no name was free; no
  // file is left.
  virtual StepOr<std::wstring> CreateTempFile(const std::wstring& folder, const std::wstring& prefix) = 0;
};

}  // namespace platform
