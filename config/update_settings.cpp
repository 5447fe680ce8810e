#include "config/update_settings.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "build_settings.h"
#include "config/config_file.h"
#include "platform/seam.h"
#include "platform/utf8_conversion.h"
#include "support/file_manager.h"
#include "support/log_messages.h"

UpdateSettingsRecord UpdateSettings;

std::wstring ManifestServerHost = build_settings::kDefaultUpdateHost;
std::wstring DownloadServerHost = build_settings::kAlternateUpdateHost;

namespace {

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The leading decimal integer as strtol reads it in base 10, saturated to
// the range of a 32-bit signed integer; 0 when there are no digits.
std::int32_t LeadingInteger(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                                      : std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) magnitude = limit;  // further digits cannot bring it back
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

// The working object each operation creates before it takes the path.
std::unique_ptr<DAZA::FileManager> NewWorkingObject() { return std::make_unique<DAZA::WindowsFileManager>(); }

}  // namespace

bool ParseBool(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lower == "true" || lower == "t" || lower == "yes" || lower == "y") return true;
  return LeadingInteger(lower) != 0;
}

bool Utf8ToWide(const std::string& utf8, std::wstring& out) {
  // The text ends at its first zero byte, as a C string would.
  const std::string text = utf8.substr(0, utf8.find('\0'));
  platform::StepOr<std::wstring> wide = platform::Seam<platform::Utf8Conversion>::Get().Utf8ToWide(text);
  if (!wide.ok) return false;
  out = std::move(wide.value);
  return true;
}

bool SetUpdateMode(int mode) {
  const char* silent = nullptr;
  const char* disable = nullptr;
  switch (mode) {
    case kUpdateModeSilent: silent = "1"; disable = "0"; break;
    case kUpdateModeNotify: silent = "0"; disable = "0"; break;
    case kUpdateModeDisabled: silent = "0"; disable = "1"; break;
    default: return false;
  }
  std::unique_ptr<DAZA::FileManager> workingObject;
  std::string path;
  try {
    workingObject = NewWorkingObject();
    path = ConfigFilePath();
  } catch (const std::bad_alloc&) {
    LogCode(MessageCode::SetModePrepareOutOfMemory);
    return false;
  }
  try {
    ConfigFile file(path);
    file.Set(kKeySilentAutoUpdateEnable, silent);
    file.Set(kKeyAutoUpdateDisable, disable);
    return file.Save();
  } catch (const std::bad_alloc&) {
    LogCode(MessageCode::SetModeConfigOutOfMemory);
    return false;
  }
}

bool IsSilentUpdateEnabled() {
  std::unique_ptr<DAZA::FileManager> workingObject;
  std::string path;
  try {
    workingObject = NewWorkingObject();
    path = ConfigFilePath();
  } catch (const std::bad_alloc&) {
    LogCode(MessageCode::IsSilentPrepareOutOfMemory);
    return false;
  }
  bool enabled = false;
  try {
    ConfigFile file(path);
    enabled = ParseBool(file.Get(kKeySilentAutoUpdateEnable));
  } catch (const std::bad_alloc&) {
    LogCode(MessageCode::IsSilentConfigOutOfMemory);
    return false;
  }
  if (enabled) LogCode(MessageCode::SilentUpdateEnabled);
  return enabled;
}

bool LoadUpdateSettings() {
  try {
    std::unique_ptr<DAZA::FileManager> workingObject = NewWorkingObject();
    const ConfigFile file(ConfigFilePath());

    if (ParseBool(file.Get(kKeyVerboseLogging))) UpdateSettings.verboseLogging = true;

    const std::string domain = file.Get(kKeyServerDomain);
    if (!domain.empty()) {
      if (!Utf8ToWide(domain, DownloadServerHost)) LogCodeWithLastError(MessageCode::DownloadHostConversionFailed);
      if (!Utf8ToWide(domain, ManifestServerHost)) LogCodeWithLastError(MessageCode::ManifestHostConversionFailed);
      if (DownloadServerHost.empty()) {
        DownloadServerHost = build_settings::kAlternateUpdateHost;
      } else {
        LogCodeWithText(MessageCode::DownloadHostConfigured, DownloadServerHost);
      }
      if (ManifestServerHost.empty()) {
        ManifestServerHost = build_settings::kDefaultUpdateHost;
      } else {
        LogCodeWithText(MessageCode::ManifestHostConfigured, ManifestServerHost);
      }
    }

    UpdateSettings.autoUpdateDisabled = ParseBool(file.Get(kKeyAutoUpdateDisable));
    LogCode(UpdateSettings.autoUpdateDisabled ? MessageCode::AutoUpdateDisabledTrue
                                              : MessageCode::AutoUpdateDisabledFalse);
    UpdateSettings.silentAutoUpdateEnabled = ParseBool(file.Get(kKeySilentAutoUpdateEnable));
    LogCode(UpdateSettings.silentAutoUpdateEnabled ? MessageCode::SilentUpdateEnabledTrue
                                                   : MessageCode::SilentUpdateEnabledFalse);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}
