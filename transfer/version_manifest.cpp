#include "transfer/version_manifest.h"

#include <rapidxml.hpp>

#include <algorithm>
#include <cstring>
#include <new>

#include "config/update_settings.h"
#include "platform/http_client.h"
#include "platform/seam.h"
#include "platform/steady_clock.h"
#include "support/log_messages.h"

namespace {

// The manifest's reading of a body: every failure is logged and reading
// goes on as far as it can; whatever text arrived is left to the parse.
class ManifestText final : public BodyReceiver {
 public:
  explicit ManifestText(std::string& text) : text_(text) {}

  bool QueryFailed() override {
    LogCodeWithLastError(MessageCode::ManifestQueryAvailableFailed);
    return true;
  }
  void OutOfMemory() override { LogCode(MessageCode::ManifestChunkOutOfMemory); }
  bool ReadFailed() override {
    LogCodeWithLastError(MessageCode::ManifestReadFailed);
    return true;
  }
  // A chunk counts as text up to its first zero byte; the rest of it is lost.
  bool Chunk(const char* data, std::uint32_t size) override {
    text_.append(data, std::find(data, data + size, '\0'));
    return true;
  }

 private:
  std::string& text_;
};

void EmptyAll(std::unique_ptr<ComponentVersion>* activeX, std::unique_ptr<ComponentVersion>* plugin,
              std::unique_ptr<std::uint32_t>* checkFrequency) {
  activeX->reset();
  plugin->reset();
  checkFrequency->reset();
}

using Node = rapidxml::xml_node<char>;

// rapidxml descends one level of recursion, several stack frames, for each
// level of element nesting, so a hostile document of a few kilobytes could
// overflow the service thread's stack. A manifest nests two levels; anything
// deeper than this is refused before rapidxml sees it.
constexpr std::size_t kMaxElementNesting = 100;

bool XmlWhiteSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Moves `p` past the next `end`; false when the text ends first.
bool SkipPast(const char*& p, const char* end) {
  const char* found = std::strstr(p, end);
  if (found == nullptr) return false;
  p = found + std::strlen(end);
  return true;
}

// The deepest element nesting that rapidxml, with its default flags, enters
// while it parses `text`. It follows rapidxml's own reading of the text (what
// it skips as a declaration, processing instruction, comment, CDATA section,
// DOCTYPE with its internal subset or other "<!" node, how it reads names and
// quoted attribute values) up to the point where rapidxml would stop with an
// error, so that nothing that looks like a closing tag inside a comment, a
// value or a section can hide an opening one. Iterative, linear in the text.
std::size_t ElementNestingDepth(const char* p) {
  auto nameChar = [](char c) { return c != '\0' && !XmlWhiteSpace(c) && c != '/' && c != '>' && c != '?'; };
  auto attributeNameChar = [](char c) {
    return c != '\0' && !XmlWhiteSpace(c) && c != '/' && c != '<' && c != '>' && c != '=' && c != '?' && c != '!';
  };
  std::size_t depth = 0;
  std::size_t deepest = 0;
  if (static_cast<unsigned char>(p[0]) == 0xEF && static_cast<unsigned char>(p[1]) == 0xBB &&
      static_cast<unsigned char>(p[2]) == 0xBF) {
    p += 3;
  }
  for (;;) {
    if (depth == 0) {
      while (XmlWhiteSpace(*p)) ++p;  // only nodes may follow at the top
    } else {
      while (*p != '\0' && *p != '<') ++p;  // character data
    }
    if (*p != '<') return deepest;  // the end, or rapidxml's error
    if (depth > 0 && p[1] == '/') {
      p += 2;
      while (nameChar(*p)) ++p;
      while (XmlWhiteSpace(*p)) ++p;
      if (*p != '>') return deepest;
      ++p;
      --depth;
      continue;
    }
    ++p;
    if (*p == '?') {
      ++p;
      if (!SkipPast(p, "?>")) return deepest;
      continue;
    }
    if (*p == '!') {
      if (p[1] == '-' && p[2] == '-') {
        p += 3;
        if (!SkipPast(p, "-->")) return deepest;
        continue;
      }
      if (std::strncmp(p + 1, "[CDATA[", 7) == 0) {
        p += 8;
        if (!SkipPast(p, "]]>")) return deepest;
        continue;
      }
      if (std::strncmp(p + 1, "DOCTYPE", 7) == 0 && XmlWhiteSpace(p[8])) {
        p += 9;
        while (*p != '>') {
          if (*p == '\0') return deepest;
          if (*p++ != '[') continue;
          for (int brackets = 1; brackets > 0; ++p) {
            if (*p == '\0') return deepest;
            if (*p == '[') ++brackets;
            if (*p == ']') --brackets;
          }
        }
        ++p;
        continue;
      }
      ++p;
      while (*p != '>') {
        if (*p == '\0') return deepest;
        ++p;
      }
      ++p;
      continue;
    }
    const char* name = p;
    while (nameChar(*p)) ++p;
    if (p == name) return deepest;
    while (XmlWhiteSpace(*p)) ++p;
    while (attributeNameChar(*p)) {
      while (attributeNameChar(*p)) ++p;
      while (XmlWhiteSpace(*p)) ++p;
      if (*p != '=') return deepest;
      ++p;
      while (XmlWhiteSpace(*p)) ++p;
      const char quote = *p;
      if (quote != '"' && quote != '\'') return deepest;
      ++p;
      while (*p != '\0' && *p != quote) ++p;
      if (*p == '\0') return deepest;
      ++p;
      while (XmlWhiteSpace(*p)) ++p;
    }
    if (*p == '>') {
      ++p;
      if (++depth > deepest) deepest = depth;
      continue;
    }
    if (*p == '/' && p[1] == '>') {
      p += 2;
      continue;
    }
    return deepest;
  }
}

// The values of the four version attributes of `element`, or false when one
// of them is missing.
bool VersionAttributes(const Node* element, const char* values[4]) {
  static const char* const kNames[4] = {"major", "minor", "buildMajor", "buildMinor"};
  for (int i = 0; i < 4; ++i) {
    const rapidxml::xml_attribute<char>* attribute = element->first_attribute(kNames[i]);
    if (attribute == nullptr) return false;
    values[i] = attribute->value();
  }
  return true;
}

std::unique_ptr<ComponentVersion> MakeVersion(const char* const values[4], Flavour flavour) {
  auto version = std::make_unique<ComponentVersion>();
  version->major = ManifestNumber(values[0]);
  version->minor = ManifestNumber(values[1]);
  version->buildMajor = ManifestNumber(values[2]);
  version->buildMinor = ManifestNumber(values[3]);
  version->flavour = flavour;
  return version;
}

}  // namespace

std::uint32_t ManifestNumber(const char* value) {
  if (value == nullptr) return 0;
  const char* p = value;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  std::uint64_t magnitude = 0;
  bool saturated = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (saturated) continue;
    magnitude = magnitude * 10u + static_cast<std::uint64_t>(*p - '0');
    saturated = magnitude > 0xFFFFFFFFu;
  }
  if (saturated) return 0xFFFFFFFFu;
  const std::uint32_t number = static_cast<std::uint32_t>(magnitude);
  return negative ? 0u - number : number;
}

bool ParseVersionManifest(char* text, std::unique_ptr<ComponentVersion>* activeX,
                          std::unique_ptr<ComponentVersion>* plugin, std::unique_ptr<std::uint32_t>* checkFrequency) {
  if (text == nullptr || activeX == nullptr || plugin == nullptr || checkFrequency == nullptr) return false;
  EmptyAll(activeX, plugin, checkFrequency);

  const char* activeXValues[4];
  const char* pluginValues[4];
  const char* frequencyValue = nullptr;
  {
    std::unique_ptr<rapidxml::xml_document<char>> document;
    try {
      document.reset(new rapidxml::xml_document<char>());
    } catch (const std::bad_alloc&) {
      LogCode(MessageCode::ManifestDocumentOutOfMemory);
      return false;
    }
    if (ElementNestingDepth(text) > kMaxElementNesting) {
      LogCode(MessageCode::ManifestNotWellFormed);
      return false;
    }
    try {
      document->parse<rapidxml::parse_default>(text);
    } catch (const rapidxml::parse_error&) {
      LogCode(MessageCode::ManifestNotWellFormed);
      return false;
    }

    const Node* version = document->first_node("version");
    if (version == nullptr) {
      LogCode(MessageCode::ManifestNoVersionElement);
      return false;
    }
    const Node* activeXElement = version->first_node("ActiveX");
    if (activeXElement == nullptr) {
      LogCode(MessageCode::ManifestNoActiveXElement);
      return false;
    }
    if (!VersionAttributes(activeXElement, activeXValues)) {
      LogCode(MessageCode::ManifestActiveXAttributeMissing);
      return false;
    }
    const Node* pluginElement = version->first_node("Plugin");
    if (pluginElement == nullptr) {
      LogCode(MessageCode::ManifestNoPluginElement);
      return false;
    }
    if (!VersionAttributes(pluginElement, pluginValues)) {
      LogCode(MessageCode::ManifestPluginAttributeMissing);
      return false;
    }
    const Node* sauConfig = version->first_node("SAUConfig");
    if (sauConfig == nullptr) {
      LogCode(MessageCode::ManifestNoSauConfigElement);
      return false;
    }
    const rapidxml::xml_attribute<char>* frequency = sauConfig->first_attribute("checkFrequency");
    if (frequency == nullptr) {
      LogCode(MessageCode::ManifestCheckFrequencyMissing);
      return false;
    }
    frequencyValue = frequency->value();
  }
  // The document is gone; the values lie in `text`, which the parse
  // terminated and translated in place.

  try {
    *activeX = MakeVersion(activeXValues, kFlavourActiveX);
    *plugin = MakeVersion(pluginValues, kFlavourPlugin);
    *checkFrequency = std::make_unique<std::uint32_t>(ManifestNumber(frequencyValue));
  } catch (const std::bad_alloc&) {
    EmptyAll(activeX, plugin, checkFrequency);
    LogCode(MessageCode::ManifestResultsOutOfMemory);
    return false;
  }
  return true;
}

bool FetchVersionManifestFrom(const ManifestSource& source, std::unique_ptr<ComponentVersion>* activeX,
                              std::unique_ptr<ComponentVersion>* plugin,
                              std::unique_ptr<std::uint32_t>* checkFrequency) {
  platform::HttpClient& http = platform::Seam<platform::HttpClient>::Get();
  const std::uint64_t startedAt = platform::Seam<platform::SteadyClock>::Get().NowMilliseconds();

  // Declared in this order so that they close as request, connection, session.
  platform::ScopedHttpHandle<platform::HttpSession> session(http);
  platform::ScopedHttpHandle<platform::HttpConnection> connection(http);
  platform::ScopedHttpHandle<platform::HttpRequest> request(http);

  // Each step runs only after the one before it succeeded; each missing
  // handle or result is logged with the error current at that moment, so one
  // early failure is followed by the codes of all later steps.
  if (auto opened = http.OpenSession(kManifestUserAgent)) session.Reset(opened.value);
  if (!session) LogCodeWithLastError(MessageCode::ManifestSessionFailed);

  if (session) {
    if (auto connected = http.Connect(session.Get(), source.host, source.port)) connection.Reset(connected.value);
  }
  if (!connection) LogCodeWithLastError(MessageCode::ManifestConnectFailed);

  if (connection) {
    if (auto opened = http.OpenRequest(connection.Get(), L"GET", source.path, true)) request.Reset(opened.value);
  }
  if (!request) LogCodeWithLastError(MessageCode::ManifestRequestFailed);

  const bool sent = request && http.SendRequest(request.Get()).ok;
  if (!sent) LogCodeWithLastError(MessageCode::ManifestSendFailed);

  const bool received = sent && http.ReceiveResponse(request.Get()).ok;
  if (!received) LogCodeWithLastError(MessageCode::ManifestReceiveFailed);

  // Whatever body arrives is read, an error page's too: the parse decides.
  std::string text;
  BodyEnd end = BodyEnd::Complete;
  if (received) {
    ManifestText receiver(text);
    end = ReadResponseBody(http, request.Get(), source.limits, startedAt, receiver);
  }

  request.Close();
  connection.Close();
  session.Close();

  if (!received) {
    LogCode(MessageCode::ManifestNoResponse);
    return false;
  }
  if (end == BodyEnd::TooLarge || end == BodyEnd::Late ||
      !ParseVersionManifest(text.data(), activeX, plugin, checkFrequency)) {
    LogCode(MessageCode::ManifestUnusable);
    return false;
  }
  return true;
}

bool FetchVersionManifest(std::unique_ptr<ComponentVersion>* activeX, std::unique_ptr<ComponentVersion>* plugin,
                          std::unique_ptr<std::uint32_t>* checkFrequency) {
  // A copy of the host, taken for this connection.
  const ManifestSource source{ManifestServerHost, kManifestPort, kManifestPath, kManifestLimits};
  return FetchVersionManifestFrom(source, activeX, plugin, checkFrequency);
}
