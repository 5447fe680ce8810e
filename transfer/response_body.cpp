#include "transfer/response_body.h"

#include <memory>
#include <new>

#include "platform/last_error.h"
#include "platform/seam.h"
#include "platform/steady_clock.h"

BodyEnd ReadResponseBody(platform::HttpClient& client, platform::HttpRequest request, const TransferLimits& limits,
                         std::uint64_t startedAtMilliseconds, BodyReceiver& receiver) {
  platform::SteadyClock& clock = platform::Seam<platform::SteadyClock>::Get();
  std::uint64_t received = 0;
  std::uint32_t available = 0;
  do {
    const std::uint64_t now = clock.NowMilliseconds();
    if (now < startedAtMilliseconds || now - startedAtMilliseconds >= limits.maxMilliseconds) {
      platform::SetLastError(platform::http_error::kTimeout);
      return BodyEnd::Late;
    }

    available = 0;
    platform::StepOr<std::uint32_t> query = client.QueryDataAvailable(request);
    if (query) {
      available = query.value;
    } else if (!receiver.QueryFailed()) {
      return BodyEnd::Stopped;
    }
    // Checked before the allocation, so a huge count never reaches the
    // allocator (nor overflows the one extra byte on a 32-bit build).
    if (received > limits.maxBodyBytes || available > limits.maxBodyBytes - received) {
      platform::SetLastError(platform::error::kNotEnoughMemory);
      return BodyEnd::TooLarge;
    }

    std::unique_ptr<char[]> buffer(new (std::nothrow) char[static_cast<std::size_t>(available) + 1]());
    if (!buffer) {
      receiver.OutOfMemory();
      return BodyEnd::Stopped;
    }
    platform::StepOr<std::uint32_t> read = client.ReadData(request, buffer.get(), available);
    if (!read) {
      if (!receiver.ReadFailed()) return BodyEnd::Stopped;
      continue;
    }
    // An adapter never delivers more than was asked for; the bound and the
    // terminating zero rely on it, so hold it here as well.
    const std::uint32_t size = read.value <= available ? read.value : available;
    received += size;
    if (!receiver.Chunk(buffer.get(), size)) return BodyEnd::Stopped;
  } while (available > 0);
  return BodyEnd::Complete;
}
