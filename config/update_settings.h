// The meaning of the configuration file's keys: the auto-update mode, the
// verbose log and the update server, and the process-wide settings loaded
// from them.
//
// UpdateSettings and the host names are written only by LoadUpdateSettings,
// before the service dispatcher starts, and only read afterwards; the
// activity log reads verboseLogging from any thread.
#pragma once

#include <string>

struct UpdateSettingsRecord {
  bool autoUpdateDisabled = false;       // "AutoUpdateDisable"
  bool silentAutoUpdateEnabled = false;  // "SilentAutoUpdateEnable"
  bool verboseLogging = false;           // "SilentAutoUpdateVerboseLogging"; never set back to false
};

extern UpdateSettingsRecord UpdateSettings;

// The host the version manifest is fetched from, and the host the installer
// packages are downloaded from. From process start they hold the build's
// default and alternate update server hosts; a server domain in the
// configuration file replaces both.
extern std::wstring ManifestServerHost;
extern std::wstring DownloadServerHost;

// The configuration keys.
inline constexpr char kKeySilentAutoUpdateEnable[] = "SilentAutoUpdateEnable";
inline constexpr char kKeyAutoUpdateDisable[] = "AutoUpdateDisable";
inline constexpr char kKeyVerboseLogging[] = "SilentAutoUpdateVerboseLogging";
inline constexpr char kKeyServerDomain[] = "SilentAutoUpdateServerDomain";

enum UpdateMode : int {
  kUpdateModeSilent = 0,
  kUpdateModeNotify = 1,
  kUpdateModeDisabled = 2,
};

// True for "true", "t", "yes" and "y" in any letter case, and for text whose
// leading decimal integer (read as strtol reads it, saturated to 32 bits)
// is not 0: "1", "-1", "10abc". False for everything else: "0", "no", "on",
// "0x1", empty text.
bool ParseBool(const std::string& text);

// The UTF-8 text up to its first zero byte as wide text, into `out`. On
// failure `out` is unchanged and the thread's last error says why.
bool Utf8ToWide(const std::string& utf8, std::wstring& out);

// Writes the mode's two keys into the configuration file, keeping every
// other entry: silent "SilentAutoUpdateEnable=1, AutoUpdateDisable=0",
// notify "0, 0", disabled "0, 1". True when the file was written; false for
// another mode (nothing is touched), and when the file cannot be written
// (its folder is not created). UpdateSettings is not changed.
bool SetUpdateMode(int mode);

// Whether "SilentAutoUpdateEnable" in the file parses true now, whatever
// "AutoUpdateDisable" says.
bool IsSilentUpdateEnabled();

// Reads the configuration file once into UpdateSettings and the host names,
// and logs what it found (information lines, written only when the file
// switches verbose logging on). False only when memory ran out.
bool LoadUpdateSettings();
