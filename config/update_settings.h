// The process-wide update settings and server host names.
//
// UpdateSettings is written only while the settings are loaded, before the
// service dispatcher starts, and only read afterwards; the activity log reads
// verboseLogging from any thread.
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
// default and alternate update server hosts.
extern std::wstring ManifestServerHost;
extern std::wstring DownloadServerHost;
