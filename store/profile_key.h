#pragma once

#include "core/key_paths.h"
#include "platform/port.h"
#include "platform/port_owner.h"
#include "profile/site_profile.h"

namespace profile_import {

// Under HKEY_CURRENT_USER.
inline constexpr auto kProfileKeyText = JoinKeyPath<char16_t>(kVendorKeyPath, "Mirandel");
inline constexpr const char16_t* kProfileKeyPath = kProfileKeyText.data();

// Opens the key, or creates it (and any missing parent) when the open fails:
// the key, or no key and the create's error when both fail.
platform::KeyResult OpenOrCreateProfileKey(platform::Port& port);

inline platform::PortOwnedKey OpenProfileKey(platform::Port& port) {
  return {port, OpenOrCreateProfileKey(port).key};
}

// Writes the four values in the order of kHandOffFields and stops at the
// first failure, returning its code; kSuccess when all four were written.
platform::PlatformError WriteProfileValues(platform::Port& port, const platform::PortOwnedKey& key,
                                           const SiteProfile& profile);

// Returns once the key's changes are on disk: the registry writes a hive out
// lazily, so without this a power cut could keep a deleted file's profile from
// ever being stored.
platform::PlatformError FlushProfileKey(platform::Port& port, const platform::PortOwnedKey& key);

void CloseProfileKey(platform::PortOwnedKey key);

}  // namespace profile_import
