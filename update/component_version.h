// One flavour's version as the version manifest states it.
#pragma once

#include <cstdint>

using Flavour = std::int32_t;
inline constexpr Flavour kFlavourActiveX = 1;
inline constexpr Flavour kFlavourPlugin = 2;
struct ComponentVersion { std::uint32_t major = 0, minor = 0, buildMajor = 0, buildMinor = 0; Flavour flavour = 0; };
