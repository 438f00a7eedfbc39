#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/sync_port.h"
#include "profile/profile_file.h"
#include "sync/command_line.h"
#include "sync/sync_status.h"

namespace profile_import::sync {

inline constexpr std::uint32_t kDeadlineMilliseconds = 15000;
// Past the deadline, the stuck open or read is cancelled this often, this
// long apart, before the run gives up on the thread: a thread may be between
// two calls when one is cancelled.
inline constexpr int kCancelAttempts = 10;
inline constexpr std::uint32_t kCancelWaitMilliseconds = 100;
// A master held open by a writer (its copy, an antivirus scan) or being
// replaced is tried again this often, this long apart, before it counts as locked.
inline constexpr int kSharingRetries = 5;
inline constexpr std::uint32_t kSharingRetryMilliseconds = 200;
// A master's path after {sid} is replaced.
inline constexpr std::size_t kMasterPathUnits = 1024;
inline constexpr std::size_t kNoMasterIndex = kMaxMasters;

using MasterPath = std::array<char16_t, kMasterPathUnits + 1>;
using MasterPaths = std::array<MasterPath, kMaxMasters>;

// How the master read was reached.
enum class Channel : std::uint8_t {
  OwnDisk,    // a disk of the machine's own: nothing to ask
  Protected,  // mutually authenticated, and signed or encrypted
  // Less: signed over NTLM proves only that some machine of the domain
  // served it, and unsigned, any server that answered the name.
  Unprotected,
  NotKnown,  // the redirector does not say (Windows 7 says nothing of these, nor Wine)
};

// What the search found: the place that decided it, and the bytes read.
// Zero until set, as the run's static copy must be to stay out of the file.
struct MasterFound {
  SyncStatus status{};  // NoMaster, set when the search starts
  platform::PlatformError error = platform::kSuccess;
  platform::NtStatus nt_status = platform::kStatusSuccess;
  const char* detail = nullptr;
  std::size_t used = 0;
  Channel channel{};
  ProfileReadBuffer bytes{};
};

// Everything the search uses: it may run on a thread of its own, which the
// run stops waiting for at the deadline and then must not touch.
struct MasterSearch {
  platform::SyncPort* port = nullptr;
  const MasterPaths* paths = nullptr;
  std::size_t path_count = 0;
  // The master the stored profile was imported from: one that is absent now
  // ends the search there, so that a later one (a site default) does not
  // replace it. kNoMasterIndex when none of these.
  std::size_t imported_from = 0;
  std::atomic<bool> given_up{false};
  std::uint32_t on_own_disk = 0;  // bit i: master i is on a disk of the machine's own
  MasterFound found;
  MasterPath scratch{};
};

// How the search within the deadline ended.
enum class Deadline {
  Met,
  Missed,    // its open or read was cancelled
  Stuck,     // the same, but the thread did not end once cancelled
  NoThread,  // no thread could be made to hold the deadline
};

// Looks for the first master that exists and reads it: on this thread for
// masters on the machine's own disks, else on a thread held to the deadline.
Deadline SearchMasters(platform::SyncPort& port, MasterSearch& search);

}  // namespace profile_import::sync
