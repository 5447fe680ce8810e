// The libcurl adapter against the real network stack of the host.
//
// The cases that need the local test servers (tests/e2e/servers.py) run when
// the servers tell them where they are; CTest starts them for the test
// "transfer.curl_servers". Without them those cases are skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "platform/posix/http_client_posix.h"
#include "platform/seam.h"
#include "tests/fakes/log_capture.h"
#include "transfer/version_manifest.h"

namespace {

using platform::HttpClient;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// One whole exchange on the raw steps; what each step reported.
struct Exchange {
  platform::Step send, receive;
  std::string body;
  std::uint32_t largestCount = 0;
  platform::ErrorNumber bodyError = 0;
};

Exchange Get(HttpClient& http, const std::wstring& host, std::uint16_t port, const std::wstring& path, bool secure) {
  Exchange x;
  platform::ScopedHttpHandle<platform::HttpSession> session(http);
  platform::ScopedHttpHandle<platform::HttpConnection> connection(http);
  platform::ScopedHttpHandle<platform::HttpRequest> request(http);
  auto s = http.OpenSession(L"Vexel transfer test/1.0");
  EXPECT_TRUE(s.ok);
  session.Reset(s.value);
  auto c = http.Connect(session.Get(), host, port);
  EXPECT_TRUE(c.ok);
  connection.Reset(c.value);
  auto r = http.OpenRequest(connection.Get(), L"GET", path, secure);
  EXPECT_TRUE(r.ok);
  request.Reset(r.value);
  x.send = http.SendRequest(request.Get());
  if (!x.send) return x;
  x.receive = http.ReceiveResponse(request.Get());
  if (!x.receive) return x;
  std::vector<char> buffer;
  for (;;) {
    auto available = http.QueryDataAvailable(request.Get());
    if (!available) {
      x.bodyError = available.error;
      break;
    }
    if (available.value == 0) break;
    if (available.value > x.largestCount) x.largestCount = available.value;
    buffer.resize(available.value);
    auto read = http.ReadData(request.Get(), buffer.data(), available.value);
    if (!read) {
      x.bodyError = read.error;
      break;
    }
    EXPECT_LE(read.value, available.value);
    x.body.append(buffer.data(), read.value);
  }
  return x;
}

TEST(CurlHttpClient, ARefusedConnectionFailsTheSendAsWinHttpWould) {
  // Port 9 (discard) on loopback: nothing listens there on a test machine.
  Exchange x = Get(platform::Seam<HttpClient>::Get(), L"127.0.0.1", 9, L"/", false);
  EXPECT_FALSE(x.send.ok);
  EXPECT_EQ(x.send.error, platform::http_error::kCannotConnect);
  EXPECT_EQ(platform::LastError(), platform::http_error::kCannotConnect);
}

TEST(CurlHttpClient, StepsOutOfTurnAndUnknownHandlesFailCleanly) {
  HttpClient& http = platform::Seam<HttpClient>::Get();
  auto session = http.OpenSession(L"agent");
  ASSERT_TRUE(session.ok);
  auto connection = http.Connect(session.value, L"localhost", 80);
  ASSERT_TRUE(connection.ok);
  auto request = http.OpenRequest(connection.value, L"GET", L"/", false);
  ASSERT_TRUE(request.ok);
  EXPECT_EQ(http.ReceiveResponse(request.value).error, platform::http_error::kIncorrectHandleState);
  EXPECT_EQ(http.QueryDataAvailable(request.value).error, platform::http_error::kIncorrectHandleState);
  char byte;
  EXPECT_EQ(http.ReadData(request.value, &byte, 1).error, platform::http_error::kIncorrectHandleState);
  EXPECT_EQ(http.Connect(session.value, L"", 80).error, platform::error::kInvalidParameter);
  EXPECT_EQ(http.OpenRequest(connection.value, L"GET", L"", false).error, platform::error::kInvalidParameter);
  EXPECT_TRUE(http.CloseRequest(request.value).ok);
  EXPECT_TRUE(http.CloseConnection(connection.value).ok);
  EXPECT_TRUE(http.CloseSession(session.value).ok);
  // Closed handles are gone; a stale one is refused, not used.
  EXPECT_EQ(http.CloseRequest(request.value).error, platform::error::kInvalidHandle);
  EXPECT_EQ(http.SendRequest(request.value).error, platform::error::kInvalidHandle);
  EXPECT_EQ(http.Connect(session.value, L"localhost", 80).error, platform::error::kInvalidHandle);
  EXPECT_EQ(http.CloseSession(platform::HttpSession{}).error, platform::error::kInvalidHandle);
}

class CurlAgainstServers : public ::testing::Test {
 protected:
  void SetUp() override {
    ca_ = Env("VEXEL_TEST_CA_PEM");
    if (ca_.empty()) GTEST_SKIP() << "the local test servers are not running (see tests/e2e/servers.py)";
    httpsPort_ = static_cast<std::uint16_t>(std::stoi(Env("VEXEL_TEST_HTTPS_PORT")));
    untrustedPort_ = static_cast<std::uint16_t>(std::stoi(Env("VEXEL_TEST_UNTRUSTED_PORT")));
    httpPort_ = static_cast<std::uint16_t>(std::stoi(Env("VEXEL_TEST_HTTP_PORT")));
    client_ = platform::posix::MakeCurlHttpClient(ca_);
  }

  struct Fetched {
    bool ok = false;
    std::vector<std::wstring> messages;
    std::unique_ptr<ComponentVersion> activeX, plugin;
    std::unique_ptr<std::uint32_t> checkFrequency;
  };
  Fetched Fetch(HttpClient& http, const std::wstring& host, std::uint16_t port, const std::wstring& path,
                TransferLimits limits = kManifestLimits) {
    platform::ScopedSeam<HttpClient> seam(&http);
    LogCapture log(true);
    Fetched f;
    f.ok = FetchVersionManifestFrom(ManifestSource{host, port, path, limits}, &f.activeX, &f.plugin,
                                    &f.checkFrequency);
    f.messages = log.Messages();
    return f;
  }

  std::string ca_;
  std::uint16_t httpsPort_ = 0, untrustedPort_ = 0, httpPort_ = 0;
  std::unique_ptr<HttpClient> client_;
};

TEST_F(CurlAgainstServers, FetchesTheManifestOverHttpsFromATrustedServer) {
  Fetched f = Fetch(*client_, L"localhost", httpsPort_, kManifestPath);
  ASSERT_TRUE(f.ok) << ::testing::PrintToString(f.messages);
  EXPECT_TRUE(f.messages.empty());
  EXPECT_EQ(f.activeX->major, 11u);
  EXPECT_EQ(f.activeX->buildMinor, 235u);
  EXPECT_EQ(f.plugin->buildMajor, 300u);
  EXPECT_EQ(*f.checkFrequency, 2u);
}

TEST_F(CurlAgainstServers, RefusesServersWhoseCertificateIsNotTrustedForTheName) {
  const std::vector<std::wstring> refused{L"1403 12175", L"1407 12175", L"1408"};
  // A certificate from an authority the client does not trust.
  EXPECT_EQ(Fetch(*client_, L"localhost", untrustedPort_, kManifestPath).messages, refused);
  // The trusted certificate, but for another name than the one connected to.
  EXPECT_EQ(Fetch(*client_, L"127.0.0.1", httpsPort_, kManifestPath).messages, refused);
  // The product's own client trusts the system's roots only.
  EXPECT_EQ(Fetch(platform::Seam<HttpClient>::Get(), L"localhost", httpsPort_, kManifestPath).messages, refused);
}

TEST_F(CurlAgainstServers, EachFaultOfTheServerEndsInItsCodes) {
  struct Case {
    const char* mode;
    bool ok;
    std::vector<std::wstring> messages;
  } cases[] = {
      {"404", false, {L"1411", L"1409"}},
      {"500", false, {L"1411", L"1409"}},
      {"empty", false, {L"1411", L"1409"}},
      {"zero-after", true, {}},
      {"zero-inside", false, {L"1431", L"1409"}},
      {"reset", false, {L"1404 12030", L"1431", L"1409"}},
      {"huge", false, {L"1409"}},
      {"slow", false, {L"1409"}},
  };
  // The server's slow mode sends a byte a second at the quickest; a short
  // deadline keeps the test short. The build's deadline is minutes.
  const TransferLimits limits{kManifestLimits.maxBodyBytes, 4000};
  for (const Case& c : cases) {
    const std::wstring path = L"/fault/" + std::wstring(c.mode, c.mode + std::char_traits<char>::length(c.mode)) +
                              L"/version.xml";
    Fetched f = Fetch(*client_, L"localhost", httpsPort_, path, limits);
    EXPECT_EQ(f.ok, c.ok) << c.mode;
    EXPECT_EQ(f.messages, c.messages) << c.mode;
    EXPECT_EQ(f.activeX || f.plugin || f.checkFrequency, c.ok) << c.mode;
  }
}

TEST_F(CurlAgainstServers, DeliversALargePlainHttpBodyWholeInBoundedChunks) {
  // 64 MiB from the package server; the client never holds more than its
  // buffer and one delivery of libcurl's, however fast the server sends.
  Exchange x = Get(*client_, L"localhost", httpPort_, L"/fault/huge/package.z", false);
  ASSERT_TRUE(x.send.ok) << x.send.error;
  ASSERT_TRUE(x.receive.ok) << x.receive.error;
  EXPECT_EQ(x.bodyError, 0u);
  EXPECT_EQ(x.body.size(), 64u * 1024u * 1024u);
  EXPECT_EQ(x.body.compare(0, 5, "<!-- "), 0);
  EXPECT_GT(x.largestCount, 0u);
  EXPECT_LE(x.largestCount, 64u * 1024u + 16u * 1024u);
}

TEST_F(CurlAgainstServers, AnErrorPageIsAResponseWithABody) {
  Exchange x = Get(*client_, L"localhost", httpPort_, L"/fault/500/package.z", false);
  ASSERT_TRUE(x.receive.ok);
  EXPECT_NE(x.body.find("500 Internal Server Error"), std::string::npos);
  EXPECT_EQ(x.bodyError, 0u);
}

TEST_F(CurlAgainstServers, AResetMidBodyFailsTheBodyNotTheResponse) {
  Exchange x = Get(*client_, L"localhost", httpPort_, L"/fault/reset/package.z", false);
  ASSERT_TRUE(x.receive.ok) << x.receive.error;
  EXPECT_EQ(x.bodyError, platform::http_error::kConnectionError);
}

}  // namespace
