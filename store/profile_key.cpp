#include "store/profile_key.h"

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace profile_import {
namespace {

struct ProfileValue {
  const char16_t* name;
  std::u16string_view text;  // NUL-terminated in its FixedText
};

// The stored size always counts the terminating NUL, so an empty field is a
// two-byte value rather than an empty one.
std::span<const std::byte> DataWithTerminator(std::u16string_view text) {
  return std::as_bytes(std::span{text.data(), text.size() + 1});
}

}  // namespace

platform::KeyResult OpenOrCreateProfileKey(platform::Port& port) {
  const platform::KeyResult opened = port.regOpenKeyEx(kProfileKeyPath);
  if (opened.error == platform::kSuccess) {
    return opened;
  }
  return port.regCreateKeyEx(kProfileKeyPath);
}

platform::PlatformError WriteProfileValues(platform::Port& port, const platform::PortOwnedKey& key,
                                           const SiteProfile& profile) {
  // In the table's order, spelled out: a loop over kHandOffFields itself made
  // the importer 512 bytes larger.
  const auto values = std::to_array<ProfileValue>({
      {kHandOffFields[kCorp].value_name, profile.Corp.View()},
      {kHandOffFields[kDataBase].value_name, profile.DataBase.View()},
      {kHandOffFields[kAdmin].value_name, profile.Admin.View()},
      {kHandOffFields[kUser].value_name, profile.User.View()},
  });
  // A field added to the format and not here would be a value never written.
  static_assert(std::tuple_size_v<decltype(values)> == kFieldCount);
  for (const ProfileValue& value : values) {
    const platform::PlatformError error =
        port.regSetValueEx(key.get(), value.name, platform::kRegSz, DataWithTerminator(value.text));
    if (error != platform::kSuccess) {
      return error;
    }
  }
  return platform::kSuccess;
}

platform::PlatformError FlushProfileKey(platform::Port& port, const platform::PortOwnedKey& key) {
  return port.regFlushKey(key.get());
}

void CloseProfileKey(platform::PortOwnedKey key) {
  key.reset();
}

}  // namespace profile_import
