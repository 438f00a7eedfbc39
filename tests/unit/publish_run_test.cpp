#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "publish/folder_acl.h"
#include "publish/master_store.h"
#include "publish/plan.h"
#include "publish/run_publish.h"

namespace profile_import::publish {
namespace {

using platform::PublishError;

constexpr PublishError kDiskFull = 112;  // ERROR_DISK_FULL
const std::string kRoot = "R";
const std::string kSid = "S-1-5-21-1-2-3-1001";
const std::string kFolder = kRoot + "\\" + kSid;
const std::string kMaster = kFolder + "\\sysfile.cfg";

// A folder tree in memory. Any one call can fail, once as a full disk does
// (a write failing half way leaves half the file), or for good from some
// call on, as when the run is killed there.
class FakePublishPort final : public platform::PublishPort {
 public:
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::set<std::string> folders = {"", kRoot};  // "": the working folder
  std::map<std::string, std::string> sddl;
  std::map<std::string, platform::FolderAcl> acls;
  std::map<std::string, std::string> accounts;
  std::vector<std::string> printed;
  std::uint64_t now = 134413419010000000;  // 2026-12-10 02:05:01
  int calls = 0;
  int fail_at = 0;     // this call fails
  int killed_at = 0;   // this call and every later one fail
  int held_moves = 0;  // renames over a file refused while a reader holds it
  std::uint32_t slept = 0;
  PublishError lock_error = platform::kPublishOk;

  PublishError ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes) override {
    if (const PublishError error = Call()) {
      return error;
    }
    const auto file = files.find(path);
    if (file == files.end()) {
      return folders.contains(Parent(path)) ? platform::kPublishFileNotFound
                                            : platform::kPublishPathNotFound;
    }
    bytes = file->second;
    return {};
  }
  PublishError WriteFileFlushed(const std::string& path,
                                std::span<const std::uint8_t> bytes) override {
    const PublishError error = Call();
    if (!folders.contains(Parent(path))) {
      return error != platform::kPublishOk ? error : platform::kPublishPathNotFound;
    }
    if (error == kDiskFull && calls == fail_at) {
      files[path].assign(bytes.begin(),
                         bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2));
    }
    if (error == platform::kPublishOk) {
      files[path].assign(bytes.begin(), bytes.end());
    }
    return error;
  }
  PublishError MakeFolder(const std::string& path, const std::string& text) override {
    if (const PublishError error = Call()) {
      return error;
    }
    if (folders.contains(path) || files.contains(path)) {
      return platform::kPublishAlreadyExists;
    }
    folders.insert(path);
    sddl[path] = text;
    return {};
  }
  PublishError ListFolder(const std::string& path, bool want_folders,
                          std::vector<std::string>& names) override {
    if (const PublishError error = Call()) {
      return error;
    }
    if (!folders.contains(path)) {
      return platform::kPublishPathNotFound;
    }
    for (const std::string& folder : folders) {
      if (want_folders && Parent(folder) == path) {
        names.push_back(folder.substr(path.size() + 1));
      }
    }
    for (const auto& [file, bytes] : files) {
      if (!want_folders && Parent(file) == path) {
        names.push_back(file.substr(path.size() + 1));
      }
    }
    return {};
  }
  PublishError MoveFile(const std::string& from, const std::string& to, bool replace) override {
    if (const PublishError error = Call()) {
      return error;
    }
    if (!files.contains(from)) {
      return platform::kPublishFileNotFound;
    }
    if (files.contains(to) && !replace) {
      return platform::kPublishAlreadyExists;
    }
    if (files.contains(to) && held_moves > 0) {
      --held_moves;
      return platform::kPublishSharingViolation;
    }
    files[to] = files[from];
    files.erase(from);
    return {};
  }
  PublishError DeleteFile(const std::string& path) override {
    if (const PublishError error = Call()) {
      return error;
    }
    return files.erase(path) == 1 ? platform::kPublishOk : platform::kPublishFileNotFound;
  }
  PublishError ReadFolderAcl(const std::string& path, platform::FolderAcl& acl) override {
    const auto found = acls.find(path);
    acl = found != acls.end() ? found->second : platform::FolderAcl{true, {}};
    return Call();
  }
  PublishError LookupAccount(const std::string& name, std::string& sid) override {
    const auto found = accounts.find(name);
    if (found == accounts.end()) {
      return platform::kPublishNoneMapped;
    }
    sid = found->second;
    return sid.empty() ? platform::kPublishNoSuchUser : platform::kPublishOk;  // "": a group's
  }
  std::uint64_t Now() override { return now; }
  void Sleep(std::uint32_t milliseconds) override { slept += milliseconds; }
  std::string ErrorText(PublishError /*error*/) override { return {}; }
  PublishError LockFolder(const std::string& /*path*/) override { return lock_error; }
  void Print(const std::string& line) override { printed.push_back(line); }
  void Progress(std::size_t /*done*/, std::size_t /*total*/) override {}

  std::vector<std::string> History(const std::string& folder = kFolder) const {
    std::vector<std::string> kept;
    for (const auto& [path, bytes] : files) {
      if (Parent(path) == folder + "\\history" && path.ends_with("Z.cfg")) {
        kept.emplace_back(bytes.begin(), bytes.end());
      }
    }
    return kept;
  }
  std::string Text(const std::string& path) const {
    const auto file = files.find(path);
    return file == files.end() ? "<none>" : std::string(file->second.begin(), file->second.end());
  }
  std::string Output() const {
    std::string all;
    for (const std::string& line : printed) {
      all += line + "\n";
    }
    return all;
  }

 private:
  static std::string Parent(const std::string& path) {
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
  }
  PublishError Call() {
    ++calls;
    return (killed_at != 0 && calls >= killed_at) || calls == fail_at ? kDiskFull
                                                                      : platform::kPublishOk;
  }
};

MasterValues Row(const char16_t* user) {
  return {{u"Acme", u"SQL01", u"admin", user}};
}
std::string Text(const MasterValues& values) {
  const auto bytes = WriteMaster(values).bytes;
  return {bytes.begin(), bytes.end()};
}

// What a run does for one master: reads it, and writes it unless it is
// already as the row says.
MasterOutcome PublishRow(FakePublishPort& port, const MasterValues& row) {
  std::optional<std::vector<std::uint8_t>> current;
  if (port.files.contains(kMaster)) {
    current = port.files[kMaster];
  }
  NoCodePage no_code_page;
  if (DiffMaster(current, row, no_code_page).action == MasterAction::Unchanged) {
    return {};
  }
  return PublishMaster(port, kFolder, kSid, WriteMaster(row), row, current,
                       port.folders.contains(kFolder));
}

// A failure at each call of one master's write, once or for good: the master
// is always the old file or the new one, whole, and a second run finishes.
TEST(PublishMaster, FailingAtEachCallKeepsTheOldMasterAndTheRerunFinishes) {
  const MasterValues old_row = Row(u"jdoe");
  const MasterValues new_row = Row(u"jroe");
  for (const bool existed : {true, false}) {
    FakePublishPort clean;
    if (existed) {
      clean.folders.insert(kFolder);
      clean.files[kMaster] = WriteMaster(old_row).bytes;
    }
    FakePublishPort counted = clean;
    ASSERT_TRUE(PublishRow(counted, new_row).ok());
    for (int call = 1; call <= counted.calls; ++call) {
      for (const bool killed : {false, true}) {
        SCOPED_TRACE((existed ? "replacing, " : "creating, ") +
                     std::string(killed ? "killed" : "failing") + " at call " +
                     std::to_string(call));
        FakePublishPort port = clean;
        (killed ? port.killed_at : port.fail_at) = call;
        const bool written = PublishRow(port, new_row).ok();  // a failed pruning is no failure
        const std::string master = port.Text(kMaster);
        EXPECT_TRUE(master == (existed && !written ? Text(old_row) : "<none>") ||
                    master == Text(new_row));
        port.killed_at = port.fail_at = 0;
        ASSERT_TRUE(PublishRow(port, new_row).ok());
        EXPECT_EQ(port.Text(kMaster), Text(new_row));
        EXPECT_EQ(port.History(),
                  existed ? std::vector{Text(old_row)} : std::vector<std::string>{});
      }
    }
  }
}

TEST(PublishMaster, WaitsForAReaderThenGivesUp) {
  for (const int held : {3, 1000}) {
    FakePublishPort port;
    port.folders.insert(kFolder);
    port.files[kMaster] = WriteMaster(Row(u"jdoe")).bytes;
    port.held_moves = held;
    const MasterOutcome outcome = PublishRow(port, Row(u"jroe"));
    EXPECT_EQ(outcome.ok(), held == 3) << held;
    EXPECT_EQ(port.Text(kMaster), Text(Row(held == 3 ? u"jroe" : u"jdoe"))) << held;
    EXPECT_EQ(port.slept, held == 3 ? 3 * kReplaceRetryMilliseconds
                                    : kReplaceWaitMilliseconds + kReplaceRetryMilliseconds -
                                          kReplaceRetryMilliseconds)
        << held;
  }
}

// Rollback puts the newest earlier master back; killed at any call, it
// either did or did not, and a rerun of one it did not finishes it.
TEST(RollbackMaster, PutsTheEarlierMasterBackAtEachCall) {
  FakePublishPort clean;
  for (const char16_t* user : {u"a", u"b", u"c"}) {
    ASSERT_TRUE(PublishRow(clean, Row(user)).ok());
    clean.now += 20'000'000;
  }
  FakePublishPort counted = clean;
  ASSERT_TRUE(RollbackMaster(counted, kFolder).ok());
  EXPECT_EQ(counted.Text(kMaster), Text(Row(u"b")));
  EXPECT_EQ(counted.History(), (std::vector{Text(Row(u"a")), Text(Row(u"c"))}));
  counted.now += 20'000'000;
  ASSERT_TRUE(RollbackMaster(counted, kFolder).ok());  // a second undoes the first
  EXPECT_EQ(counted.Text(kMaster), Text(Row(u"c")));
  for (int call = 1; call <= clean.calls; ++call) {
    SCOPED_TRACE("killed at call " + std::to_string(call));
    FakePublishPort port = clean;
    port.calls = 0;
    port.killed_at = call;
    if (!RollbackMaster(port, kFolder).ok() && port.Text(kMaster) == Text(Row(u"c"))) {
      port.killed_at = 0;
      ASSERT_TRUE(RollbackMaster(port, kFolder).ok());
    }
    EXPECT_EQ(port.Text(kMaster), Text(Row(u"b")));
  }
  FakePublishPort none;
  none.folders.insert(kFolder);
  EXPECT_EQ(RollbackMaster(none, kFolder).failed, MasterStep::NoHistory);
  // An earlier master the importer would refuse is never put back.
  none.folders.insert(kFolder + "\\history");
  none.files[kFolder + "\\history\\sysfile.20261201T000000Z.cfg"] = {'x', '\n'};
  EXPECT_EQ(RollbackMaster(none, kFolder).failed, MasterStep::HistoryRefused);
}

TEST(ReadableByOthers, WhoMayRead) {
  using platform::AclEntry;
  struct AclCase {
    std::string name;
    platform::FolderAcl acl;
    bool others;
  };
  const std::vector<AclCase> cases = {
      {"no DACL", {false, {}}, true},
      {"as made",
       {true,
        {{kSid, true, 0x1200a9}, {"S-1-5-32-544", true, 0x1f01ff}, {"S-1-5-18", true, 0x1f01ff}}},
       false},
      {"creator owner", {true, {{"S-1-3-0", true, 0x10000000}}}, false},
      {"Users read", {true, {{"S-1-5-32-545", true, 0x1200a9}}}, true},
      {"Everyone generic read", {true, {{"S-1-1-0", true, 0x80000000}}}, true},
      {"Everyone traverse only", {true, {{"S-1-1-0", true, 0x100020}}}, false},
      {"Everyone denied", {true, {{"S-1-1-0", false, 0x1f01ff}}}, false},
  };
  for (const AclCase& c : cases) {
    EXPECT_EQ(ReadableByOthers(c.acl, kSid), c.others) << c.name;
  }
  EXPECT_EQ(UserFolderSddl(kSid),
            "D:P(A;OICI;0x1200a9;;;" + kSid + ")(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
}

const std::string kUsers = "account,RegCorp,RegDataBase,RegAdmin,RegUser\n" + kSid +
                           ",Acme,SQL01,admin,jdoe\n"
                           "CORP\\jroe,Acme,SQL01,admin,jroe\n"
                           "6c4a3f2e-0000-4000-8000-000000000001,Acme,SQL01,admin,cloud\n";
const std::string kJroe = "S-1-5-21-1-2-3-1002";

struct RunCase {
  std::string name;
  std::vector<std::string> arguments;
  std::string users = kUsers;
  std::string only;
  int exit_code;
  std::string printed;  // a line the run prints
  std::size_t masters;  // written under ROOT at the end
};

// Whole runs over the fake: what each command prints, returns and writes.
TEST(RunPublish, CommandsExitCodesAndMasters) {
  const std::vector<RunCase> cases = {
      {"no command",
       {},
       kUsers,
       "",
       64,
       "usage: profile-publish plan     USERS.csv ROOT [--only ACCOUNTS.txt]",
       1},
      {"report with plan", {"plan", "u.csv", "R", "--report", "r.csv"}, kUsers, "", 64, "", 1},
      {"help",
       {"--help"},
       kUsers,
       "",
       0,
       "  64  usage: an unknown command or option, an argument missing or one too many",
       1},
      {"plan",
       {"plan", "u.csv", "R"},
       kUsers,
       "",
       0,
       "to create 2, to change 1, unchanged 0, failed 0",
       1},
      {"apply",
       {"apply", "u.csv", "R", "--report", "r.csv"},
       kUsers,
       "",
       0,
       "created 2, changed 1, unchanged 0, failed 0",
       3},
      {"unresolved name",
       {"apply", "u.csv", "R"},
       kUsers + "CORP\\nobody,Acme,SQL01,admin,x\n",
       "",
       1,
       "u.csv:5: CORP\\nobody cannot be resolved: error 1332",
       1},
      {"same user twice",
       {"apply", "u.csv", "R"},
       kUsers + "corp\\jroe2,Acme,SQL01,admin,x\n",
       "",
       1,
       "u.csv:5: corp\\jroe2 is S-1-5-21-1-2-3-1002, the account of line 3",
       1},
      {"value too long",
       {"plan", "u.csv", "R"},
       kUsers + "S-1-5-21-1-2-3-9,Acme,SQL01,admin," + std::string(40, 'x') + "\n",
       "",
       1,
       "u.csv:5: RegUser would be refused by the importer (too long for it)",
       1},
      {"pilot ring",
       {"apply", "u.csv", "R", "--only", "o.txt"},
       kUsers,
       "# ring 1\r\nCORP\\jroe\r\n\r\n",
       0,
       "created 1, changed 0, unchanged 0, failed 0",
       2},
      {"ring names no row",
       {"apply", "u.csv", "R", "--only", "o.txt"},
       kUsers,
       "S-1-5-21-1-2-3-7\n",
       1,
       "o.txt: s-1-5-21-1-2-3-7 has no row in u.csv",
       1},
      // A list of no one would widen a rollback to every master.
      {"ring of no one",
       {"rollback", "R", "--only", "o.txt"},
       kUsers,
       "\xEF\xBB\xBF# ring 1\r\n\r\n",
       1,
       "o.txt: names no account",
       1},
      // A group's folder would let every member read the master.
      {"group",
       {"plan", "u.csv", "R"},
       kUsers + "CORP\\Pilots,Acme,SQL01,admin,x\n",
       "",
       1,
       "u.csv:5: CORP\\Pilots is not a user's account: a group, a computer or a well-known account",
       1},
      {"well-known SID",
       {"plan", "u.csv", "R"},
       kUsers + "S-1-5-18,Acme,SQL01,admin,x\n",
       "",
       1,
       "u.csv:5: S-1-5-18 is not a user's SID (S-1-5-21-…-RID or S-1-12-1-…)",
       1},
      {"rollback",
       {"rollback", "R", "--only", "o.txt"},
       kUsers,
       kSid + "\n",
       0,
       "rolled back 1, failed 0",
       1},
  };
  for (const RunCase& c : cases) {
    FakePublishPort port;
    port.accounts = {{"CORP\\jroe", kJroe}, {"corp\\jroe2", kJroe}, {"CORP\\Pilots", ""}};
    port.folders.insert({kFolder, kFolder + "\\history", kRoot + "\\default"});
    port.files[kMaster] = WriteMaster(Row(u"old")).bytes;
    port.files[kFolder + "\\history\\sysfile.20261201T000000Z.cfg"] =
        WriteMaster(Row(u"older")).bytes;
    port.files["u.csv"].assign(c.users.begin(), c.users.end());
    port.files["o.txt"].assign(c.only.begin(), c.only.end());
    const int exit_code = RunPublish(port, c.arguments);
    EXPECT_EQ(exit_code, c.exit_code) << c.name << "\n" << port.Output();
    EXPECT_NE(port.Output().find(c.printed + "\n"), std::string::npos) << c.name << "\n"
                                                                       << port.Output();
    std::size_t masters = 0;
    for (const auto& [path, bytes] : port.files) {
      masters += path.starts_with(kRoot + "\\") && path.ends_with("\\sysfile.cfg") ? 1U : 0U;
    }
    EXPECT_EQ(masters, c.masters) << c.name;
  }
}

TEST(RunPublish, ApplyMakesFoldersReportsAndNamesWhatItLeaves) {
  FakePublishPort port;
  port.accounts = {{"CORP\\jroe", kJroe}};
  port.folders.insert({kFolder, kRoot + "\\default"});
  port.acls[kFolder] = {true, {{"S-1-1-0", true, 0x1200a9}}};
  port.files["u.csv"].assign(kUsers.begin(), kUsers.end());
  ASSERT_EQ(RunPublish(port, std::vector<std::string>{"apply", "u.csv", "R", "--report", "r.csv"}),
            0);
  EXPECT_EQ(port.sddl[kRoot + "\\" + kJroe], UserFolderSddl(kJroe));
  EXPECT_FALSE(port.sddl.contains(kFolder));  // an existing folder keeps its ACL
  const std::string output = port.Output();
  EXPECT_NE(output.find("not in u.csv, left alone: R\\default\n"), std::string::npos) << output;
  EXPECT_NE(
      output.find("warning: others than its user, Administrators and SYSTEM may read " + kFolder),
      std::string::npos);
  EXPECT_EQ(port.Text("r.csv"),
            "\xEF\xBB\xBF"
            "account,sid,action,values_changed,error\r\n" +
                kSid + "," + kSid +
                ",create,RegCorp;RegDataBase;RegAdmin;RegUser,\r\n"
                "CORP\\jroe," +
                kJroe +
                ",create,RegCorp;RegDataBase;RegAdmin;RegUser,\r\n"
                "6c4a3f2e-0000-4000-8000-000000000001,S-1-12-1-1816805166-1073741824-128-16777216,"
                "create,RegCorp;RegDataBase;RegAdmin;RegUser,\r\n");
  port.printed.clear();
  port.lock_error = platform::kPublishSharingViolation;
  EXPECT_EQ(RunPublish(port, std::vector<std::string>{"apply", "u.csv", "R"}), 1);
  port.lock_error = {};
  port.fail_at = port.calls + 5;  // reading the users file, listing ROOT, then the masters
  EXPECT_EQ(RunPublish(port, std::vector<std::string>{"plan", "u.csv", "R"}), 2);
  // A file, or a link the listing leaves out, where a user's folder goes is
  // not taken for the folder.
  FakePublishPort planted;
  planted.accounts = port.accounts;
  planted.files = {{"u.csv", port.files["u.csv"]}, {kFolder, {}}};
  EXPECT_EQ(RunPublish(planted, std::vector<std::string>{"apply", "u.csv", "R"}), 2);
  EXPECT_FALSE(planted.files.contains(kMaster));
}

}  // namespace
}  // namespace profile_import::publish
