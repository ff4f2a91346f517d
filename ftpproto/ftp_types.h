// Types shared by the FTP protocol component and its callers.
#pragma once

#include <cstdint>
#include <optional>

namespace tarnex {

// What a download knows beyond its two names.
struct DownloadOptions {
  // The size a listing gave (mget, mirror): the download is held to it, and SIZE is not asked.
  std::optional<int64_t> listed_size;
  // The local name is one the server chose (a listing's entry), so it must not lead through a
  // link or into a device; a download without a local name counts as such by itself.
  bool name_from_server = false;
};

// Which operation a success, failure or unsupported-function event belongs to.
enum class TCmdType {
  cmdChangeDir = 0,
  cmdMakeDir = 1,
  cmdDelete = 2,
  cmdRemoveDir = 3,
  cmdList = 4,
  cmdRename = 5,
  cmdTransfer = 9,
  cmdAppend = 10,
  cmdOther = 14,
  cmdPrintDir = 15,
};

// How file names reach the server: as the script has them, converted to UTF-8, or UTF-8 when
// the server's FEAT lists it.
enum class RemoteEncoding { Cp932, Utf8, Auto };

// FTPS: none, "AUTH TLS" after the greeting, or TLS from the first byte (port 990).
enum class TlsMode { Off, Explicit, Implicit };

// What carries a session: FTP (with or without TLS), or SFTP over OpenSSH's own client.
enum class RemoteProtocol { Ftp, Sftp };

// What a LIST names: what the server shows by default, or with "LIST -a" the entries whose
// names begin with "." too (many servers leave them out unless asked; some take "-a" for a
// name instead, so it is never sent unless asked for).
enum class ListScope { Visible, WithHidden };

// What a resumed transfer (reget, reput) found to do.
enum class ResumeOutcome { Transferred, AlreadyComplete };

// How a proxy or firewall is told the real host.
enum class TFirewallType { FTUser = 0, FtOpen = 1, FtSite = 2 };

// Transfer types of SetTransferType.
inline constexpr int tmAscii = 1;
inline constexpr int tmImage = 2;
inline constexpr int tmLocal8 = 3;

// Server systems found by SYST; kVendorUnknown until the first parsed listing asks.
inline constexpr int kVendorUnix = 2400;
inline constexpr int kVendorDos = 2401;
inline constexpr int kVendorVm = 2402;
inline constexpr int kVendorMacOs = 2404;
inline constexpr int kVendorVms = 2406;
inline constexpr int kVendorMvs = 2408;
inline constexpr int kVendorOther = 2410;
inline constexpr int kVendorUnknown = 2411;
inline constexpr int kVendorOs400 = 2414;
inline constexpr int kVendorNetware = 2416;

}  // namespace tarnex
