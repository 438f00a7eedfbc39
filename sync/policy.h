#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/sync_port.h"
#include "sync/command_line.h"

namespace profile_import::sync {

// An administrator's settings, per machine: the kill switch, a pilot ring,
// the masters, the stale limit, drift put back and the master's connection.
inline constexpr const char16_t* kPolicyKeyPath = u"SOFTWARE\\Policies\\Tessavo\\profile-sync";
inline constexpr const char16_t* kPolicyModeName = u"Mode";
inline constexpr const char16_t* kPolicyMastersName = u"Masters";
inline constexpr const char16_t* kPolicyStaleDaysName = u"StaleDays";
inline constexpr const char16_t* kPolicyEnforceName = u"Enforce";
inline constexpr const char16_t* kPolicyRequireSecureChannelName = u"RequireSecureChannel";
// Every value the program reads under the key: what the shipped ADMX may set.
inline constexpr std::array kPolicyValueNames = {kPolicyModeName, kPolicyMastersName,
                                                 kPolicyStaleDaysName, kPolicyEnforceName,
                                                 kPolicyRequireSecureChannelName};
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
  std::uint32_t stale_days = 0;                        // 0 when not set
  bool enforce = false;
  // A master not on the machine's own disk read only over a connection
  // that is mutually authenticated, and signed or encrypted.
  bool require_secure_channel = false;
};

// What Mode's value means, from what RegQueryValueExW gave: a REG_DWORD, or
// the number a REG_SZ or REG_QWORD holds (what `reg add` and Group Policy
// Preferences write when the type is missed). Anything else fails safe.
Policy PolicyOfValue(const platform::ValueResult& value, std::span<const std::byte> data);

// Reads every value; a value that is set but cannot be used makes the whole
// policy Unreadable, as a kill switch would. `masters` gets policy Masters
// (a REG_MULTI_SZ of full paths, or a REG_SZ of one), in the command line's
// shape; none when it is not set.
Policy ReadPolicy(platform::SyncPort& port, CommandLine& masters);

}  // namespace profile_import::sync
