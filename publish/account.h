#pragma once

#include <string>
#include <string_view>

namespace profile_import::publish {

enum class AccountKind {
  Sid,                // S-1-5-21-…, S-1-12-1-…: the folder's name as written
  EntraObjectId,      // a GUID: its SID is computed here
  DownLevelName,      // DOMAIN\name: resolved on Windows
  UserPrincipalName,  // name@domain: resolved on Windows
  Invalid,
};

struct Account {
  AccountKind kind = AccountKind::Invalid;
  std::string sid;  // for Sid and EntraObjectId
};

// What an account column holds. A SID must be in the one form Windows writes
// (no leading zeros, an upper-case S), since the folder is found by that text.
Account ClassifyAccount(std::string_view text);

}  // namespace profile_import::publish
