// The log reader's names of Windows codes against the Windows headers, and
// its file access against the program's own appends, under wine.
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/log_file.h"
#include "platform/seam.h"
#include "platform/win32/handle_win32.h"
#include "support/activity_log.h"
#include "support/utf16.h"
#include "tools/logreader/reader_system.h"
#include "tools/logreader/windows_errors.h"

namespace {

struct SdkCode {
  std::uint32_t value;
  const char* name;
};

#define ROW(symbol) {static_cast<std::uint32_t>(symbol), #symbol}

// Every symbol the reader names, with its value from the Windows headers.
const SdkCode kSdkErrors[] = {
    ROW(ERROR_SUCCESS), ROW(ERROR_INVALID_FUNCTION), ROW(ERROR_FILE_NOT_FOUND), ROW(ERROR_PATH_NOT_FOUND),
    ROW(ERROR_TOO_MANY_OPEN_FILES), ROW(ERROR_ACCESS_DENIED), ROW(ERROR_INVALID_HANDLE),
    ROW(ERROR_NOT_ENOUGH_MEMORY), ROW(ERROR_INVALID_DATA), ROW(ERROR_OUTOFMEMORY), ROW(ERROR_INVALID_DRIVE),
    ROW(ERROR_NO_MORE_FILES), ROW(ERROR_WRITE_PROTECT), ROW(ERROR_NOT_READY), ROW(ERROR_WRITE_FAULT),
    ROW(ERROR_READ_FAULT), ROW(ERROR_GEN_FAILURE), ROW(ERROR_SHARING_VIOLATION), ROW(ERROR_LOCK_VIOLATION),
    ROW(ERROR_HANDLE_EOF), ROW(ERROR_HANDLE_DISK_FULL), ROW(ERROR_NOT_SUPPORTED), ROW(ERROR_BAD_NETPATH),
    ROW(ERROR_NETWORK_ACCESS_DENIED), ROW(ERROR_FILE_EXISTS), ROW(ERROR_CANNOT_MAKE),
    ROW(ERROR_INVALID_PARAMETER), ROW(ERROR_BROKEN_PIPE), ROW(ERROR_OPEN_FAILED), ROW(ERROR_BUFFER_OVERFLOW),
    ROW(ERROR_DISK_FULL), ROW(ERROR_CALL_NOT_IMPLEMENTED), ROW(ERROR_INSUFFICIENT_BUFFER),
    ROW(ERROR_INVALID_NAME), ROW(ERROR_MOD_NOT_FOUND), ROW(ERROR_PROC_NOT_FOUND), ROW(ERROR_DIR_NOT_EMPTY),
    ROW(ERROR_BAD_PATHNAME), ROW(ERROR_BUSY), ROW(ERROR_ALREADY_EXISTS), ROW(ERROR_BAD_EXE_FORMAT),
    ROW(ERROR_ENVVAR_NOT_FOUND), ROW(ERROR_FILENAME_EXCED_RANGE), ROW(ERROR_FILE_TOO_LARGE),
    ROW(ERROR_MORE_DATA), ROW(WAIT_TIMEOUT), ROW(ERROR_NO_MORE_ITEMS), ROW(ERROR_DIRECTORY),
    ROW(ERROR_NOACCESS), ROW(ERROR_CAN_NOT_COMPLETE), ROW(ERROR_INVALID_FLAGS), ROW(ERROR_NO_TOKEN),
    ROW(ERROR_BADKEY), ROW(ERROR_CANTOPEN), ROW(ERROR_CANTREAD), ROW(ERROR_CANTWRITE),
    ROW(ERROR_REGISTRY_CORRUPT), ROW(ERROR_KEY_DELETED), ROW(ERROR_DEPENDENT_SERVICES_RUNNING),
    ROW(ERROR_INVALID_SERVICE_CONTROL), ROW(ERROR_SERVICE_REQUEST_TIMEOUT), ROW(ERROR_SERVICE_NO_THREAD),
    ROW(ERROR_SERVICE_DATABASE_LOCKED), ROW(ERROR_SERVICE_ALREADY_RUNNING),
    ROW(ERROR_INVALID_SERVICE_ACCOUNT), ROW(ERROR_SERVICE_DISABLED), ROW(ERROR_CIRCULAR_DEPENDENCY),
    ROW(ERROR_SERVICE_DOES_NOT_EXIST), ROW(ERROR_SERVICE_CANNOT_ACCEPT_CTRL), ROW(ERROR_SERVICE_NOT_ACTIVE),
    ROW(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), ROW(ERROR_EXCEPTION_IN_SERVICE),
    ROW(ERROR_DATABASE_DOES_NOT_EXIST), ROW(ERROR_SERVICE_SPECIFIC_ERROR), ROW(ERROR_PROCESS_ABORTED),
    ROW(ERROR_SERVICE_DEPENDENCY_FAIL), ROW(ERROR_SERVICE_LOGON_FAILED), ROW(ERROR_SERVICE_START_HANG),
    ROW(ERROR_INVALID_SERVICE_LOCK), ROW(ERROR_SERVICE_MARKED_FOR_DELETE), ROW(ERROR_SERVICE_EXISTS),
    ROW(ERROR_SERVICE_NEVER_STARTED), ROW(ERROR_DUPLICATE_SERVICE_NAME), ROW(ERROR_NO_UNICODE_TRANSLATION),
    ROW(ERROR_SHUTDOWN_IN_PROGRESS), ROW(ERROR_NOT_FOUND), ROW(ERROR_INVALID_SERVICENAME),
    ROW(ERROR_CANCELLED), ROW(ERROR_CONNECTION_REFUSED), ROW(ERROR_NETWORK_UNREACHABLE),
    ROW(ERROR_HOST_UNREACHABLE), ROW(ERROR_NO_SUCH_LOGON_SESSION), ROW(ERROR_PRIVILEGE_NOT_HELD),
    ROW(ERROR_LOGON_FAILURE), ROW(ERROR_INVALID_SECURITY_DESCR), ROW(ERROR_NO_SYSTEM_RESOURCES),
    ROW(ERROR_COMMITMENT_LIMIT), ROW(ERROR_TIMEOUT), ROW(ERROR_RESOURCE_DATA_NOT_FOUND),
    ROW(ERROR_RESOURCE_TYPE_NOT_FOUND), ROW(ERROR_RESOURCE_NAME_NOT_FOUND), ROW(ERROR_WINHTTP_OUT_OF_HANDLES),
    ROW(ERROR_WINHTTP_TIMEOUT), ROW(ERROR_WINHTTP_INTERNAL_ERROR), ROW(ERROR_WINHTTP_INVALID_URL),
    ROW(ERROR_WINHTTP_UNRECOGNIZED_SCHEME), ROW(ERROR_WINHTTP_NAME_NOT_RESOLVED),
    ROW(ERROR_WINHTTP_INVALID_OPTION), ROW(ERROR_WINHTTP_OPTION_NOT_SETTABLE), ROW(ERROR_WINHTTP_SHUTDOWN),
    ROW(ERROR_WINHTTP_LOGIN_FAILURE), ROW(ERROR_WINHTTP_OPERATION_CANCELLED),
    ROW(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE), ROW(ERROR_WINHTTP_INCORRECT_HANDLE_STATE),
    ROW(ERROR_WINHTTP_CANNOT_CONNECT), ROW(ERROR_WINHTTP_CONNECTION_ERROR), ROW(ERROR_WINHTTP_RESEND_REQUEST),
    ROW(ERROR_WINHTTP_SECURE_CERT_DATE_INVALID), ROW(ERROR_WINHTTP_SECURE_CERT_CN_INVALID),
    ROW(ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED), ROW(ERROR_WINHTTP_SECURE_INVALID_CA),
    ROW(ERROR_WINHTTP_SECURE_CERT_REV_FAILED), ROW(ERROR_WINHTTP_CANNOT_CALL_BEFORE_OPEN),
    ROW(ERROR_WINHTTP_CANNOT_CALL_BEFORE_SEND), ROW(ERROR_WINHTTP_CANNOT_CALL_AFTER_SEND),
    ROW(ERROR_WINHTTP_CANNOT_CALL_AFTER_OPEN), ROW(ERROR_WINHTTP_HEADER_NOT_FOUND),
    ROW(ERROR_WINHTTP_INVALID_SERVER_RESPONSE), ROW(ERROR_WINHTTP_INVALID_HEADER),
    ROW(ERROR_WINHTTP_INVALID_QUERY_REQUEST), ROW(ERROR_WINHTTP_HEADER_ALREADY_EXISTS),
    ROW(ERROR_WINHTTP_REDIRECT_FAILED), ROW(ERROR_WINHTTP_SECURE_CHANNEL_ERROR),
    ROW(ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT), ROW(ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT),
    ROW(ERROR_WINHTTP_SECURE_INVALID_CERT), ROW(ERROR_WINHTTP_SECURE_CERT_REVOKED),
    ROW(ERROR_WINHTTP_NOT_INITIALIZED), ROW(ERROR_WINHTTP_SECURE_FAILURE),
    ROW(ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR), ROW(ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE),
    ROW(ERROR_WINHTTP_AUTODETECTION_FAILED), ROW(ERROR_WINHTTP_HEADER_COUNT_EXCEEDED),
    ROW(ERROR_WINHTTP_HEADER_SIZE_OVERFLOW), ROW(ERROR_WINHTTP_CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW),
    ROW(ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW), ROW(E_NOTIMPL), ROW(E_NOINTERFACE), ROW(E_POINTER),
    ROW(E_ABORT), ROW(E_FAIL), ROW(E_UNEXPECTED), ROW(RPC_E_CHANGED_MODE), ROW(RPC_E_TOO_LATE),
    ROW(DISP_E_TYPEMISMATCH), ROW(DISP_E_BADVARTYPE), ROW(CLASS_E_NOAGGREGATION), ROW(REGDB_E_CLASSNOTREG),
    ROW(CO_E_NOTINITIALIZED), ROW(SCHED_E_TRIGGER_NOT_FOUND), ROW(SCHED_E_TASK_NOT_READY),
    ROW(SCHED_E_TASK_NOT_RUNNING), ROW(SCHED_E_SERVICE_NOT_INSTALLED), ROW(SCHED_E_CANNOT_OPEN_TASK),
    ROW(SCHED_E_INVALID_TASK), ROW(SCHED_E_ACCOUNT_INFORMATION_NOT_SET), ROW(SCHED_E_ACCOUNT_NAME_NOT_FOUND),
    ROW(SCHED_E_UNKNOWN_OBJECT_VERSION), ROW(SCHED_E_SERVICE_NOT_RUNNING), ROW(E_ACCESSDENIED), ROW(E_HANDLE),
    ROW(E_OUTOFMEMORY), ROW(E_INVALIDARG), ROW(CO_E_SERVER_EXEC_FAILURE), ROW(NTE_BAD_KEY),
    ROW(NTE_BAD_SIGNATURE), ROW(NTE_BAD_ALGID), ROW(NTE_NO_MEMORY), ROW(CRYPT_E_MSG_ERROR),
    ROW(CRYPT_E_UNKNOWN_ALGO), ROW(CRYPT_E_OID_FORMAT), ROW(CRYPT_E_INVALID_MSG_TYPE),
    ROW(CRYPT_E_UNEXPECTED_ENCODING), ROW(CRYPT_E_AUTH_ATTR_MISSING), ROW(CRYPT_E_HASH_VALUE),
    ROW(CRYPT_E_INVALID_INDEX), ROW(CRYPT_E_SIGNER_NOT_FOUND), ROW(CRYPT_E_BAD_ENCODE),
    ROW(CRYPT_E_FILE_ERROR), ROW(CRYPT_E_NOT_FOUND), ROW(CRYPT_E_NO_SIGNER), ROW(CRYPT_E_REVOKED),
    ROW(CRYPT_E_NO_REVOCATION_CHECK), ROW(CRYPT_E_REVOCATION_OFFLINE), ROW(CRYPT_E_ASN1_EOD),
    ROW(CRYPT_E_ASN1_CORRUPT), ROW(CRYPT_E_ASN1_BADTAG), ROW(TRUST_E_CERT_SIGNATURE), ROW(TRUST_E_BAD_DIGEST),
    ROW(TRUST_E_BASIC_CONSTRAINTS), ROW(TRUST_E_NOSIGNATURE), ROW(CERT_E_EXPIRED), ROW(CERT_E_ROLE),
    ROW(CERT_E_UNTRUSTEDROOT), ROW(CERT_E_CHAINING), ROW(CERT_E_REVOKED), ROW(CERT_E_CN_NO_MATCH),
    ROW(CERT_E_WRONG_USAGE),
};

const SdkCode kSdkControls[] = {
    ROW(SERVICE_CONTROL_STOP), ROW(SERVICE_CONTROL_PAUSE), ROW(SERVICE_CONTROL_CONTINUE),
    ROW(SERVICE_CONTROL_INTERROGATE), ROW(SERVICE_CONTROL_SHUTDOWN), ROW(SERVICE_CONTROL_PARAMCHANGE),
    ROW(SERVICE_CONTROL_NETBINDADD), ROW(SERVICE_CONTROL_NETBINDREMOVE), ROW(SERVICE_CONTROL_NETBINDENABLE),
    ROW(SERVICE_CONTROL_NETBINDDISABLE), ROW(SERVICE_CONTROL_DEVICEEVENT),
    ROW(SERVICE_CONTROL_HARDWAREPROFILECHANGE), ROW(SERVICE_CONTROL_POWEREVENT),
    ROW(SERVICE_CONTROL_SESSIONCHANGE), ROW(SERVICE_CONTROL_PRESHUTDOWN), ROW(SERVICE_CONTROL_TIMECHANGE),
    ROW(SERVICE_CONTROL_USER_LOGOFF), ROW(SERVICE_CONTROL_TRIGGEREVENT), ROW(SERVICE_CONTROL_LOWRESOURCES),
    ROW(SERVICE_CONTROL_SYSTEMLOWRESOURCES),
};

#undef ROW

const SdkCode* FindSdk(const SdkCode* begin, const SdkCode* end, const char* name) {
  for (const SdkCode* p = begin; p != end; ++p) {
    if (std::strcmp(p->name, name) == 0) return p;
  }
  return nullptr;
}

TEST(LogReaderWindowsNames, EveryNameHasTheValueOfTheWindowsHeaders) {
  for (std::size_t i = 0; i < logreader::WindowsErrorNameCount(); ++i) {
    const logreader::NamedCode& row = logreader::WindowsErrorNames()[i];
    const SdkCode* sdk = FindSdk(std::begin(kSdkErrors), std::end(kSdkErrors), row.name);
    ASSERT_NE(sdk, nullptr) << row.name << " is not checked against the headers";
    EXPECT_EQ(row.value, sdk->value) << row.name;
  }
  for (std::size_t i = 0; i < logreader::ServiceControlCount(); ++i) {
    const logreader::ServiceControl& row = logreader::ServiceControls()[i];
    const SdkCode* sdk = FindSdk(std::begin(kSdkControls), std::end(kSdkControls), row.name);
    ASSERT_NE(sdk, nullptr) << row.name << " is not checked against the headers";
    EXPECT_EQ(row.value, sdk->value) << row.name;
  }
}

std::string NumberedLine(int i) {
  std::string bytes;
  AppendUtf16LE(FormatLogLine({2010, 11, 3, 9, 0, i / 1000, i % 1000}, kLogInformation, L"1622 " + std::to_wstring(i)),
                bytes);
  return bytes;
}

// A file in the prefix's temporary folder, removed afterwards.
class TempLog {
 public:
  TempLog() {
    wchar_t folder[MAX_PATH];
    const DWORD n = ::GetTempPathW(MAX_PATH, folder);
    path_ = WideToUtf8(std::wstring(folder, n)) + "vexel-log-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(counter_++) + ".log";
    ::DeleteFileW(Utf8ToWideLossy(path_).c_str());
  }
  ~TempLog() { ::DeleteFileW(Utf8ToWideLossy(path_).c_str()); }
  const std::string& Path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::string path_;
};

// The real file access under a reader whose waits are short and whose
// output is kept.
class CapturingSystem final : public logreader::ReaderSystem {
 public:
  explicit CapturingSystem(std::function<bool()> keepFollowing = [] { return false; })
      : keepFollowing_(std::move(keepFollowing)) {}
  std::string DefaultLogPath() override { return ""; }
  bool Read(const std::string& path, std::uint64_t offset, std::size_t maxBytes, std::string& out,
            std::uint64_t& fileSize, std::string& error) override {
    return real_->Read(path, offset, maxBytes, out, fileSize, error);
  }
  void Out(const std::string& text) override { out += text; }
  void Err(const std::string& text) override { err += text; }
  void Flush() override {}
  bool WaitForMore() override {
    ::Sleep(1);
    if (finishing_) return false;
    if (!keepFollowing_()) finishing_ = true;
    return true;
  }
  std::string out;
  std::string err;

 private:
  std::unique_ptr<logreader::ReaderSystem> real_ = logreader::MakePlatformReaderSystem();
  std::function<bool()> keepFollowing_;
  bool finishing_ = false;
};

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(LogReaderWin32, ReadsALogThatAnAppenderHoldsOpen) {
  TempLog log;
  // Opened as the program opens the log: append access, full sharing.
  platform::win32::UniqueHandle writer(::CreateFileW(Utf8ToWideLossy(log.Path()).c_str(), FILE_APPEND_DATA,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer.Valid());
  const std::string line = NumberedLine(1);
  const std::string torn = NumberedLine(2);
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(writer.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr));
  ASSERT_TRUE(::WriteFile(writer.Get(), torn.data(), 9, &written, nullptr));

  CapturingSystem first;
  EXPECT_EQ(logreader::RunLogReader({log.Path()}, first), logreader::kExitShown) << first.err;
  EXPECT_EQ(Count(first.out, "; control code 1 = stop"), 1u) << first.out;
  EXPECT_EQ(Count(first.out, "[incomplete last line at byte " + std::to_string(line.size()) + ", 9 bytes"), 1u)
      << first.out;

  ASSERT_TRUE(::WriteFile(writer.Get(), torn.data() + 9, static_cast<DWORD>(torn.size() - 9), &written, nullptr));
  CapturingSystem second;
  EXPECT_EQ(logreader::RunLogReader({log.Path()}, second), logreader::kExitShown) << second.err;
  EXPECT_EQ(Count(second.out, "\n"), 2u) << second.out;
  EXPECT_EQ(Count(second.out, "; control code 2 = pause"), 1u) << second.out;
  EXPECT_EQ(Count(second.out, "[incomplete"), 0u) << second.out;
}

TEST(LogReaderWin32, FollowReadsEveryLineTheProgramsWriterAppends) {
  TempLog log;
  constexpr int kLines = 300;
  std::atomic<bool> done{false};
  std::atomic<int> failedAppends{0};
  // The log exists before the reader starts; the rest comes while it follows.
  const std::string first = NumberedLine(0);
  ASSERT_TRUE(platform::PlatformDefault<platform::SharedAppendFile>().Append(log.Path(), first.data(), first.size()).ok);
  std::thread writer([&] {
    platform::SharedAppendFile& file = platform::PlatformDefault<platform::SharedAppendFile>();
    for (int i = 1; i < kLines; ++i) {
      const std::string line = NumberedLine(i);
      if (!file.Append(log.Path(), line.data(), line.size()).ok) ++failedAppends;
      if (i % 10 == 0) ::Sleep(1);
    }
    done = true;
  });
  CapturingSystem system([&] { return !done.load(); });
  const int exit = logreader::RunLogReader({"--follow", log.Path()}, system);
  writer.join();
  EXPECT_EQ(exit, logreader::kExitShown) << system.err;
  // Reading never made an append fail, and every line came out once, in order.
  EXPECT_EQ(failedAppends.load(), 0);
  EXPECT_EQ(Count(system.out, "\n"), static_cast<std::size_t>(kLines)) << system.err;
  EXPECT_EQ(Count(system.out, " info    1622 "), static_cast<std::size_t>(kLines));
  std::size_t at = 0;
  for (int i = 0; i < kLines; ++i) {
    at = system.out.find("control code " + std::to_string(i) + " ", at);
    ASSERT_NE(at, std::string::npos) << "line " << i;
  }
  EXPECT_EQ(system.err, "");
}

}  // namespace
