#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "platform/port.h"
#include "platform/port_owner.h"

namespace profile_import {

// Whose account the process runs as, and whether HKEY_CURRENT_USER is that
// account's own hive, as far as the import cares.
// Unknown first: a record not yet filled in, zero, says nothing it has not found.
enum class AccountKind {
  Unknown,        // the token could not be read
  User,           // a person's account (S-1-5-21-..., S-1-12-1-...), its hive loaded
  HiveNotLoaded,  // a person's account whose hive is not loaded: HKCU is HKEY_USERS\.DEFAULT
  NotAPerson,     // SYSTEM, a service, an application pool: a hive no user sees
};

// The SID's text is left unfilled until known: zero-filling it costs the
// importer's x64 build more than its size budget leaves.
// NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init)
struct RunningAccount {
  AccountKind kind{AccountKind::Unknown};
  std::size_t sid_length{};
  // The SID's text, S-1-5-21-..., and a NUL; not filled when unknown.
  std::array<char16_t, platform::kSidTextCapacity + 1> sid;

  [[nodiscard]] std::u16string_view SidText() const { return {sid.data(), sid_length}; }
};

// A person's account has a hive that is the person's own: local and domain
// accounts are S-1-5-21-..., Microsoft Entra accounts S-1-12-1-.... Every
// other identity's hive (a service's, an application pool's) no user sees.
// Inline, like every small step of the importer that needs no table: each
// function of its own costs the x64 build an unwind entry.
inline AccountKind KindOfSid(const platform::Sid& sid) {
  // Revision, count and the big-endian authority as one little-endian word,
  // then the first sub-authority: a few compares in place of a loop.
  std::uint64_t head = 0;
  std::uint32_t first = 0;
  std::memcpy(&head, sid.data(), sizeof(head));
  std::memcpy(&first, sid.data() + sizeof(head), sizeof(first));  // NOLINT(*-pointer-arithmetic)
  const std::uint64_t without_count = head & ~std::uint64_t{0xFF00};
  constexpr std::uint64_t kNtAuthority = 0x0500000000000001;     // S-1-5-...
  constexpr std::uint64_t kEntraAuthority = 0x0C00000000000001;  // S-1-12-...
  const bool person = (without_count == kNtAuthority && first == 21) ||
                      (without_count == kEntraAuthority && first == 1);
  return person ? AccountKind::User : AccountKind::NotAPerson;
}

// A process started with a user's token but without the user's profile sees
// HKEY_USERS\.DEFAULT as HKEY_CURRENT_USER; the user's own hive, while it is
// loaded, is HKEY_USERS\<SID>.
inline RunningAccount FindRunningAccount(platform::Port& port) {
  // Not zero-filled: only the length's worth is ever read.
  RunningAccount account;  // NOLINT(cppcoreguidelines-pro-type-member-init)
  const platform::PortOwnedToken token{port, port.ntOpenProcessToken().token};
  if (!token) {
    return account;
  }
  const platform::TokenUser user = port.ntQueryInformationToken(token.get());
  if (!user.known) {
    return account;
  }
  account.sid_length = port.rtlConvertSidToUnicodeString(
      user.sid, std::span{account.sid}.first<platform::kSidTextCapacity>());
  if (account.sid_length == 0) {
    return account;
  }
  account.sid[account.sid_length] = u'\0';
  account.kind = KindOfSid(user.sid);
  if (account.kind == AccountKind::User) {
    const platform::PortOwnedKey hive{port, port.regOpenUserHive(account.sid.data()).key};
    if (!hive) {
      account.kind = AccountKind::HiveNotLoaded;
    }
  }
  return account;
}

}  // namespace profile_import
