#include "publish/account.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

namespace profile_import::publish {
namespace {

constexpr std::string_view kSidPrefix = "S-1-";
// Windows' SID text: a 48-bit authority and at most 15 sub-authorities.
constexpr std::uint64_t kLargestAuthority = (std::uint64_t{1} << 48U) - 1;
constexpr std::uint64_t kLargestSubAuthority = 0xFFFFFFFFU;
constexpr std::size_t kMaxSubAuthorities = 15;
// Entra-joined devices give a cloud user S-1-12-1 and four sub-authorities.
constexpr std::string_view kEntraSidPrefix = "S-1-12-1";
constexpr std::size_t kGuidBytes = 16;
constexpr std::string_view kGuidLayout = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";

// A decimal number with no sign and no leading zero, up to `largest`.
std::optional<std::uint64_t> Decimal(std::string_view text, std::uint64_t largest) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > largest) {
      return std::nullopt;
    }
  }
  return value;
}

bool IsSid(std::string_view text) {
  if (!text.starts_with(kSidPrefix)) {
    return false;
  }
  text.remove_prefix(kSidPrefix.size());
  std::size_t parts = 0;
  while (true) {
    const std::size_t dash = text.find('-');
    const std::string_view part = text.substr(0, dash);
    if (!Decimal(part, parts == 0 ? kLargestAuthority : kLargestSubAuthority)) {
      return false;
    }
    ++parts;
    if (dash == std::string_view::npos) {
      break;
    }
    text.remove_prefix(dash + 1);
  }
  return parts >= 2 && parts <= kMaxSubAuthorities + 1;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// The GUID's bytes as written, Data1 first: 8-4-4-4-12 hex digits, braces optional.
std::optional<std::array<std::uint8_t, kGuidBytes>> GuidDigits(std::string_view text) {
  if (text.size() == kGuidLayout.size() + 2 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, kGuidLayout.size());
  }
  if (text.size() != kGuidLayout.size()) {
    return std::nullopt;
  }
  std::array<std::uint8_t, kGuidBytes> bytes{};
  std::size_t nibble = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kGuidLayout[i] == '-') {
      if (text[i] != '-') {
        return std::nullopt;
      }
      continue;
    }
    const int digit = HexDigit(text[i]);
    if (digit < 0) {
      return std::nullopt;
    }
    bytes[nibble / 2] = static_cast<std::uint8_t>((unsigned{bytes[nibble / 2]} << 4U) |
                                                  static_cast<unsigned>(digit));
    ++nibble;
  }
  return bytes;
}

// The GUID's 16 bytes in memory are Data1, Data2 and Data3 little-endian and
// Data4 as written; the device reads them as four little-endian 32-bit
// sub-authorities.
std::string EntraSid(const std::array<std::uint8_t, kGuidBytes>& written) {
  constexpr std::array<std::size_t, kGuidBytes> kMemoryOrder = {3, 2, 1,  0,  5,  4,  7,  6,
                                                                8, 9, 10, 11, 12, 13, 14, 15};
  std::string sid(kEntraSidPrefix);
  for (std::size_t part = 0; part < 4; ++part) {
    std::uint32_t value = 0;
    for (std::size_t byte = 4; byte-- > 0;) {
      value = (value << 8U) | written[kMemoryOrder[part * 4 + byte]];
    }
    sid += '-';
    sid += std::to_string(value);
  }
  return sid;
}

bool TwoNonEmptyParts(std::string_view text, char separator) {
  const std::size_t at = text.find(separator);
  return at != std::string_view::npos && at > 0 && at + 1 < text.size() &&
         text.find(separator, at + 1) == std::string_view::npos;
}

}  // namespace

bool IsUserSidForm(std::string_view sid) {
  constexpr std::string_view kDomainUser = "S-1-5-21-";
  constexpr std::size_t kPartsAfterPrefix = 4;  // three of the domain's, then the RID
  std::string_view rest;
  if (sid.starts_with(kDomainUser)) {
    rest = sid.substr(kDomainUser.size());
  } else if (sid.starts_with(kEntraSidPrefix) && sid.size() > kEntraSidPrefix.size() &&
             sid[kEntraSidPrefix.size()] == '-') {
    rest = sid.substr(kEntraSidPrefix.size() + 1);
  } else {
    return false;
  }
  return IsSid(sid) &&
         static_cast<std::size_t>(std::ranges::count(rest, '-')) + 1 == kPartsAfterPrefix;
}

Account ClassifyAccount(std::string_view text) {
  Account account;
  if (IsSid(text)) {
    account.kind = AccountKind::Sid;
    account.sid = text;
  } else if (const auto guid = GuidDigits(text)) {
    account.kind = AccountKind::EntraObjectId;
    account.sid = EntraSid(*guid);
  } else if (TwoNonEmptyParts(text, '\\') && text.find('@') == std::string_view::npos) {
    account.kind = AccountKind::DownLevelName;
  } else if (TwoNonEmptyParts(text, '@') && text.find('\\') == std::string_view::npos) {
    account.kind = AccountKind::UserPrincipalName;
  }
  return account;
}

}  // namespace profile_import::publish
