// Installing a flavour of the runtime: its signed installer package comes
// over plain HTTP from DownloadServerHost into a private temporary folder, is
// read back into memory and the temporary copy removed, is verified against
// the built-in authority, and the signed content is written out as
// "VexelPlayerInstaller.exe" in the current directory and started, detached,
// with "VexelPlayerInstaller.exe -install -iv 9".
//
// Every failure is written to the activity log where it happens; nothing is
// retried. A download that fails leaves neither its temporary folder nor
// its partial file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "transfer/response_body.h"
#include "update/component_version.h"

inline constexpr wchar_t kInstallerUserAgent[] = L"Download Vexel Player Installer/1.0";
inline constexpr wchar_t kActiveXPackagePath[] =
    L"/pub/vexelplayer/update/current/sau/11/beta/install/install_all_win_ax_sgn.z";
inline constexpr wchar_t kPluginPackagePath[] =
    L"/pub/vexelplayer/update/current/sau/11/beta/install/install_all_win_pl_sgn.z";
inline constexpr std::uint16_t kPackagePort = 80;

// The download's temporary names: the file inside the temporary folder, and
// the prefix of the fallback folder name.
inline constexpr wchar_t kDownloadFileName[] = L"vpi.tmp";
inline constexpr wchar_t kFallbackFolderPrefix[] = L"VPI";

// The installer, a bare name: it is written in the current directory (the
// system folder, for the service), replacing a file of that name.
inline constexpr wchar_t kInstallerFileName[] = L"VexelPlayerInstaller.exe";
inline constexpr wchar_t kInstallerCommandLine[] = L"VexelPlayerInstaller.exe -install -iv 9";

// The package is read back whole from its file, whose size counts in 32 bits.
static_assert(kPackageLimits.maxBodyBytes < 0xFFFFFFFFull, "a package must stay below 4 GiB");

// Downloads, verifies and writes the installer of the version's flavour and
// starts it. True when the installer process was started. Only the flavour
// is taken from the version; a missing version counts as no flavour (1200).
// On false the failure has been logged; the thread's last error is what the
// failing step left.
bool InstallComponent(const std::unique_ptr<ComponentVersion>& version);

// Logs the start of the flavour's download (1600, 1601), or 1200 and false
// for another flavour without touching network or disk, then downloads the
// flavour's package from {DownloadServerHost, 80, its path, kPackageLimits}.
// True when the installer file has been written.
bool DownloadInstaller(Flavour flavour);

// Where a package download goes and how long it may run. DownloadInstaller
// downloads from {DownloadServerHost, kPackagePort, the flavour's path,
// kPackageLimits}; tests point the same download at servers of their own.
struct PackageSource {
  std::wstring host;
  std::uint16_t port;
  std::wstring path;
  TransferLimits limits;
};

// Every step of DownloadInstaller after the choice of the path: the
// download into the temporary folder, the read-back and removal, the
// verification, and the writing of the installer file. True when the
// installer file has been written. A body past limits.maxBodyBytes ends as
// 1210 (error 8), one past limits.maxMilliseconds as 1211 (error 12002).
bool DownloadPackage(const PackageSource& source);

// Reads the whole file at `path` into a newly allocated buffer. True when
// every byte of its size (the low 32 bits) was read: `buffer` and `size`
// then hold them. False when the file cannot be opened, is empty, the buffer
// cannot be allocated, or a read fails or ends early; `buffer` is then null
// and `size` 0. Logs nothing.
bool ReadWholeFile(const std::wstring& path, std::unique_ptr<std::uint8_t[]>& buffer, std::size_t& size);

// Starts the installer file, "VexelPlayerInstaller.exe" in the current
// directory, by its full path and with `commandLine` as its command line,
// detached (CREATE_DEFAULT_ERROR_MODE | DETACHED_PROCESS), and does not wait
// for it. The program is named by its full path so that no other file of
// that name, found by the system's search for executables (the updater's
// own folder comes first there), runs instead of the verified one. Logs
// 1602 when it was started, else 1218 with the error; returns whether it
// was started.
bool LaunchInstaller(std::wstring& commandLine);
