// The HTTP client on WinHTTP, synchronous, with WinHTTP's own time-outs.
#include <windows.h>
#include <winhttp.h>

#include "platform/http_client.h"
#include "platform/seam.h"

namespace platform {
namespace {

template <class Handle>
HINTERNET Native(Handle h) {
  return reinterpret_cast<HINTERNET>(h.value);
}

template <class Handle>
Handle Wrap(HINTERNET h) {
  return Handle{reinterpret_cast<std::uintptr_t>(h)};
}

Step LastFailure() { return Step::Failure(::GetLastError()); }

template <class T>
StepOr<T> LastFailureOr() {
  return StepOr<T>::Failure(::GetLastError());
}

Step CloseNative(HINTERNET h) {
  if (h == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return Step::Failure(ERROR_INVALID_HANDLE);
  }
  return ::WinHttpCloseHandle(h) ? Step::Success() : LastFailure();
}

class WinHttpClient final : public HttpClient {
 public:
  StepOr<HttpSession> OpenSession(const std::wstring& agent) override {
    HINTERNET h = ::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0);
    if (h == nullptr) return LastFailureOr<HttpSession>();
    return StepOr<HttpSession>::Success(Wrap<HttpSession>(h));
  }

  StepOr<HttpConnection> Connect(HttpSession session, const std::wstring& host, std::uint16_t port) override {
    HINTERNET h = ::WinHttpConnect(Native(session), host.c_str(), port, 0);
    if (h == nullptr) return LastFailureOr<HttpConnection>();
    return StepOr<HttpConnection>::Success(Wrap<HttpConnection>(h));
  }

  StepOr<HttpRequest> OpenRequest(HttpConnection connection, const std::wstring& verb, const std::wstring& path,
                                  bool secure) override {
    HINTERNET h = ::WinHttpOpenRequest(Native(connection), verb.c_str(), path.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       secure ? WINHTTP_FLAG_SECURE : 0);
    if (h == nullptr) return LastFailureOr<HttpRequest>();
    return StepOr<HttpRequest>::Success(Wrap<HttpRequest>(h));
  }

  Step SendRequest(HttpRequest request) override {
    if (!::WinHttpSendRequest(Native(request), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
      return LastFailure();
    }
    return Step::Success();
  }

  Step ReceiveResponse(HttpRequest request) override {
    if (!::WinHttpReceiveResponse(Native(request), nullptr)) return LastFailure();
    return Step::Success();
  }

  StepOr<std::uint32_t> QueryDataAvailable(HttpRequest request) override {
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(Native(request), &available)) return LastFailureOr<std::uint32_t>();
    return StepOr<std::uint32_t>::Success(available);
  }

  StepOr<std::uint32_t> ReadData(HttpRequest request, void* buffer, std::uint32_t size) override {
    DWORD read = 0;
    if (!::WinHttpReadData(Native(request), buffer, size, &read)) return LastFailureOr<std::uint32_t>();
    return StepOr<std::uint32_t>::Success(read);
  }

  Step CloseRequest(HttpRequest request) override { return CloseNative(Native(request)); }
  Step CloseConnection(HttpConnection connection) override { return CloseNative(Native(connection)); }
  Step CloseSession(HttpSession session) override { return CloseNative(Native(session)); }
};

}  // namespace

template <>
HttpClient& PlatformDefault<HttpClient>() {
  static WinHttpClient client;
  return client;
}

}  // namespace platform
