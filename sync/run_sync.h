#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "app/running_account.h"
#include "platform/sync_port.h"
#include "profile/profile_file.h"
#include "sync/command_line.h"
#include "sync/sync_status.h"

namespace profile_import::sync {

// Where profile-sync keeps its marker and the values it replaced, beside the
// profile in the user's own hive, so that both roam with the values.
inline constexpr const char16_t* kSyncKeyPath = u"Software\\Tessavo\\profile-sync";
inline constexpr const char16_t* kPreviousKeyPath = u"Software\\Tessavo\\profile-sync\\Previous";
inline constexpr const char16_t* kImportedHashName = u"ImportedHash";
inline constexpr const char16_t* kImportedAtName = u"ImportedAt";
inline constexpr const char16_t* kImportedFromName = u"ImportedFrom";
// Under Previous: the hash of the master the kept values made way for, with
// kPendingSuffix until that write is done.
inline constexpr const char16_t* kKeptForName = u"KeptFor";
inline constexpr std::u16string_view kPendingSuffix = u" pending";
// An administrator's kill switch and pilot ring, per machine.
inline constexpr const char16_t* kPolicyKeyPath = u"SOFTWARE\\Policies\\Tessavo\\profile-sync";
inline constexpr const char16_t* kPolicyModeName = u"Mode";
inline constexpr std::uint32_t kModeOff = 0;
inline constexpr std::uint32_t kModeCheck = 1;

inline constexpr std::uint32_t kDeadlineMilliseconds = 15000;
// A master held open by a writer (its copy, an antivirus scan) is tried again
// this often, this long apart, before it counts as locked.
inline constexpr int kSharingRetries = 5;
inline constexpr std::uint32_t kSharingRetryMilliseconds = 200;
// A master's path after {sid} is replaced.
inline constexpr std::size_t kMasterPathUnits = 1024;
inline constexpr std::u16string_view kSidPlaceholder = u"{sid}";  // in any case

// What a run found and did, for its record.
enum class Change {
  None,
  Missing,        // the values were not all there
  Rollout,        // the master differs from what was last imported
  Drift,          // the stored values differ from the master, which was imported: kept
  DriftEnforced,  // the same, written back (--enforce)
};

struct SyncResult {
  SyncStatus status = SyncStatus::InPlace;
  Change change = Change::None;
  bool would_write = false;     // the decision, also under --check
  bool heartbeat_only = false;  // nothing to do, or turned off: recorded once a day only
  platform::PlatformError error = platform::kSuccess;  // the Windows error behind a failure
  platform::NtStatus nt_status = platform::kStatusSuccess;
  std::uint8_t changed = 0;      // bit i: value i (RegCorp, RegDataBase, RegAdmin, RegUser) differs
  const char* detail = nullptr;  // a few words more on a failure; none when null
  RunningAccount account{};
  std::size_t master_length = 0;  // the master used, or the first tried
  std::array<char16_t, kMasterPathUnits + 1> master{};
};

// One run: the policy, the account and hive, the master copy (within the
// deadline), the decision, and the write. Records nothing: the caller does.
void RunSync(platform::SyncPort& port, const CommandLine& command, SyncResult& result);

// The marker's hash of what a master would store: FNV-1a over the four
// texts' UTF-16 code units, each followed by a NUL unit.
std::uint64_t ProfileHash(const SiteProfile& profile);

}  // namespace profile_import::sync
