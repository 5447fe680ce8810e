// The WinHTTP adapter and the manifest fetch on it, against the local
// transfer test servers (tests/e2e/servers.py) whose authority the prefix
// trusts. The scenario tests/e2e/test_transfer_servers.py starts them and
// tells these tests their ports; without them the tests are skipped.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "config/update_settings.h"
#include "platform/http_client.h"
#include "platform/seam.h"
#include "platform/steady_clock.h"
#include "tests/fakes/log_capture.h"
#include "transfer/response_body.h"
#include "transfer/version_manifest.h"

namespace {

using platform::HttpClient;

std::uint16_t PortFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? static_cast<std::uint16_t>(std::atoi(value)) : 0;
}

std::wstring Wide(const char* text) { return std::wstring(text, text + std::char_traits<char>::length(text)); }

// Windows reports a refused certificate as ERROR_WINHTTP_SECURE_FAILURE and
// a reset as ERROR_WINHTTP_CONNECTION_ERROR; wine's WinHTTP hands on
// ERROR_WINHTTP_SECURE_CHANNEL_ERROR and the socket's WSAECONNRESET.
const std::vector<std::wstring> kRefusedErrors{L"12175", L"12157"};
const std::vector<std::wstring> kResetErrors{L"12030", L"10054"};

// The messages with "E" standing for the error number, once that number has
// been found among `errors`; any other error number is left in place.
std::vector<std::wstring> WithError(std::vector<std::wstring> messages, const std::vector<std::wstring>& errors) {
  for (std::wstring& m : messages) {
    const std::size_t blank = m.find(L' ');
    if (blank == std::wstring::npos) continue;
    for (const std::wstring& e : errors) {
      if (m.compare(blank + 1, std::wstring::npos, e) == 0) m = m.substr(0, blank) + L" E";
    }
  }
  return messages;
}

class WinHttpAgainstServers : public ::testing::Test {
 protected:
  void SetUp() override {
    httpsPort_ = PortFromEnvironment("VEXEL_TEST_HTTPS_PORT");
    untrustedPort_ = PortFromEnvironment("VEXEL_TEST_UNTRUSTED_PORT");
    httpPort_ = PortFromEnvironment("VEXEL_TEST_HTTP_PORT");
    if (httpsPort_ == 0 || untrustedPort_ == 0 || httpPort_ == 0) {
      GTEST_SKIP() << "the local test servers are not running (see tests/e2e/servers.py)";
    }
  }

  struct Fetched {
    bool ok = false;
    std::vector<std::wstring> messages;
    std::unique_ptr<ComponentVersion> activeX, plugin;
    std::unique_ptr<std::uint32_t> checkFrequency;
  };
  static Fetched Fetch(const ManifestSource& source) {
    LogCapture log(true);
    Fetched f;
    f.ok = FetchVersionManifestFrom(source, &f.activeX, &f.plugin, &f.checkFrequency);
    f.messages = log.Messages();
    return f;
  }

  std::uint16_t httpsPort_ = 0, untrustedPort_ = 0, httpPort_ = 0;
};

TEST_F(WinHttpAgainstServers, TheProductFetchGetsTheManifestOverHttpsOnPort443) {
  if (httpsPort_ != kManifestPort) GTEST_SKIP() << "the manifest server is not on port 443";
  const std::wstring saved = ManifestServerHost;
  ManifestServerHost = L"localhost";
  LogCapture log(true);
  std::unique_ptr<ComponentVersion> activeX, plugin;
  std::unique_ptr<std::uint32_t> checkFrequency;
  const bool ok = FetchVersionManifest(&activeX, &plugin, &checkFrequency);
  ManifestServerHost = saved;
  ASSERT_TRUE(ok) << ::testing::PrintToString(log.Messages());
  EXPECT_TRUE(log.Messages().empty());
  EXPECT_EQ(activeX->major, 11u);
  EXPECT_EQ(activeX->buildMinor, 235u);
  EXPECT_EQ(activeX->flavour, kFlavourActiveX);
  EXPECT_EQ(plugin->minor, 3u);
  EXPECT_EQ(plugin->flavour, kFlavourPlugin);
  EXPECT_EQ(*checkFrequency, 2u);
}

TEST_F(WinHttpAgainstServers, RefusesAServerWhoseCertificateThePrefixDoesNotTrust) {
  Fetched f = Fetch(ManifestSource{L"localhost", untrustedPort_, kManifestPath, kManifestLimits});
  EXPECT_FALSE(f.ok);
  EXPECT_EQ(WithError(f.messages, kRefusedErrors), (std::vector<std::wstring>{L"1403 E", L"1407 E", L"1408"}));
  EXPECT_FALSE(f.activeX || f.plugin || f.checkFrequency);
}

TEST_F(WinHttpAgainstServers, EachFaultOfTheServerEndsInItsCodes) {
  struct Case {
    const char* mode;
    bool ok;
    std::vector<std::wstring> messages;
  } cases[] = {
      {"ok", true, {}},
      {"404", false, {L"1411", L"1409"}},
      {"500", false, {L"1411", L"1409"}},
      {"empty", false, {L"1411", L"1409"}},
      {"zero-after", true, {}},
      {"zero-inside", false, {L"1431", L"1409"}},
      {"reset", false, {L"1404 E", L"1431", L"1409"}},
      {"huge", false, {L"1409"}},
      {"slow", false, {L"1409"}},
  };
  // A deadline of seconds instead of the build's minutes keeps the slow
  // server's case short; the bound works the same.
  const TransferLimits limits{kManifestLimits.maxBodyBytes, 5000};
  for (const Case& c : cases) {
    Fetched f = Fetch(ManifestSource{L"localhost", httpsPort_, L"/fault/" + Wide(c.mode) + L"/version.xml", limits});
    EXPECT_EQ(f.ok, c.ok) << c.mode;
    EXPECT_EQ(WithError(f.messages, kResetErrors), c.messages) << c.mode;
    EXPECT_EQ(f.activeX || f.plugin || f.checkFrequency, c.ok) << c.mode;
  }
}

// Counts what a package download would write, and stops at nothing.
class CountingReceiver final : public BodyReceiver {
 public:
  bool QueryFailed() override { return false; }
  void OutOfMemory() override {}
  bool ReadFailed() override { return false; }
  bool Chunk(const char* data, std::uint32_t size) override {
    if (bytes == 0 && size >= 5) startsAsSent = std::string(data, 5) == "<!-- ";
    bytes += size;
    return true;
  }
  std::uint64_t bytes = 0;
  bool startsAsSent = false;
};

TEST_F(WinHttpAgainstServers, ThePlainHttpBodyLoopReadsALargeBodyWholeOrStopsAtItsBound) {
  struct Case {
    std::uint64_t maxBodyBytes;
    BodyEnd end;
  } cases[] = {
      {64u * 1024u * 1024u, BodyEnd::Complete},
      {1024u * 1024u, BodyEnd::TooLarge},
  };
  for (const Case& c : cases) {
    HttpClient& http = platform::Seam<HttpClient>::Get();
    const std::uint64_t started = platform::Seam<platform::SteadyClock>::Get().NowMilliseconds();
    platform::ScopedHttpHandle<platform::HttpSession> session(http);
    platform::ScopedHttpHandle<platform::HttpConnection> connection(http);
    platform::ScopedHttpHandle<platform::HttpRequest> request(http);
    auto s = http.OpenSession(L"Download Vexel Player Installer/1.0");
    ASSERT_TRUE(s.ok) << s.error;
    session.Reset(s.value);
    auto k = http.Connect(session.Get(), L"localhost", httpPort_);
    ASSERT_TRUE(k.ok) << k.error;
    connection.Reset(k.value);
    auto r = http.OpenRequest(connection.Get(), L"GET", L"/fault/huge/install_all_win_ax_sgn.z", false);
    ASSERT_TRUE(r.ok) << r.error;
    request.Reset(r.value);
    ASSERT_TRUE(http.SendRequest(request.Get()).ok) << GetLastError();
    ASSERT_TRUE(http.ReceiveResponse(request.Get()).ok) << GetLastError();
    CountingReceiver receiver;
    EXPECT_EQ(ReadResponseBody(http, request.Get(), TransferLimits{c.maxBodyBytes, 300000}, started, receiver), c.end)
        << c.maxBodyBytes;
    EXPECT_TRUE(receiver.startsAsSent);
    if (c.end == BodyEnd::Complete) {
      EXPECT_EQ(receiver.bytes, c.maxBodyBytes);
    }
    EXPECT_LE(receiver.bytes, c.maxBodyBytes);
  }
}

TEST(WinHttpClient, HandlesOfTheNoneKindAreRefused) {
  HttpClient& http = platform::Seam<HttpClient>::Get();
  EXPECT_EQ(http.CloseRequest(platform::HttpRequest{}).error, static_cast<platform::ErrorNumber>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(http.Connect(platform::HttpSession{}, L"localhost", 80).ok);
  EXPECT_FALSE(http.SendRequest(platform::HttpRequest{}).ok);
}

}  // namespace
