#include "sync/policy.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace profile_import::sync {
namespace {

// Decimal digits, with spaces around them at most; false for anything else,
// an empty text, or a number past 64 bits.
bool ParseDecimal(std::u16string_view text, std::uint64_t& number) {
  while (!text.empty() && text.front() == u' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == u' ') {
    text.remove_suffix(1);
  }
  if (text.empty()) {
    return false;
  }
  number = 0;
  for (const char16_t unit : text) {
    if (unit < u'0' || unit > u'9' || number > (UINT64_MAX - 9) / 10) {
      return false;
    }
    number = number * 10 + static_cast<std::uint64_t>(unit - u'0');
  }
  return true;
}

PolicyMode ModeOfNumber(std::uint64_t number) {
  return number == kModeOff     ? PolicyMode::Off
         : number == kModeCheck ? PolicyMode::CheckOnly
                                : PolicyMode::Normal;
}

}  // namespace

PolicyMode ModeOfValue(const platform::ValueResult& value, std::span<const std::byte> data) {
  if (value.error == platform::kErrorFileNotFound) {
    return PolicyMode::Normal;
  }
  if (value.error != platform::kSuccess) {
    return PolicyMode::Unreadable;
  }
  if (value.type == platform::kRegDword && value.size == sizeof(std::uint32_t)) {
    std::uint32_t number = 0;
    std::memcpy(&number, data.data(), sizeof(number));
    return ModeOfNumber(number);
  }
  if (value.type == platform::kRegQword && value.size == sizeof(std::uint64_t)) {
    std::uint64_t number = 0;
    std::memcpy(&number, data.data(), sizeof(number));
    return ModeOfNumber(number);
  }
  if (value.type == platform::kRegSz && value.size % sizeof(char16_t) == 0) {
    std::array<char16_t, 16> units{};
    const std::size_t count = std::min(value.size / sizeof(char16_t), units.size());
    std::memcpy(units.data(), data.data(), count * sizeof(char16_t));
    std::size_t length = 0;
    while (length < count && units[length] != u'\0') {
      ++length;
    }
    std::uint64_t number = 0;
    if (ParseDecimal({units.data(), length}, number)) {
      return ModeOfNumber(number);
    }
  }
  return PolicyMode::Unreadable;
}

PolicyMode ReadPolicyMode(platform::SyncPort& port) {
  const platform::KeyResult opened =
      port.regOpenKeyForReading(platform::Root::LocalMachine, kPolicyKeyPath);
  const platform::UniqueKey key{port, opened.key};
  if (!key) {
    // A key that is there but cannot be read may hold a 0: not read as absent.
    return opened.error == platform::kErrorFileNotFound ? PolicyMode::Normal
                                                        : PolicyMode::Unreadable;
  }
  // Room for a short text: a longer one is no number (kErrorMoreData).
  std::array<std::byte, 32> data{};
  const platform::ValueResult mode = port.regQueryValueEx(key.get(), kPolicyModeName, data);
  return ModeOfValue(mode, data);
}

}  // namespace profile_import::sync
