#include "platform/posix/registry_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/errors_posix.h"
#include "platform/seam.h"

namespace platform::posix {
namespace fs = std::filesystem;

namespace {

constexpr char kMagic[4] = {'V', 'X', 'R', 'V'};
constexpr std::size_t kHeaderSize = 8;
constexpr char kKeySuffix[] = ".key";
constexpr char kValueSuffix[] = ".value";

Step Fail(ErrorNumber e) {
  SetLastError(e);
  return Step::Failure(e);
}

template <class T>
StepOr<T> FailWith(ErrorNumber e) {
  SetLastError(e);
  return StepOr<T>::Failure(e);
}

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The file-name form of a key or value name (see the header); false for a
// name holding something that is no Unicode character.
bool EncodeName(const std::wstring& name, std::string& out) {
  static const char kHex[] = "0123456789ABCDEF";
  out.clear();
  for (wchar_t w : name) {
    const auto c = static_cast<char32_t>(w);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= U'A' && c <= U'Z') {
      out += static_cast<char>(c - U'A' + U'a');
    } else if ((c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9') || c == U'-' || c == U'_') {
      out += static_cast<char>(c);
    } else {
      std::string utf8;
      AppendUtf8(c, utf8);
      for (unsigned char b : utf8) {
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
      }
    }
  }
  return true;
}

// The folder of key `subkey` below the hive folder. Components are separated
// by backslashes; one trailing backslash is allowed, other empty components
// are not.
StepOr<fs::path> KeyFolder(const fs::path& hive, const std::wstring& subkey) {
  fs::path folder = hive;
  std::wstring path = subkey;
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  if (path.empty()) return StepOr<fs::path>::Success(folder);
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find(L'\\', start);
    const std::wstring component = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    std::string encoded;
    if (component.empty() || !EncodeName(component, encoded)) {
      return FailWith<fs::path>(error::kBadPathname);
    }
    folder /= encoded + kKeySuffix;
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return StepOr<fs::path>::Success(folder);
}

StepOr<fs::path> ValuePath(const fs::path& folder, const std::wstring& name) {
  std::string encoded;
  if (!EncodeName(name, encoded)) return FailWith<fs::path>(error::kInvalidParameter);
  return StepOr<fs::path>::Success(folder / (encoded + kValueSuffix));
}

// A key exists when its folder does; anything in the way of the path (a
// missing folder, a file where a folder should be) means "no such key".
Step CheckKeyFolder(const fs::path& folder, RegistryAccess access) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Fail(error::kFileNotFound);
    return FailFromErrno();
  }
  if (!S_ISDIR(st.st_mode)) return Fail(error::kFileNotFound);
  const int mode = access == RegistryAccess::kRead ? (R_OK | X_OK) : (W_OK | X_OK);
  if (::access(folder.c_str(), mode) != 0) return FailFromErrno();
  return Step::Success();
}

Step SyncFolder(const fs::path& folder);

// Makes the folder unless it is there already; a new one reaches the disk
// in its parent's entries too.
Step MakeFolder(const fs::path& folder) {
  if (::mkdir(folder.c_str(), 0755) == 0) return SyncFolder(folder.has_parent_path() ? folder.parent_path() : ".");
  if (errno != EEXIST) return FailFromErrno();
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return FailFromErrno();
  if (!S_ISDIR(st.st_mode)) return Fail(error::kAccessDenied);
  return Step::Success();
}

Step SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FailFromErrno();
  const int rc = ::fsync(fd);
  const Step step = rc == 0 ? Step::Success() : FailFromErrno();
  ::close(fd);
  return step;
}

bool WriteAll(int fd, const char* p, std::size_t left) {
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Reads exactly `size` bytes; false (errno set) on an error or an early end.
bool ReadAll(int fd, char* p, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now; false (errno set) when close reports an error.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace

PosixRegistry::PosixRegistry(fs::path root) : hive_(std::move(root) / "HKEY_LOCAL_MACHINE") {}

StepOr<RegistryKeyHandle> PosixRegistry::Register(fs::path folder, RegistryAccess access) {
  std::lock_guard<std::mutex> lock(mutex_);
  const RegistryKeyHandle handle = next_++;
  open_.emplace(handle, OpenEntry{std::move(folder), access});
  return StepOr<RegistryKeyHandle>::Success(handle);
}

StepOr<fs::path> PosixRegistry::FolderOf(RegistryKeyHandle key, RegistryAccess access) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = open_.find(key);
  if (it == open_.end()) return FailWith<fs::path>(error::kInvalidHandle);
  if (it->second.access != access) return FailWith<fs::path>(error::kAccessDenied);
  return StepOr<fs::path>::Success(it->second.folder);
}

StepOr<RegistryKeyHandle> PosixRegistry::OpenKey(const std::wstring& subkey, RegistryAccess access) {
  StepOr<fs::path> folder = KeyFolder(hive_, subkey);
  if (!folder) return StepOr<RegistryKeyHandle>::Failure(folder.error);
  const Step exists = CheckKeyFolder(folder.value, access);
  if (!exists) return StepOr<RegistryKeyHandle>::Failure(exists.error);
  return Register(std::move(folder.value), access);
}

StepOr<RegistryKeyHandle> PosixRegistry::CreateKey(const std::wstring& subkey) {
  StepOr<fs::path> folder = KeyFolder(hive_, subkey);
  if (!folder) return StepOr<RegistryKeyHandle>::Failure(folder.error);
  // Every missing folder from the top down, the store's own root included;
  // each mkdir either makes a whole key or none.
  std::vector<fs::path> missing;
  for (fs::path p = folder.value; !p.empty(); p = p.parent_path()) {
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) break;
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    const Step made = MakeFolder(*it);
    if (!made) return StepOr<RegistryKeyHandle>::Failure(made.error);
  }
  const Step usable = CheckKeyFolder(folder.value, RegistryAccess::kSetValue);
  if (!usable) return StepOr<RegistryKeyHandle>::Failure(usable.error);
  return Register(std::move(folder.value), RegistryAccess::kSetValue);
}

StepOr<QueriedValue> PosixRegistry::QueryValue(RegistryKeyHandle key, const std::wstring& name, void* buffer,
                                               std::uint32_t size) {
  StepOr<fs::path> folder = FolderOf(key, RegistryAccess::kRead);
  if (!folder) return StepOr<QueriedValue>::Failure(folder.error);
  StepOr<fs::path> path = ValuePath(folder.value, name);
  if (!path) return StepOr<QueriedValue>::Failure(path.error);

  FileDescriptor file(::open(path.value.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return FailWith<QueriedValue>(error::kFileNotFound);
    const Step failed = FailFromErrno();
    return StepOr<QueriedValue>::Failure(failed.error);
  }
  struct stat st {};
  if (::fstat(file.Get(), &st) != 0) {
    const Step failed = FailFromErrno();
    return StepOr<QueriedValue>::Failure(failed.error);
  }
  if (!S_ISREG(st.st_mode)) return FailWith<QueriedValue>(error::kRegistryCorrupt);
  char header[kHeaderSize];
  if (static_cast<std::uintmax_t>(st.st_size) < kHeaderSize || !ReadAll(file.Get(), header, kHeaderSize) ||
      std::memcmp(header, kMagic, sizeof kMagic) != 0) {
    return FailWith<QueriedValue>(error::kRegistryCorrupt);
  }
  const std::uintmax_t dataSize = static_cast<std::uintmax_t>(st.st_size) - kHeaderSize;
  if (dataSize > size) return FailWith<QueriedValue>(error::kMoreData);
  if (dataSize > 0 && (buffer == nullptr || !ReadAll(file.Get(), static_cast<char*>(buffer), dataSize))) {
    return FailWith<QueriedValue>(buffer == nullptr ? error::kInvalidParameter : error::kReadFault);
  }
  QueriedValue value;
  value.type = static_cast<std::uint32_t>(static_cast<unsigned char>(header[4])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(header[5])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(header[6])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(header[7])) << 24;
  value.size = static_cast<std::uint32_t>(dataSize);
  return StepOr<QueriedValue>::Success(value);
}

Step PosixRegistry::SetValue(RegistryKeyHandle key, const std::wstring& name, std::uint32_t type, const void* data,
                             std::uint32_t size) {
  StepOr<fs::path> folder = FolderOf(key, RegistryAccess::kSetValue);
  if (!folder) return Fail(folder.error);
  StepOr<fs::path> path = ValuePath(folder.value, name);
  if (!path) return Fail(path.error);
  if (data == nullptr && size != 0) return Fail(error::kInvalidParameter);

  std::string bytes(kMagic, sizeof kMagic);
  for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((type >> shift) & 0xFF);
  if (size != 0) bytes.append(static_cast<const char*>(data), size);

  // The new value goes into a temporary file beside the old one, reaches
  // the disk, and then takes the old one's name in one rename.
  std::string temp = (folder.value / ".tmp-value-XXXXXX").string();
  FileDescriptor file(::mkstemp(temp.data()));
  if (file.Get() < 0) return FailFromErrno();
  const auto discard = [&temp]() {
    const Step failed = FailFromErrno();
    ::unlink(temp.c_str());
    SetLastError(failed.error);
    return failed;
  };
  if (::fchmod(file.Get(), 0644) != 0 || !WriteAll(file.Get(), bytes.data(), bytes.size()) ||
      ::fsync(file.Get()) != 0 || !file.Close()) {
    return discard();
  }
  if (::rename(temp.c_str(), path.value.c_str()) != 0) return discard();
  return SyncFolder(folder.value);
}

Step PosixRegistry::DeleteValue(RegistryKeyHandle key, const std::wstring& name) {
  StepOr<fs::path> folder = FolderOf(key, RegistryAccess::kSetValue);
  if (!folder) return Fail(folder.error);
  StepOr<fs::path> path = ValuePath(folder.value, name);
  if (!path) return Fail(path.error);
  if (::unlink(path.value.c_str()) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Fail(error::kFileNotFound);
    return FailFromErrno();
  }
  return SyncFolder(folder.value);
}

Step PosixRegistry::CloseKey(RegistryKeyHandle key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_.erase(key) == 0) return Fail(error::kInvalidHandle);
  return Step::Success();
}

fs::path PosixRegistry::ValueFile(const std::wstring& subkey, const std::wstring& name) const {
  const ErrorNumber saved = LastError();
  StepOr<fs::path> folder = KeyFolder(hive_, subkey);
  StepOr<fs::path> path = folder ? ValuePath(folder.value, name) : StepOr<fs::path>::Failure(folder.error);
  SetLastError(saved);
  return path ? path.value : fs::path();
}

}  // namespace platform::posix

namespace platform {

template <>
Registry& PlatformDefault<Registry>() {
  static posix::PosixRegistry registry{std::filesystem::path(posix::kDefaultRegistryRoot)};
  return registry;
}

}  // namespace platform
