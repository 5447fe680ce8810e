// The HTTP client on libcurl, with the steps of a synchronous WinHTTP
// exchange.
//
// Connecting only records the server; sending starts the transfer on a
// multi handle and drives it until the request is out, receiving drives it
// until the final response's headers are in, and the body is then driven
// chunk by chunk as the caller queries and reads. Body bytes wait in a
// buffer of at most kBufferLimit (plus one delivery of libcurl's): past it,
// the transfer is paused until the caller has read them, so memory stays
// bounded however fast the server sends.
//
// WinHTTP's behaviour is followed where it shows: its default time-outs
// (60 seconds to connect, 30 seconds of silence while sending or receiving),
// its redirects (followed, ten at most, never from HTTPS to HTTP), its
// error numbers, and certificate validation on for secure requests. The
// platform's default proxy configuration is libcurl's here: the proxy the
// environment names (http_proxy, https_proxy, no_proxy), if any.
#include "platform/posix/http_client_posix.h"

#include <curl/curl.h>

#include <cctype>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/seam.h"
#include "support/utf16.h"

namespace platform {
namespace {

constexpr long kConnectTimeoutMilliseconds = 60000;
constexpr std::chrono::milliseconds kSilenceTimeout{30000};
constexpr long kMaxRedirects = 10;
constexpr std::size_t kBufferLimit = 64 * 1024;
constexpr int kPollMilliseconds = 200;

void GlobalInit() {
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)initialised;
}

ErrorNumber MapCurlError(CURLcode code) {
  switch (code) {
    case CURLE_OK: return error::kSuccess;
    case CURLE_OUT_OF_MEMORY: return error::kNotEnoughMemory;
    case CURLE_UNSUPPORTED_PROTOCOL: return http_error::kUnrecognizedScheme;
    case CURLE_URL_MALFORMAT: return 12005;  // ERROR_WINHTTP_INVALID_URL
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return http_error::kNameNotResolved;
    case CURLE_COULDNT_CONNECT: return http_error::kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT: return http_error::kTimeout;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_USE_SSL_FAILED: return http_error::kSecureFailure;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_TOO_MANY_REDIRECTS: return http_error::kInvalidServerResponse;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return http_error::kConnectionError;
    case CURLE_ABORTED_BY_CALLBACK: return http_error::kOperationCancelled;
    default: return http_error::kInternalError;
  }
}

template <class T>
StepOr<T> FailOr(ErrorNumber e) {
  SetLastError(e);
  return StepOr<T>::Failure(e);
}

Step Fail(ErrorNumber e) {
  SetLastError(e);
  return Step::Failure(e);
}

struct Session {
  std::string agent;
};

struct Connection {
  std::string agent;
  std::string host;
  std::uint16_t port = 0;
};

bool StartsWithNoCase(const char* data, std::size_t size, const char* prefix) {
  for (std::size_t i = 0; prefix[i] != '\0'; ++i) {
    if (i >= size || std::tolower(static_cast<unsigned char>(data[i])) != prefix[i]) return false;
  }
  return true;
}

class Request {
 public:
  enum class State { Opened, Sent, Received, Failed };

  Request() = default;
  ~Request() {
    if (easy_ != nullptr && multi_ != nullptr && added_) curl_multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  // Prepares the transfer; false when libcurl has no memory for it.
  bool Prepare(const Connection& connection, const std::string& verb, const std::string& path, bool secure,
               const std::string& caFile) {
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (easy_ == nullptr || multi_ == nullptr) return false;
    secure_ = secure;
    std::string host = connection.host;
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    url_ = std::string(secure ? "https://" : "http://") + host + ":" + std::to_string(connection.port) + path;
    agent_ = connection.agent;
    verb_ = verb;
    caFile_ = caFile;
    bool ok = curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_USERAGENT, agent_.c_str()) == CURLE_OK;
    if (verb_ != "GET") ok = ok && curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, verb_.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMilliseconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, secure ? "https" : "http") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    if (!caFile_.empty()) {
      ok = ok && curl_easy_setopt(easy_, CURLOPT_CAINFO, caFile_.c_str()) == CURLE_OK;
      ok = ok && curl_easy_setopt(easy_, CURLOPT_CAPATH, nullptr) == CURLE_OK;
    }
    ok = ok && curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Request::OnHeader) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Request::OnBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this) == CURLE_OK;
    return ok;
  }

  Step Send() {
    if (state_ != State::Opened) return Fail(http_error::kIncorrectHandleState);
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
      state_ = State::Failed;
      return Fail(error::kNotEnoughMemory);
    }
    added_ = true;
    Drive([this] { return RequestIsOut(); });
    if (!RequestIsOut()) {
      state_ = State::Failed;
      return Fail(MapCurlError(result_ == CURLE_OK ? CURLE_GOT_NOTHING : result_));
    }
    state_ = State::Sent;
    return Step::Success();
  }

  Step Receive() {
    if (state_ != State::Sent) return Fail(http_error::kIncorrectHandleState);
    Drive([this] { return headersDone_; });
    if (!headersDone_) {
      state_ = State::Failed;
      return Fail(MapCurlError(result_ == CURLE_OK ? CURLE_GOT_NOTHING : result_));
    }
    state_ = State::Received;
    return Step::Success();
  }

  StepOr<std::uint32_t> Available() {
    if (state_ != State::Received) return FailOr<std::uint32_t>(http_error::kIncorrectHandleState);
    Drive([this] { return Buffered() > 0; });
    if (Buffered() > 0) return StepOr<std::uint32_t>::Success(static_cast<std::uint32_t>(Buffered()));
    if (result_ != CURLE_OK) return FailOr<std::uint32_t>(MapCurlError(result_));
    return StepOr<std::uint32_t>::Success(0);
  }

  StepOr<std::uint32_t> Read(void* buffer, std::uint32_t size) {
    if (state_ != State::Received) return FailOr<std::uint32_t>(http_error::kIncorrectHandleState);
    if (size == 0) return StepOr<std::uint32_t>::Success(0);
    Drive([this] { return Buffered() > 0; });
    const std::size_t n = Buffered() < size ? Buffered() : size;
    if (n == 0) {
      if (result_ != CURLE_OK) return FailOr<std::uint32_t>(MapCurlError(result_));
      return StepOr<std::uint32_t>::Success(0);
    }
    body_.copy(static_cast<char*>(buffer), n, readPos_);
    readPos_ += n;
    if (readPos_ == body_.size()) {
      body_.clear();
      readPos_ = 0;
    } else if (readPos_ > kBufferLimit) {
      body_.erase(0, readPos_);
      readPos_ = 0;
    }
    if (paused_ && Buffered() < kBufferLimit) {
      paused_ = false;
      lastActivity_ = Clock::now();
      // May hand over the held-back delivery at once, through OnBody.
      curl_easy_pause(easy_, CURLPAUSE_CONT);
    }
    return StepOr<std::uint32_t>::Success(static_cast<std::uint32_t>(n));
  }

 private:
  using Clock = std::chrono::steady_clock;

  std::size_t Buffered() const { return body_.size() - readPos_; }

  // The connection stands (TLS included) and the request has gone out, or
  // the server has already begun to answer.
  bool RequestIsOut() {
    if (headerStarted_) return true;
    curl_off_t pretransfer = 0;
    return curl_easy_getinfo(easy_, CURLINFO_PRETRANSFER_TIME_T, &pretransfer) == CURLE_OK && pretransfer > 0;
  }

  // Runs the transfer until `reached` holds, it ends, or the server has
  // been silent too long once the connection stood.
  template <class Reached>
  void Drive(Reached reached) {
    bool connected = false;
    while (!done_ && !reached()) {
      if (paused_) return;  // waiting for the caller to read
      int running = 0;
      if (curl_multi_perform(multi_, &running) != CURLM_OK) {
        Finish(CURLE_OUT_OF_MEMORY);
        return;
      }
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) Finish(message->data.result);
      }
      if (done_ || reached()) return;
      if (!connected && RequestIsOut()) {
        connected = true;
        lastActivity_ = Clock::now();
      }
      if (connected && Clock::now() - lastActivity_ > kSilenceTimeout) {
        Finish(CURLE_OPERATION_TIMEDOUT);
        return;
      }
      curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
    }
  }

  void Finish(CURLcode result) {
    done_ = true;
    result_ = result;
    if (added_) {
      curl_multi_remove_handle(multi_, easy_);
      added_ = false;
    }
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    Request& r = *static_cast<Request*>(self);
    const std::size_t n = size * count;
    r.headerStarted_ = true;
    r.lastActivity_ = Clock::now();
    if (StartsWithNoCase(data, n, "location:")) r.blockHasLocation_ = true;
    const bool blank = (n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n');
    if (blank) {
      long status = 0;
      curl_easy_getinfo(r.easy_, CURLINFO_RESPONSE_CODE, &status);
      // Interim answers and redirects that libcurl goes on to follow are
      // not the response.
      const bool interim = status < 200;
      const bool followed = status >= 300 && status < 400 && status != 304 && r.blockHasLocation_;
      if (!interim && !followed) r.headersDone_ = true;
      r.blockHasLocation_ = false;
    }
    return n;
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    Request& r = *static_cast<Request*>(self);
    const std::size_t n = size * count;
    r.lastActivity_ = Clock::now();
    r.headersDone_ = true;  // a body only follows the final headers
    if (r.Buffered() >= kBufferLimit) {
      r.paused_ = true;
      return CURL_WRITEFUNC_PAUSE;  // libcurl keeps these bytes and delivers them again
    }
    r.body_.append(data, n);
    return n;
  }

  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  bool added_ = false;
  bool secure_ = false;
  std::string url_, agent_, verb_, caFile_;
  State state_ = State::Opened;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  bool headerStarted_ = false;
  bool headersDone_ = false;
  bool blockHasLocation_ = false;
  bool paused_ = false;
  std::string body_;
  std::size_t readPos_ = 0;
  Clock::time_point lastActivity_ = Clock::now();
};

// Handles are numbers handed out once; an unknown one fails cleanly.
template <class Object>
class HandleTable {
 public:
  std::uintptr_t Add(std::unique_ptr<Object> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uintptr_t handle = ++last_;
    objects_.emplace(handle, std::move(object));
    return handle;
  }
  Object* Find(std::uintptr_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : it->second.get();
  }
  std::unique_ptr<Object> Remove(std::uintptr_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end()) return nullptr;
    std::unique_ptr<Object> object = std::move(it->second);
    objects_.erase(it);
    return object;
  }

 private:
  std::mutex mutex_;
  std::uintptr_t last_ = 0;
  std::map<std::uintptr_t, std::unique_ptr<Object>> objects_;
};

class CurlHttpClient final : public HttpClient {
 public:
  explicit CurlHttpClient(std::string caFile) : caFile_(std::move(caFile)) { GlobalInit(); }

  StepOr<HttpSession> OpenSession(const std::wstring& agent) override {
    auto session = std::make_unique<Session>();
    session->agent = WideToUtf8(agent);
    return StepOr<HttpSession>::Success(HttpSession{sessions_.Add(std::move(session))});
  }

  StepOr<HttpConnection> Connect(HttpSession session, const std::wstring& host, std::uint16_t port) override {
    Session* s = sessions_.Find(session.value);
    if (s == nullptr) return FailOr<HttpConnection>(error::kInvalidHandle);
    if (host.empty()) return FailOr<HttpConnection>(error::kInvalidParameter);
    auto connection = std::make_unique<Connection>();
    connection->agent = s->agent;
    connection->host = WideToUtf8(host);
    connection->port = port;
    return StepOr<HttpConnection>::Success(HttpConnection{connections_.Add(std::move(connection))});
  }

  StepOr<HttpRequest> OpenRequest(HttpConnection connection, const std::wstring& verb, const std::wstring& path,
                                  bool secure) override {
    Connection* c = connections_.Find(connection.value);
    if (c == nullptr) return FailOr<HttpRequest>(error::kInvalidHandle);
    if (verb.empty() || path.empty() || path[0] != L'/') return FailOr<HttpRequest>(error::kInvalidParameter);
    auto request = std::make_unique<Request>();
    if (!request->Prepare(*c, WideToUtf8(verb), WideToUtf8(path), secure, caFile_)) {
      return FailOr<HttpRequest>(error::kNotEnoughMemory);
    }
    return StepOr<HttpRequest>::Success(HttpRequest{requests_.Add(std::move(request))});
  }

  Step SendRequest(HttpRequest request) override {
    Request* r = requests_.Find(request.value);
    return r == nullptr ? Fail(error::kInvalidHandle) : r->Send();
  }

  Step ReceiveResponse(HttpRequest request) override {
    Request* r = requests_.Find(request.value);
    return r == nullptr ? Fail(error::kInvalidHandle) : r->Receive();
  }

  StepOr<std::uint32_t> QueryDataAvailable(HttpRequest request) override {
    Request* r = requests_.Find(request.value);
    return r == nullptr ? FailOr<std::uint32_t>(error::kInvalidHandle) : r->Available();
  }

  StepOr<std::uint32_t> ReadData(HttpRequest request, void* buffer, std::uint32_t size) override {
    Request* r = requests_.Find(request.value);
    return r == nullptr ? FailOr<std::uint32_t>(error::kInvalidHandle) : r->Read(buffer, size);
  }

  Step CloseRequest(HttpRequest request) override {
    return requests_.Remove(request.value) ? Step::Success() : Fail(error::kInvalidHandle);
  }
  Step CloseConnection(HttpConnection connection) override {
    return connections_.Remove(connection.value) ? Step::Success() : Fail(error::kInvalidHandle);
  }
  Step CloseSession(HttpSession session) override {
    return sessions_.Remove(session.value) ? Step::Success() : Fail(error::kInvalidHandle);
  }

 private:
  std::string caFile_;
  HandleTable<Session> sessions_;
  HandleTable<Connection> connections_;
  HandleTable<Request> requests_;
};

}  // namespace

template <>
HttpClient& PlatformDefault<HttpClient>() {
  static CurlHttpClient client{std::string()};
  return client;
}

namespace posix {
std::unique_ptr<HttpClient> MakeCurlHttpClient(const std::string& caFile) {
  return std::make_unique<CurlHttpClient>(caFile);
}
}  // namespace posix

}  // namespace platform
