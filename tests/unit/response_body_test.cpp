// The bounded body loop as a transfer that gives up at the first failure
// (the way a package download uses it) sees it.
#include <gtest/gtest.h>

#include <string>

#include "platform/last_error.h"
#include "platform/seam.h"
#include "tests/fakes/fake_http_client.h"
#include "tests/fakes/fake_steady_clock.h"
#include "transfer/response_body.h"

namespace {

using Chunk = FakeHttpClient::Chunk;

// Stops at every failure and keeps what it was handed; can refuse a chunk.
class StrictReceiver final : public BodyReceiver {
 public:
  bool QueryFailed() override {
    events += "query-failed " + std::to_string(platform::LastError()) + ";";
    return false;
  }
  void OutOfMemory() override { events += "out-of-memory;"; }
  bool ReadFailed() override {
    events += "read-failed " + std::to_string(platform::LastError()) + ";";
    return false;
  }
  bool Chunk(const char* data, std::uint32_t size) override {
    // The buffer always has one byte more, zero.
    EXPECT_EQ(data[size], '\0');
    bytes.append(data, size);
    return ++chunks != refuseChunk;
  }
  std::string events;
  std::string bytes;
  int chunks = 0;
  int refuseChunk = -1;
};

TEST(ReadResponseBody, ABodyEndsAsTheReceiverAndTheBoundsDecide) {
  const std::string binary("MZ\0\0\x90\0PE\0\0", 10);
  struct Case {
    const char* name;
    std::vector<Chunk> body;
    TransferLimits limits;
    int refuseChunk;
    BodyEnd end;
    std::string bytes;
    std::string events;
    platform::ErrorNumber lastError = 0;  // checked when not 0
  } cases[] = {
      {"zero bytes are data here", {Chunk{binary.substr(0, 4)}, Chunk{binary.substr(4)}}, {64, 1000}, -1,
       BodyEnd::Complete, binary, ""},
      {"an empty body", {}, {64, 1000}, -1, BodyEnd::Complete, "", ""},
      {"a failed query stops before any read", {Chunk{"ab"}, Chunk{"", 12030}, Chunk{"cd"}}, {64, 1000}, -1,
       BodyEnd::Stopped, "ab", "query-failed 12030;"},
      {"a failed read stops", {Chunk{"ab"}, Chunk{"cd", 0, 12002}, Chunk{"ef"}}, {64, 1000}, -1, BodyEnd::Stopped,
       "ab", "read-failed 12002;"},
      {"a refused chunk stops (a failed write)", {Chunk{"ab"}, Chunk{"cd"}, Chunk{"ef"}}, {64, 1000}, 2,
       BodyEnd::Stopped, "abcd", ""},
      {"exactly at the size bound", {Chunk{"abcd"}, Chunk{"ef"}}, {6, 1000}, -1, BodyEnd::Complete, "abcdef", ""},
      {"past the size bound", {Chunk{"abcd"}, Chunk{"efg"}}, {6, 1000}, -1, BodyEnd::TooLarge, "abcd", "",
       platform::error::kNotEnoughMemory},
      {"past the deadline", {Chunk{"a"}, Chunk{"b"}, Chunk{"c"}, Chunk{"d"}}, {64, 250}, -1, BodyEnd::Late, "abc", "",
       platform::http_error::kTimeout},
  };
  for (const Case& c : cases) {
    FakeSteadyClock clock;
    platform::ScopedSeam<platform::SteadyClock> clockSeam(&clock);
    FakeHttpClient http;
    http.body = c.body;
    http.clock = &clock;
    http.millisecondsPerQuery = 100;
    StrictReceiver receiver;
    receiver.refuseChunk = c.refuseChunk;
    const std::uint64_t start = clock.NowMilliseconds();
    EXPECT_EQ(ReadResponseBody(http, platform::HttpRequest{1}, c.limits, start, receiver), c.end) << c.name;
    EXPECT_EQ(receiver.bytes, c.bytes) << c.name;
    EXPECT_EQ(receiver.events, c.events) << c.name;
    if (c.lastError != 0) {
      EXPECT_EQ(platform::LastError(), c.lastError) << c.name;
    }
  }
}

}  // namespace
