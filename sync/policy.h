#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/sync_port.h"

namespace profile_import::sync {

// An administrator's kill switch and pilot ring, per machine.
inline constexpr const char16_t* kPolicyKeyPath = u"SOFTWARE\\Policies\\Tessavo\\profile-sync";
inline constexpr const char16_t* kPolicyModeName = u"Mode";
inline constexpr const char16_t* kPolicyMastersName = u"Masters";
inline constexpr const char16_t* kPolicyStaleDaysName = u"StaleDays";
inline constexpr const char16_t* kPolicyEnforceName = u"Enforce";
// Every value the program reads under the key: what the shipped ADMX may set.
inline constexpr std::array kPolicyValueNames = {kPolicyModeName, kPolicyMastersName,
                                                 kPolicyStaleDaysName, kPolicyEnforceName};
inline constexpr std::uint64_t kModeOff = 0;
inline constexpr std::uint64_t kModeCheck = 1;

enum class PolicyMode {
  Normal,     // no Mode, or a number other than 0 and 1
  Off,        // 0
  CheckOnly,  // 1
  Unreadable  // of another type, or text that is no number: checks only, and says so
};

struct Policy {
  PolicyMode mode = PolicyMode::Normal;
  const char* why = nullptr;                           // for Unreadable: what is wrong with it
  platform::PlatformError error = platform::kSuccess;  // the registry's, when it could not be read
};

// What Mode's value means, from what RegQueryValueExW gave: a REG_DWORD, or
// the number a REG_SZ or REG_QWORD holds (what `reg add` and Group Policy
// Preferences write when the type is missed). Anything else fails safe.
Policy PolicyOfValue(const platform::ValueResult& value, std::span<const std::byte> data);

Policy ReadPolicy(platform::SyncPort& port);

}  // namespace profile_import::sync
