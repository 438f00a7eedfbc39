#include "platform/windows_port.h"

#include <windows.h>

#include <bit>

namespace profile_import::platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide strings are UTF-16");
static_assert(REG_SZ == kRegSz);
static_assert(sizeof(HANDLE) == sizeof(RawFile) && sizeof(HKEY) == sizeof(RawKey));

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

}  // namespace

RawFile WindowsPort::createFile(const char16_t* name) {
  // No sharing: while this run holds the file, no other run can open it.
  const HANDLE file = ::CreateFileW(Wide(name), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kInvalidFile : std::bit_cast<RawFile>(file);
}

bool WindowsPort::readFile(RawFile file, std::span<std::uint8_t> buffer) {
  DWORD bytes_read = 0;
  return ::ReadFile(ToHandle(file), buffer.data(), static_cast<DWORD>(buffer.size()), &bytes_read,
                    nullptr) != FALSE;
}

void WindowsPort::closeHandle(RawFile file) {
  ::CloseHandle(ToHandle(file));
}

void WindowsPort::deleteFile(const char16_t* name) {
  ::DeleteFileW(Wide(name));
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

void WindowsPort::regCloseKey(RawKey key) {
  ::RegCloseKey(ToKey(key));
}

}  // namespace profile_import::platform
