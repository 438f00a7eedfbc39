#include "sync/stored_profile.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

#include "platform/port_owner.h"
#include "store/profile_key.h"
#include "sync/iso_time.h"
#include "sync/text_builder.h"

namespace profile_import::sync {
namespace {

using platform::PlatformError;
using platform::PortOwnedKey;
using platform::SyncPort;

constexpr std::size_t kHashDigits = 16;
using HashText = std::array<char16_t, kHashDigits + 1>;

// A stored value as the comparison sees it: REG_SZ text up to its first NUL,
// read into a caller's buffer.
struct StoredText {
  enum Kind { Absent, Text, Other } kind = Absent;
  std::u16string_view text;
};

StoredText ReadText(SyncPort& port, platform::RawKey key, const char16_t* name,
                    std::span<char16_t> units) {
  const platform::ValueResult value =
      port.regQueryValueEx(key, name, std::as_writable_bytes(units));
  if (value.error == platform::kErrorFileNotFound) {
    return {};
  }
  if (value.error != platform::kSuccess || value.type != platform::kRegSz) {
    return {StoredText::Other, {}};
  }
  std::size_t length = 0;
  while (length < value.size / sizeof(char16_t) && units[length] != u'\0') {
    ++length;
  }
  return {StoredText::Text, {units.data(), length}};
}

// Room for the longest field and its NUL.
using FieldUnits = std::array<char16_t, kLargestCapacity + 1>;

// 16 hex digits, as the marker writes them; 0 for anything else.
std::uint64_t ParseHash(std::u16string_view text) {
  if (text.size() != kHashDigits) {
    return 0;
  }
  std::uint64_t hash = 0;
  for (const char16_t unit : text) {
    const int digit = unit >= u'0' && unit <= u'9'   ? unit - u'0'
                      : unit >= u'a' && unit <= u'f' ? unit - u'a' + 10
                                                     : -1;
    if (digit < 0) {
      return 0;
    }
    hash = hash << 4 | static_cast<std::uint64_t>(digit);
  }
  return hash;
}

HashText HashDigits(std::uint64_t hash) {
  HashText text{};
  TextBuilder<char16_t>{std::span{text}.first(kHashDigits)}.Hex(hash, kHashDigits);
  return text;
}

PlatformError SetText(SyncPort& port, const PortOwnedKey& key, const char16_t* name,
                      std::u16string_view text) {
  return port.regSetValueEx(key.get(), name, platform::kRegSz,
                            std::as_bytes(std::span{text.data(), text.size() + 1}));
}

// A hash followed by a stage's words, as KeptFor and ImportedHash hold it.
PlatformError SetStaged(SyncPort& port, const PortOwnedKey& key, const char16_t* name,
                        std::uint64_t hash, std::u16string_view stage) {
  std::array<char16_t, 32> text{};
  TextBuilder<char16_t>{text}.Add(HashDigits(hash).data()).Add(stage);
  return SetText(port, key, name, text.data());
}

PlatformError SetKeptFor(SyncPort& port, const PortOwnedKey& previous, std::uint64_t hash,
                         std::u16string_view stage) {
  return SetStaged(port, previous, kKeptForName, hash, stage);
}

// The stage a KeptFor text names after its hash.
std::u16string_view StageOf(std::u16string_view text) {
  return text.size() > kHashDigits
             ? std::u16string_view{&text[kHashDigits], text.size() - kHashDigits}
             : std::u16string_view{};
}

// Keeps the values about to be replaced, one deep, marked as being kept
// until they all are: a run ended part way leaves them to be kept again from
// the values, which stay untouched until then.
PlatformError KeepPrevious(SyncPort& port, const PortOwnedKey& current,
                           const PortOwnedKey& previous, std::uint64_t hash) {
  PlatformError error = platform::kSuccess;
  for (std::size_t i = 0; i < kFieldCount && error == platform::kSuccess; ++i) {
    const char16_t* name = kHandOffFields[i].value_name;
    FieldUnits units{};
    const StoredText stored = ReadText(port, current.get(), name, units);
    error = stored.kind == StoredText::Text ? SetText(port, previous, name, stored.text)
                                            : port.regDeleteValue(previous.get(), name);
    if (error == platform::kErrorFileNotFound) {
      error = platform::kSuccess;
    }
  }
  return error == platform::kSuccess ? SetKeptFor(port, previous, hash, kPendingSuffix) : error;
}

// The hash last: until it is written, the marker says the write is
// unfinished, and a reader never sees one run's hash with another's time or
// path.
PlatformError WriteMarker(SyncPort& port, const PortOwnedKey& marker, std::uint64_t hash,
                          std::u16string_view from) {
  std::array<char16_t, 32> time_text{};
  FormatIsoTime(port.getSystemTimeAsFileTime(),
                std::span<char16_t>{time_text}.first(time_text.size() - 1));
  PlatformError error = SetText(port, marker, kImportedAtName, time_text.data());
  if (error == platform::kSuccess) {
    error = SetText(port, marker, kLastInLineName, time_text.data());
  }
  if (error == platform::kSuccess) {
    error = SetText(port, marker, kImportedFromName, from);
  }
  return error == platform::kSuccess ? SetStaged(port, marker, kImportedHashName, hash, {}) : error;
}

// The profile's key, or none and the result failed.
PortOwnedKey OpenProfileKeyToWrite(SyncPort& port, SyncResult& result) {
  const platform::KeyResult opened = OpenOrCreateProfileKey(port);
  if (opened.key == platform::kNoKey) {
    result.Fail(SyncStatus::KeyUnavailable, opened.error,
                "the key could be neither opened nor created");
  }
  return {port, opened.key};
}

}  // namespace

void ReadMarker(SyncPort& port, bool with_from, Marker& marker) {
  marker = Marker{};
  const PortOwnedKey key{port,
                         port.regOpenKeyForReading(platform::Root::CurrentUser, kSyncKeyPath).key};
  if (!key) {
    return;
  }
  FieldUnits units{};
  const std::u16string_view hash = ReadText(port, key.get(), kImportedHashName, units).text;
  marker.hash = ParseHash(hash.substr(0, std::min(hash.size(), kHashDigits)));
  marker.unfinished = StageOf(hash) == kPendingSuffix;
  marker.rolled_back = StageOf(hash) == kRolledBackSuffix;
  marker.last_in_line = ParseIsoTime(ReadText(port, key.get(), kLastInLineName, units).text);
  if (with_from) {
    // Read in place: a path is too large for a second copy on the stack.
    marker.from_length =
        ReadText(port, key.get(), kImportedFromName, std::span{marker.from}.first(kMasterPathUnits))
            .text.size();
    marker.from[marker.from_length] = u'\0';
  }
}

StoredState ReadStored(SyncPort& port, const SiteProfile& master) {
  StoredState stored;
  const PortOwnedKey key{
      port, port.regOpenKeyForReading(platform::Root::CurrentUser, kProfileKeyPath).key};
  if (!key) {
    stored.changed = static_cast<std::uint8_t>((1U << kFieldCount) - 1);
    return stored;
  }
  const std::array<std::u16string_view, kFieldCount> wanted = master.Texts();
  stored.missing = false;
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    FieldUnits units{};
    const StoredText value = ReadText(port, key.get(), kHandOffFields[i].value_name, units);
    stored.missing = stored.missing || value.kind == StoredText::Absent;
    if (value.kind != StoredText::Text || value.text != wanted[i]) {
      stored.changed = static_cast<std::uint8_t>(stored.changed | 1U << i);
    }
  }
  return stored;
}

Change Decide(const StoredState& stored, const Marker& marker, std::uint64_t hash, bool enforce) {
  if (marker.unfinished) {
    return Change::Unfinished;
  }
  if (marker.rolled_back && marker.hash == hash) {
    return Change::RolledBack;  // put back on purpose: kept until the master changes
  }
  if (stored.missing) {
    return Change::Missing;
  }
  if (marker.hash != hash) {
    // A rollout, a revert, or another machine's import of another master.
    return Change::Rollout;
  }
  if (stored.changed != 0) {
    return enforce ? Change::DriftEnforced : Change::Drift;
  }
  return Change::None;
}

void WriteProfile(SyncPort& port, const SiteProfile& master, std::uint64_t hash,
                  const Marker& marker, SyncResult& result) {
  const PortOwnedKey key = OpenProfileKeyToWrite(port, result);
  if (!key) {
    return;
  }
  const platform::KeyResult created_marker = port.regCreateKeyEx(kSyncKeyPath);
  const platform::KeyResult created = created_marker.error == platform::kSuccess
                                          ? port.regCreateKeyEx(kPreviousKeyPath)
                                          : created_marker;
  const PortOwnedKey marker_key{port, created_marker.key};
  const PortOwnedKey previous{port, created.key};
  const std::u16string_view from{result.master.data(), result.master_length};
  // Each step names itself for the record, in case it fails.
  const char* step = "could not keep the values it replaces";
  PlatformError error = created.error;
  // Values that already match (another machine's import of this master, or
  // a write whose marker was not yet written) keep what was kept before:
  // they get the marker alone.
  const bool values = result.change != Change::Rollout || result.changed != 0;
  if (error == platform::kSuccess && values) {
    // Kept already by the unfinished write that got past keeping them: the
    // values from before its first attempt, not its half-written ones.
    FieldUnits units{};
    const bool kept =
        marker.unfinished &&
        StageOf(ReadText(port, previous.get(), kKeptForName, units).text) == kPendingSuffix;
    // Marked before anything changes, in this order: a run ended anywhere
    // after leaves the write unfinished, and Previous to be kept again
    // unless it was kept whole.
    if (!kept) {
      error = SetKeptFor(port, previous, hash, kKeepingSuffix);
    }
    if (error == platform::kSuccess) {
      error = SetStaged(port, marker_key, kImportedHashName, hash, kPendingSuffix);
    }
    if (error == platform::kSuccess && !kept) {
      error = KeepPrevious(port, key, previous, hash);
    }
    if (error == platform::kSuccess) {
      step = "a value could not be written";
      error = WriteProfileValues(port, key, master);
    }
    if (error == platform::kSuccess && ReadStored(port, master).changed != 0) {
      result.Fail(SyncStatus::NotVerified, platform::kSuccess, "the values read back differ");
      return;
    }
  }
  // The marker only once the values read back right: until then, the next
  // run writes them again.
  if (error == platform::kSuccess) {
    step = "the marker could not be written";
    error = WriteMarker(port, marker_key, hash, from);
  }
  if (error == platform::kSuccess && values) {
    error = SetKeptFor(port, previous, hash, {});
  }
  if (error != platform::kSuccess) {
    result.Fail(SyncStatus::WriteFailed, error, step);
    return;
  }
  // Once, for the values, the kept ones and the marker: one hive.
  error = FlushProfileKey(port, key);
  if (error != platform::kSuccess) {
    result.Fail(SyncStatus::NotVerified, error, "the flush failed");
  }
}

void NoteInLine(SyncPort& port, const Marker& marker, std::uint64_t now) {
  if (marker.last_in_line != 0 && marker.last_in_line <= now &&
      now - marker.last_in_line < kDayTicks) {
    return;
  }
  const PortOwnedKey key{port, port.regCreateKeyEx(kSyncKeyPath).key};
  std::array<char16_t, 32> time_text{};
  FormatIsoTime(now, std::span<char16_t>{time_text}.first(time_text.size() - 1));
  // A note only: one that fails is made by a later run, and the run's
  // outcome stands.
  if (key) {
    static_cast<void>(SetText(port, key, kLastInLineName, time_text.data()));
  }
}

void RestorePrevious(SyncPort& port, const Marker& marker, SyncResult& result) {
  std::array<FieldUnits, kFieldCount> kept_units{};
  std::array<StoredText, kFieldCount> kept{};
  const PortOwnedKey kept_key{
      port, port.regOpenKeyForReading(platform::Root::CurrentUser, kPreviousKeyPath).key};
  FieldUnits units{};
  // Kept whole: a hash with no stage after it, or with the stage of a write
  // (or of this) that went on to change the values.
  const std::u16string_view kept_text =
      kept_key ? ReadText(port, kept_key.get(), kKeptForName, units).text : u"";
  const std::u16string_view stage = StageOf(kept_text);
  const std::uint64_t kept_for =
      stage.empty() || stage == kPendingSuffix
          ? ParseHash({kept_text.data(), std::min(kept_text.size(), kHashDigits)})
          : 0;
  for (std::size_t i = 0; i < kFieldCount && kept_for != 0; ++i) {
    kept[i] = ReadText(port, kept_key.get(), kHandOffFields[i].value_name, kept_units[i]);
  }
  if (kept_for == 0 || std::ranges::any_of(kept, [](const StoredText& value) {
        return value.kind == StoredText::Other;
      })) {
    result.Fail(SyncStatus::Usage, platform::kSuccess,
                "nothing to put back: no values kept whole under Previous");
    return;
  }
  const PortOwnedKey key = OpenProfileKeyToWrite(port, result);
  if (!key) {
    return;
  }
  const PortOwnedKey marker_key{port, port.regCreateKeyEx(kSyncKeyPath).key};
  const PortOwnedKey previous{port, port.regCreateKeyEx(kPreviousKeyPath).key};
  // In this order: a run ended after the first step finishes a write of the
  // master instead, and keeps Previous as it is.
  PlatformError error = marker_key && previous
                            ? SetKeptFor(port, previous, kept_for, kPendingSuffix)
                            : platform::kErrorAccessDenied;
  if (error == platform::kSuccess) {
    error = SetStaged(port, marker_key, kImportedHashName, marker.hash, kPendingSuffix);
  }
  for (std::size_t i = 0; i < kFieldCount && error == platform::kSuccess; ++i) {
    const char16_t* name = kHandOffFields[i].value_name;
    const StoredText stored = ReadText(port, key.get(), name, units);
    if (stored.kind != kept[i].kind || stored.text != kept[i].text) {
      result.changed = static_cast<std::uint8_t>(result.changed | 1U << i);
      error = kept[i].kind == StoredText::Text ? SetText(port, key, name, kept[i].text)
                                               : port.regDeleteValue(key.get(), name);
    }
  }
  for (std::size_t i = 0; i < kFieldCount && error == platform::kSuccess; ++i) {
    const StoredText stored = ReadText(port, key.get(), kHandOffFields[i].value_name, units);
    if (stored.kind != kept[i].kind || stored.text != kept[i].text) {
      result.Fail(SyncStatus::NotVerified, platform::kSuccess, "the values read back differ");
      return;
    }
  }
  // Previous final before the mark: a run ended between the two finishes a
  // write of the master, and keeps the values just put back, the same ones.
  if (error == platform::kSuccess) {
    error = SetKeptFor(port, previous, kept_for, {});
  }
  if (error == platform::kSuccess) {
    error = SetStaged(port, marker_key, kImportedHashName, marker.hash, kRolledBackSuffix);
  }
  if (error != platform::kSuccess) {
    result.Fail(SyncStatus::WriteFailed, error, "the kept values could not be put back");
    return;
  }
  error = FlushProfileKey(port, key);
  if (error != platform::kSuccess) {
    result.Fail(SyncStatus::NotVerified, error, "the flush failed");
  }
}

std::uint64_t ProfileHash(const SiteProfile& profile) {
  constexpr std::uint64_t kOffsetBasis = 0xCBF29CE484222325;
  constexpr std::uint64_t kPrime = 0x100000001B3;
  std::uint64_t hash = kOffsetBasis;
  const auto mix = [&hash](std::uint8_t byte) { hash = (hash ^ byte) * kPrime; };
  for (const std::u16string_view text : profile.Texts()) {
    for (const char16_t unit : text) {
      mix(static_cast<std::uint8_t>(unit & 0xFF));
      mix(static_cast<std::uint8_t>(unit >> 8));
    }
    mix(0);
    mix(0);
  }
  return hash;
}

}  // namespace profile_import::sync
