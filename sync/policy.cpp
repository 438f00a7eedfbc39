#include "sync/policy.h"

#include <string_view>

namespace profile_import::sync {
namespace {

constexpr const char* kCannotBeRead = "policy Mode cannot be read: check only";
constexpr const char* kNoNumber = "policy Mode is text, not a number: check only";
constexpr const char* kBadMasters =
    "policy Masters is not a list of up to 8 full paths (REG_MULTI_SZ): check only";
constexpr const char* kBadStaleDays = "policy StaleDays is not a number from 1 to 3650: check only";
constexpr const char* kBadEnforce = "policy Enforce is not 0 or 1: check only";
constexpr const char* kBadRequireSecureChannel =
    "policy RequireSecureChannel is not 0 or 1: check only";

Policy Unreadable(const char* why, platform::PlatformError error = platform::kSuccess) {
  return {PolicyMode::Unreadable, why, error};
}

// Decimal digits as UTF-16 LE text up to its NUL, with spaces around them
// at most; false for anything else, an empty text, or a number past 64 bits.
bool ParseDecimal(std::span<const std::byte> bytes, std::uint64_t& number) {
  number = 0;
  bool digits = false;
  bool ended = false;  // spaces after the digits
  for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
    const auto unit = static_cast<char16_t>(std::to_integer<unsigned>(bytes[at]) |
                                            std::to_integer<unsigned>(bytes[at + 1]) << 8);
    if (unit == u'\0') {
      break;
    }
    if (unit == u' ') {
      ended = digits;
    } else if (unit < u'0' || unit > u'9' || ended || number > (UINT64_MAX - 9) / 10) {
      return false;
    } else {
      number = number * 10 + static_cast<std::uint64_t>(unit - u'0');
      digits = true;
    }
  }
  return digits;
}

// The number a value that is set holds: a REG_DWORD, a REG_QWORD, or a
// REG_SZ of decimal digits. Null, or what is wrong with it, in Mode's words.
const char* NumberOf(const platform::ValueResult& value, std::span<const std::byte> data,
                     std::uint64_t& number) {
  number = 0;
  if (value.error != platform::kSuccess) {
    // Text too long for a number is no number; anything else, not read.
    return value.error == platform::kErrorMoreData && value.type == platform::kRegSz
               ? kNoNumber
               : kCannotBeRead;
  }
  const std::span<const std::byte> bytes = data.first(value.size);
  if ((value.type == platform::kRegDword && value.size == sizeof(std::uint32_t)) ||
      (value.type == platform::kRegQword && value.size == sizeof(std::uint64_t))) {
    for (std::size_t at = value.size; at-- != 0;) {
      number = number << 8 | std::to_integer<std::uint64_t>(bytes[at]);
    }
    return nullptr;
  }
  if (value.type != platform::kRegSz) {
    return "policy Mode is not a REG_DWORD, REG_SZ or REG_QWORD: check only";
  }
  return ParseDecimal(bytes, number) ? nullptr : kNoNumber;
}

// Masters' paths, each up to its NUL, until an empty one: a REG_SZ's one
// path reads the same way.
bool SplitMasters(std::size_t units, CommandLine& masters) {
  std::size_t start = 0;
  for (std::size_t at = 0; at < units && masters.text[at] != u'\0'; start = ++at) {
    while (at < units && masters.text[at] != u'\0') {
      ++at;
    }
    // NOLINTNEXTLINE(*-pointer-arithmetic)
    const std::u16string_view path{masters.text.data() + start, at - start};
    if (at == units || !IsFullPath(path) || masters.master_count == kMaxMasters) {
      return false;
    }
    masters.masters[masters.master_count++] = path;
  }
  return true;
}

}  // namespace

Policy PolicyOfValue(const platform::ValueResult& value, std::span<const std::byte> data) {
  if (value.error == platform::kErrorFileNotFound) {
    return {};
  }
  std::uint64_t number = 0;
  const char* wrong = NumberOf(value, data, number);
  if (wrong != nullptr) {
    return Unreadable(wrong, wrong == kCannotBeRead ? value.error : platform::kSuccess);
  }
  return {number == kModeOff     ? PolicyMode::Off
          : number == kModeCheck ? PolicyMode::CheckOnly
                                 : PolicyMode::Normal};
}

Policy ReadPolicy(platform::SyncPort& port, CommandLine& masters) {
  masters = CommandLine{};
  const platform::KeyResult opened =
      port.regOpenKeyForReading(platform::Root::LocalMachine, kPolicyKeyPath);
  const platform::PortOwnedKey key{port, opened.key};
  if (!key) {
    // A key that is there but cannot be read may hold a 0: not read as absent.
    return opened.error == platform::kErrorFileNotFound ? Policy{}
                                                        : Unreadable(kCannotBeRead, opened.error);
  }
  // Room for a short text: a longer one is no number (kErrorMoreData).
  std::array<std::byte, 32> data{};
  Policy policy = PolicyOfValue(port.regQueryValueEx(key.get(), kPolicyModeName, data), data);
  if (policy.mode == PolicyMode::Off || policy.mode == PolicyMode::Unreadable) {
    return policy;
  }
  std::uint64_t number = 0;
  const platform::ValueResult days = port.regQueryValueEx(key.get(), kPolicyStaleDaysName, data);
  if (days.error != platform::kErrorFileNotFound) {
    if (NumberOf(days, data, number) != nullptr || number == 0 || number > kMaxStaleDays) {
      return Unreadable(kBadStaleDays, days.error);
    }
    policy.stale_days = static_cast<std::uint32_t>(number);
  }
  // The switches, 0 or 1.
  struct Switch {
    const char16_t* name;
    const char* wrong;
    bool Policy::*on;
  };
  for (const Switch& one : {Switch{kPolicyEnforceName, kBadEnforce, &Policy::enforce},
                            Switch{kPolicyRequireSecureChannelName, kBadRequireSecureChannel,
                                   &Policy::require_secure_channel}}) {
    const platform::ValueResult value = port.regQueryValueEx(key.get(), one.name, data);
    if (value.error != platform::kErrorFileNotFound) {
      if (NumberOf(value, data, number) != nullptr || number > 1) {
        return Unreadable(one.wrong, value.error);
      }
      policy.*one.on = number == 1;
    }
  }
  const platform::ValueResult list = port.regQueryValueEx(
      key.get(), kPolicyMastersName, std::as_writable_bytes(std::span{masters.text}));
  if (list.error != platform::kErrorFileNotFound &&
      (list.error != platform::kSuccess ||
       (list.type != platform::kRegMultiSz && list.type != platform::kRegSz) ||
       !SplitMasters(list.size / sizeof(char16_t), masters))) {
    masters.master_count = 0;
    return Unreadable(kBadMasters, list.error);
  }
  return policy;
}

}  // namespace profile_import::sync
