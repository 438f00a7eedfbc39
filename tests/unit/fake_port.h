#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/port.h"

namespace profile_import::testing {

// S-1-5-21-1-2-3-1001: a local or domain user's SID.
inline constexpr platform::Sid kUserSid = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 1, 0,
                                           0, 0, 2, 0, 0, 0, 3, 0, 0,  0, 0xE9, 3, 0, 0};

// A Windows call a FakePort can be told to fail.
enum class FailingCall {
  OpenProcessToken,
  QueryTokenUser,
  OpenUserHive,  // the user's hive is not loaded: HKEY_CURRENT_USER is HKEY_USERS\.DEFAULT
  ConvertSid,
  ReadFile,  // the import's read
  RegOpenKey,
  RegCreateKey,
  FirstWrite,
  SecondWrite,
  ThirdWrite,
  FourthWrite,
  FlushKey,
  CreateFileForDeletion,
  QueryFileTag,  // as on FAT32 and exFAT, which answer no attribute-tag query
  QueryFileBasicInfo,
  RereadFile,  // the deletion's read
  SetFileDisposition,
  MultiByteToWideChar,  // bytes not valid in the machine's ANSI code page
};

struct StoredValue {
  std::uint32_t type{};
  std::vector<std::byte> data;

  // The data read back as UTF-16 code units, terminator included.
  [[nodiscard]] std::u16string Units() const;
};

// An in-memory working directory and registry key. It hands out distinct
// handles and tracks each one, so a test can tell a leak or a double close.
// Final, and never deleted through the port, so it needs no virtual destructor.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class FakePort final : public platform::Port {
 public:
  std::optional<std::string> file;  // the hand-off file's bytes; absent when empty
  // When set, the import's open fails with this error (and NT status) even
  // though the file is there.
  platform::PlatformError open_error = platform::kSuccess;
  platform::NtStatus open_status = platform::kStatusSuccess;
  platform::Sid token_user = kUserSid;
  std::u16string hive_opened;  // the SID's text the hive was opened by, under HKEY_USERS
  // Put in place of the file once the import has closed it, as another process might.
  std::optional<std::string> replacement;
  // Set when "sysfile.cfg" is a reparse point with this tag; the import's
  // open follows it to the same bytes.
  std::optional<std::uint32_t> reparse_tag;
  bool key_exists = false;
  std::map<std::u16string, StoredValue> values;
  std::set<FailingCall> failing;

  // Value names in the order they were written.
  std::vector<std::u16string> written;
  std::vector<std::string> calls;  // every call made, by its Windows name, in order
  bool file_deleted = false;
  bool read_through_name_surrogate = false;  // the deletion read a link it opened itself
  bool registry_touched_with_file_open = false;
  bool registry_touched = false;
  int handles_obtained = 0;
  int bad_closes = 0;  // closes of a handle not open (double close, or never obtained)

  [[nodiscard]] std::size_t OpenHandles() const {
    return open_files_.size() + open_keys_.size() + open_tokens_.size();
  }

  platform::TokenResult ntOpenProcessToken() override;
  platform::TokenUser ntQueryInformationToken(platform::RawToken token) override;
  void ntClose(platform::RawToken token) override;
  // Windows' text of the SID, S-1-5-21-...
  std::size_t rtlConvertSidToUnicodeString(
      const platform::Sid& sid, std::span<char16_t, platform::kSidTextCapacity> out) override;
  platform::FileResult createFile(const char16_t* name) override;
  bool readFile(platform::RawFile file, std::span<std::uint8_t> buffer) override;
  void closeHandle(platform::RawFile file) override;
  platform::RawFile createFileForDeletion(const char16_t* name) override;
  platform::FileTag getFileAttributeTagInfo(platform::RawFile file) override;
  platform::FileBasics getFileBasicInfo(platform::RawFile file) override;
  void setFileDispositionInfo(platform::RawFile file) override;
  // A single-byte code page in which every byte is the code point of its value.
  std::size_t multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                  std::span<char16_t> out) override;
  platform::KeyResult regOpenUserHive(const char16_t* sid) override;
  platform::KeyResult regOpenKeyEx(const char16_t* path) override;
  platform::KeyResult regCreateKeyEx(const char16_t* path) override;
  platform::PlatformError regSetValueEx(platform::RawKey key, const char16_t* name,
                                        std::uint32_t type,
                                        std::span<const std::byte> data) override;
  platform::PlatformError regFlushKey(platform::RawKey key) override;
  void regCloseKey(platform::RawKey key) override;

 private:
  std::uintptr_t NextHandle();
  platform::RawFile OpenFile(bool fails);
  void TouchRegistry();
  [[nodiscard]] bool Fails(FailingCall call) const { return failing.contains(call); }
  [[nodiscard]] bool IsNameSurrogate() const {
    return reparse_tag && (*reparse_tag & platform::kReparseTagNameSurrogate) != 0;
  }

  std::uintptr_t last_handle_ = 0x100;
  std::set<std::uintptr_t> open_files_;
  std::set<std::uintptr_t> marked_for_deletion_;
  std::size_t reads_attempted_ = 0;
  std::set<std::uintptr_t> open_keys_;
  std::set<std::uintptr_t> open_tokens_;
  std::size_t writes_attempted_ = 0;
};

}  // namespace profile_import::testing
