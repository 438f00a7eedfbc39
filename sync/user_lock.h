#pragma once

#include <cstdint>
#include <string_view>

#include "platform/port_owner.h"
#include "platform/sync_port.h"
#include "sync/sync_result.h"

namespace profile_import::sync {

// One run writes at a time per user and machine, whatever the session (two
// Remote Desktop sessions of one user share one hive): the one that holds
// this file open. In the user's own folder, no other user can take it first.
inline constexpr std::u16string_view kLockName = u"\\profile-sync.lock";
inline constexpr std::uint32_t kLockRetryMilliseconds = 50;

// Takes the user's lock in `folder` (NUL-terminated; empty when there is
// none), waiting for another run's until `until`: a held file, or none and
// the result failed with Busy.
platform::PortOwnedFile TakeUserLock(platform::SyncPort& port, std::uint64_t until,
                                     const char16_t* folder, SyncResult& result);

}  // namespace profile_import::sync
