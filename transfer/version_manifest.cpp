#include "transfer/version_manifest.h"

#include <rapidxml.hpp>

#include <algorithm>
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
