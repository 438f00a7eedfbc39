#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/running_account.h"
#include "platform/sync_port.h"
#include "sync/command_line.h"
#include "sync/master_search.h"
#include "sync/sync_status.h"

namespace profile_import::sync {

// profile-sync's own files, per user and machine, under %LOCALAPPDATA%.
inline constexpr std::u16string_view kLocalFolder = u"\\Tessavo";
// One run writes at a time per user and machine, whatever the session (two
// Remote Desktop sessions of one user share one hive): the one that holds
// this file open. In the user's own folder, no other user can take it first.
inline constexpr std::u16string_view kLockName = u"\\profile-sync.lock";
inline constexpr std::uint32_t kLockRetryMilliseconds = 50;

// What a run found and did, for its record.
enum class Change {
  None,
  Missing,        // the values were not all there
  Rollout,        // the master differs from what was last imported
  Drift,          // the stored values differ from the master, which was imported: kept
  DriftEnforced,  // the same, written back (--enforce)
  Unfinished,     // a run's write ended part way: finished now
  RolledBack,     // put back by --restore-previous, now or before: kept
};

struct SyncResult {
  SyncStatus status = SyncStatus::InPlace;
  Change change = Change::None;
  bool would_write = false;  // the decision, also under --check
  // The same outcome is recorded at most once a day: nothing to do, turned
  // off, no master, unreachable, drift kept.
  bool once_a_day = false;
  platform::PlatformError error = platform::kSuccess;  // the Windows error behind a failure
  platform::NtStatus nt_status = platform::kStatusSuccess;
  std::uint8_t changed = 0;      // bit i: value i (RegCorp, RegDataBase, RegAdmin, RegUser) differs
  const char* detail = nullptr;  // a few words more on a failure; none when null
  RunningAccount account{};
  const char* masters_from = nullptr;  // "policy" or "command line"; none when null
  std::size_t master_length = 0;       // the master used, or the first tried
  MasterPath master{};

  void Fail(SyncStatus failed, platform::PlatformError windows_error, const char* words) {
    status = failed;
    error = windows_error;
    detail = words;
  }
};

// One run: the policy, the account and hive, the master copy (within the
// deadline), the decision, and, under the user's lock in `local_folder`
// (%LOCALAPPDATA%\Tessavo, NUL-terminated; empty when there is none), the
// write. Records nothing: the caller does.
void RunSync(platform::SyncPort& port, const CommandLine& command, const char16_t* local_folder,
             SyncResult& result);

}  // namespace profile_import::sync
