#include "fake_port.h"

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
constexpr std::uint32_t kArchive = 0x20;  // FILE_ATTRIBUTE_ARCHIVE, as a file just written has

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
  std::copy(text.begin(), text.end(), out.begin());
  return text.size();
}

platform::KeyResult FakePort::regOpenUserHive(const char16_t* sid) {
  calls.emplace_back("RegOpenKeyExW(HKEY_USERS)");
  hive_opened = sid;
  if (Fails(FailingCall::OpenUserHive)) {
    return {kFileNotFound, platform::kNoKey};
  }
  const std::uintptr_t handle = NextHandle();
  open_keys_.insert(handle);
  return {platform::kSuccess, platform::RawKey{handle}};
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
  if (!open_files_.contains(static_cast<std::uintptr_t>(file)) || Fails(call)) {
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

platform::KeyResult FakePort::regOpenKeyEx(const char16_t* /*path*/) {
  calls.emplace_back("RegOpenKeyExW");
  TouchRegistry();
  if (!key_exists) {
    return {kFileNotFound, platform::kNoKey};
  }
  if (Fails(FailingCall::RegOpenKey)) {
    return {kAccessDenied, platform::kNoKey};
  }
  const std::uintptr_t handle = NextHandle();
  open_keys_.insert(handle);
  return {platform::kSuccess, platform::RawKey{handle}};
}

platform::KeyResult FakePort::regCreateKeyEx(const char16_t* /*path*/) {
  calls.emplace_back("RegCreateKeyExW");
  TouchRegistry();
  if (Fails(FailingCall::RegCreateKey)) {
    return {kAccessDenied, platform::kNoKey};
  }
  key_exists = true;
  const std::uintptr_t handle = NextHandle();
  open_keys_.insert(handle);
  return {platform::kSuccess, platform::RawKey{handle}};
}

platform::PlatformError FakePort::regSetValueEx(platform::RawKey key, const char16_t* name,
                                                std::uint32_t type,
                                                std::span<const std::byte> data) {
  calls.emplace_back("RegSetValueExW");
  TouchRegistry();
  constexpr std::array kWrites = {FailingCall::FirstWrite, FailingCall::SecondWrite,
                                  FailingCall::ThirdWrite, FailingCall::FourthWrite};
  const std::size_t write = writes_attempted_++;
  const bool fails = write < kWrites.size() && Fails(kWrites[write]);
  if (!open_keys_.contains(static_cast<std::uintptr_t>(key)) || fails) {
    return kAccessDenied;
  }
  written.emplace_back(name);
  values[name] = StoredValue{type, {data.begin(), data.end()}};
  return platform::kSuccess;
}

platform::PlatformError FakePort::regFlushKey(platform::RawKey key) {
  calls.emplace_back("RegFlushKey");
  if (!open_keys_.contains(static_cast<std::uintptr_t>(key)) || Fails(FailingCall::FlushKey)) {
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

}  // namespace profile_import::testing
