#pragma once

#include "platform/port.h"

namespace profile_import::platform {

// The real Windows calls, with the fixed arguments the import always passes.
// Final, and never deleted through the port, so it needs no virtual destructor.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class WindowsPort final : public Port {
 public:
  TokenResult ntOpenProcessToken() override;
  TokenUser ntQueryInformationToken(RawToken token) override;
  void ntClose(RawToken token) override;
  std::size_t rtlConvertSidToUnicodeString(const Sid& sid,
                                           std::span<char16_t, kSidTextCapacity> out) override;
  FileResult createFile(const char16_t* name) override;
  bool readFile(RawFile file, std::span<std::uint8_t> buffer) override;
  void closeHandle(RawFile file) override;
  RawFile createFileForDeletion(const char16_t* name) override;
  FileTag getFileAttributeTagInfo(RawFile file) override;
  FileBasics getFileBasicInfo(RawFile file) override;
  void setFileDispositionInfo(RawFile file) override;
  std::size_t multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                  std::span<char16_t> out) override;
  KeyResult regOpenUserHive(const char16_t* sid) override;
  KeyResult regOpenKeyEx(const char16_t* path) override;
  KeyResult regCreateKeyEx(const char16_t* path) override;
  PlatformError regSetValueEx(RawKey key, const char16_t* name, std::uint32_t type,
                              std::span<const std::byte> data) override;
  PlatformError regFlushKey(RawKey key) override;
  void regCloseKey(RawKey key) override;
};

}  // namespace profile_import::platform
