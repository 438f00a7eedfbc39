#include "sync/run_sync.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "sync/policy.h"
#include "sync/stored_profile.h"
#include "sync/text_builder.h"

namespace profile_import::sync {
namespace {

using platform::SyncPort;

// A master is never read in the machine's own ANSI code page: on a share read
// by machines of several languages it would store different text on each.
// This one takes no byte, and the parse says the file was not UTF-8.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor): never deleted through the base
class NoAnsiCodePage final : public platform::AnsiCodePage {
 public:
  std::size_t multiByteToWideChar(std::span<const std::uint8_t> /*bytes*/,
                                  std::span<char16_t> /*out*/) override {
    return 0;
  }
};

constexpr const char* kPolicyCheckOnly = "check only: policy Mode 1";
constexpr const char* kUnprotectedRead =
    "read over a channel neither signed nor mutually authenticated";
// %LOCALAPPDATA% and what profile-sync puts under it.
constexpr std::size_t kLocalPathUnits = 1024;

// {sid}, in any case, as a path's letters are.
bool IsSidPlaceholder(std::u16string_view text) {
  constexpr std::u16string_view kSidPlaceholder = u"{sid}";
  if (text.size() < kSidPlaceholder.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kSidPlaceholder.size(); ++i) {
    const char16_t unit = text[i] >= u'A' && text[i] <= u'Z' ? text[i] + (u'a' - u'A') : text[i];
    if (unit != kSidPlaceholder[i]) {
      return false;
    }
  }
  return true;
}

// {sid} in a master's path becomes the user's SID. False when the result
// does not fit.
bool ExpandPath(std::u16string_view given, std::u16string_view sid, MasterPath& out) {
  TextBuilder<char16_t> path{std::span{out}.first(kMasterPathUnits)};
  std::size_t at = 0;
  while (at < given.size()) {
    // NOLINTNEXTLINE(*-pointer-arithmetic)
    if (IsSidPlaceholder({given.data() + at, given.size() - at})) {
      path.Add(sid);
      at += 5;
    } else {
      path.Put(given[at++]);
    }
  }
  out[path.Length()] = u'\0';
  return !path.Overflowed();
}

void UseMaster(SyncResult& result, const MasterPath& path) {
  const std::u16string_view text{path.data()};
  TextBuilder<char16_t> master{result.master};
  master.Add(text).Put(u'\0');
  result.master_length = text.size();
}

void Decided(SyncResult& result, Change change, const StoredState& stored) {
  result.change = change;
  result.changed = stored.changed;
  result.would_write = change == Change::Missing || change == Change::Rollout ||
                       change == Change::DriftEnforced || change == Change::Unfinished;
  result.once_a_day =
      change == Change::None || change == Change::Drift || change == Change::RolledBack;
}

// Whether a failed open of the lock file is another run's hold on it: open
// without sharing, or being deleted as that run closes it.
bool HeldByAnotherRun(const platform::FileResult& opened) {
  return opened.error == platform::kErrorSharingViolation ||
         opened.error == platform::kErrorDeletePending ||
         opened.status == platform::kStatusDeletePending;
}

// Takes the user's lock, waiting for another run's until `until`: a held
// file, or none and the result failed with Busy.
platform::UniqueFile TakeLock(SyncPort& port, std::uint64_t until, const char16_t* folder,
                              SyncResult& result) {
  static constinit std::array<char16_t, kLocalPathUnits> path{};
  TextBuilder<char16_t> lock{std::span{path}.first(kLocalPathUnits - 1)};
  lock.Add(folder).Add(kLockName).Put(u'\0');
  if (*folder == u'\0' || lock.Overflowed()) {
    result.Fail(SyncStatus::Busy, platform::kSuccess, "no %LOCALAPPDATA% to hold the lock in");
    return {port, platform::kInvalidFile};
  }
  platform::FileResult opened = port.createLockFile(folder, path.data());
  while (opened.file == platform::kInvalidFile && HeldByAnotherRun(opened) &&
         port.getTickCount64() < until) {
    port.sleep(kLockRetryMilliseconds);
    opened = port.createLockFile(folder, path.data());
  }
  if (opened.file == platform::kInvalidFile) {
    result.Fail(SyncStatus::Busy, opened.error,
                "another run of this user is writing (error 32), or the lock cannot be opened: "
                "try again later");
    result.nt_status = opened.status;
  }
  return {port, opened.file};
}

// Under the lock, decides again from what is stored now (another run may
// have written meanwhile), and writes if that is still needed.
void WriteUnderLock(SyncPort& port, const SiteProfile& master, std::uint64_t hash,
                    std::uint64_t until, const char16_t* folder, Marker& marker, bool enforce,
                    SyncResult& result) {
  const platform::UniqueFile held = TakeLock(port, until, folder, result);
  if (!held) {
    return;
  }
  ReadMarker(port, false, marker);
  const StoredState stored = ReadStored(port, master);
  Decided(result, Decide(stored, marker, hash, enforce), stored);
  if (result.would_write) {
    WriteProfile(port, master, hash, marker, result);
  }
}

}  // namespace

void RunSync(SyncPort& port, const CommandLine& command, const char16_t* local_folder,
             SyncResult& result) {
  // Large for a stack without probes.
  static constinit MasterPaths paths{};
  static constinit MasterSearch search{};
  static constinit Marker marker{};
  static constinit CommandLine policy_masters{};

  const std::uint64_t started = port.getTickCount64();
  const Policy policy = ReadPolicy(port, policy_masters);
  const PolicyMode mode = policy.mode;
  if (command.restore) {
    // Asked for by hand, and the way back from a bad rollout that the kill
    // switch stopped: not held by the policy.
    result.change = Change::RolledBack;
    result.account = FindRunningAccount(port);
    if (result.account.kind != AccountKind::User) {
      result.status = SyncStatus::NoUserHive;
      return;
    }
    const platform::UniqueFile held =
        TakeLock(port, started + kDeadlineMilliseconds, local_folder, result);
    if (held) {
      ReadMarker(port, false, marker);
      RestorePrevious(port, marker, result);
    }
    return;
  }
  if (mode == PolicyMode::Off) {
    result.status = SyncStatus::TurnedOff;
    result.once_a_day = true;
    return;
  }
  const bool check = command.check || mode != PolicyMode::Normal;
  const bool enforce = command.enforce || policy.enforce;
  const std::uint32_t stale_days = command.stale_days != 0  ? command.stale_days
                                   : policy.stale_days != 0 ? policy.stale_days
                                                            : kDefaultStaleDays;
  const CommandLine& masters = command.master_count != 0 ? command : policy_masters;
  if (masters.master_count != 0) {
    result.masters_from = command.master_count != 0 ? "command line" : "policy";
  } else if (mode != PolicyMode::Unreadable) {
    result.Fail(SyncStatus::Usage, platform::kSuccess,
                "no master: give one, or set policy Masters");
  }

  result.account = FindRunningAccount(port);
  if (result.status == SyncStatus::InPlace && result.account.kind != AccountKind::User) {
    result.status = SyncStatus::NoUserHive;
  }
  for (std::size_t i = 0; i < masters.master_count && result.status == SyncStatus::InPlace; ++i) {
    if (!ExpandPath(masters.masters[i], result.account.SidText(), paths[i])) {
      result.Fail(SyncStatus::Usage, platform::kSuccess, "a master's path is too long");
    }
  }
  if (result.status == SyncStatus::InPlace && masters.master_count != 0) {
    UseMaster(result, paths[0]);
    ReadMarker(port, masters.master_count > 1, marker);
    search.port = &port;
    search.paths = &paths;
    search.path_count = masters.master_count;
    search.imported_from = kNoMasterIndex;
    for (std::size_t i = 0; i < masters.master_count; ++i) {
      // As written by a run from the same masters: the same text.
      if (std::u16string_view{paths[i].data()} ==
          std::u16string_view{marker.from.data(), marker.from_length}) {
        search.imported_from = i;
        break;
      }
    }
    search.given_up = false;
    search.found = MasterFound{};
    search.found.status = SyncStatus::NoMaster;
    const Deadline deadline = SearchMasters(port, search);
    if (deadline == Deadline::Met) {
      UseMaster(result, paths[search.found.used]);
      result.status = search.found.status;
      result.error = search.found.error;
      result.nt_status = search.found.nt_status;
      result.detail = search.found.detail;
      // Whoever answers the server's name on the network the machine is on
      // could serve a master read over such a connection.
      const Channel channel = search.found.channel;
      if (result.status == SyncStatus::InPlace &&
          (channel == Channel::Unprotected || channel == Channel::NotKnown)) {
        if (policy.require_secure_channel) {
          result.Fail(SyncStatus::InsecureChannel, platform::kSuccess,
                      channel == Channel::Unprotected
                          ? "read over a channel neither signed nor mutually authenticated: "
                            "refused by policy RequireSecureChannel"
                          : "the connection cannot tell whether it is signed or mutually "
                            "authenticated: refused by policy RequireSecureChannel");
        } else if (channel == Channel::Unprotected) {
          result.detail = kUnprotectedRead;
        }
      }
    } else {
      result.Fail(SyncStatus::Unreachable, platform::kErrorTimeout,
                  deadline == Deadline::Missed ? "no answer within the deadline: read cancelled"
                  : deadline == Deadline::Stuck
                      ? "no answer within the deadline; could not cancel its read"
                      : "no thread could be started to hold the deadline");
    }
    if (result.status == SyncStatus::NoMaster || result.status == SyncStatus::Unreachable) {
      // Away from the master for a while is expected; for longer than the
      // limit, or never in line, it is a path, a folder or a machine to fix.
      const std::uint64_t now = port.getSystemTimeAsFileTime();
      // A time more than a day ahead (a clock that was wrong, or a value
      // set by hand in the user's own hive) proves nothing either.
      const bool stale =
          marker.last_in_line == 0 ||
          (now > marker.last_in_line ? now - marker.last_in_line > stale_days * kDayTicks
                                     : marker.last_in_line - now > kDayTicks);
      result.status = stale ? SyncStatus::Stale : result.status;
      result.once_a_day = !stale;
    }
  }
  if (result.status == SyncStatus::InPlace && masters.master_count != 0) {
    NoAnsiCodePage no_code_page;
    const ParsedProfile parsed = ParseProfileText(search.found.bytes, no_code_page);
    if (!parsed.utf8 && !parsed.utf16_le) {
      result.Fail(SyncStatus::MasterInvalid, platform::kSuccess,
                  "neither UTF-8 nor UTF-16 LE: it would be read in each machine's ANSI code page");
    } else if (parsed.verdict != ProfileTextVerdict::Accepted) {
      result.Fail(SyncStatus::MasterInvalid, platform::kSuccess,
                  "not a valid profile: profile-check names the rule");
    } else {
      // Decided on reads alone: the path every logon takes opens nothing for writing.
      const std::uint64_t hash = ProfileHash(parsed.profile);
      const StoredState stored = ReadStored(port, parsed.profile);
      Decided(result, Decide(stored, marker, hash, enforce), stored);
      if (check) {
        result.status = result.would_write               ? SyncStatus::WouldWrite
                        : result.change == Change::Drift ? SyncStatus::DriftFound
                                                         : SyncStatus::InPlace;
      } else if (result.would_write) {
        // The deadline bounds the whole run: a wait for another run's
        // write gets what the search left of it.
        WriteUnderLock(port, parsed.profile, hash, started + kDeadlineMilliseconds, local_folder,
                       marker, enforce, result);
      }
      if (result.status == SyncStatus::InPlace && !result.would_write) {
        NoteInLine(port, marker, port.getSystemTimeAsFileTime());
      }
    }
  }
  if (mode == PolicyMode::Unreadable && result.status != SyncStatus::Usage) {
    // A policy that cannot be read fails safe, and says so at every run,
    // with the run's own error if it had one.
    if (result.status == SyncStatus::InPlace || result.status == SyncStatus::WouldWrite ||
        result.status == SyncStatus::DriftFound) {
      result.error = policy.error;
    }
    result.status = SyncStatus::PolicyUnreadable;
    result.once_a_day = false;
    result.detail = policy.why;
  } else if (mode == PolicyMode::CheckOnly && result.detail == nullptr) {
    result.detail = kPolicyCheckOnly;
  }
}

}  // namespace profile_import::sync
