// The host build's registry: a persistent store of keys and values in a
// folder tree, so that what one process writes the next one reads.
//
// Layout below the store's root folder:
//   HKEY_LOCAL_MACHINE/<key>.key/<subkey>.key/.../<value>.value
// Each path component and value name is kept with its ASCII letters in lower
// case (names compare without regard to their case, as in the registry) and
// every character other than a-z, 0-9, '-' and '_' written as %XX for each
// byte of its UTF-8 form; so "LastUpdateCheck" is the file
// "lastupdatecheck.value", and the default (unnamed) value is ".value".
//
// A value file holds the four bytes "VXRV", the value's type as a 32-bit
// little-endian number, and then the value's bytes. A value is replaced by
// writing a fresh file beside it and renaming it over the old one, so each
// write is atomic: a reader, in this process or another, sees the old value
// or the new one, and after a crash one of the two is there. Files of any
// other shape in a key's folder are no values and are ignored.
//
// Keys created by the store get mode 0755 and values 0644: like the
// machine's registry, everyone may read the state and only its owner (the
// service's account) may change it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/registry.h"

namespace platform::posix {

// The store the product uses: the host's state folder for this program.
inline constexpr char kDefaultRegistryRoot[] = "/var/lib/vexel-player/registry";

class PosixRegistry final : public Registry {
 public:
  // A store rooted at `root`; nothing is created until a key is. The
  // product's one store is rooted at kDefaultRegistryRoot; tests construct
  // their own on a folder of their own.
  explicit PosixRegistry(std::filesystem::path root);

  StepOr<RegistryKeyHandle> OpenKey(const std::wstring& subkey, RegistryAccess access) override;
  StepOr<RegistryKeyHandle> CreateKey(const std::wstring& subkey) override;
  StepOr<QueriedValue> QueryValue(RegistryKeyHandle key, const std::wstring& name, void* buffer,
                                  std::uint32_t size) override;
  Step SetValue(RegistryKeyHandle key, const std::wstring& name, std::uint32_t type, const void* data,
                std::uint32_t size) override;
  Step DeleteValue(RegistryKeyHandle key, const std::wstring& name) override;
  Step CloseKey(RegistryKeyHandle key) override;

  // The file that holds value `name` of key `subkey`, whether or not it
  // exists; empty when a name cannot be stored. For tests and inspection.
  std::filesystem::path ValueFile(const std::wstring& subkey, const std::wstring& name) const;

 private:
  struct OpenEntry {
    std::filesystem::path folder;
    RegistryAccess access;
  };

  StepOr<RegistryKeyHandle> Register(std::filesystem::path folder, RegistryAccess access);
  // The folder of the open key `key` if it was opened with `access`.
  StepOr<std::filesystem::path> FolderOf(RegistryKeyHandle key, RegistryAccess access);

  const std::filesystem::path hive_;
  std::mutex mutex_;
  std::map<RegistryKeyHandle, OpenEntry> open_;
  RegistryKeyHandle next_ = 1;
};

}  // namespace platform::posix
