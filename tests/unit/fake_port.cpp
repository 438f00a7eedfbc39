#include "fake_port.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace profile_import::testing {
namespace {

constexpr platform::PlatformError kFileNotFound = 2;
constexpr platform::PlatformError kAccessDenied = 5;

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

platform::RawFile FakePort::createFile(const char16_t* /*name*/) {
  if (!file || Fails(FailingCall::CreateFile)) {
    return platform::kInvalidFile;
  }
  const std::uintptr_t handle = NextHandle();
  open_files_.insert(handle);
  return platform::RawFile{handle};
}

bool FakePort::readFile(platform::RawFile file, std::span<std::uint8_t> buffer) {
  if (!open_files_.contains(static_cast<std::uintptr_t>(file)) || Fails(FailingCall::ReadFile)) {
    return false;
  }
  const std::size_t count = std::min(buffer.size(), this->file->size());
  std::memcpy(buffer.data(), this->file->data(), count);
  return true;
}

void FakePort::closeHandle(platform::RawFile file) {
  if (open_files_.erase(static_cast<std::uintptr_t>(file)) == 0) {
    ++bad_closes;
  }
}

void FakePort::deleteFile(const char16_t* /*name*/) {
  if (file && !Fails(FailingCall::DeleteFile)) {
    file.reset();
    file_deleted = true;
  }
}

platform::KeyResult FakePort::regOpenKeyEx(const char16_t* /*path*/) {
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

void FakePort::regCloseKey(platform::RawKey key) {
  if (open_keys_.erase(static_cast<std::uintptr_t>(key)) == 0) {
    ++bad_closes;
  }
}

}  // namespace profile_import::testing
