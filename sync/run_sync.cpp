#include "sync/run_sync.h"

#include <span>
#include <string_view>

#include "sync/master_path.h"
#include "sync/policy.h"
#include "sync/stored_profile.h"
#include "sync/text_builder.h"
#include "sync/user_lock.h"

namespace profile_import::sync {
namespace {

using platform::SyncPort;

constexpr const char* kPolicyCheckOnly = "check only: policy Mode 1";
constexpr const char* kUnprotectedRead =
    "read over a channel not both signed and mutually authenticated";

// What the run keeps between its steps: large for a stack without probes.
struct RunState {
  CommandLine policy_masters;
  MasterPaths paths;
  MasterSearch search;
  Marker marker;
};

// What the command line asks for, or the policy where it does not.
struct Settings {
  bool check = false;
  bool enforce = false;
  std::uint32_t stale_days = 0;
  const CommandLine* masters = nullptr;
};

Settings SettingsOf(const CommandLine& command, const Policy& policy, const RunState& state,
                    SyncResult& result);
void FindMaster(SyncPort& port, const Settings& settings, const Policy& policy, RunState& state,
                SyncResult& result);
void KeepInLine(SyncPort& port, const Settings& settings, std::uint64_t until,
                const char16_t* local_folder, RunState& state, SyncResult& result);
void SayPolicy(const Policy& policy, SyncResult& result);

}  // namespace

void RunSync(SyncPort& port, const CommandLine& command, const char16_t* local_folder,
             SyncResult& result) {
  static constinit RunState state{};

  const std::uint64_t until = port.getTickCount64() + kDeadlineMilliseconds;
  const Policy policy = ReadPolicy(port, state.policy_masters);
  if (command.restore) {
    // Asked for by hand, and the way back from a bad rollout that the kill
    // switch stopped: not held by the policy.
    result.change = Change::RolledBack;
    result.account = FindRunningAccount(port);
    if (result.account.kind != AccountKind::User) {
      result.status = SyncStatus::NoUserHive;
      return;
    }
    const platform::PortOwnedFile held = TakeUserLock(port, until, local_folder, result);
    if (held) {
      ReadMarker(port, false, state.marker);
      RestorePrevious(port, state.marker, result);
    }
    return;
  }
  if (policy.mode == PolicyMode::Off) {
    result.status = SyncStatus::TurnedOff;
    result.once_a_day = true;
    return;
  }
  const Settings settings = SettingsOf(command, policy, state, result);

  result.account = FindRunningAccount(port);
  if (result.status == SyncStatus::InPlace && result.account.kind != AccountKind::User) {
    result.status = SyncStatus::NoUserHive;
  }
  const bool any_master = settings.masters->master_count != 0;
  if (result.status == SyncStatus::InPlace && any_master) {
    FindMaster(port, settings, policy, state, result);
  }
  if (result.status == SyncStatus::InPlace && any_master) {
    KeepInLine(port, settings, until, local_folder, state, result);
  }
  SayPolicy(policy, result);
}

namespace {

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

Settings SettingsOf(const CommandLine& command, const Policy& policy, const RunState& state,
                    SyncResult& result) {
  Settings settings;
  settings.check = command.check || policy.mode != PolicyMode::Normal;
  settings.enforce = command.enforce || policy.enforce;
  settings.stale_days = command.stale_days != 0  ? command.stale_days
                        : policy.stale_days != 0 ? policy.stale_days
                                                 : kDefaultStaleDays;
  settings.masters = command.master_count != 0 ? &command : &state.policy_masters;
  if (settings.masters->master_count != 0) {
    result.masters_from = command.master_count != 0 ? "command line" : "policy";
  } else if (policy.mode != PolicyMode::Unreadable) {
    result.Fail(SyncStatus::Usage, platform::kSuccess,
                "no master: give one, or set policy Masters");
  }
  return settings;
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

// The search from the first master on, the one the profile was imported
// from marked: as written by a run from the same masters, the same text.
void StartSearch(SyncPort& port, std::size_t count, RunState& state) {
  MasterSearch& search = state.search;
  search.port = &port;
  search.paths = &state.paths;
  search.path_count = count;
  search.imported_from = kNoMasterIndex;
  const std::u16string_view from{state.marker.from.data(), state.marker.from_length};
  for (std::size_t i = 0; i < count; ++i) {
    if (std::u16string_view{state.paths[i].data()} == from) {
      search.imported_from = i;
      break;
    }
  }
  search.given_up = false;
  search.found = MasterFound{};
  search.found.status = SyncStatus::NoMaster;
}

// The master the search settled on, and whether its connection may serve it:
// whoever answers the server's name on the network the machine is on could
// serve a master read over a connection neither signed nor authenticated.
void TakeFound(const MasterSearch& search, const Policy& policy, const RunState& state,
               SyncResult& result) {
  const MasterFound& found = search.found;
  UseMaster(result, state.paths[found.used]);
  result.status = found.status;
  result.error = found.error;
  result.nt_status = found.nt_status;
  result.detail = found.detail;
  const Channel channel = found.channel;
  if (result.status != SyncStatus::InPlace ||
      (channel != Channel::Unprotected && channel != Channel::NotKnown)) {
    return;
  }
  if (policy.require_secure_channel) {
    result.Fail(SyncStatus::InsecureChannel, platform::kSuccess,
                channel == Channel::Unprotected
                    ? "read over a channel not both signed and mutually authenticated: "
                      "refused by policy RequireSecureChannel"
                    : "the connection cannot tell whether it is signed or mutually "
                      "authenticated: refused by policy RequireSecureChannel");
  } else if (channel == Channel::Unprotected) {
    result.detail = kUnprotectedRead;
  }
}

// Away from the master for a while is expected; for longer than the limit,
// or never in line, it is a path, a folder or a machine to fix.
void JudgeAbsence(SyncPort& port, const Marker& marker, std::uint32_t stale_days,
                  SyncResult& result) {
  const std::uint64_t now = port.getSystemTimeAsFileTime();
  // A time more than a day ahead (a clock that was wrong, or a value set by
  // hand in the user's own hive) proves nothing either.
  const bool stale = marker.last_in_line == 0 ||
                     (now > marker.last_in_line ? now - marker.last_in_line > stale_days * kDayTicks
                                                : marker.last_in_line - now > kDayTicks);
  result.status = stale ? SyncStatus::Stale : result.status;
  result.once_a_day = !stale;
}

// The masters' paths for this user, and the first that exists, read within
// the deadline.
void FindMaster(SyncPort& port, const Settings& settings, const Policy& policy, RunState& state,
                SyncResult& result) {
  const CommandLine& masters = *settings.masters;
  for (std::size_t i = 0; i < masters.master_count; ++i) {
    if (!ExpandMasterPath(masters.masters[i], result.account.SidText(), state.paths[i])) {
      result.Fail(SyncStatus::Usage, platform::kSuccess, "a master's path is too long");
      return;
    }
  }
  UseMaster(result, state.paths[0]);
  ReadMarker(port, masters.master_count > 1, state.marker);
  StartSearch(port, masters.master_count, state);
  const Deadline deadline = SearchMasters(port, state.search);
  if (deadline == Deadline::Met) {
    TakeFound(state.search, policy, state, result);
  } else {
    result.Fail(SyncStatus::Unreachable, platform::kErrorTimeout,
                deadline == Deadline::Missed ? "no answer within the deadline: read cancelled"
                : deadline == Deadline::Stuck
                    ? "no answer within the deadline; could not cancel its read"
                    : "no thread could be started to hold the deadline");
  }
  if (result.status == SyncStatus::NoMaster || result.status == SyncStatus::Unreachable) {
    JudgeAbsence(port, state.marker, settings.stale_days, result);
  }
}

// Under the lock, decides again from what is stored now (another run may
// have written meanwhile), and writes if that is still needed.
void WriteUnderLock(SyncPort& port, const SiteProfile& master, std::uint64_t hash,
                    std::uint64_t until, const char16_t* folder, Marker& marker, bool enforce,
                    SyncResult& result) {
  const platform::PortOwnedFile held = TakeUserLock(port, until, folder, result);
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

// The master read, against what is stored: decided on reads alone, as the
// path every logon takes opens nothing for writing; written only when needed
// and not a check. The deadline bounds the whole run: a wait for another
// run's write gets what the search left of it.
void KeepInLine(SyncPort& port, const Settings& settings, std::uint64_t until,
                const char16_t* local_folder, RunState& state, SyncResult& result) {
  NoAnsiCodePage no_code_page;
  const ParsedProfile parsed = ParseProfileText(state.search.found.bytes, no_code_page);
  if (!parsed.utf8 && !parsed.utf16_le) {
    result.Fail(SyncStatus::MasterInvalid, platform::kSuccess,
                "neither UTF-8 nor UTF-16 LE: it would be read in each machine's ANSI code page");
    return;
  }
  if (parsed.verdict != ProfileTextVerdict::Accepted) {
    result.Fail(SyncStatus::MasterInvalid, platform::kSuccess,
                "not a valid profile: profile-check names the rule");
    return;
  }
  const std::uint64_t hash = ProfileHash(parsed.profile);
  const StoredState stored = ReadStored(port, parsed.profile);
  Decided(result, Decide(stored, state.marker, hash, settings.enforce), stored);
  if (settings.check) {
    result.status = result.would_write               ? SyncStatus::WouldWrite
                    : result.change == Change::Drift ? SyncStatus::DriftFound
                                                     : SyncStatus::InPlace;
  } else if (result.would_write) {
    WriteUnderLock(port, parsed.profile, hash, until, local_folder, state.marker, settings.enforce,
                   result);
  }
  if (result.status == SyncStatus::InPlace && !result.would_write) {
    NoteInLine(port, state.marker, port.getSystemTimeAsFileTime());
  }
}

// A policy that cannot be read fails safe, and says so at every run, with
// the run's own error if it had one.
void SayPolicy(const Policy& policy, SyncResult& result) {
  if (policy.mode == PolicyMode::Unreadable && result.status != SyncStatus::Usage) {
    if (result.status == SyncStatus::InPlace || result.status == SyncStatus::WouldWrite ||
        result.status == SyncStatus::DriftFound) {
      result.error = policy.error;
    }
    result.status = SyncStatus::PolicyUnreadable;
    result.once_a_day = false;
    result.detail = policy.why;
  } else if (policy.mode == PolicyMode::CheckOnly && result.detail == nullptr) {
    result.detail = kPolicyCheckOnly;
  }
}

}  // namespace

}  // namespace profile_import::sync
