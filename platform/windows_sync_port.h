#pragma once

#include "platform/sync_port.h"
#include "platform/windows_port.h"

namespace profile_import::platform {

// profile-sync's Windows calls: the importer's own, through its WindowsPort,
// and the rest. Final, and never deleted through the port.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class WindowsSyncPort final : public SyncPort {
 public:
  TokenResult ntOpenProcessToken() override { return core_.ntOpenProcessToken(); }
  TokenUser ntQueryInformationToken(RawToken token) override {
    return core_.ntQueryInformationToken(token);
  }
  void ntClose(RawToken token) override { core_.ntClose(token); }
  std::size_t rtlConvertSidToUnicodeString(const Sid& sid,
                                           std::span<char16_t, kSidTextCapacity> out) override {
    return core_.rtlConvertSidToUnicodeString(sid, out);
  }
  FileResult createFile(const char16_t* name) override { return core_.createFile(name); }
  bool readFile(RawFile file, std::span<std::uint8_t> buffer) override {
    return core_.readFile(file, buffer);
  }
  void closeHandle(RawFile file) override { core_.closeHandle(file); }
  RawFile createFileForDeletion(const char16_t* name) override {
    return core_.createFileForDeletion(name);
  }
  FileTag getFileAttributeTagInfo(RawFile file) override {
    return core_.getFileAttributeTagInfo(file);
  }
  FileBasics getFileBasicInfo(RawFile file) override { return core_.getFileBasicInfo(file); }
  void setFileDispositionInfo(RawFile file) override { core_.setFileDispositionInfo(file); }
  std::size_t multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                  std::span<char16_t> out) override {
    return core_.multiByteToWideChar(bytes, out);
  }
  KeyResult regOpenUserHive(const char16_t* sid) override { return core_.regOpenUserHive(sid); }
  KeyResult regOpenKeyEx(const char16_t* path) override { return core_.regOpenKeyEx(path); }
  KeyResult regCreateKeyEx(const char16_t* path) override { return core_.regCreateKeyEx(path); }
  PlatformError regSetValueEx(RawKey key, const char16_t* name, std::uint32_t type,
                              std::span<const std::byte> data) override {
    return core_.regSetValueEx(key, name, type, data);
  }
  PlatformError regFlushKey(RawKey key) override { return core_.regFlushKey(key); }
  void regCloseKey(RawKey key) override { core_.regCloseKey(key); }

  const char16_t* getCommandLine() override;
  void setErrorMode() override;
  std::size_t getEnvironmentVariable(const char16_t* name, std::span<char16_t> out) override;
  std::uint64_t getSystemTimeAsFileTime() override;
  std::uint64_t getTickCount64() override;
  void sleep(std::uint32_t milliseconds) override;
  RawThread createThread(void (*work)(void*), void* context) override;
  bool waitForThread(RawThread thread, std::uint32_t milliseconds) override;
  void cancelSynchronousIo(RawThread thread) override;
  void closeThread(RawThread thread) override;
  FileResult createLockFile(const char16_t* folder, const char16_t* path) override;
  FileResult createFileForSharedReading(const char16_t* path) override;
  PlatformError readFileCounted(RawFile file, std::span<std::uint8_t> buffer,
                                std::size_t& read) override;
  AttributesResult getFileAttributes(const char16_t* path) override;
  RemoteProtocol getRemoteProtocolInfo(RawFile file) override;
  std::uint32_t getDriveType(const char16_t* root) override;
  KeyResult regOpenKeyForReading(Root root, const char16_t* path) override;
  ValueResult regQueryValueEx(RawKey key, const char16_t* name, std::span<std::byte> data) override;
  PlatformError regDeleteValue(RawKey key, const char16_t* name) override;
  LogWrite appendLine(const char16_t* folder, const char16_t* path, const char16_t* rotated,
                      std::uint64_t limit, std::span<const std::uint8_t> line) override;
  FileTail readFileTail(const char16_t* path, std::uint64_t written_since,
                        std::span<std::uint8_t> buffer) override;
  std::size_t getComputerName(std::span<char16_t> out) override;
  void writeStandardOutput(std::span<const std::uint8_t> line) override;
  bool reportEvent(const char16_t* source, EventSeverity severity, std::uint32_t event_id,
                   const Sid* user, std::span<const char16_t* const> strings) override;

 private:
  WindowsPort core_;
};

}  // namespace profile_import::platform
