#include "tools/logreader/log_describe.h"

#include <cstdio>

#include "support/message_catalogue.h"
#include "tools/logreader/windows_errors.h"

namespace logreader {
namespace {

// Foreign bytes are shown up to this many bytes of their text, or this many
// bytes in hexadecimal.
constexpr std::size_t kShownTextBytes = 240;
constexpr std::size_t kShownHexBytes = 32;

std::string Hex32(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "0x%08X", static_cast<unsigned>(value));
  return buffer;
}

std::string PadRight(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

// The length of the UTF-8 sequence at `i`, or 0 when none starts there.
std::size_t Utf8SequenceLength(const std::string& s, std::size_t i) {
  const unsigned char b = static_cast<unsigned char>(s[i]);
  std::size_t len;
  char32_t cp;
  char32_t min;
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0) {
    len = 2;
    cp = b & 0x1F;
    min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3;
    cp = b & 0x0F;
    min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4;
    cp = b & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const unsigned char c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool IsUtf8WithoutNul(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == '\0') return false;
    const std::size_t len = Utf8SequenceLength(s, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

// UTF-16 text of Latin script has a zero high byte in most of its units.
bool LooksLikeUtf16(const std::string& bytes) {
  const std::size_t units = bytes.size() / 2;
  if (units == 0) return false;
  std::size_t latin = 0;
  for (std::size_t k = 0; k < units; ++k) {
    if (bytes[2 * k + 1] == '\0' && bytes[2 * k] != '\0') ++latin;
  }
  return latin * 2 >= units;
}

// The first whole UTF-8 characters of `text` up to `limit` bytes.
std::string Shorten(const std::string& text, std::size_t limit, bool& shortened) {
  shortened = false;
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  shortened = true;
  return text.substr(0, end);
}

std::string ShownText(const char* label, const std::string& text, std::size_t byteCount) {
  bool shortened = false;
  std::string shown = std::string(label) + QuoteText(Shorten(text, kShownTextBytes, shortened));
  if (shortened) shown += " ... (" + std::to_string(byteCount) + " bytes in all)";
  return shown;
}

const char* ReasonWords(UnparsedReason reason) {
  switch (reason) {
    case UnparsedReason::OddByteCount: return "an odd number of bytes, no UTF-16 text";
    case UnparsedReason::InvalidUtf16: return "invalid UTF-16 (a surrogate without its partner)";
    case UnparsedReason::NotInLayout: return "not a line of the log's layout";
    case UnparsedReason::CutOff: return "a line cut off: the next line follows without a line end";
    case UnparsedReason::TooLong: return "no line end within 1 MiB";
    case UnparsedReason::None: break;
  }
  return "not a line";
}

std::string DescribeArgument(const MessageInfo& info, const Message& m) {
  const bool has = m.shape == MessageShape::CodeAndArgument;
  switch (info.argument) {
    case MessageArgument::None:
      return has ? "; unexpected after the code: " + QuoteText(m.text) : "";
    case MessageArgument::LastError:
    case MessageArgument::Either:
      if (!has) return info.argument == MessageArgument::LastError ? "; the error number is missing" : "";
      return m.argumentIsNumber ? "; " + ExplainWindowsError(m.number)
                                : "; unexpected text where the error number belongs: " + QuoteText(m.text);
    case MessageArgument::Number:
      if (!has) return "; the number is missing";
      if (!m.argumentIsNumber) return "; unexpected text where the number belongs: " + QuoteText(m.text);
      if (m.code == static_cast<std::int32_t>(MessageCode::ControlReceived)) return "; " + ExplainServiceControl(m.number);
      return "; number " + std::to_string(m.number);
    case MessageArgument::Text:
      return has ? "; host name " + QuoteText(m.text) : "; the host name is missing";
  }
  return "";
}

std::string DescribeLine(const LogEntry& e) {
  std::string out = FormatIsoUtc(e.time) + " " + PadRight(LevelName(e.level), 7) + " ";
  const Message& m = e.message;
  if (m.shape == MessageShape::Text) {
    out += "text " + QuoteText(m.text);
    if (e.level == kLogInformation) out += " (a start line: the executable's path or the first argument)";
    return out;
  }
  out += PadRight(std::to_string(m.code), 4) + " ";
  const MessageInfo* info = FindMessage(m.code);
  if (info == nullptr) {
    out += "unknown code: the message catalogue has no meaning for it";
    if (m.shape == MessageShape::CodeAndArgument) {
      out += m.argumentIsNumber ? "; number " + std::to_string(m.number) : "; text " + QuoteText(m.text);
    }
    return out;
  }
  out += info->meaning;
  out += DescribeArgument(*info, m);
  if (info->level != e.level) {
    out += std::string("; written as ") + LevelName(e.level) + ", though the code is " + LevelName(info->level);
  }
  return out;
}

}  // namespace

const char* LevelName(LogLevel level) {
  switch (level) {
    case kLogInformation: return "info";
    case kLogWarning: return "warning";
    case kLogError: return "error";
    default: return "?";
  }
}

std::string ExplainWindowsError(std::int32_t value) {
  const std::uint32_t bits = static_cast<std::uint32_t>(value);
  std::string out = "last Windows error " + std::to_string(value);
  if (value < 0) out += " = " + Hex32(bits);
  if (const char* name = WindowsErrorName(bits)) {
    out += std::string(" (") + name + ")";
  } else if ((bits & 0xFFFF0000u) == 0x80070000u) {
    // An HRESULT that wraps a Windows error code.
    const std::uint32_t inner = bits & 0xFFFFu;
    out += " (Windows error " + std::to_string(inner);
    if (const char* innerName = WindowsErrorName(inner)) out += std::string(" ") + innerName;
    out += " as an HRESULT)";
  }
  return out;
}

std::string ExplainServiceControl(std::int32_t value) {
  std::string out = "control code " + std::to_string(value);
  const std::uint32_t code = static_cast<std::uint32_t>(value);
  if (const ServiceControl* control = FindServiceControl(code)) {
    out += std::string(" = ") + control->words + " (" + control->name + ")";
  } else if (code >= 128 && code <= 255) {
    out += " = a control of the service's own (128 to 255)";
  } else {
    out += " (not a known service control)";
  }
  return out;
}

std::string QuoteText(const std::string& s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    char buffer[16];
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(buffer, sizeof(buffer), "\\x%02X", c);
      out += buffer;
    } else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
      // A C1 control character, U+0080 to U+009F.
      std::snprintf(buffer, sizeof(buffer), "\\u%04X", static_cast<unsigned char>(s[i + 1]));
      out += buffer;
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out += "\"";
  return out;
}

std::string ShowForeignBytes(const std::string& bytes) {
  if (bytes.empty()) return "(no bytes)";
  if (LooksLikeUtf16(bytes)) {
    std::string text;
    DecodeUtf16LE(bytes.data(), bytes.size(), text);
    return ShownText("UTF-16 text ", text, bytes.size());
  }
  if (IsUtf8WithoutNul(bytes)) return ShownText("8-bit text ", bytes, bytes.size());
  std::string out = "bytes";
  char buffer[8];
  for (std::size_t i = 0; i < bytes.size() && i < kShownHexBytes; ++i) {
    std::snprintf(buffer, sizeof(buffer), " %02X", static_cast<unsigned char>(bytes[i]));
    out += buffer;
  }
  if (bytes.size() > kShownHexBytes) out += " ... (" + std::to_string(bytes.size()) + " bytes in all)";
  return out;
}

std::string DescribeEntry(const LogEntry& e) {
  switch (e.kind) {
    case EntryKind::Line:
      return DescribeLine(e);
    case EntryKind::Unparsed:
      return "[unparsed at byte " + std::to_string(e.offset) + ", " + std::to_string(e.bytes.size()) + " bytes: " +
             ReasonWords(e.reason) + "] " + ShowForeignBytes(e.bytes);
    case EntryKind::Incomplete:
      return "[incomplete last line at byte " + std::to_string(e.offset) + ", " + std::to_string(e.bytes.size()) +
             " bytes: no line end yet; still being written, or cut off] " + ShowForeignBytes(e.bytes);
  }
  return "";
}

}  // namespace logreader
