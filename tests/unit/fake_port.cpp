#include "unit/fake_port.h"

#include "store/profile_key.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>

namespace profile_import::testing {
namespace {

constexpr platform::PlatformError kFileNotFound = platform::kErrorFileNotFound;
constexpr platform::PlatformError kAccessDenied = platform::kErrorAccessDenied;
constexpr platform::NtStatus kStatusObjectNameNotFound = 0xC0000034;
constexpr platform::NtStatus kStatusAccessDenied = 0xC0000022;
constexpr platform::PlatformError kInvalidFunction =
    1;                                    // ERROR_INVALID_FUNCTION: the redirector does not say
constexpr std::uint32_t kArchive = 0x20;  // FILE_ATTRIBUTE_ARCHIVE, as a file just written has
// What a caller's buffer held before a call that fills only part of it.
constexpr char16_t kJunkUnit = u'\uABAB';

}  // namespace

std::u16string StoredValue::Units() const {
  std::u16string units(data.size() / sizeof(char16_t), u'\0');
  std::memcpy(units.data(), data.data(), units.size() * sizeof(char16_t));
  return units;
}

std::uintptr_t FakePort::NextHandle() {
  ++handles_obtained;
  return ++last_handle_;
}

void FakePort::TouchRegistry() {
  registry_touched = true;
  if (!open_files_.empty()) {
    registry_touched_with_file_open = true;
  }
}

bool FakePort::Change(bool needs_lock) {
  TouchRegistry();
  if (!lock_held && needs_lock) {
    ++writes_without_lock;
  }
  if (changes_left) {
    if (*changes_left == 0) {
      return false;
    }
    --*changes_left;
  }
  return true;
}

platform::RawFile FakePort::OpenFile(bool fails) {
  if (!file || fails) {
    return platform::kInvalidFile;
  }
  const std::uintptr_t handle = NextHandle();
  open_files_.insert(handle);
  return platform::RawFile{handle};
}

platform::TokenResult FakePort::ntOpenProcessToken() {
  calls.emplace_back("NtOpenProcessToken");
  if (Fails(FailingCall::OpenProcessToken)) {
    return {kStatusAccessDenied, platform::kNoToken};
  }
  const std::uintptr_t handle = NextHandle();
  open_tokens_.insert(handle);
  return {platform::kStatusSuccess, platform::RawToken{handle}};
}

platform::TokenUser FakePort::ntQueryInformationToken(platform::RawToken token) {
  calls.emplace_back("NtQueryInformationToken");
  if (!open_tokens_.contains(static_cast<std::uintptr_t>(token)) ||
      Fails(FailingCall::QueryTokenUser)) {
    return {};
  }
  return {true, token_user};
}

void FakePort::ntClose(platform::RawToken token) {
  calls.emplace_back("NtClose");
  if (open_tokens_.erase(static_cast<std::uintptr_t>(token)) == 0) {
    ++bad_closes;
  }
}

std::size_t FakePort::rtlConvertSidToUnicodeString(
    const platform::Sid& sid, std::span<char16_t, platform::kSidTextCapacity> out) {
  calls.emplace_back("RtlConvertSidToUnicodeString");
  if (Fails(FailingCall::ConvertSid) || sid[0] != 1) {
    return 0;
  }
  std::uint64_t authority = 0;
  for (std::size_t at = 2; at < 8; ++at) {
    authority = authority << 8 | sid[at];
  }
  std::string text = "S-1-" + std::to_string(authority);
  for (std::size_t i = 0; i < sid[1]; ++i) {
    std::uint32_t sub = 0;
    std::memcpy(&sub, &sid[8 + 4 * i], sizeof(sub));
    text += "-" + std::to_string(sub);
  }
  // The caller's buffer is not cleared first: junk after the text shows a
  // reader that looks for a terminator Windows does not write.
  std::fill(out.begin(), out.end(), kJunkUnit);
  std::copy(text.begin(), text.end(), out.begin());
  return text.size();
}

platform::KeyResult FakePort::regOpenUserHive(const char16_t* sid) {
  calls.emplace_back("RegOpenKeyExW(HKEY_USERS)");
  hive_opened = sid;
  if (Fails(FailingCall::OpenUserHive)) {
    return {kFileNotFound, platform::kNoKey};
  }
  return OpenKey(u"HKEY_USERS");
}

platform::FileResult FakePort::createFile(const char16_t* /*name*/) {
  calls.emplace_back("CreateFileW");
  if (!file) {
    return {kFileNotFound, kStatusObjectNameNotFound, platform::kInvalidFile};
  }
  if (open_error != platform::kSuccess) {
    return {open_error, open_status, platform::kInvalidFile};
  }
  return {platform::kSuccess, platform::kStatusSuccess, OpenFile(false)};
}

platform::RawFile FakePort::createFileForDeletion(const char16_t* /*name*/) {
  calls.emplace_back("CreateFileW(DELETE)");
  return OpenFile(Fails(FailingCall::CreateFileForDeletion));
}

platform::FileTag FakePort::getFileAttributeTagInfo(platform::RawFile file) {
  calls.emplace_back("GetFileInformationByHandleEx");
  if (!open_files_.contains(static_cast<std::uintptr_t>(file)) ||
      Fails(FailingCall::QueryFileTag)) {
    return {};
  }
  if (reparse_tag) {
    return {true, kArchive | platform::kFileAttributeReparsePoint, *reparse_tag};
  }
  return {true, kArchive, 0};
}

platform::FileBasics FakePort::getFileBasicInfo(platform::RawFile file) {
  calls.emplace_back("GetFileInformationByHandleEx(FileBasicInfo)");
  if (!open_files_.contains(static_cast<std::uintptr_t>(file)) ||
      Fails(FailingCall::QueryFileBasicInfo)) {
    return {};
  }
  return {true, reparse_tag ? kArchive | platform::kFileAttributeReparsePoint : kArchive};
}

std::size_t FakePort::multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                          std::span<char16_t> out) {
  calls.emplace_back("MultiByteToWideChar");
  if (Fails(FailingCall::MultiByteToWideChar) || out.size() < bytes.size()) {
    return 0;
  }
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return bytes.size();
}

bool FakePort::readFile(platform::RawFile file, std::span<std::uint8_t> buffer) {
  calls.emplace_back("ReadFile");
  const bool rereading = reads_attempted_++ != 0;
  const FailingCall call = rereading ? FailingCall::RereadFile : FailingCall::ReadFile;
  if (!open_files_.contains(static_cast<std::uintptr_t>(file)) || !this->file || Fails(call)) {
    return false;
  }
  read_through_name_surrogate = read_through_name_surrogate || (rereading && IsNameSurrogate());
  const std::size_t count = std::min(buffer.size(), this->file->size());
  std::memcpy(buffer.data(), this->file->data(), count);
  return true;
}

void FakePort::closeHandle(platform::RawFile file) {
  calls.emplace_back("CloseHandle");
  const auto handle = static_cast<std::uintptr_t>(file);
  if (open_masters_.erase(handle) != 0) {
    return;
  }
  if (open_locks_.erase(handle) != 0) {
    lock_held = false;
    return;
  }
  if (open_files_.erase(handle) == 0) {
    ++bad_closes;
  }
  if (marked_for_deletion_.erase(handle) != 0) {
    this->file.reset();
    file_deleted = true;
  } else if (replacement) {
    this->file = std::exchange(replacement, std::nullopt);
  }
}

void FakePort::setFileDispositionInfo(platform::RawFile file) {
  calls.emplace_back("SetFileInformationByHandle");
  const auto handle = static_cast<std::uintptr_t>(file);
  if (open_files_.contains(handle) && !Fails(FailingCall::SetFileDisposition)) {
    marked_for_deletion_.insert(handle);
  }
}

platform::KeyResult FakePort::OpenKey(const std::u16string& path) {
  const std::uintptr_t handle = NextHandle();
  open_keys_[handle] = path;
  return {platform::kSuccess, platform::RawKey{handle}};
}

std::map<std::u16string, StoredValue>* FakePort::KeyValues(platform::RawKey key) {
  const auto found = open_keys_.find(static_cast<std::uintptr_t>(key));
  if (found == open_keys_.end()) {
    return nullptr;
  }
  if (found->second == kProfileKeyPath) {
    return &values;
  }
  const auto other = other_keys.find(found->second);
  return other == other_keys.end() ? nullptr : &other->second;
}

const std::map<std::u16string, StoredValue>& FakePort::ValuesAt(std::u16string_view path) {
  static const std::map<std::u16string, StoredValue> kNone;
  if (path == kProfileKeyPath) {
    return key_exists ? values : kNone;
  }
  const auto found = other_keys.find(std::u16string(path));
  return found == other_keys.end() ? kNone : found->second;
}

platform::KeyResult FakePort::regOpenKeyEx(const char16_t* path) {
  calls.emplace_back("RegOpenKeyExW");
  TouchRegistry();
  const bool profile = path == std::u16string_view{kProfileKeyPath};
  if (profile ? !key_exists : !other_keys.contains(path)) {
    return {kFileNotFound, platform::kNoKey};
  }
  if (Fails(FailingCall::RegOpenKey)) {
    return {kAccessDenied, platform::kNoKey};
  }
  return OpenKey(path);
}

platform::KeyResult FakePort::regCreateKeyEx(const char16_t* path) {
  calls.emplace_back("RegCreateKeyExW");
  TouchRegistry();
  const std::u16string_view name{path};
  const FailingCall call = name == kProfileKeyPath       ? FailingCall::RegCreateKey
                           : name.ends_with(u"Previous") ? FailingCall::CreatePreviousKey
                                                         : FailingCall::CreateMarkerKey;
  // Opening a key that is there changes nothing: no lock needed.
  const bool exists = name == kProfileKeyPath ? key_exists : other_keys.contains(path);
  if (Fails(call) || !Change(!exists)) {
    return {kAccessDenied, platform::kNoKey};
  }
  if (name == kProfileKeyPath) {
    key_exists = true;
  } else {
    other_keys[path];
  }
  return OpenKey(path);
}

platform::PlatformError FakePort::regSetValueEx(platform::RawKey key, const char16_t* name,
                                                std::uint32_t type,
                                                std::span<const std::byte> data) {
  calls.emplace_back("RegSetValueExW");
  std::map<std::u16string, StoredValue>* key_values = KeyValues(key);
  // The one value a run notes without the lock: a time, never the profile.
  const bool note = std::u16string_view{name} == u"LastInLine";
  if (key_values == nullptr || failing_names.contains(name) || !Change(!note)) {
    return kAccessDenied;
  }
  if (key_values == &values) {
    // The profile's own writes, which the tests fail one by one.
    constexpr std::array kWrites = {FailingCall::FirstWrite, FailingCall::SecondWrite,
                                    FailingCall::ThirdWrite, FailingCall::FourthWrite};
    const std::size_t write = writes_attempted_++;
    if (write < kWrites.size() && Fails(kWrites[write])) {
      return kAccessDenied;
    }
    written.emplace_back(name);
  }
  StoredValue stored{type, {data.begin(), data.end()}};
  if (Fails(FailingCall::ReadBack) && key_values == &values && !stored.data.empty()) {
    stored.data.front() = std::byte{'?'};  // what a filter driver or another writer might do
  }
  (*key_values)[name] = std::move(stored);
  return platform::kSuccess;
}

platform::PlatformError FakePort::regFlushKey(platform::RawKey key) {
  calls.emplace_back("RegFlushKey");
  if (!open_keys_.contains(static_cast<std::uintptr_t>(key)) || Fails(FailingCall::FlushKey) ||
      changes_left == 0) {
    return kAccessDenied;
  }
  return platform::kSuccess;
}

void FakePort::regCloseKey(platform::RawKey key) {
  calls.emplace_back("RegCloseKey");
  if (open_keys_.erase(static_cast<std::uintptr_t>(key)) == 0) {
    ++bad_closes;
  }
}

const char16_t* FakePort::getCommandLine() {
  return command_line.c_str();
}

void FakePort::setErrorMode() {
  calls.emplace_back("SetErrorMode");
}

std::size_t FakePort::getEnvironmentVariable(const char16_t* name, std::span<char16_t> out) {
  const auto found = environment.find(name);
  if (found == environment.end() || found->second.size() >= out.size()) {
    return 0;
  }
  std::copy(found->second.begin(), found->second.end(), out.begin());
  out[found->second.size()] = u'\0';
  return found->second.size();
}

std::uint64_t FakePort::getSystemTimeAsFileTime() {
  return now;
}

std::uint64_t FakePort::getTickCount64() {
  return 1000 + slept_ms;
}

void FakePort::sleep(std::uint32_t milliseconds) {
  calls.emplace_back("Sleep");
  slept_ms += milliseconds;
}

platform::RawThread FakePort::createThread(void (*work)(void*), void* context) {
  calls.emplace_back("CreateThread");
  if (thread_fails) {
    return platform::kNoThread;
  }
  const std::uintptr_t handle = NextHandle();
  open_threads_.insert(handle);
  thread_ended_ = !master_open_hangs;
  if (master_open_hangs) {
    masters_opened.emplace_back(u"(an open that never returns)");
  } else {
    work(context);
  }
  return platform::RawThread{handle};
}

bool FakePort::waitForThread(platform::RawThread thread, std::uint32_t /*milliseconds*/) {
  calls.emplace_back("WaitForSingleObject(thread)");
  return open_threads_.contains(static_cast<std::uintptr_t>(thread)) && thread_ended_;
}

void FakePort::cancelSynchronousIo(platform::RawThread /*thread*/) {
  calls.emplace_back("CancelSynchronousIo");
  ++cancels;
  thread_ended_ = thread_ended_ || hang_cancellable;
}

void FakePort::closeThread(platform::RawThread thread) {
  calls.emplace_back("CloseHandle(thread)");
  if (open_threads_.erase(static_cast<std::uintptr_t>(thread)) == 0) {
    ++bad_closes;
  }
}

platform::FileResult FakePort::createLockFile(const char16_t* /*folder*/, const char16_t* path) {
  calls.emplace_back("CreateFileW(lock)");
  lock_path = path;
  if (before_lock) {
    // The other run holds the lock while it writes.
    lock_held = true;
    std::exchange(before_lock, nullptr)(*this);
    lock_held = false;
  }
  if (lock_held_elsewhere || lock_error != platform::kSuccess) {
    return {lock_held_elsewhere ? platform::kErrorSharingViolation : lock_error,
            kStatusAccessDenied, platform::kInvalidFile};
  }
  const std::uintptr_t handle = NextHandle();
  open_locks_.insert(handle);
  lock_held = true;
  return {platform::kSuccess, platform::kStatusSuccess, platform::RawFile{handle}};
}

platform::FileResult FakePort::createFileForSharedReading(const char16_t* path) {
  calls.emplace_back("CreateFileW(shared)");
  masters_opened.emplace_back(path);
  const auto fault = master_faults.find(path);
  if (fault != master_faults.end() && fault->second.times != 0) {
    --fault->second.times;
    return {fault->second.error, fault->second.status, platform::kInvalidFile};
  }
  if (!masters.contains(path)) {
    const bool folder_there = attributes.contains(
        std::u16string(path).substr(0, std::u16string_view{path}.rfind(u'\\') + 1));
    return {folder_there ? kFileNotFound : platform::kErrorPathNotFound, kStatusObjectNameNotFound,
            platform::kInvalidFile};
  }
  const std::uintptr_t handle = NextHandle();
  open_masters_[handle] = path;
  return {platform::kSuccess, platform::kStatusSuccess, platform::RawFile{handle}};
}

platform::RemoteProtocol FakePort::getRemoteProtocolInfo(platform::RawFile file) {
  calls.emplace_back("GetFileInformationByHandleEx(FileRemoteProtocolInfo)");
  const auto master = open_masters_.find(static_cast<std::uintptr_t>(file));
  const auto found = master == open_masters_.end() ? channels.end() : channels.find(master->second);
  return found == channels.end() ? platform::RemoteProtocol{kInvalidFunction, 0} : found->second;
}

platform::PlatformError FakePort::readFileCounted(platform::RawFile file,
                                                  std::span<std::uint8_t> buffer,
                                                  std::size_t& read) {
  calls.emplace_back("ReadFile(master)");
  const auto found = open_masters_.find(static_cast<std::uintptr_t>(file));
  if (found == open_masters_.end()) {
    return platform::kErrorInvalidHandle;
  }
  if (master_read_fails) {
    return platform::kErrorNetnameDeleted;  // the connection went mid-read
  }
  const std::string& bytes = masters.at(found->second);
  read = std::min(buffer.size(), bytes.size());
  std::memcpy(buffer.data(), bytes.data(), read);
  return platform::kSuccess;
}

platform::AttributesResult FakePort::getFileAttributes(const char16_t* path) {
  calls.emplace_back("GetFileAttributesW");
  const auto found = attributes.find(path);
  if (found == attributes.end()) {
    return {platform::kErrorPathNotFound, platform::kInvalidFileAttributes};
  }
  return found->second;
}

std::uint32_t FakePort::getDriveType(const char16_t* root) {
  calls.emplace_back("GetDriveTypeW");
  const auto found = drive_types.find(*root);
  return found == drive_types.end() ? platform::kDriveFixed : found->second;
}

platform::KeyResult FakePort::regOpenKeyForReading(platform::Root root, const char16_t* path) {
  calls.emplace_back("RegOpenKeyExW(read)");
  if (root == platform::Root::LocalMachine) {
    if (policy_mode) {
      policy_value =
          StoredValue{platform::kRegDword,
                      {std::byte(*policy_mode & 0xFF), std::byte(*policy_mode >> 8 & 0xFF),
                       std::byte(*policy_mode >> 16 & 0xFF), std::byte(*policy_mode >> 24)}};
    }
    const std::u16string key = u"HKLM\\" + std::u16string(path);
    if (!policy_value && !other_keys.contains(key)) {
      return {kFileNotFound, platform::kNoKey};
    }
    if (policy_value) {
      other_keys[key][u"Mode"] = *policy_value;
    }
    return OpenKey(key);
  }
  const bool profile = path == std::u16string_view{kProfileKeyPath};
  if (profile ? !key_exists : !other_keys.contains(path)) {
    return {kFileNotFound, platform::kNoKey};
  }
  return OpenKey(path);
}

platform::ValueResult FakePort::regQueryValueEx(platform::RawKey key, const char16_t* name,
                                                std::span<std::byte> data) {
  calls.emplace_back("RegQueryValueExW");
  const std::map<std::u16string, StoredValue>* key_values = KeyValues(key);
  if (key_values == nullptr) {
    return {platform::kErrorInvalidHandle};
  }
  const auto found = key_values->find(name);
  if (found == key_values->end()) {
    return {kFileNotFound};
  }
  const StoredValue& value = found->second;
  if (value.data.size() > data.size()) {
    return {platform::kErrorMoreData, value.type, value.data.size()};
  }
  std::fill(data.begin(), data.end(), std::byte{kJunkUnit & 0xFF});
  std::copy(value.data.begin(), value.data.end(), data.begin());
  return {platform::kSuccess, value.type, value.data.size()};
}

platform::PlatformError FakePort::regDeleteValue(platform::RawKey key, const char16_t* name) {
  calls.emplace_back("RegDeleteValueW");
  std::map<std::u16string, StoredValue>* key_values = KeyValues(key);
  if (key_values == nullptr || !Change()) {
    return kAccessDenied;
  }
  return key_values->erase(name) == 0 ? kFileNotFound : platform::kSuccess;
}

platform::LogWrite FakePort::appendLine(const char16_t* /*folder*/, const char16_t* path,
                                        const char16_t* /*rotated*/, std::uint64_t /*limit*/,
                                        std::span<const std::uint8_t> line) {
  if (log_fails || log_is_link) {
    return log_fails ? platform::LogWrite::Failed : platform::LogWrite::Link;
  }
  files_appended[path].emplace_back(line.begin(), line.end());
  return platform::LogWrite::Written;
}

std::size_t FakePort::getComputerName(std::span<char16_t> out) {
  if (computer_name.size() >= out.size()) {
    return 0;
  }
  std::copy(computer_name.begin(), computer_name.end(), out.begin());
  return computer_name.size();
}

platform::FileTail FakePort::readFileTail(const char16_t* path, std::uint64_t written_since,
                                          std::span<std::uint8_t> buffer) {
  calls.emplace_back("ReadFile(log)");
  if (log_written_at < written_since) {
    return {log_written_at, 0};
  }
  std::string text = log_text;
  for (const std::string& line : files_appended[path]) {
    text += line;
  }
  const std::size_t size = std::min(buffer.size(), text.size());
  const std::string last = text.substr(text.size() - size);
  std::memcpy(buffer.data(), last.data(), size);
  return {log_written_at, size};
}

void FakePort::writeStandardOutput(std::span<const std::uint8_t> line) {
  standard_output.emplace_back(line.begin(), line.end());
}

bool FakePort::reportEvent(const char16_t* /*source*/, platform::EventSeverity severity,
                           std::uint32_t event_id, const platform::Sid* user,
                           std::span<const char16_t* const> strings) {
  calls.emplace_back("ReportEventW");
  if (advapi32_missing) {
    return false;
  }
  events.push_back({severity,
                    event_id,
                    user == nullptr ? std::nullopt : std::optional<platform::Sid>{*user},
                    {strings.begin(), strings.end()}});
  return true;
}

}  // namespace profile_import::testing
