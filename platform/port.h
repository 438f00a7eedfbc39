#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ansi_code_page.h"

namespace profile_import::platform {

// Handle values exactly as the Windows calls hand them out. Only the Windows
// implementation knows what they point at; portable code just passes them back.
enum class RawFile : std::uintptr_t {};
enum class RawKey : std::uintptr_t {};
enum class RawToken : std::uintptr_t {};

inline constexpr RawFile kInvalidFile{~std::uintptr_t{0}};  // INVALID_HANDLE_VALUE
inline constexpr RawKey kNoKey{0};
inline constexpr RawToken kNoToken{0};

// The 32-bit status a registry call returns, or GetLastError's after a call
// that failed.
using PlatformError = std::int32_t;
inline constexpr PlatformError kSuccess = 0;
inline constexpr PlatformError kErrorFileNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr PlatformError kErrorPathNotFound = 3;       // ERROR_PATH_NOT_FOUND
inline constexpr PlatformError kErrorAccessDenied = 5;       // ERROR_ACCESS_DENIED
inline constexpr PlatformError kErrorSharingViolation = 32;  // ERROR_SHARING_VIOLATION

// The status ntdll's calls return; 0 is success.
using NtStatus = std::uint32_t;
inline constexpr NtStatus kStatusSuccess = 0;
// Windows reports it as ERROR_ACCESS_DENIED, like a refusal.
inline constexpr NtStatus kStatusDeletePending = 0xC0000056;

// A failed open carries both codes, read at the failure: some errors need
// the NT status behind them to be told apart.
struct FileResult {
  PlatformError error{};  // GetLastError's code when the open failed
  NtStatus status{};      // RtlGetLastNtStatus's, likewise
  RawFile file{kInvalidFile};
};

// The registry's type code for a NUL-terminated string (REG_SZ).
inline constexpr std::uint32_t kRegSz = 1;

struct KeyResult {
  PlatformError error{};
  RawKey key{kNoKey};
};

struct TokenResult {
  NtStatus status{};
  RawToken token{kNoToken};
};

// A SID as Windows lays it out: revision, sub-authority count, the six-byte
// big-endian authority, then the sub-authorities, little-endian; at most
// SECURITY_MAX_SID_SIZE bytes, zero-filled after its end.
using Sid = std::array<std::uint8_t, 68>;
// The longest SID's text: "S-1-", a 48-bit authority, 15 sub-authorities.
inline constexpr std::size_t kSidTextCapacity = 4 + 15 + 15 * 11;

struct TokenUser {
  bool known{};  // false when the query failed
  Sid sid{};
};

// What GetFileInformationByHandleEx(FileAttributeTagInfo) says of an open file.
struct FileTag {
  bool known{};  // false when the query failed
  std::uint32_t attributes{};
  std::uint32_t reparse_tag{};  // meaningful only when attributes carry kFileAttributeReparsePoint
};
inline constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
// What GetFileInformationByHandleEx(FileBasicInfo) says of an open file.
struct FileBasics {
  bool known{};  // false when the query failed
  std::uint32_t attributes{};
};
// The tag bit of reparse points that stand for another name: symbolic links,
// junctions (IsReparseTagNameSurrogate).
inline constexpr std::uint32_t kReparseTagNameSurrogate = 0x20000000;

// One method per Windows call the import makes, carrying only the arguments
// that the import varies; the fixed ones (access, share mode, disposition,
// options) live in the Windows implementation. A fake can therefore fail any
// single call. Methods are named after the call in lowerCamelCase so that
// <windows.h>'s A/W macros never rename them. Its multiByteToWideChar reads
// in the machine's ANSI code page (CP_ACP).
class Port : public AnsiCodePage {
 public:
  // NtOpenProcessToken: the process's own token, for TOKEN_QUERY.
  virtual TokenResult ntOpenProcessToken() = 0;
  // NtQueryInformationToken with TokenUser: whose account the process runs as.
  virtual TokenUser ntQueryInformationToken(RawToken token) = 0;
  virtual void ntClose(RawToken token) = 0;
  // RtlConvertSidToUnicodeString into the caller's buffer (no allocation):
  // the SID's text, S-1-5-21-...; its length in code units, 0 on failure.
  virtual std::size_t rtlConvertSidToUnicodeString(const Sid& sid,
                                                   std::span<char16_t, kSidTextCapacity> out) = 0;

  // CreateFileW: GENERIC_READ, no sharing, OPEN_EXISTING. kInvalidFile,
  // GetLastError's code and RtlGetLastNtStatus's on failure.
  virtual FileResult createFile(const char16_t* name) = 0;
  // ReadFile: one read of up to buffer.size() bytes. The byte count is not reported.
  virtual bool readFile(RawFile file, std::span<std::uint8_t> buffer) = 0;
  virtual void closeHandle(RawFile file) = 0;
  // CreateFileW: GENERIC_READ | DELETE, no sharing, OPEN_EXISTING, and
  // FILE_FLAG_OPEN_REPARSE_POINT: a link is opened itself, never followed.
  // kInvalidFile on failure.
  virtual RawFile createFileForDeletion(const char16_t* name) = 0;
  // GetFileInformationByHandleEx with FileAttributeTagInfo.
  virtual FileTag getFileAttributeTagInfo(RawFile file) = 0;
  // GetFileInformationByHandleEx with FileBasicInfo.
  virtual FileBasics getFileBasicInfo(RawFile file) = 0;
  // SetFileInformationByHandle with FileDispositionInfo: the file goes when the
  // handle is closed. Not reported: a file left unmarked simply stays.
  virtual void setFileDispositionInfo(RawFile file) = 0;

  // RegOpenKeyExW under HKEY_USERS for KEY_QUERY_VALUE: the hive of the
  // user whose SID's text is given, there only while it is loaded.
  virtual KeyResult regOpenUserHive(const char16_t* sid) = 0;
  // RegOpenKeyExW / RegCreateKeyExW under HKEY_CURRENT_USER with KEY_ALL_ACCESS.
  virtual KeyResult regOpenKeyEx(const char16_t* path) = 0;
  virtual KeyResult regCreateKeyEx(const char16_t* path) = 0;
  virtual PlatformError regSetValueEx(RawKey key, const char16_t* name, std::uint32_t type,
                                      std::span<const std::byte> data) = 0;
  // RegFlushKey: returns once the key's changes are on disk.
  virtual PlatformError regFlushKey(RawKey key) = 0;
  virtual void regCloseKey(RawKey key) = 0;

  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;
  Port(Port&&) = delete;
  Port& operator=(Port&&) = delete;

 protected:
  Port() = default;
  // Never deleted through the interface, so no virtual destructor: that would
  // need operator delete, which the importer, linked without a runtime, lacks.
  ~Port() = default;
};

}  // namespace profile_import::platform
