// Fetching the manifest: the cascade of codes, the chunked body, the bounds.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/update_settings.h"
#include "platform/seam.h"
#include "tests/fakes/fake_http_client.h"
#include "tests/fakes/fake_steady_clock.h"
#include "tests/fakes/log_capture.h"
#include "tests/unit/allocation_failure.h"
#include "transfer/version_manifest.h"

namespace {

const std::string kManifest =
    R"(<version><ActiveX major="11" minor="2" buildMajor="202" buildMinor="235"/>)"
    R"(<Plugin major="11" minor="3" buildMajor="300" buildMinor="1"/><SAUConfig checkFrequency="2"/></version>)";

using Chunk = FakeHttpClient::Chunk;

class FetchTest : public ::testing::Test {
 protected:
  FetchTest() : httpSeam_(&http), clockSeam_(&clock) { http.clock = &clock; }

  // Runs the product's fetch and keeps what it delivered and logged.
  bool Fetch() { return FetchWith([&] { return FetchVersionManifest(&activeX, &plugin, &checkFrequency); }); }
  template <class F>
  bool FetchWith(F fetch) {
    LogCapture log(true);
    const bool ok = fetch();
    messages = log.Messages();
    return ok;
  }
  bool Delivered() const { return activeX && plugin && checkFrequency; }
  bool NothingDelivered() const { return !activeX && !plugin && !checkFrequency; }
  // The closes the fetch made, in order.
  std::vector<std::string> Closes() const {
    std::vector<std::string> closes;
    for (const std::string& call : http.calls) {
      if (call.rfind("Close", 0) == 0) closes.push_back(call);
    }
    return closes;
  }

  FakeHttpClient http;
  FakeSteadyClock clock;
  std::unique_ptr<ComponentVersion> activeX, plugin;
  std::unique_ptr<std::uint32_t> checkFrequency;
  std::vector<std::wstring> messages;

 private:
  platform::ScopedSeam<platform::HttpClient> httpSeam_;
  platform::ScopedSeam<platform::SteadyClock> clockSeam_;
};

TEST_F(FetchTest, AsksTheManifestServerForTheManifestOverHttps) {
  const std::wstring savedHost = ManifestServerHost;
  ManifestServerHost = L"updates.example.org";
  http.body = FakeHttpClient::Split(kManifest, 64);
  const bool ok = Fetch();
  ManifestServerHost = savedHost;

  ASSERT_TRUE(ok);
  EXPECT_TRUE(messages.empty());
  ASSERT_TRUE(Delivered());
  EXPECT_EQ(activeX->buildMinor, 235u);
  EXPECT_EQ(plugin->minor, 3u);
  EXPECT_EQ(*checkFrequency, 2u);
  ASSERT_GE(http.calls.size(), 5u);
  EXPECT_EQ(http.calls[0], "OpenSession Get Vexel Player version xml/1.0");
  EXPECT_EQ(http.calls[1], "Connect updates.example.org 443");
  EXPECT_EQ(http.calls[2], "OpenRequest GET /pub/vexelplayer/update/current/sau/11/beta/xml/version.xml secure");
  EXPECT_EQ(http.calls[3], "SendRequest");
  EXPECT_EQ(http.calls[4], "ReceiveResponse");
  EXPECT_EQ(Closes(), (std::vector<std::string>{"CloseRequest", "CloseConnection", "CloseSession"}));
  EXPECT_EQ(http.OpenHandles(), 0u);
  EXPECT_EQ(http.badCloses, 0);
}

TEST_F(FetchTest, AFailedStepLogsItsCodeAndEveryLaterOneWithItsError) {
  struct Case {
    const char* step;
    platform::ErrorNumber error;
    std::vector<std::wstring> messages;
    std::vector<std::string> closes;
  } cases[] = {
      {"OpenSession", 12004, {L"1400 12004", L"1401 12004", L"1402 12004", L"1403 12004", L"1407 12004", L"1408"}, {}},
      {"Connect", 87, {L"1401 87", L"1402 87", L"1403 87", L"1407 87", L"1408"}, {"CloseSession"}},
      {"OpenRequest", 12005, {L"1402 12005", L"1403 12005", L"1407 12005", L"1408"},
       {"CloseConnection", "CloseSession"}},
      {"SendRequest", 12175, {L"1403 12175", L"1407 12175", L"1408"},
       {"CloseRequest", "CloseConnection", "CloseSession"}},
      {"ReceiveResponse", 12002, {L"1407 12002", L"1408"}, {"CloseRequest", "CloseConnection", "CloseSession"}},
  };
  for (const Case& c : cases) {
    FakeHttpClient fresh;
    fresh.failures[c.step] = c.error;
    fresh.body = FakeHttpClient::Split(kManifest, 64);
    platform::ScopedSeam<platform::HttpClient> seam(&fresh);
    std::unique_ptr<ComponentVersion> a, p;
    std::unique_ptr<std::uint32_t> f;
    LogCapture log(true);
    EXPECT_FALSE(FetchVersionManifest(&a, &p, &f)) << c.step;
    EXPECT_EQ(log.Messages(), c.messages) << c.step;
    EXPECT_FALSE(a || p || f) << c.step;
    std::vector<std::string> closes;
    for (const std::string& call : fresh.calls) {
      if (call.rfind("Close", 0) == 0) closes.push_back(call);
      EXPECT_NE(call, "Query") << c.step << ": no body is read without a response";
    }
    EXPECT_EQ(closes, c.closes) << c.step;
    EXPECT_EQ(fresh.OpenHandles(), 0u) << c.step;
  }
}

TEST_F(FetchTest, TheBodyIsReadInChunksAndOnlyTheParseDecides) {
  const std::string head = kManifest.substr(0, 80);
  const std::string tail = kManifest.substr(80);
  struct Case {
    const char* name;
    std::vector<Chunk> body;
    bool ok;
    std::vector<std::wstring> messages;
  } cases[] = {
      {"one byte at a time", FakeHttpClient::Split(kManifest, 1), true, {}},
      {"one chunk", {Chunk{kManifest}}, true, {}},
      {"empty body", {}, false, {L"1411", L"1409"}},
      {"an error page", {Chunk{"<html><body><h1>500 Internal Server Error</h1></body></html>"}}, false,
       {L"1411", L"1409"}},
      {"a zero byte keeps only the text before it in its chunk",
       {Chunk{head}, Chunk{tail + std::string("\0<broken", 8)}}, true, {}},
      {"text after a zero byte is dropped, the next chunk is not",
       {Chunk{head + std::string("\0junk", 5)}, Chunk{tail}}, true, {}},
      {"a zero byte that cuts the document", {Chunk{head + std::string("\0", 1) + tail}}, false,
       {L"1431", L"1409"}},
      {"a failed read drops its chunk, reading goes on", {Chunk{head}, Chunk{"<bad", 0, 12030}, Chunk{tail}}, true,
       {L"1406 12030"}},
      {"a failed read that loses part of the document", {Chunk{head}, Chunk{tail, 0, 12030}}, false,
       {L"1406 12030", L"1431", L"1409"}},
      {"a failed query ends the body after a read of nothing",
       {Chunk{kManifest}, Chunk{"", 12030}, Chunk{"<never read"}}, true, {L"1404 12030"}},
      {"a failed query before the document was complete", {Chunk{head}, Chunk{"", 12002}, Chunk{tail}}, false,
       {L"1404 12002", L"1431", L"1409"}},
  };
  for (const Case& c : cases) {
    FakeHttpClient fresh;
    fresh.body = c.body;
    platform::ScopedSeam<platform::HttpClient> seam(&fresh);
    std::unique_ptr<ComponentVersion> a, p;
    std::unique_ptr<std::uint32_t> f;
    LogCapture log(true);
    EXPECT_EQ(FetchVersionManifest(&a, &p, &f), c.ok) << c.name;
    EXPECT_EQ(log.Messages(), c.messages) << c.name;
    EXPECT_EQ(a && p && f, c.ok) << c.name;
    EXPECT_EQ(a || p || f, c.ok) << c.name;
    EXPECT_EQ(fresh.OpenHandles(), 0u) << c.name;
  }
}

TEST_F(FetchTest, AfterAFailedQueryOnlyAReadOfNothingFollows) {
  http.body = {Chunk{kManifest}, Chunk{"", 12030}, Chunk{"<never read"}};
  ASSERT_TRUE(Fetch());
  const std::vector<std::string> tail(http.calls.end() - 6, http.calls.end() - 3);
  EXPECT_EQ(tail, (std::vector<std::string>{"Read " + std::to_string(kManifest.size()), "Query", "Read 0"}));
}

TEST_F(FetchTest, NoMemoryForAChunkEndsReadingAndWhatArrivedIsParsed) {
  // The second chunk's buffer (its count and one byte) cannot be had.
  const std::string head = kManifest.substr(0, 100);
  const std::string tail = kManifest.substr(100);
  http.body = {Chunk{head}, Chunk{tail}, Chunk{"never read"}};
  bool ok;
  {
    ScopedAllocationFailure failure(tail.size() + 1, tail.size() + 1);
    ok = Fetch();
    ASSERT_TRUE(failure.Triggered());
  }
  EXPECT_FALSE(ok);
  EXPECT_EQ(messages, (std::vector<std::wstring>{L"1405", L"1431", L"1409"}));
  EXPECT_EQ(http.reads, 1u);
  EXPECT_TRUE(NothingDelivered());
  EXPECT_EQ(http.OpenHandles(), 0u);
}

TEST_F(FetchTest, AManifestOfAMebibyteIsReadAndOneByteMoreIsNot) {
  // A valid manifest padded with a comment to the size wanted.
  auto padded = [](std::size_t size) {
    std::string text = kManifest + "<!--";
    text.append(size - text.size() - 3, 'x');
    return text + "-->";
  };
  const std::size_t mebibyte = 1024 * 1024;
  struct Case {
    std::size_t size;
    bool ok;
    std::vector<std::wstring> messages;
  } cases[] = {
      {mebibyte, true, {}},
      {mebibyte + 1, false, {L"1409"}},
  };
  for (const Case& c : cases) {
    FakeHttpClient fresh;
    fresh.body = FakeHttpClient::Split(padded(c.size), 8192);
    platform::ScopedSeam<platform::HttpClient> seam(&fresh);
    std::unique_ptr<ComponentVersion> a, p;
    std::unique_ptr<std::uint32_t> f;
    LogCapture log(true);
    EXPECT_EQ(FetchVersionManifest(&a, &p, &f), c.ok) << c.size;
    EXPECT_EQ(log.Messages(), c.messages) << c.size;
    EXPECT_EQ(a && p && f, c.ok) << c.size;
    EXPECT_EQ(a || p || f, c.ok) << c.size;
    // The chunk that would cross the bound is not read.
    EXPECT_EQ(fresh.reads, c.ok ? fresh.body.size() + 1 : fresh.body.size() - 1) << c.size;
    EXPECT_EQ(fresh.OpenHandles(), 0u) << c.size;
  }
}

TEST_F(FetchTest, ACountPastTheBoundIsNeverAllocatedNorRead) {
  Chunk huge;
  huge.overrideCount = true;
  huge.count = 0xFFFFFFFFu;
  http.body = {Chunk{"<version>"}, huge};
  EXPECT_FALSE(Fetch());
  EXPECT_EQ(messages, (std::vector<std::wstring>{L"1409"}));
  EXPECT_EQ(http.reads, 1u);
  EXPECT_EQ(http.OpenHandles(), 0u);
}

TEST_F(FetchTest, TheBoundsAreTheCallersToState) {
  struct Case {
    const char* name;
    TransferLimits limits;
    bool ok;
  } cases[] = {
      {"exactly the document's size", {kManifest.size(), 60000}, true},
      {"one byte short", {kManifest.size() - 1, 60000}, false},
      {"no time at all", {1024, 0}, false},
  };
  for (const Case& c : cases) {
    FakeHttpClient fresh;
    fresh.body = FakeHttpClient::Split(kManifest, 10);
    platform::ScopedSeam<platform::HttpClient> seam(&fresh);
    std::unique_ptr<ComponentVersion> a, p;
    std::unique_ptr<std::uint32_t> f;
    LogCapture log(true);
    const ManifestSource source{L"localhost", 8443, L"/fault/none/version.xml", c.limits};
    EXPECT_EQ(FetchVersionManifestFrom(source, &a, &p, &f), c.ok) << c.name;
    EXPECT_EQ(log.Messages(), c.ok ? std::vector<std::wstring>{} : std::vector<std::wstring>{L"1409"}) << c.name;
    EXPECT_EQ(fresh.calls[1], "Connect localhost 8443") << c.name;
    EXPECT_EQ(fresh.calls[2], "OpenRequest GET /fault/none/version.xml secure") << c.name;
  }
}

TEST_F(FetchTest, AFetchThatOutlivesTheBuildDeadlineIsAbandoned) {
  const std::uint64_t deadline = kManifestLimits.maxMilliseconds;
  ASSERT_GT(deadline, 0u);
  struct Case {
    const char* name;
    std::uint64_t perQuery;
    std::uint64_t toReceive;
    bool ok;
  } cases[] = {
      // One byte a query: the whole document arrives just in time...
      {"in time", deadline / (kManifest.size() + 2), 0, true},
      // ...or it does not.
      {"a byte now and then", deadline / (kManifest.size() / 2), 0, false},
      // The deadline runs from the start of the exchange, not of the body.
      {"a late response", 0, deadline, false},
  };
  for (const Case& c : cases) {
    FakeHttpClient fresh;
    fresh.body = FakeHttpClient::Split(kManifest, 1);
    fresh.clock = &clock;
    fresh.millisecondsPerQuery = c.perQuery;
    fresh.millisecondsToReceive = c.toReceive;
    platform::ScopedSeam<platform::HttpClient> seam(&fresh);
    std::unique_ptr<ComponentVersion> a, p;
    std::unique_ptr<std::uint32_t> f;
    LogCapture log(true);
    EXPECT_EQ(FetchVersionManifest(&a, &p, &f), c.ok) << c.name;
    EXPECT_EQ(log.Messages(), c.ok ? std::vector<std::wstring>{} : std::vector<std::wstring>{L"1409"}) << c.name;
    EXPECT_EQ(a || p || f, c.ok) << c.name;
    EXPECT_EQ(fresh.OpenHandles(), 0u) << c.name;
  }
}

TEST_F(FetchTest, ManifestLinesAreWarningsWrittenOnlyWithVerboseLogging) {
  http.failures["OpenSession"] = 12004;
  LogCapture quiet(false);
  EXPECT_FALSE(FetchVersionManifest(&activeX, &plugin, &checkFrequency));
  EXPECT_TRUE(quiet.Lines().empty());
}

}  // namespace
