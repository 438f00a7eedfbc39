#include "sync/policy.h"

namespace profile_import::sync {
namespace {

constexpr const char* kCannotBeRead = "policy Mode cannot be read: check only";
constexpr const char* kNoNumber = "policy Mode is text, not a number: check only";

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

}  // namespace

Policy PolicyOfValue(const platform::ValueResult& value, std::span<const std::byte> data) {
  if (value.error == platform::kErrorFileNotFound) {
    return {};
  }
  if (value.error != platform::kSuccess) {
    // Text too long for a number is no number; anything else, not read.
    return value.error == platform::kErrorMoreData && value.type == platform::kRegSz
               ? Unreadable(kNoNumber)
               : Unreadable(kCannotBeRead, value.error);
  }
  std::uint64_t number = 0;
  const std::span<const std::byte> bytes = data.first(value.size);
  if ((value.type == platform::kRegDword && value.size == sizeof(std::uint32_t)) ||
      (value.type == platform::kRegQword && value.size == sizeof(std::uint64_t))) {
    for (std::size_t at = value.size; at-- != 0;) {
      number = number << 8 | std::to_integer<std::uint64_t>(bytes[at]);
    }
  } else if (value.type != platform::kRegSz) {
    return Unreadable("policy Mode is not a REG_DWORD, REG_SZ or REG_QWORD: check only");
  } else if (!ParseDecimal(bytes, number)) {
    return Unreadable(kNoNumber);
  }
  return {number == kModeOff     ? PolicyMode::Off
          : number == kModeCheck ? PolicyMode::CheckOnly
                                 : PolicyMode::Normal};
}

Policy ReadPolicy(platform::SyncPort& port) {
  const platform::KeyResult opened =
      port.regOpenKeyForReading(platform::Root::LocalMachine, kPolicyKeyPath);
  const platform::UniqueKey key{port, opened.key};
  if (!key) {
    // A key that is there but cannot be read may hold a 0: not read as absent.
    return opened.error == platform::kErrorFileNotFound ? Policy{}
                                                        : Unreadable(kCannotBeRead, opened.error);
  }
  // Room for a short text: a longer one is no number (kErrorMoreData).
  std::array<std::byte, 32> data{};
  const platform::ValueResult mode = port.regQueryValueEx(key.get(), kPolicyModeName, data);
  return PolicyOfValue(mode, data);
}

}  // namespace profile_import::sync
