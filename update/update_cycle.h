// The one check-and-install pass of a service run.
#pragma once

#include <cstdint>
#include <memory>

#include "update/component_version.h"

// Checks whether silent auto-update is allowed and a check is due, fetches
// the version manifest, enforces the limit on installation attempts, starts
// the installer of at most one flavour (the ActiveX control before the
// plug-in) and records when the next check is due. Everything it acquires is
// released before it returns, on every path. A stop request does not
// shorten it. It logs 1608 at its start and 1612 at its end.
void UpdateCycle();

// A cycle gives up when the stored attempt count is above this.
inline constexpr std::uint32_t kMaximumUpdateAttempts = 6;

// The two steps of a cycle that reach the update servers: the manifest fetch
// and the download and start of one flavour's installer.
struct UpdateTransfers {
  bool (*fetchVersionManifest)(std::unique_ptr<ComponentVersion>* activeX, std::unique_ptr<ComponentVersion>* plugin,
                               std::unique_ptr<std::uint32_t>* checkFrequency);
  bool (*installComponent)(const std::unique_ptr<ComponentVersion>& version);
};

// UpdateCycle with other transfers in place of FetchVersionManifest and
// InstallComponent; everything else is the product's. For tests, which run
// cycles without an update server.
void UpdateCycleWith(const UpdateTransfers& transfers);
