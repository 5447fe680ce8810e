// The version manifest: a small XML document on the update server naming
// the current version of each flavour and the days between update checks.
//
//   <version>
//     <ActiveX major="11" minor="2" buildMajor="202" buildMinor="235"/>
//     <Plugin major="11" minor="2" buildMajor="202" buildMinor="235"/>
//     <SAUConfig checkFrequency="2"/>
//   </version>
//
// Every failure is written to the activity log as a warning (verbose
// logging only) and ends in a false result; nothing is retried.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transfer/response_body.h"
#include "update/component_version.h"

inline constexpr wchar_t kManifestUserAgent[] = L"Get Vexel Player version xml/1.0";
inline constexpr wchar_t kManifestPath[] = L"/pub/vexelplayer/update/current/sau/11/beta/xml/version.xml";
inline constexpr std::uint16_t kManifestPort = 443;

// Fetches the manifest over HTTPS from ManifestServerHost on port 443 and
// parses it. True when all three out-parameters were filled: the ActiveX
// control's version (flavour 1), the plug-in's (flavour 2) and the check
// frequency in days. The caller passes them empty, and on false they stay
// empty. A body over a mebibyte, or a fetch that runs past the build's
// deadline, makes the manifest unusable (1409).
bool FetchVersionManifest(std::unique_ptr<ComponentVersion>* activeX, std::unique_ptr<ComponentVersion>* plugin,
                          std::unique_ptr<std::uint32_t>* checkFrequency);

// Where a fetch goes and how long it may run. FetchVersionManifest is the
// fetch from {ManifestServerHost, 443, kManifestPath, kManifestLimits};
// tests point the same fetch at servers of their own.
struct ManifestSource {
  std::wstring host;
  std::uint16_t port;
  std::wstring path;
  TransferLimits limits;
};
bool FetchVersionManifestFrom(const ManifestSource& source, std::unique_ptr<ComponentVersion>* activeX,
                              std::unique_ptr<ComponentVersion>* plugin,
                              std::unique_ptr<std::uint32_t>* checkFrequency);

// Parses the zero-terminated `text`, which the parse modifies in place, into
// the three out-parameters, all or nothing: on false all three are empty.
// False at once, without a log line and touching nothing, when any of the
// four pointers is null.
bool ParseVersionManifest(char* text, std::unique_ptr<ComponentVersion>* activeX,
                          std::unique_ptr<ComponentVersion>* plugin, std::unique_ptr<std::uint32_t>* checkFrequency);

// An attribute value as an unsigned decimal number: leading white space is
// skipped, one sign may follow (a minus negates modulo 2^32), digits are
// taken up to the first other character and the rest is ignored. No digits
// give 0; a magnitude beyond 32 bits gives 4294967295 whatever the sign.
std::uint32_t ManifestNumber(const char* value);
