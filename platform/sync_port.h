#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/port.h"
#include "platform/port_owner.h"

namespace profile_import::platform {

// More of Windows' errors, as GetLastError gives them, each named once here
// (the Windows build checks every one against <windows.h>): a master copy's
// place reached, not reached now, or refusing the user.
inline constexpr PlatformError kErrorInvalidHandle = 6;         // ERROR_INVALID_HANDLE
inline constexpr PlatformError kErrorNotEnoughMemory = 8;       // ERROR_NOT_ENOUGH_MEMORY
inline constexpr PlatformError kErrorNotReady = 21;             // ERROR_NOT_READY
inline constexpr PlatformError kErrorLockViolation = 33;        // ERROR_LOCK_VIOLATION
inline constexpr PlatformError kErrorRemNotList = 51;           // ERROR_REM_NOT_LIST
inline constexpr PlatformError kErrorBadNetPath = 53;           // ERROR_BAD_NETPATH
inline constexpr PlatformError kErrorNetworkBusy = 54;          // ERROR_NETWORK_BUSY
inline constexpr PlatformError kErrorDevNotExist = 55;          // ERROR_DEV_NOT_EXIST
inline constexpr PlatformError kErrorAdapHdwErr = 57;           // ERROR_ADAP_HDW_ERR
inline constexpr PlatformError kErrorBadNetResp = 58;           // ERROR_BAD_NET_RESP
inline constexpr PlatformError kErrorUnexpNetErr = 59;          // ERROR_UNEXP_NET_ERR
inline constexpr PlatformError kErrorBadRemAdap = 60;           // ERROR_BAD_REM_ADAP
inline constexpr PlatformError kErrorNetnameDeleted = 64;       // ERROR_NETNAME_DELETED
inline constexpr PlatformError kErrorNetworkAccessDenied = 65;  // ERROR_NETWORK_ACCESS_DENIED
inline constexpr PlatformError kErrorBadNetName = 67;           // ERROR_BAD_NET_NAME
inline constexpr PlatformError kErrorTooManySess = 69;          // ERROR_TOO_MANY_SESS
inline constexpr PlatformError kErrorSharingPaused = 70;        // ERROR_SHARING_PAUSED
inline constexpr PlatformError kErrorReqNotAccep = 71;          // ERROR_REQ_NOT_ACCEP
inline constexpr PlatformError kErrorRedirPaused = 72;          // ERROR_REDIR_PAUSED
inline constexpr PlatformError kErrorInvalidPassword = 86;      // ERROR_INVALID_PASSWORD
inline constexpr PlatformError kErrorNetWriteFault = 88;        // ERROR_NET_WRITE_FAULT
inline constexpr PlatformError kErrorSemTimeout = 121;          // ERROR_SEM_TIMEOUT
inline constexpr PlatformError kErrorMoreData = 234;            // ERROR_MORE_DATA
inline constexpr PlatformError kErrorVcDisconnected = 240;      // ERROR_VC_DISCONNECTED
inline constexpr PlatformError kErrorDeletePending = 303;       // ERROR_DELETE_PENDING
inline constexpr PlatformError kErrorOperationAborted = 995;    // ERROR_OPERATION_ABORTED
inline constexpr PlatformError kErrorNotEnoughServerMemory =
    1130;                                                       // ERROR_NOT_ENOUGH_SERVER_MEMORY
inline constexpr PlatformError kErrorConnectionUnavail = 1201;  // ERROR_CONNECTION_UNAVAIL
inline constexpr PlatformError kErrorNoNetOrBadPath = 1203;     // ERROR_NO_NET_OR_BAD_PATH
inline constexpr PlatformError kErrorSessionCredentialConflict =
    1219;                                                       // ERROR_SESSION_CREDENTIAL_CONFLICT
inline constexpr PlatformError kErrorNoNetwork = 1222;          // ERROR_NO_NETWORK
inline constexpr PlatformError kErrorConnectionRefused = 1225;  // ERROR_CONNECTION_REFUSED
inline constexpr PlatformError kErrorGracefulDisconnect = 1226;     // ERROR_GRACEFUL_DISCONNECT
inline constexpr PlatformError kErrorConnectionInvalid = 1229;      // ERROR_CONNECTION_INVALID
inline constexpr PlatformError kErrorNetworkUnreachable = 1231;     // ERROR_NETWORK_UNREACHABLE
inline constexpr PlatformError kErrorHostUnreachable = 1232;        // ERROR_HOST_UNREACHABLE
inline constexpr PlatformError kErrorPortUnreachable = 1234;        // ERROR_PORT_UNREACHABLE
inline constexpr PlatformError kErrorRequestAborted = 1235;         // ERROR_REQUEST_ABORTED
inline constexpr PlatformError kErrorConnectionAborted = 1236;      // ERROR_CONNECTION_ABORTED
inline constexpr PlatformError kErrorRetry = 1237;                  // ERROR_RETRY
inline constexpr PlatformError kErrorConnectionCountLimit = 1238;   // ERROR_CONNECTION_COUNT_LIMIT
inline constexpr PlatformError kErrorLoginTimeRestriction = 1239;   // ERROR_LOGIN_TIME_RESTRICTION
inline constexpr PlatformError kErrorLoginWkstaRestriction = 1240;  // ERROR_LOGIN_WKSTA_RESTRICTION
inline constexpr PlatformError kErrorNotAuthenticated = 1244;       // ERROR_NOT_AUTHENTICATED
inline constexpr PlatformError kErrorServerShutdownInProgress =
    1255;                                                       // ERROR_SERVER_SHUTDOWN_IN_PROGRESS
inline constexpr PlatformError kErrorDowngradeDetected = 1265;  // ERROR_DOWNGRADE_DETECTED
inline constexpr PlatformError kErrorNoLogonServers = 1311;     // ERROR_NO_LOGON_SERVERS
inline constexpr PlatformError kErrorNoSuchLogonSession = 1312;    // ERROR_NO_SUCH_LOGON_SESSION
inline constexpr PlatformError kErrorNoSuchUser = 1317;            // ERROR_NO_SUCH_USER
inline constexpr PlatformError kErrorWrongPassword = 1323;         // ERROR_WRONG_PASSWORD
inline constexpr PlatformError kErrorLogonFailure = 1326;          // ERROR_LOGON_FAILURE
inline constexpr PlatformError kErrorAccountRestriction = 1327;    // ERROR_ACCOUNT_RESTRICTION
inline constexpr PlatformError kErrorInvalidLogonHours = 1328;     // ERROR_INVALID_LOGON_HOURS
inline constexpr PlatformError kErrorInvalidWorkstation = 1329;    // ERROR_INVALID_WORKSTATION
inline constexpr PlatformError kErrorPasswordExpired = 1330;       // ERROR_PASSWORD_EXPIRED
inline constexpr PlatformError kErrorAccountDisabled = 1331;       // ERROR_ACCOUNT_DISABLED
inline constexpr PlatformError kErrorCantAccessDomainInfo = 1351;  // ERROR_CANT_ACCESS_DOMAIN_INFO
inline constexpr PlatformError kErrorNoSuchDomain = 1355;          // ERROR_NO_SUCH_DOMAIN
inline constexpr PlatformError kErrorLogonTypeNotGranted = 1385;   // ERROR_LOGON_TYPE_NOT_GRANTED
inline constexpr PlatformError kErrorNoUserSessionKey = 1394;      // ERROR_NO_USER_SESSION_KEY
inline constexpr PlatformError kErrorWrongTargetName = 1396;       // ERROR_WRONG_TARGET_NAME
inline constexpr PlatformError kErrorTimeSkew = 1398;              // ERROR_TIME_SKEW
inline constexpr PlatformError kErrorTimeout = 1460;               // ERROR_TIMEOUT
inline constexpr PlatformError kRpcServerUnavailable = 1722;       // RPC_S_SERVER_UNAVAILABLE
inline constexpr PlatformError kRpcCallFailedDne = 1727;           // RPC_S_CALL_FAILED_DNE
inline constexpr PlatformError kErrorNoTrustLsaSecret = 1786;      // ERROR_NO_TRUST_LSA_SECRET
inline constexpr PlatformError kErrorNoTrustSamAccount = 1787;     // ERROR_NO_TRUST_SAM_ACCOUNT
inline constexpr PlatformError kErrorTrustedDomainFailure = 1788;  // ERROR_TRUSTED_DOMAIN_FAILURE
inline constexpr PlatformError kErrorTrustedRelationshipFailure =
    1789;                                                  // ERROR_TRUSTED_RELATIONSHIP_FAILURE
inline constexpr PlatformError kErrorTrustFailure = 1790;  // ERROR_TRUST_FAILURE
inline constexpr PlatformError kErrorNetlogonNotStarted = 1792;  // ERROR_NETLOGON_NOT_STARTED
inline constexpr PlatformError kErrorAccountExpired = 1793;      // ERROR_ACCOUNT_EXPIRED
inline constexpr PlatformError kErrorDomainTrustInconsistent =
    1810;                                                        // ERROR_DOMAIN_TRUST_INCONSISTENT
inline constexpr PlatformError kErrorPasswordMustChange = 1907;  // ERROR_PASSWORD_MUST_CHANGE
inline constexpr PlatformError kErrorDomainControllerNotFound =
    1908;                                                      // ERROR_DOMAIN_CONTROLLER_NOT_FOUND
inline constexpr PlatformError kErrorAccountLockedOut = 1909;  // ERROR_ACCOUNT_LOCKED_OUT
inline constexpr PlatformError kErrorContextExpired = 1931;    // ERROR_CONTEXT_EXPIRED
inline constexpr PlatformError kErrorAuthenticationFirewallFailed =
    1935;                                                  // ERROR_AUTHENTICATION_FIREWALL_FAILED
inline constexpr PlatformError kErrorNotConnected = 2250;  // ERROR_NOT_CONNECTED
inline constexpr std::uint32_t kRegDword = 4;              // REG_DWORD
inline constexpr std::uint32_t kRegQword = 11;             // REG_QWORD
inline constexpr std::uint32_t kRegMultiSz = 7;            // REG_MULTI_SZ
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;  // FILE_ATTRIBUTE_DIRECTORY
inline constexpr std::uint32_t kFileAttributeOffline = 0x1000;  // FILE_ATTRIBUTE_OFFLINE
// A file whose data a tiering or cloud driver fetches when it is opened or
// read (FILE_ATTRIBUTE_RECALL_ON_OPEN, _ON_DATA_ACCESS: newer than MinGW's headers).
inline constexpr std::uint32_t kFileAttributeRecall = 0x40000 | 0x400000;
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
// How GetFileInformationByHandleEx(FileRemoteProtocolInfo) says a file on a
// share was reached, from Windows 8 on: encrypted, signed, or with a server
// that proved who it is (REMOTE_PROTOCOL_INFO_FLAG_PRIVACY, _INTEGRITY,
// _MUTUAL_AUTH: newer than MinGW's headers).
inline constexpr std::uint32_t kRemoteProtocolPrivacy = 0x08;
inline constexpr std::uint32_t kRemoteProtocolIntegrity = 0x10;
inline constexpr std::uint32_t kRemoteProtocolMutualAuth = 0x20;
// GetDriveTypeW's answers for disks of the machine's own.
inline constexpr std::uint32_t kDriveFixed = 3;    // DRIVE_FIXED
inline constexpr std::uint32_t kDriveRamDisk = 6;  // DRIVE_RAMDISK

// The registry roots profile-sync reads from.
enum class Root {
  CurrentUser,   // HKEY_CURRENT_USER
  LocalMachine,  // HKEY_LOCAL_MACHINE, the 64-bit view on 64-bit Windows
};

struct ValueResult {
  PlatformError error{};
  std::uint32_t type{};
  std::size_t size{};  // bytes of data, also when they did not fit (kErrorMoreData)
};

struct AttributesResult {
  PlatformError error{};  // kSuccess when the attributes were read
  std::uint32_t attributes{kInvalidFileAttributes};
};

// A thread's handle, as CreateThread gives it.
enum class RawThread : std::uintptr_t {};
inline constexpr RawThread kNoThread{0};

struct FileTail {
  std::uint64_t last_write_time{};  // FILETIME; 0 when the file cannot be read
  std::size_t size{};               // bytes read into the buffer
};

struct RemoteProtocol {
  PlatformError error{};  // kSuccess when the redirector answered
  std::uint32_t flags{};
};

// How a line for the log went.
enum class LogWrite {
  Written,
  Failed,
  Link,  // the folder or the file is a link, or the file has other names: not written
};

// Where a record goes, and how bad it is.
enum class EventSeverity { Information, Warning, Error };

// The calls profile-sync makes beyond the importer's, one method per Windows
// call or small fixed sequence of them, so that a fake can fail any one.
class SyncPort : public Port {
 public:
  // GetCommandLineW.
  virtual const char16_t* getCommandLine() = 0;
  // SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX): no box for
  // a drive or share that is not ready.
  virtual void setErrorMode() = 0;
  // GetEnvironmentVariableW: the value's length in code units, 0 when unset
  // or when it does not fit.
  virtual std::size_t getEnvironmentVariable(const char16_t* name, std::span<char16_t> out) = 0;
  // GetSystemTimeAsFileTime: 100 ns units since 1601, UTC.
  virtual std::uint64_t getSystemTimeAsFileTime() = 0;
  // GetTickCount64: milliseconds since the machine started.
  virtual std::uint64_t getTickCount64() = 0;
  virtual void sleep(std::uint32_t milliseconds) = 0;

  // CreateThread running `work(context)`: kNoThread when none can be made.
  virtual RawThread createThread(void (*work)(void*), void* context) = 0;
  // WaitForSingleObject on the thread: true once it has ended.
  virtual bool waitForThread(RawThread thread, std::uint32_t milliseconds) = 0;
  // CancelSynchronousIo: ends the open or read the thread is blocked in, if any.
  virtual void cancelSynchronousIo(RawThread thread) = 0;
  // CloseHandle of a thread's handle.
  virtual void closeThread(RawThread thread) = 0;

  // Makes `folder` if it is not there (CreateDirectoryW), then opens `path`
  // (CreateFileW) for DELETE with no sharing, OPEN_ALWAYS, hidden and
  // FILE_FLAG_DELETE_ON_CLOSE: a lock that is the open itself, and goes with
  // the handle however the process ends. Neither the folder nor the file is
  // followed if it is a link (kErrorAccessDenied): a planted link would
  // have the lock's deletion remove what it points at.
  virtual FileResult createLockFile(const char16_t* folder, const char16_t* path) = 0;

  // CreateFileW by full path: GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
  // OPEN_EXISTING: others may read a master copy while it is read, nobody
  // may write it.
  virtual FileResult createFileForSharedReading(const char16_t* path) = 0;
  // ReadFile: one read of up to buffer.size() bytes, with the count read;
  // GetLastError's code when it failed.
  virtual PlatformError readFileCounted(RawFile file, std::span<std::uint8_t> buffer,
                                        std::size_t& read) = 0;
  // GetFileAttributesW.
  virtual AttributesResult getFileAttributes(const char16_t* path) = 0;
  // GetFileInformationByHandleEx(FileRemoteProtocolInfo): how the open
  // master's share was reached.
  virtual RemoteProtocol getRemoteProtocolInfo(RawFile file) = 0;
  // GetDriveTypeW of a drive's root, X:\.
  virtual std::uint32_t getDriveType(const char16_t* root) = 0;

  // RegOpenKeyExW for KEY_QUERY_VALUE only: nothing opened for writing.
  virtual KeyResult regOpenKeyForReading(Root root, const char16_t* path) = 0;
  // RegQueryValueExW into `data`.
  virtual ValueResult regQueryValueEx(RawKey key, const char16_t* name,
                                      std::span<std::byte> data) = 0;

  // RegDeleteValueW: kErrorFileNotFound when there was none.
  virtual PlatformError regDeleteValue(RawKey key, const char16_t* name) = 0;

  // Appends one line to the file at `path` (CreateFileW with FILE_APPEND_DATA
  // and full sharing, one WriteFile, CloseHandle), first making its folder
  // (CreateDirectoryW) and, when the file has grown past `limit` bytes
  // (GetFileSizeEx), renaming the open file over `rotated`
  // (SetFileInformationByHandle). The folder and the file are opened without
  // following links (GetFileInformationByHandle): a link in their place is
  // refused, not written through.
  virtual LogWrite appendLine(const char16_t* folder, const char16_t* path, const char16_t* rotated,
                              std::uint64_t limit, std::span<const std::uint8_t> line) = 0;
  // The file's last write time (GetFileAttributesExW) and, when it was
  // written at `written_since` or later, its last buffer.size() bytes or
  // fewer (CreateFileW for reading with full sharing, ReadFile at an offset,
  // CloseHandle). A time of 0 when it cannot be read.
  virtual FileTail readFileTail(const char16_t* path, std::uint64_t written_since,
                                std::span<std::uint8_t> buffer) = 0;
  // GetComputerNameW: the machine's name, which no user sets; its length in
  // code units, 0 when it cannot be read.
  virtual std::size_t getComputerName(std::span<char16_t> out) = 0;
  // GetStdHandle and, for a pipe or a file only (GetFileType), WriteFile.
  virtual void writeStandardOutput(std::span<const std::uint8_t> line) = 0;
  // Loads advapi32.dll only now, from the system folder only (LoadLibraryExW
  // with LOAD_LIBRARY_SEARCH_SYSTEM32, or by its full path where that flag is
  // not known; GetProcAddress) and reports one event to the Application log
  // (RegisterEventSourceW, ReportEventW with the user's SID when known,
  // DeregisterEventSource). False when any step failed.
  virtual bool reportEvent(const char16_t* source, EventSeverity severity, std::uint32_t event_id,
                           const Sid* user, std::span<const char16_t* const> strings) = 0;

  SyncPort(const SyncPort&) = delete;
  SyncPort& operator=(const SyncPort&) = delete;
  SyncPort(SyncPort&&) = delete;
  SyncPort& operator=(SyncPort&&) = delete;

 protected:
  SyncPort() = default;
  ~SyncPort() = default;
};

struct ThreadHandleTraits {
  using PortType = SyncPort;
  using Raw = RawThread;
  static constexpr Raw kInvalid = kNoThread;
  static void Close(SyncPort& port, Raw raw) { port.closeThread(raw); }
};

using PortOwnedThread = PortOwner<ThreadHandleTraits>;

}  // namespace profile_import::platform
