// Reading a response body chunk by chunk within bounds.
//
// Every byte of a response comes from a server that may be hostile or
// broken, so a transfer is bounded in size and in time. The caller states
// both bounds; the loop abandons the body as soon as one is crossed. What a
// failed step means for the transfer (log it and go on, or give up) is the
// caller's decision, taken in its BodyReceiver.
#pragma once

#include <cstdint>

#include "build_settings.h"
#include "platform/http_client.h"

// The most a transfer may take: body bytes, and milliseconds from the start
// of the whole exchange (the session's opening) to the last chunk.
struct TransferLimits {
  std::uint64_t maxBodyBytes;
  std::uint64_t maxMilliseconds;
};

// A version manifest is a few hundred bytes; one that needs more than a
// mebibyte, or longer than the build's deadline, is not one.
inline constexpr TransferLimits kManifestLimits{1024u * 1024u,
                                                build_settings::kManifestDeadlineSeconds * 1000u};
// An installer package: the build's size limit and deadline.
inline constexpr TransferLimits kPackageLimits{build_settings::kPackageSizeLimitMebibytes * 1024u * 1024u,
                                               build_settings::kPackageDeadlineSeconds * 1000u};

// What happens at each step of the loop, decided by the caller.
class BodyReceiver {
 public:
  virtual ~BodyReceiver() = default;
  // Querying the available byte count failed; the thread's last error holds
  // the step's error. True: go on as though 0 bytes were available (a read
  // of 0 bytes follows and the body ends). False: stop.
  virtual bool QueryFailed() = 0;
  // No memory for the next chunk's buffer. Reading stops.
  virtual void OutOfMemory() = 0;
  // Reading a chunk failed; the thread's last error holds the step's error.
  // True: drop the chunk and go on while the last query reported bytes.
  // False: stop.
  virtual bool ReadFailed() = 0;
  // `size` bytes were read into `data`, which has one byte more, zero.
  // True: go on. False: stop.
  virtual bool Chunk(const char* data, std::uint32_t size) = 0;
};

// How the loop ended. For the two bounds the thread's last error is set as
// well, so that a caller's failure line carries a number that says why:
// ERROR_NOT_ENOUGH_MEMORY for a body too large to be held, WinHTTP's time-out
// for a late one.
enum class BodyEnd {
  Complete,  // the last query reported 0 bytes
  Stopped,   // the receiver stopped the loop (or no memory for a chunk)
  TooLarge,  // the body would have grown past maxBodyBytes; nothing more was read
  Late,      // the deadline passed before the body ended
};

// The loop: until a query reports 0 bytes, check the deadline, query how
// many bytes are available, refuse a count that would take the body past its
// size bound, allocate a zero-filled buffer one byte longer than the count,
// read up to the count into it and hand what was read to the receiver.
// `startedAtMilliseconds` is the steady clock's reading (platform/
// steady_clock.h) when the exchange began. The memory held at any time is
// one chunk, never more than the bound allows.
BodyEnd ReadResponseBody(platform::HttpClient& client, platform::HttpRequest request, const TransferLimits& limits,
                         std::uint64_t startedAtMilliseconds, BodyReceiver& receiver);
