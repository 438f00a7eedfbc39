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

// Whether a SID has the form of a person's account: a domain's or a
// machine's user (S-1-5-21-a-b-c-RID) or an Entra user (S-1-12-1-a-b-c-d).
// Well-known accounts, built-in groups and a domain's own SID have others.
bool IsUserSidForm(std::string_view sid);

}  // namespace profile_import::publish
