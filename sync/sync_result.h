#pragma once

#include <cstddef>
#include <cstdint>

#include "core/running_account.h"
#include "platform/sync_port.h"
#include "sync/master_search.h"
#include "sync/sync_status.h"

namespace profile_import::sync {

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

}  // namespace profile_import::sync
