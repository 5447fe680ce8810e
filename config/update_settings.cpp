#include "config/update_settings.h"

#include "build_settings.h"

UpdateSettingsRecord UpdateSettings;

std::wstring ManifestServerHost = build_settings::kDefaultUpdateHost;
std::wstring DownloadServerHost = build_settings::kAlternateUpdateHost;
