#include "sync/run_sync.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

#include "platform/unique_handle.h"
#include "store/profile_key.h"
#include "sync/iso_time.h"
#include "sync/text_builder.h"

namespace profile_import::sync {
namespace {

using platform::PlatformError;
using platform::SyncPort;
using platform::UniqueFile;
using platform::UniqueKey;

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

// How the failed open of one master's place reads.
enum class OpenClass { Absent, PathMissing, Unreachable, Refused, Locked, Unopenable };

struct OpenError {
  PlatformError error;
  // cppcheck-suppress unusedStructMember ; read through ClassOf's find_if
  OpenClass kind;
};

// The open's errors that say something of the place, not of the file.
constexpr std::array kOpenErrors = {
    // clang-format off
    OpenError{2, OpenClass::Absent},          // ERROR_FILE_NOT_FOUND: the folder answers, no file
    OpenError{3, OpenClass::PathMissing},     // ERROR_PATH_NOT_FOUND: the folder, or the server
    OpenError{32, OpenClass::Locked},         // ERROR_SHARING_VIOLATION
    OpenError{33, OpenClass::Locked},         // ERROR_LOCK_VIOLATION
    OpenError{21, OpenClass::Unreachable},    // ERROR_NOT_READY
    OpenError{51, OpenClass::Unreachable},    // ERROR_REM_NOT_LIST
    OpenError{53, OpenClass::Unreachable},    // ERROR_BAD_NETPATH
    OpenError{54, OpenClass::Unreachable},    // ERROR_NETWORK_BUSY
    OpenError{58, OpenClass::Unreachable},    // ERROR_BAD_NET_RESP
    OpenError{59, OpenClass::Unreachable},    // ERROR_UNEXP_NET_ERR
    OpenError{64, OpenClass::Unreachable},    // ERROR_NETNAME_DELETED
    OpenError{67, OpenClass::Unreachable},    // ERROR_BAD_NET_NAME: the share, not there now
    OpenError{121, OpenClass::Unreachable},   // ERROR_SEM_TIMEOUT
    OpenError{1203, OpenClass::Unreachable},  // ERROR_NO_NET_OR_BAD_PATH
    OpenError{1222, OpenClass::Unreachable},  // ERROR_NO_NETWORK
    OpenError{1231, OpenClass::Unreachable},  // ERROR_NETWORK_UNREACHABLE
    OpenError{1232, OpenClass::Unreachable},  // ERROR_HOST_UNREACHABLE
    OpenError{1236, OpenClass::Unreachable},  // ERROR_CONNECTION_ABORTED
    OpenError{1311, OpenClass::Unreachable},  // ERROR_NO_LOGON_SERVERS
    OpenError{1460, OpenClass::Unreachable},  // ERROR_TIMEOUT
    OpenError{2250, OpenClass::Unreachable},  // ERROR_NOT_CONNECTED: a mapped drive not connected
    OpenError{1219, OpenClass::Refused},      // ERROR_SESSION_CREDENTIAL_CONFLICT
    OpenError{1225, OpenClass::Refused},      // ERROR_CONNECTION_REFUSED
    OpenError{1244, OpenClass::Refused},      // ERROR_NOT_AUTHENTICATED
    OpenError{1265, OpenClass::Refused},      // ERROR_DOWNGRADE_DETECTED
    OpenError{1326, OpenClass::Refused},      // ERROR_LOGON_FAILURE
    OpenError{1327, OpenClass::Refused},      // ERROR_ACCOUNT_RESTRICTION
    OpenError{1328, OpenClass::Refused},      // ERROR_INVALID_LOGON_HOURS
    OpenError{1329, OpenClass::Refused},      // ERROR_INVALID_WORKSTATION
    OpenError{1330, OpenClass::Refused},      // ERROR_PASSWORD_EXPIRED
    OpenError{1331, OpenClass::Refused},      // ERROR_ACCOUNT_DISABLED
    OpenError{1385, OpenClass::Refused},      // ERROR_LOGON_TYPE_NOT_GRANTED
    OpenError{1789, OpenClass::Refused},      // ERROR_TRUSTED_RELATIONSHIP_FAILURE
    OpenError{1793, OpenClass::Refused},      // ERROR_ACCOUNT_EXPIRED
    OpenError{1907, OpenClass::Refused},      // ERROR_PASSWORD_MUST_CHANGE
    OpenError{1909, OpenClass::Refused},      // ERROR_ACCOUNT_LOCKED_OUT
    // clang-format on
};

// Access refused, a folder of that name, and any error not named above: the
// master is there, or may be, and cannot be opened. Never "no master".
OpenClass ClassOf(PlatformError error) {
  const auto* known = std::find_if(kOpenErrors.begin(), kOpenErrors.end(),
                                   [error](const OpenError& open) { return open.error == error; });
  return known == kOpenErrors.end() ? OpenClass::Unopenable : known->kind;
}

// The folder above the master's own (\\server\share\ for
// \\server\share\<user>\sysfile.cfg), with its trailing backslash, which a
// share's root needs.
std::u16string_view ParentOfFolder(std::u16string_view path) {
  std::size_t end = path.rfind(u'\\');
  if (end == std::u16string_view::npos || end == 0) {
    return {};
  }
  end = path.rfind(u'\\', end - 1);
  return end == std::u16string_view::npos ? std::u16string_view{}
                                          : std::u16string_view{path.data(), end + 1};
}

// Whether the place above the user's folder answers: it does when it can be
// read or when it refuses this user, and then the user simply has no master.
bool ParentAnswers(SyncPort& port, std::u16string_view path,
                   std::array<char16_t, kMasterPathUnits + 1>& scratch) {
  const std::u16string_view parent = ParentOfFolder(path);
  if (parent.empty()) {
    return false;
  }
  TextBuilder<char16_t>{scratch}.Add(parent).Put(u'\0');
  const platform::AttributesResult found = port.getFileAttributes(scratch.data());
  return found.error == platform::kSuccess || found.error == platform::kErrorAccessDenied;
}

// Everything the search for the master copy uses and finds: it may run on a
// thread of its own, which the run stops waiting for at the deadline.
struct MasterSearch {
  SyncPort* port = nullptr;
  const std::array<std::array<char16_t, kMasterPathUnits + 1>, kMaxMasters>* paths = nullptr;
  std::size_t path_count = 0;
  // Found:
  SyncStatus status{};  // NoMaster, set when the search starts: zero keeps this out of the file
  PlatformError error = platform::kSuccess;
  platform::NtStatus nt_status = platform::kStatusSuccess;
  const char* detail = nullptr;
  std::size_t used = 0;
  ProfileReadBuffer bytes{};
  std::array<char16_t, kMasterPathUnits + 1> scratch{};
};

// The outcome of the place that decided the search.
void Settle(MasterSearch& search, SyncStatus status, PlatformError error,
            platform::NtStatus nt_status, std::size_t index, const char* detail) {
  search.status = status;
  search.error = error;
  search.nt_status = nt_status;
  search.used = index;
  search.detail = detail;
}

void SearchMasters(void* context) {
  auto& search = *static_cast<MasterSearch*>(context);
  SyncPort& port = *search.port;
  for (std::size_t i = 0; i < search.path_count; ++i) {
    const char16_t* path = (*search.paths)[i].data();
    platform::FileResult opened = port.createFileForSharedReading(path);
    for (int retry = 0; opened.file == platform::kInvalidFile &&
                        ClassOf(opened.error) == OpenClass::Locked && retry < kSharingRetries;
         ++retry) {
      port.sleep(kSharingRetryMilliseconds);
      opened = port.createFileForSharedReading(path);
    }
    if (opened.file == platform::kInvalidFile) {
      switch (ClassOf(opened.error)) {
        // Only a master that is not there passes the search on: one that
        // cannot be reached now may be there, and a later master (a site
        // default) would then overwrite the user's own until it answers.
        case OpenClass::Absent:
          if (i == 0) {
            Settle(search, SyncStatus::NoMaster, opened.error, opened.status, i, "no file");
          }
          continue;
        case OpenClass::PathMissing:
          if (!ParentAnswers(port, path, search.scratch)) {
            Settle(search, SyncStatus::Unreachable, opened.error, opened.status, i,
                   "the place above the folder does not answer");
            return;
          }
          if (i == 0) {
            Settle(search, SyncStatus::NoMaster, opened.error, opened.status, i, "no folder");
          }
          continue;
        case OpenClass::Unreachable:
          Settle(search, SyncStatus::Unreachable, opened.error, opened.status, i,
                 "cannot be reached");
          return;
        case OpenClass::Refused:
          Settle(search, SyncStatus::Refused, opened.error, opened.status, i,
                 "connection or credentials refused");
          return;
        case OpenClass::Locked:
        case OpenClass::Unopenable:
          break;
      }
      // There, but not to be opened: the first master that exists is this one.
      const platform::AttributesResult found = port.getFileAttributes(path);
      const bool folder = found.error == platform::kSuccess &&
                          (found.attributes & platform::kFileAttributeDirectory) != 0;
      Settle(search, SyncStatus::MasterUnopenable, opened.error, opened.status, i, nullptr);
      search.detail = folder                                       ? "a folder of that name"
                      : ClassOf(opened.error) == OpenClass::Locked ? "held open by another program"
                      : opened.error == platform::kErrorAccessDenied ? "access refused"
                                                                     : "cannot be opened";
      return;
    }
    const UniqueFile file{port, opened.file};
    std::size_t read = 0;
    search.used = i;
    search.error = platform::kSuccess;
    search.nt_status = platform::kStatusSuccess;
    search.status = port.readFileCounted(file.get(), search.bytes, read)
                        ? SyncStatus::InPlace
                        : SyncStatus::MasterUnreadable;
    search.detail = search.status == SyncStatus::InPlace ? nullptr : "the read failed";
    return;
  }
}

// {sid}, in any case, as a path's letters are.
bool IsSidPlaceholder(std::u16string_view text) {
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
bool ExpandPath(std::u16string_view given, std::u16string_view sid,
                std::array<char16_t, kMasterPathUnits + 1>& out) {
  TextBuilder<char16_t> path{std::span{out}.first(kMasterPathUnits)};
  std::size_t at = 0;
  while (at < given.size()) {
    // NOLINTNEXTLINE(*-pointer-arithmetic)
    if (IsSidPlaceholder({given.data() + at, given.size() - at})) {
      path.Add(sid);
      at += kSidPlaceholder.size();
    } else {
      path.Put(given[at++]);
    }
  }
  out[path.Length()] = u'\0';
  return !path.Overflowed();
}

// A master on a disk of the machine's own answers at once or fails at once;
// a share, or a drive mapped to one, may not answer for minutes.
bool OnLocalDisk(SyncPort& port, std::u16string_view path) {
  if (path.size() < 3 || path[1] != u':') {
    return false;
  }
  const std::array<char16_t, 4> root = {path[0], u':', u'\\', u'\0'};
  const std::uint32_t type = port.getDriveType(root.data());
  return type == platform::kDriveFixed || type == platform::kDriveRamDisk;
}

std::uint32_t PolicyMode(SyncPort& port) {
  constexpr std::uint32_t kNormal = 2;
  const UniqueKey key{port,
                      port.regOpenKeyForReading(platform::Root::LocalMachine, kPolicyKeyPath).key};
  if (!key) {
    return kNormal;
  }
  std::array<std::byte, sizeof(std::uint32_t)> data{};
  const platform::ValueResult mode = port.regQueryValueEx(key.get(), kPolicyModeName, data);
  if (mode.error != platform::kSuccess || mode.type != platform::kRegDword ||
      mode.size != data.size()) {
    return kNormal;
  }
  std::uint32_t value = 0;
  std::memcpy(&value, data.data(), sizeof(value));
  return value;
}

// A stored value as the comparison sees it: REG_SZ text up to its first NUL.
struct StoredText {
  enum Kind { Absent, Text, Other } kind = Absent;
  std::size_t length = 0;
  std::array<char16_t, kLargestCapacity + 1> units{};
  [[nodiscard]] std::u16string_view View() const { return {units.data(), length}; }
};

StoredText ReadText(SyncPort& port, platform::RawKey key, const char16_t* name) {
  StoredText stored;
  std::array<std::byte, sizeof(stored.units)> data{};
  const platform::ValueResult value = port.regQueryValueEx(key, name, data);
  if (value.error == platform::kErrorFileNotFound) {
    return stored;
  }
  stored.kind = StoredText::Other;
  if (value.error != platform::kSuccess || value.type != platform::kRegSz) {
    return stored;
  }
  stored.kind = StoredText::Text;
  std::memcpy(stored.units.data(), data.data(), value.size);
  const std::size_t units = value.size / sizeof(char16_t);
  while (stored.length < units && stored.units[stored.length] != u'\0') {
    ++stored.length;
  }
  return stored;
}

// Which stored values differ from the master's, as bits; `missing` when any
// value is not there at all.
std::uint8_t Differences(SyncPort& port, platform::RawKey key, const SiteProfile& master,
                         bool& missing) {
  const std::array<std::u16string_view, kFieldCount> wanted = master.Texts();
  std::uint8_t changed = 0;
  missing = false;
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    const StoredText stored = ReadText(port, key, kHandOffFields[i].value_name);
    missing = missing || stored.kind == StoredText::Absent;
    if (stored.kind != StoredText::Text || stored.View() != wanted[i]) {
      changed = static_cast<std::uint8_t>(changed | 1U << i);
    }
  }
  return changed;
}

// The hash the marker says was last imported, from any machine; 0 when none.
std::uint64_t MarkerHash(SyncPort& port) {
  const UniqueKey key{port,
                      port.regOpenKeyForReading(platform::Root::CurrentUser, kSyncKeyPath).key};
  if (!key) {
    return 0;
  }
  const StoredText stored = ReadText(port, key.get(), kImportedHashName);
  std::uint64_t hash = 0;
  for (const char16_t unit : stored.View()) {
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

PlatformError SetText(SyncPort& port, const UniqueKey& key, const char16_t* name,
                      std::u16string_view text) {
  return port.regSetValueEx(key.get(), name, platform::kRegSz,
                            std::as_bytes(std::span{text.data(), text.size() + 1}));
}

std::array<char16_t, 17> HashText(std::uint64_t hash) {
  std::array<char16_t, 17> text{};
  TextBuilder<char16_t>{std::span{text}.first(16)}.Hex(hash, 16);
  return text;
}

// Keeps the values about to be replaced, one deep, with the hash of the
// master they make way for and, until that write is done, " pending" after
// it. A write that failed part way left the key half written: its retry
// keeps the values kept before it, not the half-written ones.
PlatformError KeepPrevious(SyncPort& port, std::uint64_t hash) {
  const std::array<char16_t, 17> for_hash = HashText(hash);
  std::array<char16_t, 32> pending{};
  TextBuilder<char16_t>{pending}.Add(for_hash.data()).Add(kPendingSuffix);
  {
    const UniqueKey kept{
        port, port.regOpenKeyForReading(platform::Root::CurrentUser, kPreviousKeyPath).key};
    if (kept && ReadText(port, kept.get(), kKeptForName).View() == pending.data()) {
      return platform::kSuccess;
    }
  }
  const UniqueKey current{
      port, port.regOpenKeyForReading(platform::Root::CurrentUser, kProfileKeyPath).key};
  const platform::KeyResult created = port.regCreateKeyEx(kPreviousKeyPath);
  if (created.error != platform::kSuccess) {
    return created.error;
  }
  const UniqueKey previous{port, created.key};
  for (const HandOffField& field : kHandOffFields) {
    const char16_t* name = field.value_name;
    const StoredText stored = current ? ReadText(port, current.get(), name) : StoredText{};
    const PlatformError error = stored.kind == StoredText::Text
                                    ? SetText(port, previous, name, stored.View())
                                    : port.regDeleteValue(previous.get(), name);
    if (error != platform::kSuccess && error != platform::kErrorFileNotFound) {
      return error;
    }
  }
  return SetText(port, previous, kKeptForName, pending.data());
}

// The write is done: the kept values are final.
PlatformError KeptFor(SyncPort& port, std::uint64_t hash) {
  const platform::KeyResult opened = port.regOpenKeyEx(kPreviousKeyPath);
  if (opened.error != platform::kSuccess) {
    return opened.error;
  }
  const UniqueKey previous{port, opened.key};
  return SetText(port, previous, kKeptForName, HashText(hash).data());
}

void Fail(SyncResult& result, SyncStatus status, PlatformError error, const char* detail) {
  result.status = status;
  result.error = error;
  result.detail = detail;
}

void Write(SyncPort& port, const SiteProfile& master, std::uint64_t hash, SyncResult& result) {
  const UniqueKey key = OpenProfileKey(port);
  if (!key) {
    Fail(result, SyncStatus::KeyUnavailable, platform::kSuccess,
         "the key could be neither opened nor created");
    return;
  }
  const PlatformError kept = KeepPrevious(port, hash);
  if (kept != platform::kSuccess) {
    Fail(result, SyncStatus::WriteFailed, kept, "could not keep the values it replaces");
    return;
  }
  const PlatformError written = WriteProfileValues(port, key, master);
  if (written != platform::kSuccess) {
    Fail(result, SyncStatus::WriteFailed, written, "a value could not be written");
    return;
  }
  bool missing = false;
  if (Differences(port, key.get(), master, missing) != 0) {
    Fail(result, SyncStatus::NotVerified, platform::kSuccess, "the values read back differ");
    return;
  }
  // The marker only once the values read back right: without it, the next
  // run writes them again.
  const platform::KeyResult marker_key = port.regCreateKeyEx(kSyncKeyPath);
  if (marker_key.error != platform::kSuccess) {
    Fail(result, SyncStatus::WriteFailed, marker_key.error, "the marker could not be written");
    return;
  }
  const UniqueKey marker_values{port, marker_key.key};
  const std::array<char16_t, 17> hash_text = HashText(hash);
  std::array<char16_t, 32> time_text{};
  FormatIsoTime(port.getSystemTimeAsFileTime(),
                std::span<char16_t>{time_text}.first(time_text.size() - 1));
  for (const auto& [name, text] :
       {std::pair{kImportedHashName, std::u16string_view{hash_text.data()}},
        std::pair{kImportedAtName, std::u16string_view{time_text.data()}},
        std::pair{kImportedFromName,
                  std::u16string_view{result.master.data(), result.master_length}}}) {
    const PlatformError error = SetText(port, marker_values, name, text);
    if (error != platform::kSuccess) {
      Fail(result, SyncStatus::WriteFailed, error, "the marker could not be written");
      return;
    }
  }
  const PlatformError done = KeptFor(port, hash);
  if (done != platform::kSuccess) {
    Fail(result, SyncStatus::WriteFailed, done, "the kept values could not be marked final");
    return;
  }
  // Once, for the values, the kept ones and the marker: one hive.
  const PlatformError flushed = FlushProfileKey(port, key);
  if (flushed != platform::kSuccess) {
    Fail(result, SyncStatus::NotVerified, flushed, "the flush failed");
  }
}

}  // namespace

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

void RunSync(SyncPort& port, const CommandLine& command, SyncResult& result) {
  // The paths and the search are large for a stack without probes.
  static constinit std::array<std::array<char16_t, kMasterPathUnits + 1>, kMaxMasters> paths{};
  static constinit MasterSearch search{};

  const std::uint32_t mode = PolicyMode(port);
  if (mode == kModeOff) {
    // Every run of every user meets it: said once a day, as "in line" is.
    result.status = SyncStatus::TurnedOff;
    result.heartbeat_only = true;
    return;
  }
  const bool check = command.check || mode == kModeCheck;

  result.account = FindRunningAccount(port);
  if (result.account.kind != AccountKind::User) {
    result.status = SyncStatus::NoUserHive;
    return;
  }
  for (std::size_t i = 0; i < command.master_count; ++i) {
    if (!ExpandPath(command.masters[i], result.account.SidText(), paths[i])) {
      result.status = SyncStatus::Usage;
      result.detail = "a master's path is too long";
      return;
    }
  }
  const auto use_master = [&result](std::size_t index) {
    const std::u16string_view path{paths[index].data()};
    TextBuilder<char16_t> master{result.master};
    master.Add(path).Put(u'\0');
    result.master_length = path.size();
  };
  use_master(0);

  search = MasterSearch{};
  search.status = SyncStatus::NoMaster;
  search.port = &port;
  search.paths = &paths;
  search.path_count = command.master_count;
  // The deadline's thread only where a master may not answer: starting one
  // is most of what a run in line costs under Wine.
  const bool local =
      // NOLINTNEXTLINE(*-pointer-arithmetic)
      std::all_of(paths.begin(), paths.begin() + command.master_count,
                  [&port](const auto& path) { return OnLocalDisk(port, path.data()); });
  if (local) {
    SearchMasters(&search);
  } else if (!port.runWithin(kDeadlineMilliseconds, SearchMasters, &search)) {
    Fail(result, SyncStatus::Unreachable, platform::kErrorTimeout, "no answer within the deadline");
    return;
  }
  use_master(search.used);
  if (search.status != SyncStatus::InPlace) {
    result.status = search.status;
    result.error = search.error;
    result.nt_status = search.nt_status;
    result.detail = search.detail;
    return;
  }

  NoAnsiCodePage no_code_page;
  const ParsedProfile parsed = ParseProfileText(search.bytes, no_code_page);
  if (!parsed.utf8 && !parsed.utf16_le) {
    Fail(result, SyncStatus::MasterInvalid, platform::kSuccess,
         "neither UTF-8 nor UTF-16 LE: it would be read in each machine's ANSI code page");
    return;
  }
  if (parsed.verdict != ProfileTextVerdict::Accepted) {
    Fail(result, SyncStatus::MasterInvalid, platform::kSuccess,
         "not a valid profile: profile-check names the rule");
    return;
  }

  // Decided on reads alone: the path every logon takes opens nothing for writing.
  const std::uint64_t hash = ProfileHash(parsed.profile);
  bool missing = true;
  {
    const UniqueKey stored{
        port, port.regOpenKeyForReading(platform::Root::CurrentUser, kProfileKeyPath).key};
    result.changed = stored ? Differences(port, stored.get(), parsed.profile, missing)
                            : static_cast<std::uint8_t>((1U << kFieldCount) - 1);
  }
  const std::uint64_t marker = MarkerHash(port);
  if (missing) {
    result.change = Change::Missing;
  } else if (marker != hash) {
    // A rollout, a revert, or another machine's import of another master.
    result.change = Change::Rollout;
  } else if (result.changed != 0) {
    result.change = command.enforce ? Change::DriftEnforced : Change::Drift;
  }
  result.would_write = result.change == Change::Missing || result.change == Change::Rollout ||
                       result.change == Change::DriftEnforced;
  result.heartbeat_only = result.change == Change::None;
  if (check) {
    result.status = result.would_write ? SyncStatus::WouldWrite : SyncStatus::InPlace;
    return;
  }
  if (result.would_write) {
    Write(port, parsed.profile, hash, result);
  }
}

}  // namespace profile_import::sync
