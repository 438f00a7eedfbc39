#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/port.h"

namespace profile_import::platform {

// More of Windows' errors, as GetLastError gives them, that tell a master
// copy's place apart: reached, not reached now, or refused.
inline constexpr PlatformError kErrorInvalidHandle = 6;         // ERROR_INVALID_HANDLE
inline constexpr PlatformError kErrorLockViolation = 33;        // ERROR_LOCK_VIOLATION
inline constexpr PlatformError kErrorBadNetPath = 53;           // ERROR_BAD_NETPATH
inline constexpr PlatformError kErrorBadNetName = 67;           // ERROR_BAD_NET_NAME
inline constexpr PlatformError kErrorMoreData = 234;            // ERROR_MORE_DATA
inline constexpr PlatformError kErrorNotEnoughMemory = 8;       // ERROR_NOT_ENOUGH_MEMORY
inline constexpr PlatformError kErrorTimeout = 1460;            // ERROR_TIMEOUT
inline constexpr std::uint32_t kRegDword = 4;                   // REG_DWORD
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;  // FILE_ATTRIBUTE_DIRECTORY
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
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

  // Runs `work(context)` on a thread of its own (CreateThread) and waits for
  // it at most `milliseconds` (WaitForSingleObject). False when it did not end
  // in time: it goes on, and the caller must not touch what it writes.
  virtual bool runWithin(std::uint32_t milliseconds, void (*work)(void*), void* context) = 0;

  // CreateFileW by full path: GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
  // OPEN_EXISTING: others may read a master copy while it is read, nobody
  // may write it.
  virtual FileResult createFileForSharedReading(const char16_t* path) = 0;
  // ReadFile: one read of up to buffer.size() bytes, with the count read.
  virtual bool readFileCounted(RawFile file, std::span<std::uint8_t> buffer, std::size_t& read) = 0;
  // GetFileAttributesW.
  virtual AttributesResult getFileAttributes(const char16_t* path) = 0;
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
  // (GetFileSizeEx), moving it over `rotated` (MoveFileExW). False when the
  // line could not be written.
  virtual bool appendLine(const char16_t* folder, const char16_t* path, const char16_t* rotated,
                          std::uint64_t limit, std::span<const std::uint8_t> line) = 0;
  // GetFileAttributesExW: the file's last write time, 0 when it cannot be read.
  virtual std::uint64_t getLastWriteTime(const char16_t* path) = 0;
  // GetStdHandle and, for a pipe or a file only (GetFileType), WriteFile.
  virtual void writeStandardOutput(std::span<const std::uint8_t> line) = 0;
  // Loads advapi32.dll only now (LoadLibraryW, GetProcAddress) and reports
  // one event to the Application log (RegisterEventSourceW, ReportEventW,
  // DeregisterEventSource). False when any step failed.
  virtual bool reportEvent(const char16_t* source, EventSeverity severity, std::uint32_t event_id,
                           std::span<const char16_t* const> strings) = 0;

  SyncPort(const SyncPort&) = delete;
  SyncPort& operator=(const SyncPort&) = delete;
  SyncPort(SyncPort&&) = delete;
  SyncPort& operator=(SyncPort&&) = delete;

 protected:
  SyncPort() = default;
  ~SyncPort() = default;
};

}  // namespace profile_import::platform
