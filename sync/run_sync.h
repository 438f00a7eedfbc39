#pragma once

#include <string_view>

#include "platform/sync_port.h"
#include "sync/command_line.h"
#include "sync/sync_result.h"

namespace profile_import::sync {

// profile-sync's own files, per user and machine, under %LOCALAPPDATA%.
inline constexpr std::u16string_view kLocalFolder = u"\\Tessavo";

// One run: the policy, the account and hive, the master copy (within the
// deadline), the decision, and, under the user's lock in `local_folder`
// (%LOCALAPPDATA%\Tessavo, NUL-terminated; empty when there is none), the
// write. Records nothing: the caller does.
void RunSync(platform::SyncPort& port, const CommandLine& command, const char16_t* local_folder,
             SyncResult& result);

}  // namespace profile_import::sync
