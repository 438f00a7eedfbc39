#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/key_paths.h"
#include "platform/sync_port.h"
#include "profile/site_profile.h"
#include "sync/master_search.h"
#include "sync/sync_result.h"

namespace profile_import::sync {

// Where profile-sync keeps its marker and the values it replaced, beside the
// profile in the user's own hive, so that both roam with the values.
inline constexpr auto kSyncKeyText = JoinKeyPath<char16_t>(kVendorKeyPath, "profile-sync");
inline constexpr const char16_t* kSyncKeyPath = kSyncKeyText.data();
inline constexpr auto kPreviousKeyText =
    JoinKeyPath<char16_t>(kVendorKeyPath, "profile-sync\\Previous");
inline constexpr const char16_t* kPreviousKeyPath = kPreviousKeyText.data();
inline constexpr const char16_t* kImportedHashName = u"ImportedHash";
inline constexpr const char16_t* kImportedAtName = u"ImportedAt";
inline constexpr const char16_t* kImportedFromName = u"ImportedFrom";
// Under Previous: the hash of the master the kept values made way for,
// followed by kKeepingSuffix while they are being kept and kPendingSuffix
// once they are kept and the profile is being written.
inline constexpr const char16_t* kKeptForName = u"KeptFor";
inline constexpr std::u16string_view kKeepingSuffix = u" keeping";
// After ImportedHash too, from the start of a write to its end: what every
// run reads to tell a write of ours that did not finish.
inline constexpr std::u16string_view kPendingSuffix = u" pending";
// After ImportedHash while the values put back by --restore-previous are
// kept: until the master changes from the one it names.
inline constexpr std::u16string_view kRolledBackSuffix = u" rolled back";
// The last time a run read the master and found or put the profile in place,
// as ImportedAt: what tells a user away from the master for a day from one
// never in line. Noted at most once a day, so most runs stay read-only.
inline constexpr const char16_t* kLastInLineName = u"LastInLine";
inline constexpr std::uint64_t kDayTicks = 24ULL * 3600 * 10'000'000;

// What the marker says of the last import, from any machine.
struct Marker {
  std::uint64_t hash = 0;   // 0 when none
  bool unfinished = false;  // a write started and did not end
  bool rolled_back = false;
  std::uint64_t last_in_line = 0;  // FILETIME; 0 when never
  std::size_t from_length = 0;
  MasterPath from{};  // the master it was imported from, when read
};

// What the stored values are, against a master's profile.
struct StoredState {
  bool missing = true;     // any of the four not there
  std::uint8_t changed{};  // bit i: value i differs
};

// Fills `marker` (a path is large for a stack without probes), and its
// master's path only `with_from`: only a command line of several masters
// needs it.
void ReadMarker(platform::SyncPort& port, bool with_from, Marker& marker);
StoredState ReadStored(platform::SyncPort& port, const SiteProfile& master);

// The decision, on reads alone: a write of ours that did not finish is
// finished; drift is only a change no run of ours made.
Change Decide(const StoredState& stored, const Marker& marker, std::uint64_t hash, bool enforce);

// Writes the master's profile as `change` asks, keeping the values it
// replaces; to be called only by the run that holds the user's lock.
void WriteProfile(platform::SyncPort& port, const SiteProfile& master, std::uint64_t hash,
                  const Marker& marker, SyncResult& result);

// Notes LastInLine when it is a day old, in the future, or not there: a
// single value, so no lock is needed.
void NoteInLine(platform::SyncPort& port, const Marker& marker, std::uint64_t now);

// Puts the values kept under Previous back, byte for byte, and marks them
// as rolled back; to be called only by the run that holds the user's lock.
void RestorePrevious(platform::SyncPort& port, const Marker& marker, SyncResult& result);

// The marker's hash of what a master would store: FNV-1a over the four
// texts' UTF-16 code units, each followed by a NUL unit. Every version must
// give the same hash for the same profile, or each machine of a fleet of
// mixed versions would write at every logon.
std::uint64_t ProfileHash(const SiteProfile& profile);

}  // namespace profile_import::sync
