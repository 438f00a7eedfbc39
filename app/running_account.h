#pragma once

#include "platform/port.h"
#include "platform/unique_handle.h"

namespace profile_import {

// Whose account the process runs as, as far as the import cares.
enum class RunningAccount {
  User,            // any account but the three below: its hive is a person's
  LocalSystem,     // S-1-5-18
  LocalService,    // S-1-5-19
  NetworkService,  // S-1-5-20
  Unknown,         // the token could not be read
};

// Inline, like every small step of the importer that needs no table: each
// function of its own costs the x64 build an unwind entry.
inline RunningAccount FindRunningAccount(platform::Port& port) {
  const platform::UniqueToken token{port, port.ntOpenProcessToken().token};
  if (!token) {
    return RunningAccount::Unknown;
  }
  const platform::TokenUser user = port.ntQueryInformationToken(token.get());
  if (!user.known) {
    return RunningAccount::Unknown;
  }
  // S-1-5-<rid>: revision 1, one sub-authority, NT Authority (5), then the rid.
  constexpr std::size_t kRidAt = 8;
  constexpr platform::SidPrefix kNtAuthorityRidZero = {1, 1, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0};
  platform::SidPrefix without_rid = user.sid;
  without_rid[kRidAt] = 0;
  if (without_rid != kNtAuthorityRidZero) {
    return RunningAccount::User;
  }
  switch (user.sid[kRidAt]) {
    case 18:
      return RunningAccount::LocalSystem;
    case 19:
      return RunningAccount::LocalService;
    case 20:
      return RunningAccount::NetworkService;
    default:
      return RunningAccount::User;
  }
}

}  // namespace profile_import
