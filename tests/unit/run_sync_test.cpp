#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fake_port.h"
#include "store/profile_key.h"
#include "sync/command_line.h"
#include "sync/run_sync.h"
#include "sync/sync_record.h"

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
  return {
      {"FirstImport", v1, kMasterArgument, InPlace, true, true, 0, "missing"},
      {.name = "NothingToDo",
       .setup = both(v1, both(stored(u"Acme", u"Acme"),
                              [](FakePort& port) { port.log_written_at = port.now - 1; })),
       .recorded = false},
      {.name = "NothingToDoHeartbeatOnceADay",
       .setup = both(v1, stored(u"Acme", u"Acme")),
       .event_id = kHeartbeatEventId,
       .in_record = "heartbeat"},
      {.name = "ValuesWrittenWithoutTheirNul",
       .setup = both(v1,
                     [](FakePort& port) {
                       Stored(port, u"Acme", u"Acme", false);
                       port.log_written_at = port.now - 1;
                     }),
       .recorded = false},
      {"Rollout", both(master(kV2), stored(u"Acme", u"Acme")), kMasterArgument, InPlace, true, true,
       0, "RegCorp\trollout"},
      // Machine A imported v1; B imported v2, which roamed; the master went back to v1.
      {"RevertAfterAnotherMachinesImport", both(v1, stored(u"Acme 2", u"Acme 2")), kMasterArgument,
       InPlace, true, true, 0, "rollout"},
      {"DriftKept", both(v1, stored(u"Changed", u"Acme")), kMasterArgument, InPlace, false, true,
       kDriftEventId, "drift kept"},
      {"DriftPutBack", both(v1, stored(u"Changed", u"Acme")), u"--enforce " + kMasterArgument,
       InPlace, true, true, 0, "drift put back"},
      {"CheckWouldWrite", v1, u"--check " + kMasterArgument, WouldWrite},
      {"CheckInLine", both(v1, stored(u"Acme", u"Acme")), u"--check " + kMasterArgument, InPlace,
       false, true, kHeartbeatEventId},
      {"PolicyCheckOnly", both(v1, [](FakePort& port) { port.policy_mode = 1; }), kMasterArgument,
       WouldWrite},
      {"PolicyOff", both(v1, [](FakePort& port) { port.policy_mode = 0; }), kMasterArgument,
       TurnedOff},
      {.name = "PolicyOffSaidOnceADay",
       .setup = both(v1,
                     [](FakePort& port) {
                       port.policy_mode = 0;
                       port.log_written_at = port.now - 1;
                     }),
       .status = TurnedOff,
       .recorded = false},
      {"PolicyOtherValueIsNormal", both(v1, [](FakePort& port) { port.policy_mode = 7; }),
       kMasterArgument, InPlace, true},
      {"ServiceAccount",
       both(v1, [](FakePort& port) { port.token_user = {1, 1, 0, 0, 0, 0, 0, 5, 18}; }),
       kMasterArgument, NoUserHive},
      {"HiveNotLoaded", both(v1, failing(FailingCall::OpenUserHive)), kMasterArgument, NoUserHive},
      {"AnsiMaster", master("Caf\xE9\nsrv\nmain\nskip\nadmin\njdoe\n"), kMasterArgument,
       MasterInvalid, false, true, 0, "ANSI code page"},
      {"RefusedMaster", master("only\nfour\nline\nends\n"), kMasterArgument, MasterInvalid},
      {"Utf8WithMark",
       master("\xEF\xBB\xBF"
              "Caf\xC3\xA9\nsrv\\\nmain\nx\nadmin\njdoe\n"),
       kMasterArgument, InPlace, true},
      {"Utf16Le",
       master(std::string("\xFF\xFE"
                          "A\0\n\0s\0\n\0m\0\n\0x\0\n\0a\0\n\0j\0\n\0",
                          26)),
       kMasterArgument, InPlace, true},
      {"NoFileInTheUsersFolder",
       [](FakePort& port) {
         port.attributes[kUserFolder] = {platform::kSuccess, 0x10};
       },
       kMasterArgument, NoMaster, false, true, 0, "no file"},
      {"NoUserFolder",
       [](FakePort& port) {
         port.attributes[kShare] = {platform::kSuccess, 0x10};
       },
       kMasterArgument, NoMaster, false, true, 0, "no folder"},
      {"NoUserFolderShareDeniesListing",
       [](FakePort& port) { port.attributes[kShare] = {platform::kErrorAccessDenied}; },
       kMasterArgument, NoMaster},
      {"ServerNotAnswering", [](FakePort&) {}, kMasterArgument, Unreachable},
      {"BadNetPath", fault(53), kMasterArgument, Unreachable, false, true, 0, "error 53"},
      {"BadNetName", fault(67), kMasterArgument, Unreachable},
      {"NetworkUnreachable", fault(1231), kMasterArgument, Unreachable},
      {"LogonFailure", fault(1326), kMasterArgument, Refused},
      {"ConnectionRefused", fault(1225), kMasterArgument, Refused},
      {"AccessRefused", fault(platform::kErrorAccessDenied), kMasterArgument, MasterUnopenable,
       false, true, 0, "access refused"},
      {"FolderOfThatName",
       both(fault(platform::kErrorAccessDenied),
            [](FakePort& port) {
              port.attributes[kMaster] = {platform::kSuccess, 0x10};
            }),
       kMasterArgument, MasterUnopenable, false, true, 0, "a folder of that name"},
      {"LockedPastTheRetries", fault(platform::kErrorSharingViolation), kMasterArgument,
       MasterUnopenable, false, true, 0, "held open"},
      {"LockedOnceThenRead", both(v1, fault(platform::kErrorSharingViolation, 1)), kMasterArgument,
       InPlace, true},
      {"UnclassifiedErrorKeepsItsNumber", fault(1117), kMasterArgument, MasterUnopenable, false,
       true, 0, "error 1117"},
      {"OpenNeverReturns", [](FakePort& port) { port.master_open_hangs = true; }, kMasterArgument,
       Unreachable, false, true, 0, "deadline"},
      {"ReadFails", both(v1, [](FakePort& port) { port.master_read_fails = true; }),
       kMasterArgument, MasterUnreadable},
      {"KeyUnavailable", both(v1, failing(FailingCall::RegCreateKey)), kMasterArgument,
       KeyUnavailable},
      {"ThirdWriteFails", both(v1, failing(FailingCall::ThirdWrite)), kMasterArgument, WriteFailed,
       true},
      {"PreviousCannotBeKept", both(v1, failing(FailingCall::CreatePreviousKey)), kMasterArgument,
       WriteFailed},
      {"MarkerCannotBeWritten", both(v1, failing(FailingCall::CreateMarkerKey)), kMasterArgument,
       WriteFailed, true},
      {"FlushFails", both(v1, failing(FailingCall::FlushKey)), kMasterArgument, NotVerified, true},
      {"ReadBackDiffers", both(v1, failing(FailingCall::ReadBack)), kMasterArgument, NotVerified,
       true},
      {"SecondMasterWhenTheFirstIsAbsent",
       [](FakePort& port) {
         port.attributes[kUserFolder] = {platform::kSuccess, 0x10};
         port.masters[kSecondMaster] = kV1;
       },
       kMasterArgument + u" " + kSecondMaster, InPlace, true, true, 0, "D:\\masters"},
      // A place that does not answer may hold the user's master: a later
      // one (a site default) must not be written over it meanwhile.
      {"UnreachableFirstStopsTheSearch",
       both(fault(53), [](FakePort& port) { port.masters[kSecondMaster] = kV1; }),
       kMasterArgument + u" " + kSecondMaster, Unreachable},
      // A master on the machine's own disk is read without the deadline's thread.
      {"LocalMasterReadDirectly",
       [](FakePort& port) {
         port.masters[kSecondMaster] = kV1;
         port.master_open_hangs = true;
       },
       kSecondMaster, InPlace, true},
      {"SidPlaceholderInCapitals", v1, u"\\\\srv\\share\\{SID}\\sysfile.cfg", InPlace, true},
      {"Advapi32Missing", both(v1, [](FakePort& port) { port.advapi32_missing = true; }),
       kMasterArgument, InPlace, true},
      {"NoMasterGiven", v1, u"--check", Usage},
      {"RelativeMaster", v1, u"sysfile.cfg", Usage},
      {"UnknownOption", v1, u"--force " + kMasterArgument, Usage},
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
  c.setup(port);
  const std::map<std::u16string, std::string> masters_before = port.masters;

  EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), c.status);

  EXPECT_EQ(!port.written.empty(), c.writes);
  const bool write_failed = c.status == SyncStatus::KeyUnavailable ||
                            c.status == SyncStatus::WriteFailed ||
                            c.status == SyncStatus::NotVerified;
  if (!c.writes && !write_failed) {
    for (const char* call : {"RegOpenKeyExW", "RegCreateKeyExW", "RegSetValueExW", "RegFlushKey"}) {
      EXPECT_EQ(std::count(port.calls.begin(), port.calls.end(), call), 0)
          << call << ": nothing is opened for writing, written or flushed";
    }
  }
  if (c.writes && c.status == SyncStatus::InPlace) {
    EXPECT_EQ(std::count(port.calls.begin(), port.calls.end(), "RegFlushKey"), 1);
    EXPECT_EQ(port.ValuesAt(kSyncKeyPath).count(kImportedHashName), 1U);
  }
  const bool opened_master = !port.masters_opened.empty();
  EXPECT_EQ(opened_master, c.status != SyncStatus::TurnedOff &&
                               c.status != SyncStatus::NoUserHive && c.status != SyncStatus::Usage)
      << "the master is read only once the policy, the account and the command line allow";
  EXPECT_EQ(port.masters, masters_before) << "a master copy is never changed";
  EXPECT_EQ(port.OpenHandles(), 0U) << "a handle was leaked";
  EXPECT_EQ(port.bad_closes, 0);

  const std::vector<std::string>& log =
      port.files_appended[u"C:\\Users\\jdoe\\AppData\\Local\\Tessavo\\profile-sync.log"];
  ASSERT_EQ(log.size(), c.recorded ? 1U : 0U);
  ASSERT_EQ(port.standard_output.size(), 1U) << "a caller reading it gets its line every time";
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
    EXPECT_EQ(port.events[0].strings.size(), 12U);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, RunSyncTest, ::testing::ValuesIn(SyncCases()),
                         [](const auto& info) { return info.param.name; });

TEST(RunSyncWrite, KeepsTheReplacedValuesAndMarksWhatItImported) {
  FakePort port;
  port.command_line = kCommand + kMasterArgument;
  port.masters[kMaster] = kV2;
  Stored(port, u"Acme", u"Acme");
  port.values[u"RegAdmin"] = testing::StoredValue{platform::kRegDword, {std::byte{1}}};

  ASSERT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);

  const auto& previous = port.ValuesAt(kPreviousKeyPath);
  EXPECT_EQ(previous.at(u"RegCorp").Units(), std::u16string(u"Acme") + u'\0');
  EXPECT_FALSE(previous.contains(u"RegAdmin")) << "only text values are kept";
  EXPECT_EQ(port.values.at(u"RegCorp").Units(), std::u16string(u"Acme 2") + u'\0');
  const auto& marker = port.ValuesAt(kSyncKeyPath);
  EXPECT_EQ(marker.at(kImportedHashName).Units(), Hex(ProfileHash(Profile(u"Acme 2"))) + u'\0');
  EXPECT_EQ(marker.at(kImportedFromName).Units(), kMaster + u'\0');
  EXPECT_EQ(marker.at(kImportedAtName).Units(), std::u16string(u"2025-12-12T08:00:00Z") + u'\0');
}

// A write that failed part way (or whose values did not read back) leaves
// no marker: the next run writes again, and keeps the values kept before
// the first attempt, not the half-written ones.
TEST(RunSyncWrite, ARetryWritesAgainAndKeepsTheFirstPrevious) {
  for (const FailingCall failure : {FailingCall::ThirdWrite, FailingCall::ReadBack}) {
    FakePort port;
    port.command_line = kCommand + kMasterArgument;
    port.masters[kMaster] = kV2;
    Stored(port, u"Acme", u"Acme");
    port.failing = {failure};
    ASSERT_NE(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);
    EXPECT_EQ(port.ValuesAt(kSyncKeyPath).at(kImportedHashName).Units(),
              Hex(ProfileHash(Profile(u"Acme"))) + u'\0')
        << "the marker still names the last master imported";

    port.failing.clear();
    port.written.clear();
    EXPECT_EQ(SyncMain(port, "1.2.0", "x64"), SyncStatus::InPlace);

    EXPECT_EQ(port.written.size(), 4U);
    EXPECT_EQ(port.values.at(u"RegCorp").Units(), std::u16string(u"Acme 2") + u'\0');
    EXPECT_EQ(port.ValuesAt(kPreviousKeyPath).at(u"RegCorp").Units(),
              std::u16string(u"Acme") + u'\0');
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
  const std::u16string master = u"\\\\srv\\share\\J\u00F6rg\\sysfile.cfg";
  std::copy(master.begin(), master.end(), result.master.begin());
  result.master_length = master.size();
  RecordContext context;
  context.now = 134'100'000'000'000'000;
  context.elapsed_ms = 42;
  context.computer = u"PC01";
  context.domain = u"CORP";
  context.user = u"j&d!oe";
  context.version = "1.2.0";
  context.architecture = "arm64";
  std::array<std::uint8_t, 1024> out{};

  const std::size_t length = FormatRecord(result, context, out);

  EXPECT_EQ(std::string(std::span(out).first(length).begin(), std::span(out).first(length).end()),
            "2025-12-12T08:00:00Z\tPC01\tCORP\\j&d!oe\tS-1-5-21-1-2-3-1001\t13 MasterUnopenable\t"
            "error 5, NT status 0xc0000022\tRegCorp,RegAdmin\trollout\t"
            "\\\\srv\\share\\J\xC3\xB6rg\\sysfile.cfg\tprofile-sync 1.2.0 arm64\t42 ms\t"
            "access refused\r\n");
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
      {u"p.exe", false, {}},
      {u"p.exe --check", false, {}},
      {u"p.exe \\\\?\\C:\\m", false, {}},
      {u"p.exe m\\sysfile.cfg", false, {}},
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
