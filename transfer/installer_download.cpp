#include "transfer/installer_download.h"

#include <new>

#include "config/update_settings.h"
#include "platform/file_system.h"
#include "platform/http_client.h"
#include "platform/last_error.h"
#include "platform/path_separator.h"
#include "platform/process_launcher.h"
#include "platform/process_paths.h"
#include "platform/seam.h"
#include "platform/steady_clock.h"
#include "platform/temp_names.h"
#include "support/log_messages.h"
#include "transfer/builtin_ca_certificate.h"
#include "transfer/signature_verifier.h"

namespace {

using platform::FileSystem;

// Holds the error of the step that made the download fail, and gives it
// back to the thread when the download returns, after every release and
// removal that followed, so that the caller sees the failing step's error.
class FailureError {
 public:
  FailureError() = default;
  ~FailureError() {
    if (captured_) platform::SetLastError(error_);
  }
  FailureError(const FailureError&) = delete;
  FailureError& operator=(const FailureError&) = delete;

  // Takes the thread's last error as the failure's; false, for returning.
  bool Fail() {
    error_ = platform::LastError();
    captured_ = true;
    return false;
  }

 private:
  platform::ErrorNumber error_ = 0;
  bool captured_ = false;
};

// The temporary names are built as in character buffers of kMaxPath
// characters, the terminating zero included: what does not fit is cut off.
void AppendCut(std::wstring& text, const std::wstring& more) {
  constexpr std::size_t kCapacity = platform::kMaxPath - 1;
  if (text.size() >= kCapacity) {
    text.resize(kCapacity);
    return;
  }
  text.append(more, 0, kCapacity - text.size());
}

std::wstring Joined(const std::wstring& first, const std::wstring& second) {
  std::wstring joined;
  AppendCut(joined, first);
  AppendCut(joined, second);
  return joined;
}

// The download's body goes chunk by chunk into the download file; any
// failure ends the download.
class DownloadFileWriter final : public BodyReceiver {
 public:
  DownloadFileWriter(FileSystem& files, platform::FileHandle file) : files_(files), file_(file) {}

  bool QueryFailed() override {
    LogCodeWithLastError(MessageCode::DownloadQueryAvailableFailed);
    return false;
  }
  void OutOfMemory() override {
    platform::SetLastError(platform::error::kNotEnoughMemory);
    LogCodeWithLastError(MessageCode::DownloadChunkOutOfMemory);
  }
  bool ReadFailed() override {
    LogCodeWithLastError(MessageCode::DownloadReadFailed);
    return false;
  }
  bool Chunk(const char* data, std::uint32_t size) override {
    if (!files_.Write(file_, data, size)) {
      LogCodeWithLastError(MessageCode::DownloadWriteFailed);
      return false;
    }
    return true;
  }

 private:
  FileSystem& files_;
  platform::FileHandle file_;
};

// Removes the download file and then its folder; a failure of either is
// logged as a warning and the rest goes on.
void RemoveDownload(FileSystem& files, const std::wstring& downloadFile, const std::wstring& folder) {
  if (!files.RemoveFile(downloadFile)) LogCodeWithLastError(MessageCode::DownloadFileDeleteFailed);
  if (!files.RemoveFolder(folder)) LogCodeWithLastError(MessageCode::DownloadFolderRemoveFailed);
}

// The folder name of the download: the temporary path and a new GUID's text,
// or else the name of a fresh temporary file with the fallback prefix, which
// is deleted so that the name can serve. Empty, with the failure logged,
// when neither can be had.
std::wstring DownloadFolderName(const std::wstring& tempPath) {
  platform::TempNames& names = platform::Seam<platform::TempNames>::Get();
  platform::StepOr<platform::Guid> guid = names.CreateGuid();
  if (guid) {
    const std::wstring text = names.GuidText(guid.value);
    if (!text.empty()) return Joined(tempPath, text);
    LogCode(MessageCode::GuidTextFailed);
  }
  LogCode(MessageCode::GuidFolderFallback);
  platform::StepOr<std::wstring> file = names.CreateTempFile(tempPath, kFallbackFolderPrefix);
  if (!file) {
    LogCodeWithLastError(MessageCode::DownloadTempFileNameFailed);
    return std::wstring();
  }
  if (!platform::Seam<FileSystem>::Get().RemoveFile(file.value)) {
    LogCodeWithLastError(MessageCode::DownloadTempFileDeleteFailed);
    return std::wstring();
  }
  return file.value;
}

// Writes the verified content as the installer file, in one write.
bool WriteInstallerFile(const std::uint8_t* content, std::size_t length) {
  FileSystem& files = platform::Seam<FileSystem>::Get();
  platform::ScopedFile installer(files);
  platform::StepOr<platform::FileHandle> created = files.CreateForWriting(kInstallerFileName);
  if (!created) {
    LogCodeWithLastError(MessageCode::InstallerFileCreateFailed);
    return false;
  }
  installer.Reset(created.value);
  // The content lies inside the package, which is below 4 GiB.
  if (!files.Write(installer.Get(), content, static_cast<std::uint32_t>(length))) {
    LogCodeWithLastError(MessageCode::InstallerFileWriteFailed);
    return false;  // the scope closes the file; the partly written file stays
  }
  if (!installer.Close()) LogCodeWithLastError(MessageCode::InstallerFileCloseFailed);
  return true;
}

}  // namespace

bool ReadWholeFile(const std::wstring& path, std::unique_ptr<std::uint8_t[]>& buffer, std::size_t& size) {
  buffer.reset();
  size = 0;
  FileSystem& files = platform::Seam<FileSystem>::Get();
  platform::ScopedFile file(files);
  platform::StepOr<platform::FileHandle> opened = files.OpenForReading(path);
  if (!opened) return false;
  file.Reset(opened.value);

  platform::StepOr<std::uint32_t> fileSize = files.FileSize(file.Get());
  if (!fileSize || fileSize.value == 0) return false;
  const std::uint32_t total = fileSize.value;
  std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[total]);
  if (!bytes) return false;

  std::uint32_t done = 0;
  while (done < total) {
    platform::StepOr<std::uint32_t> read = files.Read(file.Get(), bytes.get() + done, total - done);
    if (!read || read.value == 0) break;
    done += read.value <= total - done ? read.value : total - done;
  }
  if (done < total) return false;
  buffer = std::move(bytes);
  size = total;
  return true;
}

bool DownloadPackage(const PackageSource& source) {
  // Declared first, so that it restores the failure's error last.
  FailureError failure;
  platform::HttpClient& http = platform::Seam<platform::HttpClient>::Get();
  FileSystem& files = platform::Seam<FileSystem>::Get();
  const std::uint64_t startedAt = platform::Seam<platform::SteadyClock>::Get().NowMilliseconds();

  // Declared in this order so that they close as request, connection, session.
  platform::ScopedHttpHandle<platform::HttpSession> session(http);
  platform::ScopedHttpHandle<platform::HttpConnection> connection(http);
  platform::ScopedHttpHandle<platform::HttpRequest> request(http);
  {
    // The first step that fails ends the download with its error.
    auto opened = http.OpenSession(kInstallerUserAgent);
    if (opened) session.Reset(opened.value);
    auto connected = session ? http.Connect(session.Get(), source.host, source.port)
                             : platform::StepOr<platform::HttpConnection>::Failure(0);
    if (connected) connection.Reset(connected.value);
    auto requested = connection ? http.OpenRequest(connection.Get(), L"GET", source.path, false)
                                : platform::StepOr<platform::HttpRequest>::Failure(0);
    if (requested) request.Reset(requested.value);
    // No status code is asked for: whatever body arrives is downloaded and
    // left to the verification, an error page's too.
    if (!request || !http.SendRequest(request.Get()) || !http.ReceiveResponse(request.Get())) {
      LogCodeWithLastError(MessageCode::DownloadRequestFailed);
      return failure.Fail();
    }
  }

  platform::StepOr<std::wstring> tempPath = platform::Seam<platform::TempNames>::Get().TempFolderPath();
  if (!tempPath) {
    LogCodeWithLastError(MessageCode::DownloadTempPathFailed);
    return failure.Fail();
  }
  const std::wstring folder = DownloadFolderName(tempPath.value);
  if (folder.empty()) return failure.Fail();
  const std::wstring downloadFile = Joined(Joined(folder, std::wstring(1, platform::kWidePathSeparator)),
                                           kDownloadFileName);

  if (!files.CreateFolder(folder)) {
    LogCodeWithLastError(MessageCode::DownloadFolderCreateFailed);
    return failure.Fail();
  }
  platform::ScopedFile download(files);
  {
    platform::StepOr<platform::FileHandle> created = files.CreateForWriting(downloadFile);
    if (!created) {
      LogCodeWithLastError(MessageCode::DownloadFileCreateFailed);
      failure.Fail();
      if (!files.RemoveFolder(folder)) LogCodeWithLastError(MessageCode::DownloadFolderRemoveFailed);
      return false;
    }
    download.Reset(created.value);
  }

  DownloadFileWriter writer(files, download.Get());
  const BodyEnd end = ReadResponseBody(http, request.Get(), source.limits, startedAt, writer);
  if (end != BodyEnd::Complete) {
    // The loop set the error of its bounds; the writer logged the others.
    if (end == BodyEnd::TooLarge) LogCodeWithLastError(MessageCode::DownloadChunkOutOfMemory);
    if (end == BodyEnd::Late) LogCodeWithLastError(MessageCode::DownloadReadFailed);
    failure.Fail();
    download.Close();
    request.Close();
    connection.Close();
    session.Close();
    RemoveDownload(files, downloadFile, folder);
    return false;
  }

  if (!download.Close()) LogCodeWithLastError(MessageCode::DownloadFileCloseFailed);
  request.Close();
  connection.Close();
  session.Close();

  // A file that cannot be read back leaves an empty package, which the
  // verification refuses.
  std::unique_ptr<std::uint8_t[]> package;
  std::size_t packageSize = 0;
  ReadWholeFile(downloadFile, package, packageSize);
  RemoveDownload(files, downloadFile, folder);
  // From here on the package exists only in memory.

  std::unique_ptr<SignatureVerifier> verifier(new (std::nothrow)
                                                  SignatureVerifier(BuiltInCaCertificate, BuiltInCaCertificateLength));
  if (!verifier) {
    platform::SetLastError(platform::error::kNotEnoughMemory);
    LogCodeWithLastError(MessageCode::PackageVerificationFailed);
    return failure.Fail();
  }
  std::unique_ptr<std::uint8_t[]> content;
  std::size_t contentLength = 0;
  if (!verifier->VerifyPackageSignature(package.get(), packageSize, content, contentLength)) {
    LogCodeWithLastError(MessageCode::PackageVerificationFailed);
    return failure.Fail();
  }
  package.reset();
  if (!WriteInstallerFile(content.get(), contentLength)) return failure.Fail();
  return true;
}

bool DownloadInstaller(Flavour flavour) {
  const wchar_t* path = nullptr;
  switch (flavour) {
    case kFlavourActiveX:
      path = kActiveXPackagePath;
      LogCode(MessageCode::ActiveXDownloadStarted);
      break;
    case kFlavourPlugin:
      path = kPluginPackagePath;
      LogCode(MessageCode::PluginDownloadStarted);
      break;
    default:
      LogCode(MessageCode::UnknownFlavour);
      return false;
  }
  // A copy of the host, taken for this connection.
  return DownloadPackage(PackageSource{DownloadServerHost, kPackagePort, path, kPackageLimits});
}

bool LaunchInstaller(std::wstring& commandLine) {
  platform::StepOr<std::wstring> installer =
      platform::Seam<platform::ProcessPaths>::Get().FullPathName(kInstallerFileName);
  const bool started =
      installer && platform::Seam<platform::ProcessLauncher>::Get()
                       .StartProcess(installer.value, commandLine,
                                     platform::process_flags::kCreateDefaultErrorMode |
                                         platform::process_flags::kDetachedProcess)
                       .ok;
  if (started) {
    LogCode(MessageCode::InstallerStarted);
  } else {
    LogCodeWithLastError(MessageCode::InstallerLaunchFailed);
  }
  return started;
}

bool InstallComponent(const std::unique_ptr<ComponentVersion>& version) {
  if (!DownloadInstaller(version ? version->flavour : 0)) return false;
  std::wstring commandLine;
  try {
    commandLine = kInstallerCommandLine;
  } catch (const std::bad_alloc&) {
    platform::SetLastError(platform::error::kNotEnoughMemory);
    LogCodeWithLastError(MessageCode::CommandLineOutOfMemory);
    return false;
  }
  return LaunchInstaller(commandLine);
}
