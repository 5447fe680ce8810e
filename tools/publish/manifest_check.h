// Version manifests for the publisher's toolkit: strict reading of the
// numbers a publisher gives, the document the updater reads, and reading a
// document exactly as the updater does, with ParseVersionManifest itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace publish {

using VersionNumbers = std::array<std::uint32_t, 4>;  // major, minor, buildMajor, buildMinor

// One unsigned 32-bit decimal number: digits only, at least one, at most
// 4294967295. False for anything else.
bool ParseStrictNumber(const std::string& text, std::uint32_t& number);

// Exactly four strict numbers separated by single dots ("11.2.202.235").
// False with a one-line reason otherwise.
bool ParseVersionText(const std::string& text, VersionNumbers& version, std::string& why);

// "11.2.202.235"
std::string VersionText(const VersionNumbers& version);

// The manifest document for the two flavours' versions and the check
// frequency in days.
std::string ManifestDocument(const VersionNumbers& activeX, const VersionNumbers& plugin, std::uint32_t checkFrequency);

// The most of a manifest the updater reads: a longer body is refused (1409)
// before it is parsed.
inline constexpr std::size_t kManifestSizeBound = 1024u * 1024u;

struct LoggedLine {
  std::int32_t code = 0;  // 0 when the line does not begin with a code
  std::wstring message;   // the line's message, as written ("1431")
};

struct ManifestReading {
  bool accepted = false;
  bool tooLarge = false;                       // over kManifestSizeBound: refused unread
  std::size_t zeroByteAt = std::string::npos;  // where the text ends at a zero byte, if it does
  std::vector<LoggedLine> logged;              // what the reading wrote to the activity log, in order
  VersionNumbers activeX{};
  VersionNumbers plugin{};
  std::uint32_t checkFrequency = 0;
  // Values the updater reads leniently: "ActiveX minor=\"2x\" is read as 2".
  std::vector<std::string> notes;
};

// Reads `body` (the whole manifest as the server would send it; `more`: it
// goes on past what was read) the way the updater's fetch does: refused
// past the size bound, text up to the first zero byte, then
// ParseVersionManifest with verbose logging, whose log lines are captured
// here instead of reaching any log file. A refused reading ends with the
// fetch's own line, 1409, as the updater's log would.
ManifestReading ReadManifestAsUpdater(const std::string& body, bool more);

// The day count the updater's schedule keeps for a manifest's frequency:
// below 1 becomes 1, above 3 becomes 3.
std::uint32_t ScheduledCheckFrequency(std::uint32_t checkFrequency);

}  // namespace publish
