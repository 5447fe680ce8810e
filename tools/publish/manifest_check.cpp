#include "tools/publish/manifest_check.h"

#include <memory>
#include <rapidxml.hpp>
#include <sstream>

#include "config/update_settings.h"
#include "platform/log_file.h"
#include "platform/seam.h"
#include "support/message_catalogue.h"
#include "support/utf16.h"
#include "transfer/version_manifest.h"
#include "update/schedule_state.h"

namespace publish {
namespace {

// Where the activity log's lines go while the toolkit reads a manifest: kept
// here, so that the reading shows what the updater would log without
// writing to any log file.
class CapturedLog final : public platform::SharedAppendFile {
 public:
  platform::Step Append(const std::string& /*path*/, const void* bytes, std::size_t size) override {
    records_.emplace_back(static_cast<const char*>(bytes), size);
    return platform::Step::Success();
  }

  std::vector<LoggedLine> Lines() const {
    std::vector<LoggedLine> lines;
    for (const std::string& record : records_) {
      const std::wstring line = DecodeUtf16LE(record);
      // "time [level] message\r\n"
      const std::size_t start = line.find(L"] ");
      std::size_t end = line.rfind(L"\r\n");
      if (start == std::wstring::npos) continue;
      if (end == std::wstring::npos || end < start + 2) end = line.size();
      LoggedLine logged;
      logged.message = line.substr(start + 2, end - start - 2);
      for (wchar_t c : logged.message) {
        if (c < L'0' || c > L'9' || logged.code > 99999) break;
        logged.code = logged.code * 10 + static_cast<std::int32_t>(c - L'0');
      }
      lines.push_back(logged);
    }
    return lines;
  }

 private:
  std::vector<std::string> records_;
};

// Verbose logging on for the length of one reading, as an administrator
// switches it on to see the manifest's warnings.
class VerboseLogging {
 public:
  VerboseLogging() : saved_(UpdateSettings.verboseLogging) { UpdateSettings.verboseLogging = true; }
  ~VerboseLogging() { UpdateSettings.verboseLogging = saved_; }
  VerboseLogging(const VerboseLogging&) = delete;
  VerboseLogging& operator=(const VerboseLogging&) = delete;

 private:
  bool saved_;
};

VersionNumbers NumbersOf(const ComponentVersion& v) { return {v.major, v.minor, v.buildMajor, v.buildMinor}; }

LoggedLine LineOf(MessageCode code) {
  LoggedLine line;
  line.code = static_cast<std::int32_t>(code);
  line.message = std::to_wstring(line.code);
  return line;
}

// The values that the updater takes from text other than a plain number,
// found along the updater's own path (the first matching element and
// attribute of each name) in a copy of an accepted document.
std::vector<std::string> LenientValues(const std::string& text) {
  std::vector<std::string> notes;
  std::vector<char> copy(text.begin(), text.end());
  copy.push_back('\0');
  rapidxml::xml_document<char> document;
  try {
    document.parse<rapidxml::parse_default>(copy.data());
  } catch (const rapidxml::parse_error&) {
    return notes;
  }
  const rapidxml::xml_node<char>* version = document.first_node("version");
  if (version == nullptr) return notes;
  auto look = [&notes, version](const char* element, std::initializer_list<const char*> attributes) {
    const rapidxml::xml_node<char>* node = version->first_node(element);
    if (node == nullptr) return;
    for (const char* name : attributes) {
      const rapidxml::xml_attribute<char>* attribute = node->first_attribute(name);
      if (attribute == nullptr) continue;
      const std::string value(attribute->value(), attribute->value_size());
      std::uint32_t strict = 0;
      if (!ParseStrictNumber(value, strict) || std::to_string(strict) != value) {
        notes.push_back(std::string(element) + " " + name + "=\"" + value + "\" is read as " +
                        std::to_string(ManifestNumber(value.c_str())));
      }
    }
  };
  look("ActiveX", {"major", "minor", "buildMajor", "buildMinor"});
  look("Plugin", {"major", "minor", "buildMajor", "buildMinor"});
  look("SAUConfig", {"checkFrequency"});
  return notes;
}

}  // namespace

bool ParseStrictNumber(const std::string& text, std::uint32_t& number) {
  if (text.empty()) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10u + static_cast<std::uint64_t>(c - '0');
    if (value > 0xFFFFFFFFu) return false;
  }
  number = static_cast<std::uint32_t>(value);
  return true;
}

bool ParseVersionText(const std::string& text, VersionNumbers& version, std::string& why) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  const std::string shape = "give four numbers separated by dots, such as 11.2.202.235";
  if (parts.size() != 4) {
    why = "\"" + text + "\" is not a version of four numbers: " + shape;
    return false;
  }
  VersionNumbers parsed{};
  for (std::size_t i = 0; i < 4; ++i) {
    const std::string& part = parts[i];
    bool digits = !part.empty();
    for (char c : part) digits = digits && c >= '0' && c <= '9';
    if (!digits) {
      why = "\"" + text + "\" is not a version of four numbers: " + shape;
      return false;
    }
    if (!ParseStrictNumber(part, parsed[i])) {
      why = "\"" + text + "\": " + part + " is larger than 4294967295, the largest a version number can be";
      return false;
    }
  }
  version = parsed;
  return true;
}

std::string VersionText(const VersionNumbers& v) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

std::string ManifestDocument(const VersionNumbers& activeX, const VersionNumbers& plugin,
                             std::uint32_t checkFrequency) {
  auto element = [](const char* name, const VersionNumbers& v) {
    return std::string("  <") + name + " major=\"" + std::to_string(v[0]) + "\" minor=\"" + std::to_string(v[1]) +
           "\" buildMajor=\"" + std::to_string(v[2]) + "\" buildMinor=\"" + std::to_string(v[3]) + "\"/>\n";
  };
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<version>\n" +
         element("ActiveX", activeX) + element("Plugin", plugin) + "  <SAUConfig checkFrequency=\"" +
         std::to_string(checkFrequency) + "\"/>\n</version>\n";
}

ManifestReading ReadManifestAsUpdater(const std::string& body, bool more) {
  ManifestReading reading;
  if (more || body.size() > kManifestSizeBound) {
    reading.tooLarge = true;
    reading.logged.push_back(LineOf(MessageCode::ManifestUnusable));
    return reading;
  }
  // The fetch keeps each chunk's text up to its first zero byte.
  const std::size_t zero = body.find('\0');
  reading.zeroByteAt = zero;
  std::string text = body.substr(0, zero);

  std::unique_ptr<ComponentVersion> activeX;
  std::unique_ptr<ComponentVersion> plugin;
  std::unique_ptr<std::uint32_t> checkFrequency;
  CapturedLog log;
  {
    // The toolkit is not the updater: it may point the activity log's seam
    // at its own capture while it reads.
    platform::ScopedSeam<platform::SharedAppendFile> seam(&log);
    VerboseLogging verbose;
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    reading.accepted = ParseVersionManifest(buffer.data(), &activeX, &plugin, &checkFrequency);
  }
  reading.logged = log.Lines();
  if (!reading.accepted) {
    reading.logged.push_back(LineOf(MessageCode::ManifestUnusable));
    return reading;
  }
  reading.activeX = NumbersOf(*activeX);
  reading.plugin = NumbersOf(*plugin);
  reading.checkFrequency = *checkFrequency;
  reading.notes = LenientValues(text);
  return reading;
}

std::uint32_t ScheduledCheckFrequency(std::uint32_t checkFrequency) {
  if (checkFrequency < kMinimumCheckFrequencyDays) return kMinimumCheckFrequencyDays;
  if (checkFrequency > kMaximumCheckFrequencyDays) return kMaximumCheckFrequencyDays;
  return checkFrequency;
}

}  // namespace publish
