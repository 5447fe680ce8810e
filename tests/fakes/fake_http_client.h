// An HTTP client that plays a scripted exchange.
//
// Any step can be made to fail with an error number; the body is a list of
// chunks, each the answer to one query and the read after it, and each able
// to fail its query or its read, or to report another count than it holds.
// Every call is recorded, so a test can check parameters and the order in
// which handles were closed, and that each was closed exactly once.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "platform/last_error.h"
#include "support/utf16.h"
#include "tests/fakes/fake_steady_clock.h"

class FakeHttpClient final : public platform::HttpClient {
 public:
  struct Chunk {
    std::string bytes;                 // what the query reports and the read delivers
    platform::ErrorNumber queryError = 0;  // non-zero: the query fails with it
    platform::ErrorNumber readError = 0;   // non-zero: the read fails with it
    bool overrideCount = false;        // report `count` instead of bytes.size()
    std::uint32_t count = 0;
  };

  // Steps by name ("OpenSession", "Connect", "OpenRequest", "SendRequest",
  // "ReceiveResponse", "CloseRequest", ...) that fail with the error given.
  std::map<std::string, platform::ErrorNumber> failures;
  // The body; once it is used up, queries report 0 and reads deliver 0.
  std::vector<Chunk> body;
  // When set, each query and each receive moves this clock on.
  FakeSteadyClock* clock = nullptr;
  std::uint64_t millisecondsPerQuery = 0;
  std::uint64_t millisecondsToReceive = 0;

  // Every call, as "OpenSession <agent>", "Connect <host> <port>",
  // "OpenRequest <verb> <path> secure|plain", "SendRequest", "ReceiveResponse",
  // "Query", "Read <size>", "CloseRequest", "CloseConnection", "CloseSession".
  std::vector<std::string> calls;

  // Body chunks of `size` bytes each (the last one shorter) from `text`.
  static std::vector<Chunk> Split(const std::string& text, std::size_t size) {
    std::vector<Chunk> chunks;
    for (std::size_t i = 0; i < text.size(); i += size) chunks.push_back(Chunk{text.substr(i, size)});
    return chunks;
  }

  // Handles opened and not yet closed; a close of anything else is recorded
  // in badCloses.
  std::size_t OpenHandles() const { return open_.size(); }
  int badCloses = 0;
  // How many reads were made.
  std::size_t reads = 0;

  platform::StepOr<platform::HttpSession> OpenSession(const std::wstring& agent) override {
    calls.push_back("OpenSession " + WideToUtf8(agent));
    if (Fails("OpenSession")) return FailureOr<platform::HttpSession>("OpenSession");
    return platform::StepOr<platform::HttpSession>::Success(platform::HttpSession{Open()});
  }
  platform::StepOr<platform::HttpConnection> Connect(platform::HttpSession session, const std::wstring& host,
                                                     std::uint16_t port) override {
    calls.push_back("Connect " + WideToUtf8(host) + " " + std::to_string(port));
    if (Fails("Connect") || !IsOpen(session.value)) return FailureOr<platform::HttpConnection>("Connect");
    return platform::StepOr<platform::HttpConnection>::Success(platform::HttpConnection{Open()});
  }
  platform::StepOr<platform::HttpRequest> OpenRequest(platform::HttpConnection connection, const std::wstring& verb,
                                                      const std::wstring& path, bool secure) override {
    calls.push_back("OpenRequest " + WideToUtf8(verb) + " " + WideToUtf8(path) + (secure ? " secure" : " plain"));
    if (Fails("OpenRequest") || !IsOpen(connection.value)) return FailureOr<platform::HttpRequest>("OpenRequest");
    return platform::StepOr<platform::HttpRequest>::Success(platform::HttpRequest{Open()});
  }
  platform::Step SendRequest(platform::HttpRequest request) override {
    calls.push_back("SendRequest");
    if (Fails("SendRequest") || !IsOpen(request.value)) return Failure("SendRequest");
    return platform::Step::Success();
  }
  platform::Step ReceiveResponse(platform::HttpRequest request) override {
    calls.push_back("ReceiveResponse");
    if (clock != nullptr) clock->Advance(millisecondsToReceive);
    if (Fails("ReceiveResponse") || !IsOpen(request.value)) return Failure("ReceiveResponse");
    return platform::Step::Success();
  }
  platform::StepOr<std::uint32_t> QueryDataAvailable(platform::HttpRequest) override {
    calls.push_back("Query");
    if (clock != nullptr) clock->Advance(millisecondsPerQuery);
    if (queried_) ++next_;  // the chunk queried before was never read
    queried_ = true;
    if (next_ >= body.size()) return platform::StepOr<std::uint32_t>::Success(0);
    const Chunk& chunk = body[next_];
    if (chunk.queryError != 0) {
      platform::SetLastError(chunk.queryError);
      return platform::StepOr<std::uint32_t>::Failure(chunk.queryError);
    }
    const auto count = chunk.overrideCount ? chunk.count : static_cast<std::uint32_t>(chunk.bytes.size());
    return platform::StepOr<std::uint32_t>::Success(count);
  }
  platform::StepOr<std::uint32_t> ReadData(platform::HttpRequest, void* buffer, std::uint32_t size) override {
    calls.push_back("Read " + std::to_string(size));
    ++reads;
    queried_ = false;
    if (next_ >= body.size()) return platform::StepOr<std::uint32_t>::Success(0);
    const Chunk& chunk = body[next_++];
    if (chunk.readError != 0) {
      platform::SetLastError(chunk.readError);
      return platform::StepOr<std::uint32_t>::Failure(chunk.readError);
    }
    const std::size_t n = chunk.bytes.size() < size ? chunk.bytes.size() : size;
    if (n > 0) std::memcpy(buffer, chunk.bytes.data(), n);
    return platform::StepOr<std::uint32_t>::Success(static_cast<std::uint32_t>(n));
  }
  platform::Step CloseRequest(platform::HttpRequest request) override { return Close("CloseRequest", request.value); }
  platform::Step CloseConnection(platform::HttpConnection connection) override {
    return Close("CloseConnection", connection.value);
  }
  platform::Step CloseSession(platform::HttpSession session) override { return Close("CloseSession", session.value); }

 private:
  bool Fails(const std::string& step) const { return failures.count(step) != 0; }
  platform::ErrorNumber ErrorOf(const std::string& step) const {
    auto it = failures.find(step);
    return it != failures.end() ? it->second : platform::error::kInvalidHandle;
  }
  platform::Step Failure(const std::string& step) {
    platform::SetLastError(ErrorOf(step));
    return platform::Step::Failure(ErrorOf(step));
  }
  template <class T>
  platform::StepOr<T> FailureOr(const std::string& step) {
    platform::SetLastError(ErrorOf(step));
    return platform::StepOr<T>::Failure(ErrorOf(step));
  }
  std::uintptr_t Open() {
    open_.insert(++last_);
    return last_;
  }
  bool IsOpen(std::uintptr_t h) const { return open_.count(h) != 0; }
  platform::Step Close(const std::string& name, std::uintptr_t h) {
    calls.push_back(name);
    if (open_.erase(h) == 0) {
      ++badCloses;
      return Failure(name);
    }
    if (Fails(name)) return Failure(name);
    return platform::Step::Success();
  }

  std::set<std::uintptr_t> open_;
  std::uintptr_t last_ = 0;
  std::size_t next_ = 0;
  bool queried_ = false;
};
