#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "profile/profile_text.h"
#include "store/profile_key.h"
#include "sync/command_line.h"
#include "sync/iso_time.h"
#include "sync/policy.h"
#include "sync/run_sync.h"
#include "sync/stored_profile.h"
#include "sync/sync_main.h"
#include "sync/sync_record.h"
#include "unit/fake_port.h"

namespace profile_import::sync {
namespace {

using testing::FailingCall;
using testing::FakePort;
using testing::MasterFault;

// The share's layout: a folder per user, named by SID.
const std::u16string kShare = u"\\\\srv\\share\\";
const std::u16string kUserFolder = kShare + u"S-1-5-21-1-2-3-1001\\";
const std::u16string kMaster = kUserFolder + u"sysfile.cfg";
const std::u16string kSecondMaster = u"D:\\masters\\jdoe\\sysfile.cfg";
const std::u16string kCommand = u"\"C:\\Program Files\\Tessavo\\profile-sync.exe\" ";
const std::u16string kMasterArgument = u"\\\\srv\\share\\{sid}\\sysfile.cfg";

const std::string kV1 = "Acme\nsrv\\\nmain\nskip\nadmin\njdoe\n";
const std::string kV2 = "Acme 2\nsrv\\\nmain\nskip\nadmin\njdoe\n";

SiteProfile Profile(std::u16string_view corp) {
  SiteProfile profile;
  profile.Corp.Append(corp);
  profile.DataBase.Append(u"srv\\main");
  profile.Admin.Append(u"admin");
  profile.User.Append(u"jdoe");
  return profile;
}

testing::StoredValue Text(std::u16string_view text, bool with_nul = true) {
  testing::StoredValue value{platform::kRegSz, {}};
  for (const char16_t unit : text) {
    value.data.push_back(std::byte(unit & 0xFF));
    value.data.push_back(std::byte(unit >> 8));
  }
  if (with_nul) {
    value.data.insert(value.data.end(), 2, std::byte{0});
  }
  return value;
}

constexpr std::int64_t kHourTicks = 36'000'000'000LL;
constexpr std::int64_t kDayTicks = 24 * kHourTicks;

std::u16string IsoTime(std::uint64_t file_time) {
  std::array<char16_t, 24> text{};
  return {text.data(), FormatIsoTime(file_time, text)};
}

std::u16string Units(const std::map<std::u16string, testing::StoredValue>& key,
                     const char16_t* name) {
  const auto found = key.find(name);
  return found == key.end() ? u"(none)" : found->second.Units();
}

std::u16string Hex(std::uint64_t hash) {
  std::u16string text;
  for (int shift = 60; shift >= 0; shift -= 4) {
    text += u"0123456789abcdef"[(hash >> shift) & 0xF];
  }
  return text;
}

// The profile key as a run of `corp`'s master left it, marker included.
void Stored(FakePort& port, std::u16string_view corp, std::u16string_view marker_corp,
            bool with_nul = true) {
  port.key_exists = true;
  const SiteProfile profile = Profile(corp);
  port.values[u"RegCorp"] = Text(profile.Corp.View(), with_nul);
  port.values[u"RegDataBase"] = Text(profile.DataBase.View(), with_nul);
  port.values[u"RegAdmin"] = Text(profile.Admin.View(), with_nul);
  port.values[u"RegUser"] = Text(profile.User.View(), with_nul);
  port.other_keys[kSyncKeyPath][kImportedHashName] = Text(Hex(ProfileHash(Profile(marker_corp))));
}

// A run before the one under test, an hour ago: its record is the log's
// last line, and what it did is the world the row's run meets.
void RanBefore(FakePort& port) {
  SyncMain(port, "1.2.0", "x64");
  const std::u16string log = u"C:\\Users\\jdoe\\AppData\\Local\\Tessavo\\profile-sync.log";
  for (const std::string& line : port.files_appended[log]) {
    port.log_text += line;
  }
  port.files_appended.clear();
  port.events.clear();
  port.standard_output.clear();
  port.calls.clear();
  port.written.clear();
  port.masters_opened.clear();
  port.log_written_at = port.now - 36'000'000'000ULL;
}

testing::StoredValue Bytes(std::uint32_t type, const std::string& bytes) {
  testing::StoredValue value{type, {}};
  for (const char byte : bytes) {
    value.data.push_back(std::byte(static_cast<unsigned char>(byte)));
  }
  return value;
}

testing::StoredValue Dword(std::uint32_t number) {
  return Bytes(platform::kRegDword,
               {static_cast<char>(number & 0xFF), static_cast<char>(number >> 8), '\0', '\0'});
}

testing::StoredValue MultiSz(const std::vector<std::u16string>& paths) {
  testing::StoredValue value{platform::kRegMultiSz, {}};
  for (const std::u16string& path : paths) {
    const testing::StoredValue one = Text(path);
    value.data.insert(value.data.end(), one.data.begin(), one.data.end());
  }
  value.data.insert(value.data.end(), 2, std::byte{0});
  return value;
}

const std::u16string kPolicyKey = u"HKLM\\" + std::u16string(kPolicyKeyPath);
constexpr std::uint32_t kDriveRemovable = 2;  // DRIVE_REMOVABLE

void StoredWithPrevious(FakePort& port);

struct SyncCase {
  std::string name;
  std::function<void(FakePort&)> setup = [](FakePort&) {};
  std::u16string arguments = kMasterArgument;
  SyncStatus status = SyncStatus::InPlace;
  bool writes = false;  // the four values written
  bool recorded = true;
  std::uint32_t event_id = 0;  // 0: the status's own
  // NOLINTNEXTLINE(readability-redundant-string-init): rows stop before it
  std::string in_record = "";  // a text the log line holds
  bool notes_in_line = false;  // LastInLine written, and nothing else
};

std::vector<SyncCase> SyncCases() {
  using enum SyncStatus;
  const auto fault = [](platform::PlatformError error, int times = -1) {
    return [error, times](FakePort& port) {
      port.master_faults[kMaster] = MasterFault{error, 0xC0000001, times};
    };
  };
  const auto master = [](const std::string& bytes) {
    return [bytes](FakePort& port) { port.masters[kMaster] = bytes; };
  };
  const auto both = [](const auto& first, const auto& second) {
    return [first, second](FakePort& port) {
      first(port);
      second(port);
    };
  };
  const auto stored = [](std::u16string_view corp, std::u16string_view marker) {
    return [corp, marker](FakePort& port) { Stored(port, corp, marker); };
  };
  const auto failing = [](FailingCall call) {
    return [call](FakePort& port) { port.failing.insert(call); };
  };
  const auto v1 = master(kV1);
  // LastInLine `age` ago; 0: never.
  const auto last_in_line = [](std::int64_t age) {
    return [age](FakePort& port) {
      auto& marker = port.other_keys[kSyncKeyPath];
      if (age == 0) {
        marker.erase(kLastInLineName);
      } else {
        marker[kLastInLineName] = Text(IsoTime(port.now - static_cast<std::uint64_t>(age)));
      }
    };
  };
  const auto policy = [](const std::u16string& name, const testing::StoredValue& value) {
    return [name, value](FakePort& port) { port.other_keys[kPolicyKey][name] = value; };
  };
  const auto ran_before = [](const auto& setup) {
    return [setup](FakePort& port) {
      setup(port);
      RanBefore(port);
    };
  };
  const auto mode = [](std::uint32_t type, const std::string& bytes) {
    return [type, bytes](FakePort& port) { port.policy_value = Bytes(type, bytes); };
  };
  const auto no_file = [](FakePort& port) {
    port.attributes[kUserFolder] = {platform::kSuccess, 0x10};
  };
  // How the share says the master was reached.
  const auto channel = [](std::uint32_t flags) {
    return [flags](FakePort& port) { port.channels[kMaster] = {platform::kSuccess, flags}; };
  };
  const auto require_secure = policy(u"RequireSecureChannel", Dword(1));
  const auto delete_pending = [](int times) {
    return [times](FakePort& port) {
      port.master_faults[kMaster] =
          MasterFault{platform::kErrorAccessDenied, platform::kStatusDeletePending, times};
    };
  };
  // The profile came from the user's own master (the first), which is gone now.
  const auto imported_from_first = [](FakePort& port) {
    Stored(port, u"Acme", u"Acme");
    port.other_keys[kSyncKeyPath][kImportedFromName] = Text(kMaster);
    port.attributes[kUserFolder] = {platform::kSuccess, 0x10};
    port.masters[kSecondMaster] = kV2;
  };
  return {
      {.name = "FirstImport", .setup = v1, .writes = true, .in_record = "missing"},
      {.name = "NothingToDo",
       .setup = ran_before(both(v1, stored(u"Acme", u"Acme"))),
       .recorded = false},
      {.name = "NothingToDoHeartbeatOnceADay",
       .setup = both(v1, stored(u"Acme", u"Acme")),
       .event_id = kHeartbeatEventId,
       .in_record = "heartbeat"},
      {.name = "ValuesWrittenWithoutTheirNul",
       .setup = ran_before(both(v1, [](FakePort& port) { Stored(port, u"Acme", u"Acme", false); })),
       .recorded = false},
      {.name = "ValuesWithoutTheirNulAreInLine",
       .setup = both(v1, [](FakePort& port) { Stored(port, u"Acme", u"Acme", false); }),
       .event_id = kHeartbeatEventId,
       .in_record = "heartbeat"},
      {.name = "Rollout",
       .setup = both(master(kV2), stored(u"Acme", u"Acme")),
       .writes = true,
       .in_record = "RegCorp\trollout"},
      // Machine A imported v1; B imported v2, which roamed; the master went back to v1.
      {.name = "RevertAfterAnotherMachinesImport",
       .setup = both(v1, stored(u"Acme 2", u"Acme 2")),
       .writes = true,
       .in_record = "rollout"},
      {.name = "DriftKept",
       .setup = both(v1, stored(u"Changed", u"Acme")),
       .event_id = kDriftEventId,
       .in_record = "drift kept"},
      {.name = "DriftPutBack",
       .setup = both(v1, stored(u"Changed", u"Acme")),
       .arguments = u"--enforce " + kMasterArgument,
       .writes = true,
       .in_record = "drift put back"},
      {.name = "CheckWouldWrite",
       .setup = v1,
       .arguments = u"--check " + kMasterArgument,
       .status = WouldWrite},
      {.name = "CheckInLine",
       .setup = both(v1, stored(u"Acme", u"Acme")),
       .arguments = u"--check " + kMasterArgument,
       .event_id = kHeartbeatEventId},
      {.name = "PolicyCheckOnly",
       .setup = both(v1, [](FakePort& port) { port.policy_mode = 1; }),
       .status = WouldWrite},
      {.name = "PolicyOff",
       .setup = both(v1, [](FakePort& port) { port.policy_mode = 0; }),
       .status = TurnedOff},
      {.name = "PolicyOffSaidOnceADay",
       .setup = ran_before(both(v1, [](FakePort& port) { port.policy_mode = 0; })),
       .status = TurnedOff,
       .recorded = false},
      // A kill switch set the way `reg add` and Group Policy Preferences set
      // it when the type is missed is read as the number it holds; one that
      // cannot be read writes nothing, and says so at every run.
      {.name = "PolicyOffAsText",
       .setup = both(v1, mode(platform::kRegSz, std::string("0\0\0\0", 4))),
       .arguments = u"--enforce " + kMasterArgument,
       .status = TurnedOff},
      {.name = "PolicyCheckAsSpacedText",
       .setup = both(v1, mode(platform::kRegSz, std::string(" \0"
                                                            "1\0",
                                                            4))),
       .status = WouldWrite,
       .in_record = "policy Mode 1"},
      {.name = "PolicyOffAsQword",
       .setup = both(v1, mode(platform::kRegQword, std::string(8, '\0'))),
       .status = TurnedOff},
      {.name = "PolicyWordIsNoNumber",
       .setup = both(v1, mode(platform::kRegSz, std::string("o\0f\0f\0\0\0", 8))),
       .arguments = u"--enforce " + kMasterArgument,
       .status = PolicyUnreadable,
       .in_record = "text, not a number: check only"},
      {.name = "PolicyBinary",
       .setup = both(v1, mode(3, std::string(4, '\0'))),
       .status = PolicyUnreadable,
       .in_record = "not a REG_DWORD"},
      {.name = "PolicyUnreadableKeepsTheRunsError",
       .setup = both(fault(53), mode(3, "x")),
       .status = PolicyUnreadable,
       .in_record = "error 53"},
      {.name = "PolicyShortDword",
       .setup = both(v1, mode(platform::kRegDword, std::string(2, '\0'))),
       .status = PolicyUnreadable},
      {.name = "PolicyUnreadableSaidAtEveryRun",
       .setup = ran_before(both(both(v1, stored(u"Acme", u"Acme")), mode(3, "x"))),
       .status = PolicyUnreadable},
      {.name = "PolicyCheckOnlySaidAtTheFirstRunThatSeesIt",
       .setup = both(ran_before(both(v1, stored(u"Acme", u"Acme"))),
                     [](FakePort& port) { port.policy_mode = 1; }),
       .event_id = kHeartbeatEventId,
       .in_record = "policy Mode 1"},
      {.name = "PolicyOtherValueIsNormal",
       .setup = both(v1, [](FakePort& port) { port.policy_mode = 7; }),
       .writes = true},
      {.name = "ServiceAccount",
       .setup = both(v1, [](FakePort& port) { port.token_user = {1, 1, 0, 0, 0, 0, 0, 5, 18}; }),
       .status = NoUserHive},
      {.name = "HiveNotLoaded",
       .setup = both(v1, failing(FailingCall::OpenUserHive)),
       .status = NoUserHive},
      {.name = "AnsiMaster",
       .setup = master("Caf\xE9\nsrv\nmain\nskip\nadmin\njdoe\n"),
       .status = MasterInvalid,
       .in_record = "ANSI code page"},
      {.name = "RefusedMaster",
       .setup = master("only\nfour\nline\nends\n"),
       .status = MasterInvalid},
      {.name = "Utf8WithMark",
       .setup = master("\xEF\xBB\xBF"
                       "Caf\xC3\xA9\nsrv\\\nmain\nx\nadmin\njdoe\n"),
       .writes = true},
      {.name = "Utf16Le",
       .setup = master(std::string("\xFF\xFE"
                                   "A\0\n\0s\0\n\0m\0\n\0x\0\n\0a\0\n\0j\0\n\0",
                                   26)),
       .writes = true},
      {.name = "NoFileInTheUsersFolder",
       .setup =
           [](FakePort& port) {
             port.attributes[kUserFolder] = {platform::kSuccess, 0x10};
           },
       .status = NoMaster,
       .in_record = "no file"},
      {.name = "NoUserFolder",
       .setup =
           [](FakePort& port) {
             port.attributes[kShare] = {platform::kSuccess, 0x10};
           },
       .status = NoMaster,
       .in_record = "no folder"},
      {.name = "NoUserFolderShareDeniesListing",
       .setup = [](FakePort& port) { port.attributes[kShare] = {platform::kErrorAccessDenied}; },
       .status = NoMaster},
      {.name = "ServerNotAnswering", .setup = [](FakePort&) {}, .status = Unreachable},
      {.name = "BadNetPath", .setup = fault(53), .status = Unreachable, .in_record = "error 53"},
      {.name = "BadNetName", .setup = fault(67), .status = Unreachable},
      {.name = "NetworkUnreachable", .setup = fault(1231), .status = Unreachable},
      {.name = "LogonFailure", .setup = fault(1326), .status = Refused},
      {.name = "ConnectionRefused", .setup = fault(1225), .status = Refused},
      {.name = "AccessRefused",
       .setup = fault(platform::kErrorAccessDenied),
       .status = MasterUnopenable,
       .in_record = "access refused"},
      {.name = "FolderOfThatName",
       .setup = both(fault(platform::kErrorAccessDenied),
                     [](FakePort& port) {
                       port.attributes[kMaster] = {platform::kSuccess, 0x10};
                     }),
       .status = MasterUnopenable,
       .in_record = "a folder of that name"},
      {.name = "LockedPastTheRetries",
       .setup = fault(platform::kErrorSharingViolation),
       .status = MasterUnopenable,
       .in_record = "\t1000 ms\theld open"},
      {.name = "LockedOnceThenRead",
       .setup = both(v1, fault(platform::kErrorSharingViolation, 1)),
       .writes = true},
      {.name = "UnclassifiedErrorKeepsItsNumber",
       .setup = fault(1117),
       .status = MasterUnopenable,
       .in_record = "error 1117"},
      {.name = "DeviceGone", .setup = fault(55), .status = Unreachable, .in_record = "error 55"},
      {.name = "VirtualCircuitClosed", .setup = fault(240), .status = Unreachable},
      {.name = "ConnectionUnavailable", .setup = fault(1201), .status = Unreachable},
      {.name = "DomainControllerNotFound", .setup = fault(1908), .status = Unreachable},
      {.name = "NetworkAccessDenied",
       .setup = fault(65),
       .status = Refused,
       .in_record = "error 65"},
      {.name = "NoLogonSession", .setup = fault(1312), .status = Refused},
      {.name = "KerberosWrongTarget", .setup = fault(1396), .status = Refused},
      {.name = "KerberosClockSkew", .setup = fault(1398), .status = Refused},
      // A master being replaced (deleted, then another renamed in its place)
      // is refused with the error of a refusal: told apart, and tried again.
      {.name = "DeletePendingThenRead", .setup = both(v1, delete_pending(2)), .writes = true},
      {.name = "DeletePendingPastTheRetries",
       .setup = delete_pending(-1),
       .status = MasterUnopenable,
       .in_record = "or being replaced"},
      {.name = "OpenNeverReturnsIsCancelled",
       .setup = [](FakePort& port) { port.master_open_hangs = true; },
       .status = Unreachable,
       .in_record = "error 1460, NT status 0x00000000\t-\t-"},
      {.name = "OpenNeverReturnsNorEnds",
       .setup =
           [](FakePort& port) {
             port.master_open_hangs = true;
             port.hang_cancellable = false;
           },
       .status = Unreachable,
       .in_record = "could not cancel its read"},
      {.name = "NoThreadForTheDeadline",
       .setup = both(v1, [](FakePort& port) { port.thread_fails = true; }),
       .status = Unreachable,
       .in_record = "no thread"},
      // A link on the way from a local disk may lead to a share.
      {.name = "LinkOnTheWayGetsTheDeadline",
       .setup =
           [](FakePort& port) {
             port.masters[kSecondMaster] = kV1;
             port.attributes[u"D:\\masters"] = {platform::kSuccess,
                                                0x10 | platform::kFileAttributeReparsePoint};
             port.master_open_hangs = true;
           },
       .arguments = kSecondMaster,
       .status = Unreachable},
      {.name = "OfflineFileGetsTheDeadline",
       .setup =
           [](FakePort& port) {
             port.masters[kSecondMaster] = kV1;
             port.attributes[u"D:\\masters"] = {platform::kSuccess, 0x10};
             port.attributes[u"D:\\masters\\jdoe"] = {platform::kSuccess, 0x10};
             port.attributes[kSecondMaster] = {platform::kSuccess, 0x20 | 0x400000};
             port.master_open_hangs = true;
           },
       .arguments = kSecondMaster,
       .status = Unreachable},
      {.name = "ReadFails",
       .setup = both(v1, [](FakePort& port) { port.master_read_fails = true; }),
       .status = MasterUnreadable,
       .in_record = "error 64"},
      {.name = "KeyUnavailable",
       .setup = both(v1, failing(FailingCall::RegCreateKey)),
       .status = KeyUnavailable,
       .in_record = "error 5"},
      {.name = "AnotherRunHoldsTheLock",
       .setup = both(v1, [](FakePort& port) { port.lock_held_elsewhere = true; }),
       .status = Busy,
       .in_record = "23 Busy\terror 32"},
      {.name = "LockFileCannotBeOpened",
       .setup = both(v1, [](FakePort& port) { port.lock_error = platform::kErrorAccessDenied; }),
       .status = Busy,
       .in_record = "23 Busy\terror 5"},
      {.name = "NoMasterSaidOnceADay",
       .setup = ran_before(no_file),
       .status = NoMaster,
       .recorded = false},
      {.name = "UnreachableSaidOnceADay",
       .setup = ran_before(fault(53)),
       .status = Unreachable,
       .recorded = false},
      {.name = "DriftKeptSaidOnceADay",
       .setup = ran_before(both(v1, stored(u"Changed", u"Acme"))),
       .recorded = false},
      {.name = "ANewOutcomeIsRecordedAtOnce",
       .setup = both(ran_before(fault(53)),
                     [](FakePort& port) {
                       port.master_faults.clear();
                       port.attributes[kUserFolder] = {platform::kSuccess, 0x10};
                     }),
       .status = NoMaster,
       .in_record = "no file"},
      {.name = "ThirdWriteFails",
       .setup = both(v1, failing(FailingCall::ThirdWrite)),
       .status = WriteFailed,
       .writes = true},
      {.name = "PreviousCannotBeKept",
       .setup = both(v1, failing(FailingCall::CreatePreviousKey)),
       .status = WriteFailed},
      // Its key is made before anything changes: it marks the write unfinished.
      {.name = "MarkerCannotBeWritten",
       .setup = both(v1, failing(FailingCall::CreateMarkerKey)),
       .status = WriteFailed},
      {.name = "FlushFails",
       .setup = both(v1, failing(FailingCall::FlushKey)),
       .status = NotVerified,
       .writes = true},
      {.name = "ReadBackDiffers",
       .setup = both(v1, failing(FailingCall::ReadBack)),
       .status = NotVerified,
       .writes = true},
      {.name = "SecondMasterWhenTheFirstIsAbsent",
       .setup =
           [](FakePort& port) {
             port.attributes[kUserFolder] = {platform::kSuccess, 0x10};
             port.masters[kSecondMaster] = kV1;
           },
       .arguments = kMasterArgument + u" " + kSecondMaster,
       .writes = true,
       .in_record = "D:\\masters"},
      // A place that does not answer may hold the user's master: a later
      // one (a site default) must not be written over it meanwhile.
      {.name = "UnreachableFirstStopsTheSearch",
       .setup = both(fault(53), [](FakePort& port) { port.masters[kSecondMaster] = kV1; }),
       .arguments = kMasterArgument + u" " + kSecondMaster,
       .status = Unreachable},
      // A fallback serves users who never had their own master, not one
      // whose own master is gone for a moment: the values stay.
      {.name = "OwnMasterGoneFallbackNotUsed",
       .setup = imported_from_first,
       .arguments = kMasterArgument + u" " + kSecondMaster,
       .status = NoMaster,
       .in_record = "imported from is gone"},
      // A master on the machine's own disk is read without the deadline's thread.
      {.name = "LocalMasterReadDirectly",
       .setup =
           [](FakePort& port) {
             port.masters[kSecondMaster] = kV1;
             port.master_open_hangs = true;
           },
       .arguments = kSecondMaster,
       .writes = true},
      {.name = "SidPlaceholderInCapitals",
       .setup = v1,
       .arguments = u"\\\\srv\\share\\{SID}\\sysfile.cfg",
       .writes = true},
      {.name = "Advapi32Missing",
       .setup = both(v1, [](FakePort& port) { port.advapi32_missing = true; }),
       .writes = true},
      // No master anywhere: the command line gives none, and policy Masters is not set.
      {.name = "NoMasterGiven",
       .setup = v1,
       .arguments = u"--check",
       .status = Usage,
       .in_record = "no master"},
      // In line noted once a day, by a run that reads the master, also under --check.
      {.name = "InLineNotedOnceADay",
       .setup = both(both(v1, stored(u"Acme", u"Acme")), last_in_line(25 * kHourTicks)),
       .event_id = kHeartbeatEventId,
       .notes_in_line = true},
      {.name = "InLineNotedUnderCheck",
       .setup = both(both(v1, stored(u"Acme", u"Acme")), last_in_line(0)),
       .arguments = u"--check " + kMasterArgument,
       .event_id = kHeartbeatEventId,
       .notes_in_line = true},
      {.name = "InLineFromTheFutureNoted",
       .setup = both(both(v1, stored(u"Acme", u"Acme")), last_in_line(-kHourTicks)),
       .event_id = kHeartbeatEventId,
       .notes_in_line = true},
      // 10 and 11 within the limit; past it, or never in line, 16.
      {.name = "UnreachableWithinTheLimit",
       .setup = both(fault(53), last_in_line(13 * kDayTicks)),
       .status = Unreachable},
      {.name = "UnreachablePastTheLimit",
       .setup = both(fault(53), last_in_line(15 * kDayTicks)),
       .status = Stale,
       .in_record = "16 Stale\terror 53"},
      {.name = "InLineOnlyInTheFutureIsStale",
       .setup = both(fault(53), last_in_line(-400 * kDayTicks)),
       .status = Stale},
      {.name = "NeverInLineIsStale",
       .setup = both(no_file, last_in_line(0)),
       .status = Stale,
       .in_record = "no file"},
      {.name = "StaleDaysFromTheCommandLine",
       .setup = both(fault(53), last_in_line(15 * kDayTicks)),
       .arguments = u"--stale-days 30 " + kMasterArgument,
       .status = Unreachable},
      {.name = "StaleDaysFromPolicy",
       .setup =
           both(both(fault(53), last_in_line(15 * kDayTicks)), policy(u"StaleDays", Dword(30))),
       .status = Unreachable},
      {.name = "StaleDaysCommandLineWins",
       .setup = both(both(fault(53), last_in_line(3 * kDayTicks)), policy(u"StaleDays", Dword(30))),
       .arguments = u"--stale-days 2 " + kMasterArgument,
       .status = Stale},
      {.name = "StaleSaidAtEveryRun",
       .setup = ran_before(both(no_file, last_in_line(0))),
       .status = Stale},
      // --check tells drift apart; Enforce from policy puts it back as --enforce does.
      {.name = "CheckDrift",
       .setup = both(v1, stored(u"Changed", u"Acme")),
       .arguments = u"--check " + kMasterArgument,
       .status = DriftFound,
       .event_id = kDriftEventId,
       .in_record = "drift kept"},
      {.name = "CheckDriftEnforced",
       .setup = both(v1, stored(u"Changed", u"Acme")),
       .arguments = u"--check --enforce " + kMasterArgument,
       .status = WouldWrite},
      {.name = "PolicyEnforce",
       .setup = both(both(v1, stored(u"Changed", u"Acme")), policy(u"Enforce", Dword(1))),
       .writes = true,
       .in_record = "drift put back"},
      // Masters from policy when the command line names none; the command line wins.
      {.name = "MastersFromPolicy",
       .setup = both(v1, policy(u"Masters", MultiSz({kMasterArgument}))),
       .arguments = u"",
       .writes = true,
       .in_record = "\tpolicy\r"},
      {.name = "MastersFromPolicyAsOneText",
       .setup = both(v1, policy(u"Masters", Text(kMasterArgument))),
       .arguments = u"",
       .writes = true},
      {.name = "PolicyFallbackMaster",
       .setup = both(
           no_file,
           [](FakePort& port) {
             port.masters[kSecondMaster] = kV1;
             port.other_keys[kPolicyKey][u"Masters"] = MultiSz({kMasterArgument, kSecondMaster});
           }),
       .arguments = u"",
       .writes = true,
       .in_record = "D:\\masters"},
      {.name = "CommandLineMastersWin",
       .setup = both(v1, policy(u"Masters", MultiSz({u"\\\\other\\share\\x.cfg"}))),
       .writes = true,
       .in_record = "\tcommand line\r"},
      // A policy value set but of no use checks only, says which, at every run.
      {.name = "PolicyMastersRelative",
       .setup = both(v1, policy(u"Masters", MultiSz({u"sysfile.cfg"}))),
       .arguments = u"",
       .status = PolicyUnreadable,
       .in_record = "policy Masters"},
      {.name = "PolicyMastersNine",
       .setup =
           both(v1, policy(u"Masters", MultiSz(std::vector<std::u16string>(9, kMasterArgument)))),
       .status = PolicyUnreadable},
      {.name = "PolicyMastersDword",
       .setup = both(v1, policy(u"Masters", Dword(1))),
       .arguments = u"",
       .status = PolicyUnreadable},
      {.name = "PolicyStaleDaysZero",
       .setup = both(v1, policy(u"StaleDays", Dword(0))),
       .status = PolicyUnreadable,
       .in_record = "policy StaleDays"},
      {.name = "PolicyStaleDaysAsText",
       .setup =
           both(both(fault(53), last_in_line(15 * kDayTicks)), policy(u"StaleDays", Text(u"30"))),
       .status = Unreachable},
      {.name = "PolicyEnforceTwo",
       .setup = both(v1, policy(u"Enforce", Dword(2))),
       .status = PolicyUnreadable,
       .in_record = "policy Enforce"},
      {.name = "PolicyEnforceBinary",
       .setup = both(v1, policy(u"Enforce", Bytes(3, "\1"))),
       .status = PolicyUnreadable},
      // The kill switch holds whatever else the policy says.
      {.name = "PolicyRequireSecureChannelTwo",
       .setup = both(v1, policy(u"RequireSecureChannel", Dword(2))),
       .status = PolicyUnreadable,
       .in_record = "policy RequireSecureChannel"},
      // A master read over a connection anyone on the network could have
      // answered is recorded, and refused where policy says so.
      {.name = "UnprotectedShareRecorded",
       .setup = both(v1, channel(0)),
       .writes = true,
       .in_record = "\tread over a channel not both signed and mutually authenticated\t"},
      {.name = "UnprotectedShareRefused",
       .setup = both(both(v1, channel(0)), require_secure),
       .status = InsecureChannel,
       .in_record = "not both signed and mutually authenticated: refused"},
      {.name = "ChannelNotToldRefused",
       .setup = both(v1, require_secure),
       .status = InsecureChannel,
       .in_record = "cannot tell"},
      {.name = "SignedAndMutuallyAuthenticatedShareUnderPolicy",
       .setup = both(both(v1, channel(platform::kRemoteProtocolIntegrity |
                                      platform::kRemoteProtocolMutualAuth)),
                     require_secure),
       .writes = true,
       .in_record = "ms\t-\tcommand line"},
      {.name = "EncryptedAndMutuallyAuthenticatedShareUnderPolicy",
       .setup = both(both(v1, channel(platform::kRemoteProtocolPrivacy |
                                      platform::kRemoteProtocolMutualAuth)),
                     require_secure),
       .writes = true},
      // Signed over NTLM: any machine of the domain could have served it.
      {.name = "SignedOnlyShareRefused",
       .setup = both(both(v1, channel(platform::kRemoteProtocolIntegrity)), require_secure),
       .status = InsecureChannel},
      {.name = "MutuallyAuthenticatedOnlyShareRefused",
       .setup = both(both(v1, channel(platform::kRemoteProtocolMutualAuth)), require_secure),
       .status = InsecureChannel},
      {.name = "OwnDiskMasterUnderPolicy",
       .setup = both([](FakePort& port) { port.masters[kSecondMaster] = kV1; }, require_secure),
       .arguments = kSecondMaster,
       .writes = true,
       .in_record = "ms\t-\tcommand line"},
      {.name = "PolicyOffOverAnUnusableValue",
       .setup = both(both(v1, policy(u"StaleDays", Dword(0))),
                     [](FakePort& port) { port.policy_mode = 0; }),
       .arguments = u"",
       .status = TurnedOff},
      // Each boundary on its own.
      {.name = "OneValueMissingWhileTheMarkerMatches",
       .setup = both(both(v1, stored(u"Acme", u"Acme")),
                     [](FakePort& port) { port.values.erase(u"RegCorp"); }),
       .writes = true,
       .in_record = "missing"},
      {.name = "SidAtTheVeryEnd",
       .setup = [](FakePort& port) { port.masters[kShare + u"S-1-5-21-1-2-3-1001"] = kV1; },
       .arguments = u"\\\\srv\\share\\{sid}",
       .writes = true},
      {.name = "PolicyMastersEight",
       .setup =
           both(v1, policy(u"Masters", MultiSz(std::vector<std::u16string>(8, kMasterArgument)))),
       .arguments = u"",
       .writes = true},
      {.name = "PolicyMastersWithoutTheirNul",
       .setup = both(v1, policy(u"Masters", Text(kMasterArgument, false))),
       .arguments = u"",
       .status = PolicyUnreadable},
      {.name = "PolicyStaleDaysSpacedDigits",
       .setup = both(v1, policy(u"StaleDays", Text(u"1 5"))),
       .status = PolicyUnreadable,
       .in_record = "policy StaleDays"},
      {.name = "PolicyStaleDaysAtTheLimit",
       .setup =
           both(both(fault(53), last_in_line(15 * kDayTicks)), policy(u"StaleDays", Dword(3650))),
       .status = Unreachable},
      {.name = "PolicyStaleDaysInTwoBytes",
       .setup =
           both(both(fault(53), last_in_line(100 * kDayTicks)), policy(u"StaleDays", Dword(300))),
       .status = Unreachable},
      {.name = "PolicyModeLongBinaryCannotBeRead",
       .setup = both(v1, mode(3, std::string(40, '\1'))),
       .status = PolicyUnreadable,
       .in_record = "cannot be read"},
      {.name = "UnreachableExactlyAtTheLimit",
       .setup = both(fault(53), last_in_line(14 * kDayTicks)),
       .status = Unreachable},
      {.name = "InLineExactlyADayAheadIsNotStale",
       .setup = both(fault(53), last_in_line(-kDayTicks)),
       .status = Unreachable},
      {.name = "InLineNotedAfterExactlyADay",
       .setup = both(both(v1, stored(u"Acme", u"Acme")), last_in_line(kDayTicks)),
       .event_id = kHeartbeatEventId,
       .notes_in_line = true},
      {.name = "RecordedAgainAfterExactlyADay",
       .setup = both(ran_before(both(v1, stored(u"Acme", u"Acme"))),
                     [](FakePort& port) { port.log_written_at = port.now - kHeartbeatTicks; }),
       .event_id = kHeartbeatEventId,
       .in_record = "heartbeat"},
      {.name = "DriftPutRightByHandIsRecorded",
       .setup = both(ran_before(both(v1, stored(u"Changed", u"Acme"))), stored(u"Acme", u"Acme")),
       .event_id = kHeartbeatEventId},
      {.name = "ANewDetailIsRecordedAtOnce",
       .setup = both(ran_before(no_file),
                     [](FakePort& port) {
                       port.attributes.clear();
                       port.attributes[kShare] = {platform::kSuccess, 0x10};
                     }),
       .status = NoMaster,
       .in_record = "no folder"},
      {.name = "RolledBackSaidOnceADay",
       .setup =
           [](FakePort& port) {
             port.masters[kMaster] = kV1;
             StoredWithPrevious(port);
             port.command_line = kCommand + u"--restore-previous";
             RanBefore(port);
             port.command_line = kCommand + kMasterArgument;
             RanBefore(port);
           },
       .recorded = false},
      // Another run holds the lock: waited for until the deadline, no longer.
      {.name = "AnotherRunHoldsTheLockToTheDeadline",
       .setup = both(v1, [](FakePort& port) { port.lock_held_elsewhere = true; }),
       .status = Busy,
       .in_record = "\t15000 ms\t"},
      {.name = "ImportedFromTheLastMasterGone",
       .setup =
           [](FakePort& port) {
             Stored(port, u"Acme", u"Acme");
             port.other_keys[kSyncKeyPath][kImportedFromName] = Text(kSecondMaster);
             port.attributes[kUserFolder] = {platform::kSuccess, 0x10};
             port.attributes[u"D:\\masters\\jdoe\\"] = {platform::kSuccess, 0x10};
           },
       .arguments = kMasterArgument + u" " + kSecondMaster,
       .status = NoMaster,
       .in_record = "no file"},
      // What the drive is decides whether the deadline's thread is needed.
      {.name = "RamDiskMasterReadDirectly",
       .setup =
           [](FakePort& port) {
             port.masters[kSecondMaster] = kV1;
             port.drive_types[u'D'] = platform::kDriveRamDisk;
             port.master_open_hangs = true;
           },
       .arguments = kSecondMaster,
       .writes = true},
      {.name = "RemovableDriveGetsTheDeadline",
       .setup =
           [](FakePort& port) {
             port.masters[kSecondMaster] = kV1;
             port.drive_types[u'D'] = kDriveRemovable;
             port.master_open_hangs = true;
           },
       .arguments = kSecondMaster,
       .status = Unreachable},
      {.name = "OfflineAttributeGetsTheDeadline",
       .setup =
           [](FakePort& port) {
             port.masters[kSecondMaster] = kV1;
             port.attributes[u"D:\\masters"] = {platform::kSuccess,
                                                0x10 | platform::kFileAttributeOffline};
             port.master_open_hangs = true;
           },
       .arguments = kSecondMaster,
       .status = Unreachable},
      {.name = "LocalMasterNotThereAnswersAtOnce",
       .setup = [](FakePort& port) { port.master_open_hangs = true; },
       .arguments = kSecondMaster,
       .status = Unreachable,
       .in_record = "does not answer"},
      {.name = "RelativeMaster", .setup = v1, .arguments = u"sysfile.cfg", .status = Usage},
      {.name = "UnknownOption",
       .setup = v1,
       .arguments = u"--force " + kMasterArgument,
       .status = Usage},
  };
}

void PrintTo(const SyncCase& c, std::ostream* out) {
  *out << c.name;
}

class RunSyncTest : public ::testing::TestWithParam<SyncCase> {};

TEST_P(RunSyncTest, OutcomeWritesAndRecord) {
  const SyncCase& c = GetParam();
  FakePort port;
  port.command_line = kCommand + c.arguments;
  // In line with a master an hour ago, unless a row says otherwise.
  port.other_keys[kSyncKeyPath][kLastInLineName] =
      Text(IsoTime(port.now - static_cast<std::uint64_t>(kHourTicks)));
  c.setup(port);
  const std::map<std::u16string, std::string> masters_before = port.masters;

  EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), c.status);

  EXPECT_EQ(!port.written.empty(), c.writes);
  const bool write_failed = c.status == SyncStatus::KeyUnavailable ||
                            c.status == SyncStatus::WriteFailed ||
                            c.status == SyncStatus::NotVerified;
  if (!c.writes && !write_failed) {
    for (const std::string_view call :
         {"RegOpenKeyExW", "RegCreateKeyExW", "RegSetValueExW", "RegFlushKey"}) {
      const bool noting = call == "RegCreateKeyExW" || call == "RegSetValueExW";
      EXPECT_EQ(std::count(port.calls.begin(), port.calls.end(), call),
                c.notes_in_line && noting ? 1 : 0)
          << call << ": nothing is opened for writing, written or flushed but LastInLine";
    }
  }
  if (c.notes_in_line || (c.writes && c.status == SyncStatus::InPlace)) {
    EXPECT_EQ(Units(port.ValuesAt(kSyncKeyPath), kLastInLineName), IsoTime(port.now) + u'\0');
  }
  if (c.writes && c.status == SyncStatus::InPlace) {
    EXPECT_EQ(std::count(port.calls.begin(), port.calls.end(), "RegFlushKey"), 1);
    EXPECT_EQ(port.ValuesAt(kSyncKeyPath).count(kImportedHashName), 1U);
  }
  const bool opened_master = !port.masters_opened.empty();
  EXPECT_EQ(opened_master, c.status != SyncStatus::TurnedOff &&
                               c.status != SyncStatus::NoUserHive &&
                               c.status != SyncStatus::Usage && !port.thread_fails &&
                               (c.status != SyncStatus::PolicyUnreadable || !c.arguments.empty()))
      << "the master is read only once the policy, the account and the command line allow";
  EXPECT_EQ(port.masters, masters_before) << "a master copy is never changed";
  EXPECT_EQ(port.OpenHandles(), 0U) << "a handle was leaked";
  EXPECT_EQ(port.bad_closes, 0);
  EXPECT_EQ(port.writes_without_lock, 0) << "every change is made under the user's lock";
  EXPECT_FALSE(port.lock_held) << "the lock is released";
  if (port.registry_touched && c.writes) {
    EXPECT_EQ(port.lock_path, u"C:\\Users\\jdoe\\AppData\\Local\\Tessavo\\profile-sync.lock");
  }

  const std::vector<std::string>& log =
      port.files_appended[u"C:\\Users\\jdoe\\AppData\\Local\\Tessavo\\profile-sync.log"];
  ASSERT_EQ(log.size(), c.recorded ? 1U : 0U);
  ASSERT_EQ(port.standard_output.size(), 1U) << "a caller reading it gets its line every time";
  EXPECT_EQ(port.standard_output[0].find("\theartbeat\t") != std::string::npos,
            c.recorded && c.event_id == kHeartbeatEventId);
  if (c.recorded) {
    EXPECT_EQ(port.standard_output, log);
  }
  if (!c.recorded) {
    EXPECT_TRUE(port.events.empty());
    EXPECT_EQ(std::count(port.calls.begin(), port.calls.end(), "ReportEventW"), 0)
        << "nothing to do loads no advapi32.dll";
    return;
  }
  const std::string code =
      "\t" + std::to_string(static_cast<int>(c.status)) + " " + std::string(FactsOf(c.status).name);
  EXPECT_NE(log[0].find(code), std::string::npos) << log[0];
  EXPECT_NE(log[0].find(c.in_record), std::string::npos) << log[0];
  EXPECT_TRUE(log[0].ends_with("\r\n"));
  if (!port.advapi32_missing) {
    ASSERT_EQ(port.events.size(), 1U);
    EXPECT_EQ(port.events[0].id, c.event_id != 0 ? c.event_id : FactsOf(c.status).event_id);
    EXPECT_EQ(port.events[0].strings.size(), 13U);
    EXPECT_EQ(port.events[0].user, port.token_user) << "the event's user is the token's";
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, RunSyncTest, ::testing::ValuesIn(SyncCases()),
                         [](const auto& info) { return info.param.name; });

// A log that would be written through a link is not written; the event
// says why, and a forged name reaches neither.
TEST(RunSyncRecord, LogNotWrittenTheEventSaysWhy) {
  FakePort port;
  port.command_line = kCommand + kMasterArgument;
  port.masters[kMaster] = kV1;
  port.environment[u"USERNAME"] = u"admin\tforged\r\nline";
  port.master_faults[kMaster] = MasterFault{platform::kErrorAccessDenied, 0xC0000022};
  port.log_is_link = true;

  EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::MasterUnopenable);

  EXPECT_TRUE(port.files_appended.empty());
  ASSERT_EQ(port.events.size(), 1U);
  EXPECT_EQ(port.events[0].strings[11],
            u"access refused; log not written: its folder or file is a link");
  EXPECT_EQ(port.events[0].strings[2], u"-");
  EXPECT_EQ(port.standard_output[0].find("forged"), std::string::npos);

  port.master_faults.clear();
  port.events.clear();
  ASSERT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);
  EXPECT_EQ(port.events[0].strings[11], u"log not written: its folder or file is a link");
}

TEST(RunSyncWrite, KeepsTheReplacedValuesAndMarksWhatItImported) {
  FakePort port;
  port.command_line = kCommand + kMasterArgument;
  port.masters[kMaster] = kV2;
  Stored(port, u"Acme", u"Acme");
  port.values[u"RegAdmin"] = testing::StoredValue{platform::kRegDword, {std::byte{1}}};

  ASSERT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);

  const auto& previous = port.ValuesAt(kPreviousKeyPath);
  EXPECT_EQ(previous.at(u"RegCorp").Units(), std::u16string(u"Acme") + u'\0');
  EXPECT_EQ(previous.at(kKeptForName).Units(), Hex(ProfileHash(Profile(u"Acme 2"))) + u'\0')
      << "kept whole";
  EXPECT_FALSE(previous.contains(u"RegAdmin")) << "only text values are kept";
  EXPECT_EQ(port.values.at(u"RegCorp").Units(), std::u16string(u"Acme 2") + u'\0');
  const auto& marker = port.ValuesAt(kSyncKeyPath);
  EXPECT_EQ(marker.at(kImportedHashName).Units(), Hex(ProfileHash(Profile(u"Acme 2"))) + u'\0');
  EXPECT_EQ(marker.at(kImportedFromName).Units(), kMaster + u'\0');
  EXPECT_EQ(marker.at(kImportedAtName).Units(), std::u16string(u"2025-12-12T08:00:00Z") + u'\0');
}

// The state a few runs leave: v1 stored, marked and final, with v0 kept.
void StoredWithPrevious(FakePort& port) {
  Stored(port, u"Acme", u"Acme");
  const SiteProfile v0 = Profile(u"Acme 0");
  auto& previous = port.other_keys[kPreviousKeyPath];
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    previous[kHandOffFields[i].value_name] = Text(v0.Texts()[i]);
  }
  previous[kKeptForName] = Text(Hex(ProfileHash(Profile(u"Acme"))));
}

// The four values, the marker and Previous agree once a run has ended
// well: the values are `corp`'s master's, the marker names it, and Previous
// holds the values of a master that was imported before.
void ExpectConsistent(FakePort& port, std::u16string_view corp) {
  const SiteProfile wanted = Profile(corp);
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    EXPECT_EQ(Units(port.values, kHandOffFields[i].value_name),
              std::u16string(wanted.Texts()[i]) + u'\0');
  }
  EXPECT_EQ(Units(port.ValuesAt(kSyncKeyPath), kImportedHashName),
            Hex(ProfileHash(wanted)) + u'\0');
  const std::u16string kept_corp = Units(port.ValuesAt(kPreviousKeyPath), u"RegCorp");
  bool a_master = false;
  for (const std::u16string_view held : {u"Acme 0", u"Acme", u"Acme 2"}) {
    const SiteProfile profile = Profile(held);
    bool all = true;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      all = all && Units(port.ValuesAt(kPreviousKeyPath), kHandOffFields[i].value_name) ==
                       std::u16string(profile.Texts()[i]) + u'\0';
    }
    a_master = a_master || all;
  }
  EXPECT_TRUE(a_master) << "Previous holds " << std::string(kept_corp.begin(), kept_corp.end());
}

// A run ended at any of its changes to the registry (a logoff, a power cut)
// and then, or not, the master put back: the next run leaves the master's
// profile, never a mix kept as drift.
TEST(RunSyncWrite, ARunEndedAtAnyChangeIsFinishedByTheNext) {
  for (int changes = 0; changes < 20; ++changes) {
    for (const bool reverted : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "ended after " << changes << " changes"
                                        << (reverted ? ", master put back" : ""));
      FakePort port;
      port.command_line = kCommand + kMasterArgument;
      port.masters[kMaster] = kV2;
      StoredWithPrevious(port);
      port.changes_left = changes;
      SyncMain(port, "1.2.0", "x64");

      port.changes_left.reset();
      if (reverted) {
        port.masters[kMaster] = kV1;
      }
      EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);
      ExpectConsistent(port, reverted ? u"Acme" : u"Acme 2");
      port.written.clear();
      EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);
      EXPECT_TRUE(port.written.empty()) << "then nothing is left to do";
    }
  }
}

// A write that failed at any value (of the profile, Previous or the marker)
// is finished by the next run, also when the master went back meanwhile,
// and Previous keeps the values from before the first attempt.
TEST(RunSyncWrite, AFailedWriteIsFinishedAndKeepsTheFirstPrevious) {
  struct Failure {
    std::set<FailingCall> calls;
    std::set<std::u16string> names;
    // What Previous holds once the master went back: the values before the
    // first attempt, but where that attempt changed nothing (its very first
    // change failed) or finished (only its flush failed).
    std::u16string_view kept_after_revert = u"Acme";
  };
  const std::vector<Failure> failures = {
      {{FailingCall::FirstWrite}, {}},
      {{FailingCall::SecondWrite}, {}},
      {{FailingCall::ThirdWrite}, {}},
      {{FailingCall::FourthWrite}, {}},
      {{FailingCall::ReadBack}, {}},
      {{}, {kImportedAtName}},
      {{}, {kImportedFromName}},
      {{}, {kImportedHashName}, u"Acme 0"},
      {{}, {kKeptForName}, u"Acme 0"},
      {{FailingCall::CreateMarkerKey}, {}, u"Acme 0"},
      {{FailingCall::FlushKey}, {}, u"Acme 2"},
  };
  for (const Failure& failure : failures) {
    for (const bool reverted : {false, true}) {
      SCOPED_TRACE(::testing::Message()
                   << (failure.names.empty() ? "a call" : "a value") << " failing, "
                   << (reverted ? "master put back" : "master kept"));
      FakePort port;
      port.command_line = kCommand + kMasterArgument;
      port.masters[kMaster] = kV2;
      StoredWithPrevious(port);
      port.failing = failure.calls;
      port.failing_names = failure.names;
      EXPECT_NE(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);

      port.failing.clear();
      port.failing_names.clear();
      if (reverted) {
        port.masters[kMaster] = kV1;
      }
      EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);
      ExpectConsistent(port, reverted ? u"Acme" : u"Acme 2");
      EXPECT_EQ(Units(port.ValuesAt(kPreviousKeyPath), u"RegCorp"),
                std::u16string(reverted ? failure.kept_after_revert : u"Acme") + u'\0');
    }
  }
}

// Another run of the same user (a second Remote Desktop session, a task
// beside the logon script) wrote between this run's decision and its lock:
// the decision is made again, and what is stored stays one master's.
TEST(RunSyncWrite, AnotherRunBeforeTheLockIsSeenUnderIt) {
  struct Other {
    const char* name;
    std::function<void(FakePort&)> wrote;
    bool writes;  // this run still writes
  };
  const std::vector<Other> others = {
      {"imported another master",
       [](FakePort& port) {
         StoredWithPrevious(port);
         Stored(port, u"Acme 2", u"Acme 2");
       },
       true},
      {"imported the same master", [](FakePort& port) { Stored(port, u"Acme", u"Acme"); }, false},
      {"ended mid-write",
       [](FakePort& port) {
         Stored(port, u"Acme 2", u"Acme 0");
         port.values[u"RegCorp"] = Text(u"Acme 0");
         port.other_keys[kPreviousKeyPath][kKeptForName] = Text(u"0123456789abcdef pending");
         port.other_keys[kSyncKeyPath][kImportedHashName] = Text(u"0123456789abcdef pending");
       },
       true},
  };
  for (const Other& other : others) {
    SCOPED_TRACE(other.name);
    FakePort port;
    port.command_line = kCommand + kMasterArgument;
    port.masters[kMaster] = kV1;
    StoredWithPrevious(port);
    Stored(port, u"Acme 0", u"Acme 0");
    port.before_lock = other.wrote;

    EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);

    EXPECT_EQ(!port.written.empty(), other.writes);
    EXPECT_EQ(port.writes_without_lock, 0);
    EXPECT_EQ(Units(port.values, u"RegCorp"), std::u16string(u"Acme") + u'\0');
    EXPECT_EQ(Units(port.ValuesAt(kSyncKeyPath), kImportedHashName),
              Hex(ProfileHash(Profile(u"Acme"))) + u'\0');
  }
}

// Values that already match the master (another machine imported it, or a
// write ended before its marker) get the marker alone: Previous still holds
// what it kept, the backup a rollback needs.
TEST(RunSyncWrite, MatchingValuesGetTheMarkerAndKeepPrevious) {
  FakePort port;
  port.command_line = kCommand + kMasterArgument;
  port.masters[kMaster] = kV2;
  StoredWithPrevious(port);
  Stored(port, u"Acme 2", u"Acme");

  EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);

  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(Units(port.ValuesAt(kSyncKeyPath), kImportedHashName),
            Hex(ProfileHash(Profile(u"Acme 2"))) + u'\0');
  EXPECT_EQ(Units(port.ValuesAt(kPreviousKeyPath), u"RegCorp"), std::u16string(u"Acme 0") + u'\0');
}

// The marker roams between machines of every version: a hash that changed
// would make each machine of a mixed fleet write at every logon.
// Put back by hand, byte for byte; then kept by every run, checks and
// --enforce included, until the master changes, which is a rollout.
TEST(RunSyncRestore, PutsPreviousBackAndKeepsItUntilTheMasterChanges) {
  FakePort port;
  port.masters[kMaster] = kV1;
  StoredWithPrevious(port);
  const std::map<std::u16string, testing::StoredValue> kept = port.ValuesAt(kPreviousKeyPath);
  port.command_line = kCommand + u"--restore-previous";

  ASSERT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);

  for (const HandOffField& field : kHandOffFields) {
    EXPECT_EQ(port.values.at(field.value_name).data, kept.at(field.value_name).data);
  }
  EXPECT_EQ(Units(port.ValuesAt(kSyncKeyPath), kImportedHashName),
            Hex(ProfileHash(Profile(u"Acme"))) + u" rolled back" + u'\0');
  EXPECT_EQ(std::count(port.calls.begin(), port.calls.end(), "RegFlushKey"), 1);
  ASSERT_EQ(port.events.size(), 1U);
  EXPECT_EQ(port.events[0].id, kRolledBackEventId);
  for (const std::u16string& arguments :
       {kMasterArgument, u"--check " + kMasterArgument, u"--enforce " + kMasterArgument}) {
    port.command_line = kCommand + arguments;
    port.written.clear();
    EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);
    EXPECT_TRUE(port.written.empty());
    EXPECT_NE(port.standard_output.back().find("\trolled back\t"), std::string::npos);
  }
  port.masters[kMaster] = kV2;
  EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);
  ExpectConsistent(port, u"Acme 2");
}

TEST(RunSyncRestore, NeedsValuesKeptWholeAndTheUsersOwnHive) {
  struct Case {
    const char* name;
    std::function<void(FakePort&)> setup;
    SyncStatus status;
  };
  const std::vector<Case> cases = {
      {"nothing kept", [](FakePort& port) { port.other_keys.erase(kPreviousKeyPath); },
       SyncStatus::Usage},
      {"kept part way",
       [](FakePort& port) {
         port.other_keys[kPreviousKeyPath][kKeptForName] = Text(u"0123456789abcdef keeping");
       },
       SyncStatus::Usage},
      {"as SYSTEM", [](FakePort& port) { port.token_user = {1, 1, 0, 0, 0, 0, 0, 5, 18}; },
       SyncStatus::NoUserHive},
      {"another run holds the lock", [](FakePort& port) { port.lock_held_elsewhere = true; },
       SyncStatus::Busy},
      {"no %LOCALAPPDATA% for the lock", [](FakePort& port) { port.environment.clear(); },
       SyncStatus::Busy},
      // The way back from a rollout the kill switch stopped.
      {"turned off by policy", [](FakePort& port) { port.policy_mode = 0; }, SyncStatus::InPlace},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePort port;
    port.command_line = kCommand + u"--restore-previous";
    StoredWithPrevious(port);
    c.setup(port);
    EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), c.status);
    EXPECT_EQ(Units(port.values, u"RegCorp"),
              std::u16string(c.status == SyncStatus::InPlace ? u"Acme 0" : u"Acme") + u'\0');
    EXPECT_EQ(port.events.back().id,
              c.status == SyncStatus::InPlace ? kRolledBackEventId : FactsOf(c.status).event_id);
  }
}

// A restore ended at any change: the next run leaves the values put back or
// the master's, and Previous as it was, to be put back again.
TEST(RunSyncRestore, ARestoreEndedAtAnyChangeCanBeRunAgain) {
  for (int changes = 0; changes < 14; ++changes) {
    SCOPED_TRACE(::testing::Message() << "ended after " << changes << " changes");
    FakePort port;
    port.masters[kMaster] = kV1;
    StoredWithPrevious(port);
    const std::map<std::u16string, testing::StoredValue> kept = port.ValuesAt(kPreviousKeyPath);
    port.command_line = kCommand + u"--restore-previous";
    port.changes_left = changes;
    SyncMain(port, "1.2.0", "x64");
    port.changes_left.reset();
    port.command_line = kCommand + kMasterArgument;
    EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);
    port.command_line = kCommand + u"--restore-previous";
    EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);
    for (const HandOffField& field : kHandOffFields) {
      EXPECT_EQ(Units(port.values, field.value_name), Units(kept, field.value_name));
      EXPECT_EQ(Units(port.ValuesAt(kPreviousKeyPath), field.value_name),
                Units(kept, field.value_name));
    }
  }
}

// LastInLine is read back from the text the marker writes: every date
// round-trips, and any other text is "never".
TEST(SyncIsoTime, ReadsBackWhatItWritesAndNothingElse) {
  EXPECT_EQ(ParseIsoTime(u"2025-12-12T08:00:00Z"), 134'100'000'000'000'000ULL);
  for (const std::u16string_view text : {u"1601-01-01T00:00:01Z", u"2024-02-29T23:59:59Z",
                                         u"2026-03-01T00:00:00Z", u"2100-12-31T12:34:56Z"}) {
    EXPECT_EQ(IsoTime(ParseIsoTime(text)), text);
  }
  for (const std::u16string_view text :
       {u"", u"2026-12-10T13:46:09", u"2026-12-10 13:46:09Z", u"2026-00-10T13:46:09Z",
        u"2026-12-10T24:00:00Z", u"1600-12-31T23:59:59Z", u"2026-12-1xT13:46:09Z",
        u"2026-13-10T13:46:09Z", u"2026-12-00T13:46:09Z", u"2026-12-32T13:46:09Z",
        u"2026-12-10T13:60:09Z", u"2026-12-10T13:46:60Z"}) {
    EXPECT_EQ(ParseIsoTime(text), 0U) << std::string(text.begin(), text.end());
  }
}

TEST(ProfileHashTest, PinnedAcrossVersionsAndEncodings) {
  SiteProfile empty;
  SiteProfile cafe = Profile(u"Caf\u00E9");
  EXPECT_EQ(ProfileHash(Profile(u"Acme")), 0x9d58a54ffad8290cULL);
  EXPECT_EQ(ProfileHash(empty), 0xa8c7f832281a39c5ULL);
  EXPECT_EQ(ProfileHash(cafe), 0xe388ab2d4b073643ULL);
  EXPECT_EQ(ProfileHash(Profile(u"\u20AC")), 0x33ea59a74581e182ULL) << "both bytes of a unit";

  const std::string utf8 = "Caf\xC3\xA9\nsrv\\\nmain\nx\nadmin\njdoe\n";
  std::string utf16 = "\xFF\xFE";
  for (const char16_t unit : std::u16string(u"Caf\u00E9\nsrv\\\nmain\nx\nadmin\njdoe\n")) {
    utf16 += static_cast<char>(unit & 0xFF);
    utf16 += static_cast<char>(unit >> 8);
  }
  for (const std::string& bytes : {utf8, utf16}) {
    FakePort code_page;
    const auto parsed = ParseProfileText(
        std::span{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, code_page);
    EXPECT_EQ(ProfileHash(parsed.profile), 0xe388ab2d4b073643ULL);
  }
}

TEST(SyncRecord, FieldsInTheirOrder) {
  SyncResult result;
  result.status = SyncStatus::MasterUnopenable;
  result.error = 5;
  result.nt_status = 0xC0000022;
  result.changed = 0b0101;
  result.change = Change::Rollout;
  result.detail = "access refused";
  result.account.kind = AccountKind::User;
  const std::u16string sid = u"S-1-5-21-1-2-3-1001";
  std::copy(sid.begin(), sid.end(), result.account.sid.begin());
  result.account.sid_length = sid.size();
  // A line end or a tab in a name or a path makes no line or field of its own.
  const std::u16string master = u"\\\\srv\\share\\J\u00F6rg\r\n\u2028\\sysfile.cfg";
  std::copy(master.begin(), master.end(), result.master.begin());
  result.master_length = master.size();
  RecordContext context;
  context.now = 134'100'000'000'000'000;
  context.elapsed_ms = 42;
  context.computer = u"PC01\tCORP\x7F\u0085";
  context.log_note = "log not written: its folder or file is a link";
  context.version = "1.2.0";
  context.architecture = "arm64";
  std::array<std::uint8_t, 1024> out{};

  const std::size_t length = FormatRecord(result, context, out);

  EXPECT_EQ(std::string(std::span(out).first(length).begin(), std::span(out).first(length).end()),
            "2025-12-12T08:00:00Z\tPC01\\x09CORP\\x7f\\u0085\t-\tS-1-5-21-1-2-3-1001\t"
            "13 MasterUnopenable\terror 5, NT status 0xc0000022\tRegCorp,RegAdmin\trollout\t"
            "\\\\srv\\share\\J\xC3\xB6rg\\x0d\\x0a\\u2028\\sysfile.cfg\tprofile-sync 1.2.0 arm64\t"
            "42 ms\taccess refused; log not written: its folder or file is a link\t-\r\n");
}

// A record longer than its buffer is cut, and still ends its line inside it.
TEST(SyncRecord, ACutRecordEndsWithinItsBuffer) {
  std::array<std::uint8_t, 64> out{};
  out.fill(0xEE);
  const std::size_t length = FormatRecord(SyncResult{}, RecordContext{}, std::span(out).first(40));
  ASSERT_EQ(length, 40U);
  EXPECT_EQ(out[38], '\r');
  EXPECT_EQ(out[39], '\n');
  EXPECT_EQ(out[40], 0xEE);
}

struct CommandLineCase {
  std::u16string line;
  bool valid;
  std::vector<std::u16string> masters;
};

TEST(SyncCommandLine, SplitsAsTheCRuntimeDoes) {
  const std::vector<CommandLineCase> cases = {
      {u"p.exe \"\\\\srv\\a b\\{sid}\\sysfile.cfg\"", true, {u"\\\\srv\\a b\\{sid}\\sysfile.cfg"}},
      {u"\"C:\\Program Files\\p.exe\" --check C:\\m\\a.cfg  D:\\x",
       true,
       {u"C:\\m\\a.cfg", u"D:\\x"}},
      {u"p.exe \"C:\\a \"\"b\"\"\\s.cfg\"", true, {u"C:\\a \"b\"\\s.cfg"}},
      {u"p.exe C:\\a\\\\\\\"b", true, {u"C:\\a\\\"b"}},
      // No master: policy Masters serves.
      {u"p.exe", true, {}},
      {u"p.exe --check --stale-days 30", true, {}},
      {u"p.exe --stale-days 3650 C:\\m", true, {u"C:\\m"}},
      {u"p.exe --stale-days 0", false, {}},
      {u"p.exe --stale-days 3651", false, {}},
      {u"p.exe --stale-days 99999999999", false, {}},
      {u"p.exe --stale-days x7", false, {}},
      {u"p.exe C:\\m --stale-days", false, {}},
      {u"p.exe --restore-previous", true, {}},
      {u"p.exe --restore-previous C:\\m", false, {}},
      {u"p.exe --check --restore-previous", false, {}},
      {u"p.exe \\\\?\\C:\\m", false, {}},
      {u"p.exe m\\sysfile.cfg", false, {}},
      // Each rule on its own: blanks, backslashes, quotes, paths, counts.
      {u"p.exe\tC:\\m\t\tD:\\x", true, {u"C:\\m", u"D:\\x"}},
      {u"p.exe C:\\a\\\\b", true, {u"C:\\a\\\\b"}},
      {u"p.exe \"C:\\a b\\\\\"", true, {u"C:\\a b\\"}},
      {u"p.exe C:\\a\"\"b", true, {u"C:\\ab"}},
      {u"p.exe Z:\\m z:\\m", true, {u"Z:\\m", u"z:\\m"}},
      {u"p.exe [:\\m", false, {}},
      {u"p.exe {:\\m", false, {}},
      {u"p.exe C:m", false, {}},
      {u"p.exe \\\\a\\b", true, {u"\\\\a\\b"}},
      {u"p.exe \\\\ab", false, {}},
      {u"p.exe \\\\.\\C:\\m", false, {}},
      {u"p.exe --stale-days 1 C:\\m", true, {u"C:\\m"}},
      {u"p.exe --stale-days 4294967326", false, {}},
      {u"p.exe C:\\1 C:\\2 C:\\3 C:\\4 C:\\5 C:\\6 C:\\7 C:\\8",
       true,
       {u"C:\\1", u"C:\\2", u"C:\\3", u"C:\\4", u"C:\\5", u"C:\\6", u"C:\\7", u"C:\\8"}},
      {u"p.exe C:\\1 C:\\2 C:\\3 C:\\4 C:\\5 C:\\6 C:\\7 C:\\8 C:\\9", false, {}},
      {u"p.exe --restore-previous --enforce", false, {}},
      {u"p.exe --stale-days 5 --restore-previous", false, {}},
  };
  for (const CommandLineCase& c : cases) {
    CommandLine parsed;
    EXPECT_EQ(ParseCommandLine(c.line, parsed), c.valid)
        << std::string(c.line.begin(), c.line.end());
    if (c.valid) {
      const auto masters = std::span(parsed.masters).first(parsed.master_count);
      EXPECT_EQ(std::vector<std::u16string>(masters.begin(), masters.end()), c.masters);
    }
  }
}

}  // namespace
}  // namespace profile_import::sync
