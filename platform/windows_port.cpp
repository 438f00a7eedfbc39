#include "platform/windows_port.h"

#include <windows.h>

#include "platform/ntdll_calls.h"

#include <algorithm>
#include <array>
#include <bit>

namespace profile_import::platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide strings are UTF-16");
static_assert(REG_SZ == kRegSz);
static_assert(FILE_ATTRIBUTE_REPARSE_POINT == kFileAttributeReparsePoint);
static_assert(IsReparseTagNameSurrogate(IO_REPARSE_TAG_SYMLINK) == kReparseTagNameSurrogate &&
              IsReparseTagNameSurrogate(IO_REPARSE_TAG_MOUNT_POINT) == kReparseTagNameSurrogate);
static_assert(sizeof(HANDLE) == sizeof(RawFile) && sizeof(HKEY) == sizeof(RawKey) &&
              sizeof(HANDLE) == sizeof(RawToken));
static_assert(SECURITY_MAX_SID_SIZE == std::tuple_size_v<Sid>);
static_assert(ERROR_FILE_NOT_FOUND == kErrorFileNotFound &&
              ERROR_PATH_NOT_FOUND == kErrorPathNotFound &&
              ERROR_ACCESS_DENIED == kErrorAccessDenied &&
              ERROR_SHARING_VIOLATION == kErrorSharingViolation);

// NtCurrentProcess(): the pseudo-handle GetCurrentProcess gives, without the
// call. A function, not a constant: nothing runs static initialisers here.
HANDLE CurrentProcess() {
  return std::bit_cast<HANDLE>(~std::uintptr_t{0});
}

const wchar_t* Wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}

HANDLE ToHandle(RawFile file) {
  return std::bit_cast<HANDLE>(file);
}
HKEY ToKey(RawKey key) {
  return std::bit_cast<HKEY>(key);
}

KeyResult Key(LSTATUS error, HKEY key) {
  return {error, error == ERROR_SUCCESS ? std::bit_cast<RawKey>(key) : kNoKey};
}

FileResult OpenUnshared(const char16_t* name, DWORD access, DWORD flags) {
  const HANDLE file = ::CreateFileW(Wide(name), access, 0, nullptr, OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // Both read here, before any other call can replace them.
    return {static_cast<PlatformError>(::GetLastError()),
            static_cast<NtStatus>(::RtlGetLastNtStatus()), kInvalidFile};
  }
  return {kSuccess, kStatusSuccess, std::bit_cast<RawFile>(file)};
}

}  // namespace

TokenResult WindowsPort::ntOpenProcessToken() {
  HANDLE token = nullptr;
  const auto status =
      static_cast<NtStatus>(::NtOpenProcessToken(CurrentProcess(), TOKEN_QUERY, &token));
  return {status, status == kStatusSuccess ? std::bit_cast<RawToken>(token) : kNoToken};
}

TokenUser WindowsPort::ntQueryInformationToken(RawToken token) {
  // TOKEN_USER with the SID after it, at its largest.
  alignas(TOKEN_USER) std::array<BYTE, sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE> buffer{};
  ULONG returned = 0;
  TokenUser user{};
  if (::NtQueryInformationToken(std::bit_cast<HANDLE>(token), ::TokenUser, buffer.data(),
                                buffer.size(), &returned) != 0) {
    return user;
  }
  // The SID follows the TOKEN_USER, so the buffer holds its largest size;
  // anywhere else it is not taken, rather than read past the buffer.
  const auto* sid = static_cast<const std::uint8_t*>(
      reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
  if (sid != buffer.data() + sizeof(TOKEN_USER)) {  // NOLINT(*-pointer-arithmetic)
    return user;
  }
  std::copy_n(sid, user.sid.size(), user.sid.begin());
  user.known = true;
  return user;
}

void WindowsPort::ntClose(RawToken token) {
  ::NtClose(std::bit_cast<HANDLE>(token));
}

std::size_t WindowsPort::rtlConvertSidToUnicodeString(const Sid& sid,
                                                      std::span<char16_t, kSidTextCapacity> out) {
  CountedString text{};
  text.Buffer = reinterpret_cast<PWSTR>(out.data());
  text.MaximumLength = static_cast<USHORT>(out.size() * sizeof(wchar_t));
  // FALSE: into the buffer given, never one the call would allocate.
  const LONG status = ::RtlConvertSidToUnicodeString(&text, sid.data(), FALSE);
  return status == 0 ? text.Length / sizeof(wchar_t) : 0;
}

// No sharing: while this run holds the file, no other process can open,
// replace or rename it.
FileResult WindowsPort::createFile(const char16_t* name) {
  return OpenUnshared(name, GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
}

RawFile WindowsPort::createFileForDeletion(const char16_t* name) {
  return OpenUnshared(name, GENERIC_READ | DELETE,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT)
      .file;
}

FileTag WindowsPort::getFileAttributeTagInfo(RawFile file) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  const bool known = ::GetFileInformationByHandleEx(ToHandle(file), FileAttributeTagInfo, &info,
                                                    sizeof(info)) != FALSE;
  return {known, info.FileAttributes, info.ReparseTag};
}

FileBasics WindowsPort::getFileBasicInfo(RawFile file) {
  FILE_BASIC_INFO info{};
  const bool known =
      ::GetFileInformationByHandleEx(ToHandle(file), FileBasicInfo, &info, sizeof(info)) != FALSE;
  return {known, info.FileAttributes};
}

bool WindowsPort::readFile(RawFile file, std::span<std::uint8_t> buffer) {
  DWORD bytes_read = 0;
  return ::ReadFile(ToHandle(file), buffer.data(), static_cast<DWORD>(buffer.size()), &bytes_read,
                    nullptr) != FALSE;
}

void WindowsPort::closeHandle(RawFile file) {
  ::CloseHandle(ToHandle(file));
}

void WindowsPort::setFileDispositionInfo(RawFile file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  ::SetFileInformationByHandle(ToHandle(file), FileDispositionInfo, &disposition,
                               sizeof(disposition));
}

std::size_t WindowsPort::multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                             std::span<char16_t> out) {
  const int units = ::MultiByteToWideChar(
      CP_ACP, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes.data()),
      static_cast<int>(bytes.size()), reinterpret_cast<wchar_t*>(out.data()),
      static_cast<int>(out.size()));
  return units > 0 ? static_cast<std::size_t>(units) : 0;
}

KeyResult WindowsPort::regOpenUserHive(const char16_t* sid) {
  HKEY key = nullptr;
  const LSTATUS error = ::RegOpenKeyExW(HKEY_USERS, Wide(sid), 0, KEY_QUERY_VALUE, &key);
  return Key(error, key);
}

KeyResult WindowsPort::regOpenKeyEx(const char16_t* path) {
  HKEY key = nullptr;
  const LSTATUS error = ::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path), 0, KEY_ALL_ACCESS, &key);
  return Key(error, key);
}

KeyResult WindowsPort::regCreateKeyEx(const char16_t* path) {
  HKEY key = nullptr;
  const LSTATUS error =
      ::RegCreateKeyExW(HKEY_CURRENT_USER, Wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return Key(error, key);
}

PlatformError WindowsPort::regSetValueEx(RawKey key, const char16_t* name, std::uint32_t type,
                                         std::span<const std::byte> data) {
  return ::RegSetValueExW(ToKey(key), Wide(name), 0, type,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size()));
}

PlatformError WindowsPort::regFlushKey(RawKey key) {
  return ::RegFlushKey(ToKey(key));
}

void WindowsPort::regCloseKey(RawKey key) {
  ::RegCloseKey(ToKey(key));
}

}  // namespace profile_import::platform
