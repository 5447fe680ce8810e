// An HTTP client with the steps of a synchronous WinHTTP exchange: open a
// session, connect, open a request, send it, receive the response, then
// query and read the body chunk by chunk, and close every handle.
//
// Handles are opaque numbers; the adapter alone knows what they stand for.
// A handle stays valid until it is closed; closing a session or a connection
// does not close the handles opened from it, so callers close the request,
// then the connection, then the session (ScopedHttpHandle does it by scope).
// All calls block; none of them is retried by the adapter.
//
// Error numbers are WinHTTP's (the Windows adapter's are the real ones; the
// POSIX adapter maps its failures onto the same numbers, see http_error), and
// every failing step also sets the thread's last error to its error number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/last_error.h"
#include "platform/step.h"

namespace platform {

// A handle of one kind. Zero is "none".
template <class Kind>
struct HttpHandle {
  std::uintptr_t value = 0;
  explicit operator bool() const { return value != 0; }
  friend bool operator==(HttpHandle a, HttpHandle b) { return a.value == b.value; }
  friend bool operator!=(HttpHandle a, HttpHandle b) { return a.value != b.value; }
};
struct HttpSessionKind;
struct HttpConnectionKind;
struct HttpRequestKind;
using HttpSession = HttpHandle<HttpSessionKind>;
using HttpConnection = HttpHandle<HttpConnectionKind>;
using HttpRequest = HttpHandle<HttpRequestKind>;

// WinHTTP's error numbers, as both adapters report them.
namespace http_error {
inline constexpr ErrorNumber kTimeout = 12002;               // ERROR_WINHTTP_TIMEOUT
inline constexpr ErrorNumber kInternalError = 12004;         // ERROR_WINHTTP_INTERNAL_ERROR
inline constexpr ErrorNumber kUnrecognizedScheme = 12006;    // ERROR_WINHTTP_UNRECOGNIZED_SCHEME
inline constexpr ErrorNumber kNameNotResolved = 12007;       // ERROR_WINHTTP_NAME_NOT_RESOLVED
inline constexpr ErrorNumber kOperationCancelled = 12017;    // ERROR_WINHTTP_OPERATION_CANCELLED
inline constexpr ErrorNumber kIncorrectHandleType = 12018;   // ERROR_WINHTTP_INCORRECT_HANDLE_TYPE
inline constexpr ErrorNumber kIncorrectHandleState = 12019;  // ERROR_WINHTTP_INCORRECT_HANDLE_STATE
inline constexpr ErrorNumber kCannotConnect = 12029;         // ERROR_WINHTTP_CANNOT_CONNECT
inline constexpr ErrorNumber kConnectionError = 12030;       // ERROR_WINHTTP_CONNECTION_ERROR
inline constexpr ErrorNumber kInvalidServerResponse = 12152; // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
inline constexpr ErrorNumber kSecureFailure = 12175;         // ERROR_WINHTTP_SECURE_FAILURE
}  // namespace http_error

class HttpClient {
 public:
  virtual ~HttpClient() = default;

  // WinHttpOpen: a session with the user agent `agent`, the platform's
  // default proxy configuration (no proxy name, no bypass list) and no flags,
  // so that every later call blocks. Nothing is sent. Failure: the client
  // library could not be set up (out of memory, for one).
  virtual StepOr<HttpSession> OpenSession(const std::wstring& agent) = 0;

  // WinHttpConnect: names the server `host` and its TCP port for requests of
  // the session. Nothing is sent and no name is resolved yet. Failure: no
  // session, or a host name the client cannot use (an empty one).
  virtual StepOr<HttpConnection> Connect(HttpSession session, const std::wstring& host, std::uint16_t port) = 0;

  // WinHttpOpenRequest: a request with the verb `verb` (such as "GET") for
  // the object `path` on the connection's server, the default HTTP version,
  // no referrer and no accept types; `secure` selects HTTPS with the server's
  // certificate validated against the platform's trusted roots and the host
  // name, otherwise plain HTTP. Nothing is sent yet. Failure: no connection,
  // or an empty verb or path.
  virtual StepOr<HttpRequest> OpenRequest(HttpConnection connection, const std::wstring& verb,
                                          const std::wstring& path, bool secure) = 0;

  // WinHttpSendRequest: connects to the server (TLS handshake and certificate
  // check for a secure request) and sends the request with no additional
  // headers and no body. Failure: the name did not resolve (kNameNotResolved),
  // the server refused or did not answer (kCannotConnect, kTimeout), the
  // certificate was not trusted (kSecureFailure), or the connection broke.
  virtual Step SendRequest(HttpRequest request) = 0;

  // WinHttpReceiveResponse: waits for the response's status line and
  // headers. The status code is neither judged nor reported: an error page
  // is a response like any other. Failure: nothing was sent, the server
  // closed or reset the connection first (kConnectionError), sent something
  // that is not HTTP (kInvalidServerResponse) or stayed silent (kTimeout).
  virtual Step ReceiveResponse(HttpRequest request) = 0;

  // WinHttpQueryDataAvailable: waits until body bytes can be read at once or
  // the body has ended, then gives how many can be read without waiting; 0
  // means the body has ended. Failure: no response was received, or the
  // connection broke or timed out while waiting (the error says which).
  virtual StepOr<std::uint32_t> QueryDataAvailable(HttpRequest request) = 0;

  // WinHttpReadData: copies up to `size` body bytes into `buffer` and gives
  // how many it copied, waiting for them if none are at hand; 0 at the end
  // of the body or when `size` is 0. Failure: no response was received, or
  // the connection broke or timed out.
  virtual StepOr<std::uint32_t> ReadData(HttpRequest request, void* buffer, std::uint32_t size) = 0;

  // WinHttpCloseHandle: releases the handle and whatever the adapter holds
  // for it. Closing a request ends its transfer. Failure: not a handle of
  // this client (kInvalidHandle); closing the none handle fails the same way.
  virtual Step CloseRequest(HttpRequest request) = 0;
  virtual Step CloseConnection(HttpConnection connection) = 0;
  virtual Step CloseSession(HttpSession session) = 0;
};

// Owns one handle and closes it at the end of its scope, through the client
// that opened it, leaving the thread's last error as it was. Declare the
// session, the connection and the request in that order, and they close in
// the order the client needs: request, connection, session.
template <class Handle>
class ScopedHttpHandle {
 public:
  explicit ScopedHttpHandle(HttpClient& client) : client_(&client) {}
  ~ScopedHttpHandle() { Close(); }
  ScopedHttpHandle(const ScopedHttpHandle&) = delete;
  ScopedHttpHandle& operator=(const ScopedHttpHandle&) = delete;

  Handle Get() const { return handle_; }
  explicit operator bool() const { return static_cast<bool>(handle_); }
  void Reset(Handle handle) {
    Close();
    handle_ = handle;
  }
  // Closes the handle now, if there is one.
  void Close() {
    if (!handle_) return;
    const ErrorNumber saved = LastError();
    CloseWith(*client_, handle_);
    handle_ = Handle{};
    SetLastError(saved);
  }

 private:
  static void CloseWith(HttpClient& c, HttpSession h) { c.CloseSession(h); }
  static void CloseWith(HttpClient& c, HttpConnection h) { c.CloseConnection(h); }
  static void CloseWith(HttpClient& c, HttpRequest h) { c.CloseRequest(h); }

  HttpClient* client_;
  Handle handle_{};
};

}  // namespace platform
