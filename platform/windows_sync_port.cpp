#include "platform/windows_sync_port.h"

#include <windows.h>

#include "platform/ntdll_calls.h"

#include <array>
#include <bit>
#include <string_view>

namespace profile_import::platform {

// Every Windows number the portable code names, as <windows.h> has it.
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(kErrorNotReady == ERROR_NOT_READY);
static_assert(kErrorLockViolation == ERROR_LOCK_VIOLATION);
static_assert(kErrorRemNotList == ERROR_REM_NOT_LIST);
static_assert(kErrorBadNetPath == ERROR_BAD_NETPATH);
static_assert(kErrorNetworkBusy == ERROR_NETWORK_BUSY);
static_assert(kErrorDevNotExist == ERROR_DEV_NOT_EXIST);
static_assert(kErrorAdapHdwErr == ERROR_ADAP_HDW_ERR);
static_assert(kErrorBadNetResp == ERROR_BAD_NET_RESP);
static_assert(kErrorUnexpNetErr == ERROR_UNEXP_NET_ERR);
static_assert(kErrorBadRemAdap == ERROR_BAD_REM_ADAP);
static_assert(kErrorNetnameDeleted == ERROR_NETNAME_DELETED);
static_assert(kErrorNetworkAccessDenied == ERROR_NETWORK_ACCESS_DENIED);
static_assert(kErrorBadNetName == ERROR_BAD_NET_NAME);
static_assert(kErrorTooManySess == ERROR_TOO_MANY_SESS);
static_assert(kErrorSharingPaused == ERROR_SHARING_PAUSED);
static_assert(kErrorReqNotAccep == ERROR_REQ_NOT_ACCEP);
static_assert(kErrorRedirPaused == ERROR_REDIR_PAUSED);
static_assert(kErrorInvalidPassword == ERROR_INVALID_PASSWORD);
static_assert(kErrorNetWriteFault == ERROR_NET_WRITE_FAULT);
static_assert(kErrorSemTimeout == ERROR_SEM_TIMEOUT);
static_assert(kErrorMoreData == ERROR_MORE_DATA);
static_assert(kErrorVcDisconnected == ERROR_VC_DISCONNECTED);
static_assert(kErrorDeletePending == ERROR_DELETE_PENDING);
static_assert(kErrorOperationAborted == ERROR_OPERATION_ABORTED);
static_assert(kErrorNotEnoughServerMemory == ERROR_NOT_ENOUGH_SERVER_MEMORY);
static_assert(kErrorConnectionUnavail == ERROR_CONNECTION_UNAVAIL);
static_assert(kErrorNoNetOrBadPath == ERROR_NO_NET_OR_BAD_PATH);
static_assert(kErrorSessionCredentialConflict == ERROR_SESSION_CREDENTIAL_CONFLICT);
static_assert(kErrorNoNetwork == ERROR_NO_NETWORK);
static_assert(kErrorConnectionRefused == ERROR_CONNECTION_REFUSED);
static_assert(kErrorGracefulDisconnect == ERROR_GRACEFUL_DISCONNECT);
static_assert(kErrorConnectionInvalid == ERROR_CONNECTION_INVALID);
static_assert(kErrorNetworkUnreachable == ERROR_NETWORK_UNREACHABLE);
static_assert(kErrorHostUnreachable == ERROR_HOST_UNREACHABLE);
static_assert(kErrorPortUnreachable == ERROR_PORT_UNREACHABLE);
static_assert(kErrorRequestAborted == ERROR_REQUEST_ABORTED);
static_assert(kErrorConnectionAborted == ERROR_CONNECTION_ABORTED);
static_assert(kErrorRetry == ERROR_RETRY);
static_assert(kErrorConnectionCountLimit == ERROR_CONNECTION_COUNT_LIMIT);
static_assert(kErrorLoginTimeRestriction == ERROR_LOGIN_TIME_RESTRICTION);
static_assert(kErrorLoginWkstaRestriction == ERROR_LOGIN_WKSTA_RESTRICTION);
static_assert(kErrorNotAuthenticated == ERROR_NOT_AUTHENTICATED);
static_assert(kErrorServerShutdownInProgress == ERROR_SERVER_SHUTDOWN_IN_PROGRESS);
static_assert(kErrorDowngradeDetected == ERROR_DOWNGRADE_DETECTED);
static_assert(kErrorNoLogonServers == ERROR_NO_LOGON_SERVERS);
static_assert(kErrorNoSuchLogonSession == ERROR_NO_SUCH_LOGON_SESSION);
static_assert(kErrorNoSuchUser == ERROR_NO_SUCH_USER);
static_assert(kErrorWrongPassword == ERROR_WRONG_PASSWORD);
static_assert(kErrorLogonFailure == ERROR_LOGON_FAILURE);
static_assert(kErrorAccountRestriction == ERROR_ACCOUNT_RESTRICTION);
static_assert(kErrorInvalidLogonHours == ERROR_INVALID_LOGON_HOURS);
static_assert(kErrorInvalidWorkstation == ERROR_INVALID_WORKSTATION);
static_assert(kErrorPasswordExpired == ERROR_PASSWORD_EXPIRED);
static_assert(kErrorAccountDisabled == ERROR_ACCOUNT_DISABLED);
static_assert(kErrorCantAccessDomainInfo == ERROR_CANT_ACCESS_DOMAIN_INFO);
static_assert(kErrorNoSuchDomain == ERROR_NO_SUCH_DOMAIN);
static_assert(kErrorLogonTypeNotGranted == ERROR_LOGON_TYPE_NOT_GRANTED);
static_assert(kErrorNoUserSessionKey == ERROR_NO_USER_SESSION_KEY);
static_assert(kErrorWrongTargetName == ERROR_WRONG_TARGET_NAME);
static_assert(kErrorTimeSkew == ERROR_TIME_SKEW);
static_assert(kErrorTimeout == ERROR_TIMEOUT);
static_assert(kRpcServerUnavailable == RPC_S_SERVER_UNAVAILABLE);
static_assert(kRpcCallFailedDne == RPC_S_CALL_FAILED_DNE);
static_assert(kErrorNoTrustLsaSecret == ERROR_NO_TRUST_LSA_SECRET);
static_assert(kErrorNoTrustSamAccount == ERROR_NO_TRUST_SAM_ACCOUNT);
static_assert(kErrorTrustedDomainFailure == ERROR_TRUSTED_DOMAIN_FAILURE);
static_assert(kErrorTrustedRelationshipFailure == ERROR_TRUSTED_RELATIONSHIP_FAILURE);
static_assert(kErrorTrustFailure == ERROR_TRUST_FAILURE);
static_assert(kErrorNetlogonNotStarted == ERROR_NETLOGON_NOT_STARTED);
static_assert(kErrorAccountExpired == ERROR_ACCOUNT_EXPIRED);
static_assert(kErrorDomainTrustInconsistent == ERROR_DOMAIN_TRUST_INCONSISTENT);
static_assert(kErrorPasswordMustChange == ERROR_PASSWORD_MUST_CHANGE);
static_assert(kErrorDomainControllerNotFound == ERROR_DOMAIN_CONTROLLER_NOT_FOUND);
static_assert(kErrorAccountLockedOut == ERROR_ACCOUNT_LOCKED_OUT);
static_assert(kErrorContextExpired == ERROR_CONTEXT_EXPIRED);
static_assert(kErrorAuthenticationFirewallFailed == ERROR_AUTHENTICATION_FIREWALL_FAILED);
static_assert(kErrorNotConnected == ERROR_NOT_CONNECTED);
static_assert(kRegDword == REG_DWORD);
static_assert(kRegQword == REG_QWORD);
static_assert(kRegMultiSz == REG_MULTI_SZ);
static_assert(kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kDriveFixed == DRIVE_FIXED);
static_assert(kDriveRamDisk == DRIVE_RAMDISK);
static_assert(kRegSz == REG_SZ);
static_assert(kFileAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT);
static_assert(kFileAttributeOffline == FILE_ATTRIBUTE_OFFLINE);

namespace {

const wchar_t* Wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}

std::uint64_t Ticks(FILETIME time) {
  return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

// A handle this file opens and closes itself, held by the port's own owner,
// which closes it on every path.
PortOwnedFile Owned(Port& port, HANDLE handle) {
  return {port, std::bit_cast<RawFile>(handle)};
}
HANDLE Handle(const PortOwnedFile& file) {
  return std::bit_cast<HANDLE>(file.get());
}

// What the thread of createThread runs; kept beyond a deadline missed, since
// the thread may still read it.
struct Work {
  void (*work)(void*);
  void* context;
};
Work pending;  // zero until set: no bytes in the file

DWORD WINAPI RunWork(void* work) {
  const Work& what = *static_cast<const Work*>(work);
  what.work(what.context);
  return 0;
}

// Whether an open file or folder is what its name says: not a link, and a
// file with no other name (a hard link to a file elsewhere).
bool IsOwnEntry(HANDLE handle, bool folder) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(handle, &info) != FALSE &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
         ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder &&
         (folder || info.nNumberOfLinks == 1);
}

// Makes the folder profile-sync keeps its files in, and holds it open,
// without sharing its deletion, so that no one can put a link in its place
// while the file in it is opened; an invalid handle when it is a link.
HANDLE HoldOwnFolder(const char16_t* folder, bool& link) {
  ::CreateDirectoryW(Wide(folder), nullptr);  // there already, most of the time
  HANDLE held = ::CreateFileW(Wide(folder), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  link = held != INVALID_HANDLE_VALUE && !IsOwnEntry(held, true);
  if (link) {
    ::CloseHandle(held);
    held = INVALID_HANDLE_VALUE;
  }
  return held;
}

// The log, opened as itself even when it is a link: the caller refuses one.
HANDLE AppendTo(const char16_t* path) {
  return ::CreateFileW(
      Wide(path),
      FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Renames the open log over `rotated`: the file renamed is the one checked,
// whatever its name points at by then.
bool RenameOpen(HANDLE file, const char16_t* rotated) {
  constexpr std::size_t kNameUnits = 1024;
  struct {
    FILE_RENAME_INFO info;
    // cppcheck-suppress unusedStructMember ; room for the name that FileName begins
    std::array<wchar_t, kNameUnits> rest;
  } rename{};
  std::size_t length = 0;
  while (length < kNameUnits && rotated[length] != u'\0') {  // NOLINT(*-pointer-arithmetic)
    ++length;
  }
  if (length == kNameUnits) {
    return false;
  }
  rename.info.ReplaceIfExists = TRUE;  // NOLINT(cppcoreguidelines-pro-type-union-access)
  rename.info.FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
  wchar_t* name = &rename.info.FileName[0];
  for (std::size_t i = 0; i < length; ++i) {
    name[i] = static_cast<wchar_t>(rotated[i]);  // NOLINT(*-pointer-arithmetic)
  }
  return ::SetFileInformationByHandle(file, FileRenameInfo, &rename, sizeof(rename)) != FALSE;
}

// One write of the whole line: appends from two runs never interleave.
bool Append(HANDLE log, std::span<const std::uint8_t> line) {
  DWORD written = 0;
  return log != INVALID_HANDLE_VALUE &&
         ::WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) != FALSE;
}

using RegisterEventSourceFunction = HANDLE(WINAPI*)(LPCWSTR, LPCWSTR);
using ReportEventFunction = BOOL(WINAPI*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR*,
                                          LPVOID);
using DeregisterEventSourceFunction = BOOL(WINAPI*)(HANDLE);

template <typename Function>
Function Find(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

}  // namespace

const char16_t* WindowsSyncPort::getCommandLine() {
  return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}

void WindowsSyncPort::setErrorMode() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

std::size_t WindowsSyncPort::getEnvironmentVariable(const char16_t* name, std::span<char16_t> out) {
  const DWORD length = ::GetEnvironmentVariableW(Wide(name), reinterpret_cast<wchar_t*>(out.data()),
                                                 static_cast<DWORD>(out.size()));
  return length < out.size() ? length : 0;  // a value that does not fit counts as unset
}

std::uint64_t WindowsSyncPort::getSystemTimeAsFileTime() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

std::uint64_t WindowsSyncPort::getTickCount64() {
  return ::GetTickCount64();
}

void WindowsSyncPort::sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

RawThread WindowsSyncPort::createThread(void (*work)(void*), void* context) {
  pending = {work, context};
  return std::bit_cast<RawThread>(::CreateThread(nullptr, 0, RunWork, &pending, 0, nullptr));
}

bool WindowsSyncPort::waitForThread(RawThread thread, std::uint32_t milliseconds) {
  return ::WaitForSingleObject(std::bit_cast<HANDLE>(thread), milliseconds) == WAIT_OBJECT_0;
}

void WindowsSyncPort::cancelSynchronousIo(RawThread thread) {
  ::CancelSynchronousIo(std::bit_cast<HANDLE>(thread));
}

void WindowsSyncPort::closeThread(RawThread thread) {
  ::CloseHandle(std::bit_cast<HANDLE>(thread));
}

FileResult WindowsSyncPort::createLockFile(const char16_t* folder, const char16_t* path) {
  bool link = false;
  const PortOwnedFile held = Owned(core_, HoldOwnFolder(folder, link));
  if (!held) {
    return {kErrorAccessDenied, kStatusSuccess, kInvalidFile};
  }
  // A link in the lock's place is opened as itself, and only it would be deleted.
  const HANDLE file = ::CreateFileW(
      Wide(path), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return {static_cast<PlatformError>(::GetLastError()),
            static_cast<NtStatus>(::RtlGetLastNtStatus()), kInvalidFile};
  }
  if (!IsOwnEntry(file, false)) {
    ::CloseHandle(file);
    return {kErrorAccessDenied, kStatusSuccess, kInvalidFile};
  }
  return {kSuccess, kStatusSuccess, std::bit_cast<RawFile>(file)};
}

FileResult WindowsSyncPort::createFileForSharedReading(const char16_t* path) {
  // Others may read it meanwhile, and delete it or rename it away; nobody
  // may write it. (Renaming another file over it waits for this handle.)
  const HANDLE file = ::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return {static_cast<PlatformError>(::GetLastError()),
            static_cast<NtStatus>(::RtlGetLastNtStatus()), kInvalidFile};
  }
  return {kSuccess, kStatusSuccess, std::bit_cast<RawFile>(file)};
}

PlatformError WindowsSyncPort::readFileCounted(RawFile file, std::span<std::uint8_t> buffer,
                                               std::size_t& read) {
  DWORD count = 0;
  const bool done = ::ReadFile(std::bit_cast<HANDLE>(file), buffer.data(),
                               static_cast<DWORD>(buffer.size()), &count, nullptr) != FALSE;
  read = count;
  return done ? kSuccess : static_cast<PlatformError>(::GetLastError());
}

AttributesResult WindowsSyncPort::getFileAttributes(const char16_t* path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return {static_cast<PlatformError>(::GetLastError()), kInvalidFileAttributes};
  }
  return {kSuccess, attributes};
}

RemoteProtocol WindowsSyncPort::getRemoteProtocolInfo(RawFile file) {
  FILE_REMOTE_PROTOCOL_INFO info{};
  if (::GetFileInformationByHandleEx(std::bit_cast<HANDLE>(file), FileRemoteProtocolInfo, &info,
                                     sizeof(info)) == FALSE) {
    return {static_cast<PlatformError>(::GetLastError()), 0};
  }
  return {kSuccess, info.Flags};
}

std::uint32_t WindowsSyncPort::getDriveType(const char16_t* root) {
  return ::GetDriveTypeW(Wide(root));
}

KeyResult WindowsSyncPort::regOpenKeyForReading(Root root, const char16_t* path) {
  // Policies are shared between the registry's 32- and 64-bit views; asked
  // for the 64-bit one, the x86 build on 64-bit Windows reads the same key.
  const bool machine = root == Root::LocalMachine;
  HKEY key = nullptr;
  const LSTATUS error =
      ::RegOpenKeyExW(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, Wide(path), 0,
                      KEY_QUERY_VALUE | (machine ? KEY_WOW64_64KEY : 0), &key);
  return {error, error == ERROR_SUCCESS ? std::bit_cast<RawKey>(key) : kNoKey};
}

ValueResult WindowsSyncPort::regQueryValueEx(RawKey key, const char16_t* name,
                                             std::span<std::byte> data) {
  DWORD type = 0;
  auto size = static_cast<DWORD>(data.size());
  const LSTATUS error = ::RegQueryValueExW(std::bit_cast<HKEY>(key), Wide(name), nullptr, &type,
                                           reinterpret_cast<BYTE*>(data.data()), &size);
  return {error, type, size};
}

PlatformError WindowsSyncPort::regDeleteValue(RawKey key, const char16_t* name) {
  return ::RegDeleteValueW(std::bit_cast<HKEY>(key), Wide(name));
}

LogWrite WindowsSyncPort::appendLine(const char16_t* folder, const char16_t* path,
                                     const char16_t* rotated, std::uint64_t limit,
                                     std::span<const std::uint8_t> line) {
  bool link = false;
  const PortOwnedFile held = Owned(core_, HoldOwnFolder(folder, link));
  if (!held) {
    return link ? LogWrite::Link : LogWrite::Failed;
  }
  for (int opening = 0; opening < 2; ++opening) {
    const PortOwnedFile log = Owned(core_, AppendTo(path));
    if (!log) {
      return LogWrite::Failed;
    }
    if (!IsOwnEntry(Handle(log), false)) {
      return LogWrite::Link;
    }
    LARGE_INTEGER size{};
    // Rotated once at most: a second file past the limit is written anyway.
    if (opening == 1 || ::GetFileSizeEx(Handle(log), &size) == FALSE ||
        static_cast<std::uint64_t>(size.QuadPart) + line.size() <= limit ||
        !RenameOpen(Handle(log), rotated)) {
      return Append(Handle(log), line) ? LogWrite::Written : LogWrite::Failed;
    }
  }
  return LogWrite::Failed;
}

FileTail WindowsSyncPort::readFileTail(const char16_t* path, std::uint64_t written_since,
                                       std::span<std::uint8_t> buffer) {
  // Its time and size without a handle: a log older than asked is not read.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (::GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data) == FALSE) {
    return {};
  }
  const FileTail old{Ticks(data.ftLastWriteTime), 0};
  const std::uint64_t length = std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
  const std::uint64_t wanted = length < buffer.size() ? length : buffer.size();
  if (old.last_write_time < written_since) {
    return old;
  }
  const PortOwnedFile file =
      Owned(core_, ::CreateFileW(Wide(path), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  OVERLAPPED at{};
  // NOLINTBEGIN(cppcoreguidelines-pro-type-union-access): OVERLAPPED's offset is in a union
  at.Offset = static_cast<DWORD>(length - wanted);
  at.OffsetHigh = static_cast<DWORD>((length - wanted) >> 32);
  // NOLINTEND(cppcoreguidelines-pro-type-union-access)
  DWORD read = 0;
  if (!file ||
      ::ReadFile(Handle(file), buffer.data(), static_cast<DWORD>(wanted), &read, &at) == FALSE) {
    return old;
  }
  return {old.last_write_time, read};
}

std::size_t WindowsSyncPort::getComputerName(std::span<char16_t> out) {
  auto size = static_cast<DWORD>(out.size());
  return ::GetComputerNameW(reinterpret_cast<wchar_t*>(out.data()), &size) != FALSE ? size : 0;
}

void WindowsSyncPort::writeStandardOutput(std::span<const std::uint8_t> line) {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    return;
  }
  const DWORD type = ::GetFileType(out);
  if (type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK) {
    DWORD written = 0;
    ::WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
}

bool WindowsSyncPort::reportEvent(const char16_t* source, EventSeverity severity,
                                  std::uint32_t event_id, const Sid* user,
                                  std::span<const char16_t* const> strings) {
  // Loaded only for an event: the run that has nothing to do never loads it.
  // From the system folder only, never from the folder the program runs in
  // or the current one.
  HMODULE advapi32 = ::LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (advapi32 == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    // Windows 7 without the update that knows the flag: by its full path.
    std::array<wchar_t, MAX_PATH + 16> path{};
    const UINT length = ::GetSystemDirectoryW(path.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      return false;
    }
    constexpr std::wstring_view kName = L"\\advapi32.dll";
    for (std::size_t i = 0; i < kName.size(); ++i) {
      path[length + i] = kName[i];
    }
    advapi32 = ::LoadLibraryExW(path.data(), nullptr, 0);
  }
  if (advapi32 == nullptr) {
    return false;
  }
  const auto register_source = Find<RegisterEventSourceFunction>(advapi32, "RegisterEventSourceW");
  const auto report = Find<ReportEventFunction>(advapi32, "ReportEventW");
  const auto deregister = Find<DeregisterEventSourceFunction>(advapi32, "DeregisterEventSource");
  bool reported = false;
  if (register_source != nullptr && report != nullptr && deregister != nullptr) {
    const HANDLE log = register_source(nullptr, Wide(source));
    if (log != nullptr) {
      const WORD type = severity == EventSeverity::Error     ? EVENTLOG_ERROR_TYPE
                        : severity == EventSeverity::Warning ? EVENTLOG_WARNING_TYPE
                                                             : EVENTLOG_INFORMATION_TYPE;
      // NOLINTNEXTLINE(*-const-cast): ReportEventW only reads the strings
      auto** texts = const_cast<LPCWSTR*>(reinterpret_cast<const LPCWSTR*>(strings.data()));
      // NOLINTNEXTLINE(*-const-cast): ReportEventW only reads the SID
      void* sid = user == nullptr ? nullptr : const_cast<std::uint8_t*>(user->data());
      reported = report(log, type, 0, event_id, sid, static_cast<WORD>(strings.size()), 0, texts,
                        nullptr) != FALSE;
      deregister(log);
    }
  }
  ::FreeLibrary(advapi32);
  return reported;
}

}  // namespace profile_import::platform
