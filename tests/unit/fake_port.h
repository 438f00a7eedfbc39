#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/sync_port.h"

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
  CreatePreviousKey,    // profile-sync's key for the values it replaces
  CreateMarkerKey,
  ReadBack,  // the values read back after a write differ
};

// How a master copy's open fails, as GetLastError and RtlGetLastNtStatus give it.
struct MasterFault {
  platform::PlatformError error = platform::kSuccess;
  platform::NtStatus status = platform::kStatusSuccess;
  int times = -1;  // how many opens fail so; -1 for every one
};

struct ReportedEvent {
  platform::EventSeverity severity{};
  std::uint32_t id{};
  std::optional<platform::Sid> user;
  std::vector<std::u16string> strings;
};

struct StoredValue {
  std::uint32_t type{};
  std::vector<std::byte> data;

  // The data read back as UTF-16 code units, terminator included.
  [[nodiscard]] std::u16string Units() const;
};

// An in-memory working directory, registry and, for profile-sync, share of
// master copies, log and event log. It hands out distinct handles and tracks
// each one, so a test can tell a leak or a double close.
// Final, and never deleted through the port, so it needs no virtual destructor.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class FakePort final : public platform::SyncPort {
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
  // Keys other than the profile key, by path under HKEY_CURRENT_USER.
  std::map<std::u16string, std::map<std::u16string, StoredValue>> other_keys;
  std::optional<std::uint32_t> policy_mode;  // HKLM's Mode as a REG_DWORD, when set
  std::optional<StoredValue> policy_value;   // or of any type

  // profile-sync's world.
  std::u16string command_line = u"profile-sync.exe";
  std::map<std::u16string, std::u16string> environment = {
      {u"LOCALAPPDATA", u"C:\\Users\\jdoe\\AppData\\Local"},
      {u"COMPUTERNAME", u"PC01"},
      {u"USERDOMAIN", u"CORP"},
      {u"USERNAME", u"jdoe"}};
  std::uint64_t now = 134'100'000'000'000'000;    // a FILETIME in 2025
  std::map<std::u16string, std::string> masters;  // files by full path
  std::map<std::u16string, MasterFault> master_faults;
  // How each master's share says it was reached; a master not named here
  // gets no answer, as under Windows 7's redirector or Wine.
  std::map<std::u16string, platform::RemoteProtocol> channels;
  // Paths whose attributes can be read (folders that answer), or what they give.
  std::map<std::u16string, platform::AttributesResult> attributes;
  // Drives by letter that are not the machine's own fixed disk (DRIVE_REMOTE,
  // DRIVE_REMOVABLE, DRIVE_RAMDISK...).
  std::map<char16_t, std::uint32_t> drive_types;
  bool master_read_fails = false;
  bool master_open_hangs = false;  // the open never returns: the deadline passes
  bool hang_cancellable = true;    // CancelSynchronousIo ends it
  bool thread_fails = false;       // CreateThread fails
  int cancels = 0;
  // The user's lock: held by another run past any wait, or failing to open
  // with this error.
  bool lock_held_elsewhere = false;
  platform::PlatformError lock_error = platform::kSuccess;
  bool lock_held = false;
  int writes_without_lock = 0;  // registry changes made while the lock was not held
  // What another run does between this run's decision and its lock.
  std::function<void(FakePort&)> before_lock;
  std::u16string lock_path;
  std::uint64_t slept_ms = 0;  // the clock moves only while the run sleeps
  // Writes of these value names fail, under any key.
  std::set<std::u16string> failing_names;
  // A run ended at any instruction: after this many more changes to the
  // registry, every change fails, as if the process had gone.
  std::optional<int> changes_left;
  std::string log_text;  // the log's bytes before this run's lines
  std::map<std::u16string, std::vector<std::string>> files_appended;  // lines, by path
  std::uint64_t log_written_at = 0;  // the log's last write time; 0: no log
  bool log_fails = false;
  bool log_is_link = false;  // the log's folder or file is a link
  std::u16string computer_name = u"PC01";
  std::vector<std::string> standard_output;
  std::vector<ReportedEvent> events;
  bool advapi32_missing = false;
  std::vector<std::u16string> masters_opened;
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
    return open_files_.size() + open_keys_.size() + open_tokens_.size() + open_masters_.size() +
           open_threads_.size() + open_locks_.size();
  }

  platform::TokenResult ntOpenProcessToken() override;
  platform::TokenUser ntQueryInformationToken(platform::RawToken token) override;
  void ntClose(platform::RawToken token) override;
  // Windows' text of the SID, S-1-5-21-..., in a buffer that held junk before.
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

  const char16_t* getCommandLine() override;
  void setErrorMode() override;
  std::size_t getEnvironmentVariable(const char16_t* name, std::span<char16_t> out) override;
  std::uint64_t getSystemTimeAsFileTime() override;
  std::uint64_t getTickCount64() override;
  void sleep(std::uint32_t milliseconds) override;
  platform::RawThread createThread(void (*work)(void*), void* context) override;
  bool waitForThread(platform::RawThread thread, std::uint32_t milliseconds) override;
  void cancelSynchronousIo(platform::RawThread thread) override;
  void closeThread(platform::RawThread thread) override;
  platform::FileResult createLockFile(const char16_t* folder, const char16_t* path) override;
  platform::FileResult createFileForSharedReading(const char16_t* path) override;
  platform::PlatformError readFileCounted(platform::RawFile file, std::span<std::uint8_t> buffer,
                                          std::size_t& read) override;
  platform::AttributesResult getFileAttributes(const char16_t* path) override;
  std::uint32_t getDriveType(const char16_t* root) override;
  platform::RemoteProtocol getRemoteProtocolInfo(platform::RawFile file) override;
  platform::KeyResult regOpenKeyForReading(platform::Root root, const char16_t* path) override;
  platform::ValueResult regQueryValueEx(platform::RawKey key, const char16_t* name,
                                        std::span<std::byte> data) override;
  platform::PlatformError regDeleteValue(platform::RawKey key, const char16_t* name) override;
  platform::LogWrite appendLine(const char16_t* folder, const char16_t* path,
                                const char16_t* rotated, std::uint64_t limit,
                                std::span<const std::uint8_t> line) override;
  platform::FileTail readFileTail(const char16_t* path, std::uint64_t written_since,
                                  std::span<std::uint8_t> buffer) override;
  std::size_t getComputerName(std::span<char16_t> out) override;
  void writeStandardOutput(std::span<const std::uint8_t> line) override;
  bool reportEvent(const char16_t* source, platform::EventSeverity severity, std::uint32_t event_id,
                   const platform::Sid* user, std::span<const char16_t* const> strings) override;

  // The values under a key, the profile key's or another's; empty when absent.
  [[nodiscard]] const std::map<std::u16string, StoredValue>& ValuesAt(std::u16string_view path);

 private:
  std::uintptr_t NextHandle();
  platform::RawFile OpenFile(bool fails);
  platform::KeyResult OpenKey(const std::u16string& path);
  std::map<std::u16string, StoredValue>* KeyValues(platform::RawKey key);
  void TouchRegistry();
  [[nodiscard]] bool Fails(FailingCall call) const { return failing.contains(call); }
  // A change to the registry: false when it fails as the run has ended.
  bool Change(bool needs_lock = true);
  [[nodiscard]] bool IsNameSurrogate() const {
    return reparse_tag && (*reparse_tag & platform::kReparseTagNameSurrogate) != 0;
  }

  std::uintptr_t last_handle_ = 0x100;
  std::set<std::uintptr_t> open_files_;
  std::set<std::uintptr_t> marked_for_deletion_;
  std::size_t reads_attempted_ = 0;
  std::map<std::uintptr_t, std::u16string> open_keys_;     // by handle: the key's path
  std::map<std::uintptr_t, std::u16string> open_masters_;  // by handle: the master's path
  std::set<std::uintptr_t> open_tokens_;
  std::set<std::uintptr_t> open_threads_;
  std::set<std::uintptr_t> open_locks_;
  bool thread_ended_ = false;
  std::size_t writes_attempted_ = 0;
};

}  // namespace profile_import::testing
