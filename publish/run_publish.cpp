#include "publish/run_publish.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "publish/account.h"
#include "publish/command_line.h"
#include "publish/folder_acl.h"
#include "publish/master_store.h"
#include "publish/plan.h"
#include "publish/publish_status.h"
#include "publish/users_csv.h"

namespace profile_import::publish {
namespace {

using platform::kPublishOk;
using platform::PublishError;
using platform::PublishPort;

constexpr std::array<std::string_view, 3> kUsage = {
    "usage: profile-publish plan     USERS.csv ROOT [--only ACCOUNTS.txt]",
    "       profile-publish apply    USERS.csv ROOT [--only ACCOUNTS.txt] [--report REPORT.csv]",
    "       profile-publish rollback ROOT [--only ACCOUNTS.txt]",
};
// "unchanged" and two spaces: the SIDs line up under one another.
constexpr std::size_t kActionWidth = 11;
constexpr std::string_view kReportHeader = "account,sid,action,values_changed,error\r\n";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// One account of the run: its row, its master now, and what became of it.
struct Target {
  const UserRow* row = nullptr;
  std::string sid;
  MasterText text;
  std::optional<std::vector<std::uint8_t>> current;
  MasterDiff diff;
  bool listed = false;    // ROOT's listing showed the user's folder
  MasterOutcome outcome;  // a failed read of the current master, or of the write
};

int Exit(PublishStatus status) {
  return static_cast<int>(status);
}

// A line of output from its parts.
std::string Line(std::initializer_list<std::string_view> parts) {
  std::string line;
  for (const std::string_view part : parts) {
    line.append(part);
  }
  return line;
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  std::ranges::transform(lower, lower.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return lower;
}

std::string ValueName(std::size_t field) {
  const std::u16string_view units = kHandOffFields[field].value_name;
  return {units.begin(), units.end()};  // ASCII
}

std::string ChangedValues(const MasterDiff& diff, std::string_view separator) {
  std::string names;
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    if (diff.changed[field]) {
      names.append(names.empty() ? "" : separator).append(ValueName(field));
    }
  }
  return names;
}

std::string_view CsvText(CsvVerdict verdict) {
  switch (verdict) {
    case CsvVerdict::Read:
      return "read";
    case CsvVerdict::NoHeader:
      return "no header row";
    case CsvVerdict::UnknownColumn:
      return "a column other than account, RegCorp, RegDataBase, RegAdmin, RegUser";
    case CsvVerdict::ColumnTwice:
      return "a column named twice";
    case CsvVerdict::MissingColumn:
      return "a column missing: account, RegCorp, RegDataBase, RegAdmin and RegUser are needed";
    case CsvVerdict::WrongFieldCount:
      return "more or fewer fields than the header";
    case CsvVerdict::BadQuoting:
      return "a quote out of place";
    case CsvVerdict::NewlineInField:
      return "a line break inside a field: no value can hold one";
    case CsvVerdict::NotUtf8:
      return "not UTF-8";
    case CsvVerdict::AccountTwice:
      return "an account named twice";
    case CsvVerdict::EmptyAccount:
      return "no account";
  }
  return "";
}

std::string_view MasterVerdictText(MasterVerdict verdict) {
  switch (verdict) {
    case MasterVerdict::Written:
      return "written";
    case MasterVerdict::LineEndInValue:
      return "holds a line break";
    case MasterVerdict::Refused:
      return "would be refused by the importer (too long for it)";
    case MasterVerdict::DoesNotReadBack:
      return "holds a character the file cannot carry";
  }
  return "";
}

std::string ErrorLine(PublishPort& port, PublishError error) {
  std::string text = port.ErrorText(error);
  return text.empty() ? "error " + std::to_string(error) : text;
}

// The SID an account column names; empty, with why, when it names none.
std::string ResolveAccount(PublishPort& port, const std::string& account, std::string& why) {
  const Account classified = ClassifyAccount(account);
  switch (classified.kind) {
    case AccountKind::Sid:
      if (!IsUserSidForm(classified.sid)) {
        why = "is not a user's SID (S-1-5-21-…-RID or S-1-12-1-…)";
        return {};
      }
      return classified.sid;
    case AccountKind::EntraObjectId:
      return classified.sid;
    case AccountKind::DownLevelName:
    case AccountKind::UserPrincipalName: {
      std::string sid;
      const PublishError error = port.LookupAccount(account, sid);
      if (error == platform::kPublishNoSuchUser) {
        why = "is not a user's account: a group, a computer or a well-known account";
        return {};
      }
      if (error != kPublishOk) {
        why = "cannot be resolved: " + ErrorLine(port, error);
        return {};
      }
      return sid;
    }
    case AccountKind::Invalid:
      break;
  }
  why = "is not a SID, DOMAIN\\name, name@domain or Entra object ID";
  return {};
}

// The SIDs an --only list names, one account a line; blank lines and lines
// starting with # left out. False, with each refusal printed, for one that
// cannot be read or resolved.
bool ReadOnlyList(PublishPort& port, const std::string& path,
                  std::unordered_set<std::string>& sids) {
  std::vector<std::uint8_t> bytes;
  if (const PublishError error = port.ReadFile(path, bytes); error != kPublishOk) {
    port.Print(path + ": cannot be read: " + ErrorLine(port, error));
    return false;
  }
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.starts_with(kUtf8Mark)) {
    text.remove_prefix(kUtf8Mark.size());
  }
  bool read = true;
  for (std::size_t line = 1; !text.empty(); ++line) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string account(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    while (!account.empty() && (account.back() == '\r' || account.back() == ' ')) {
      account.pop_back();
    }
    if (account.empty() || account.front() == '#') {
      continue;
    }
    std::string why;
    const std::string sid = ResolveAccount(port, account, why);
    if (sid.empty()) {
      port.Print(Line({path, ":", std::to_string(line), ": ", account, " ", why}));
      read = false;
    } else {
      sids.insert(AsciiLower(sid));
    }
  }
  if (read && sids.empty()) {
    // Read as no list at all, it would widen the run to every account.
    port.Print(path + ": names no account");
    return false;
  }
  return read;
}

// Every row checked before anything is read under ROOT: false, with each
// refusal printed by its line, if any row is refused.
bool CheckRows(PublishPort& port, const std::string& users_path, const UsersCsv& csv,
               std::vector<Target>& targets) {
  std::unordered_map<std::string, std::size_t> line_of_sid;
  bool all = true;
  for (const UserRow& row : csv.rows) {
    const std::string where = users_path + ":" + std::to_string(row.line) + ": ";
    Target target;
    target.row = &row;
    std::string why;
    target.sid = ResolveAccount(port, row.account, why);
    if (target.sid.empty()) {
      port.Print(Line({where, row.account, " ", why}));
      all = false;
      continue;
    }
    const auto [at, first] = line_of_sid.emplace(AsciiLower(target.sid), row.line);
    if (!first) {
      port.Print(where + row.account + " is " + target.sid + ", the account of line " +
                 std::to_string(at->second));
      all = false;
      continue;
    }
    target.text = WriteMaster(row.values);
    if (target.text.verdict != MasterVerdict::Written) {
      const std::string value =
          target.text.field < kFieldCount ? ValueName(target.text.field) : "the profile";
      port.Print(where + value + " " + std::string(MasterVerdictText(target.text.verdict)));
      all = false;
      continue;
    }
    targets.push_back(std::move(target));
  }
  return all;
}

// Reads each master there now and what writing the row would change.
void ReadCurrentMasters(PublishPort& port, const std::string& root,
                        const std::unordered_set<std::string>& folders,
                        std::vector<Target>& targets, std::vector<std::string>& exposed) {
  NoCodePage no_code_page;
  std::size_t done = 0;
  for (Target& target : targets) {
    port.Progress(done++, targets.size());
    const std::string folder = JoinPath(root, target.sid);
    target.listed = folders.contains(AsciiLower(target.sid));
    if (target.listed) {
      std::vector<std::uint8_t> bytes;
      const PublishError error = port.ReadFile(JoinPath(folder, kMasterName), bytes);
      if (error == kPublishOk) {
        target.current = std::move(bytes);
      } else if (error != platform::kPublishFileNotFound) {
        target.outcome = {MasterStep::ReadCurrent, error};
      }
      platform::FolderAcl acl;
      if (port.ReadFolderAcl(folder, acl) == kPublishOk && ReadableByOthers(acl, target.sid)) {
        exposed.push_back(folder);
      }
    }
    target.diff = DiffMaster(target.current, target.row->values, no_code_page);
  }
  port.Progress(done, targets.size());
}

std::string_view ActionText(const Target& target) {
  if (!target.outcome.ok()) {
    return "failed";
  }
  switch (target.diff.action) {
    case MasterAction::Create:
      return "create";
    case MasterAction::Change:
      return "change";
    case MasterAction::Unchanged:
      return "unchanged";
  }
  return "";
}

std::string FailureText(PublishPort& port, const MasterOutcome& outcome) {
  std::string text(StepText(outcome.failed));
  return outcome.error == kPublishOk ? text : text + ": " + ErrorLine(port, outcome.error);
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (const char c : text) {
    quoted.append(c == '"' ? 2 : 1, c);
  }
  return quoted += '"';
}

PublishError WriteReport(PublishPort& port, const std::string& path,
                         const std::vector<Target>& targets) {
  std::string report(kUtf8Mark);
  report += kReportHeader;
  for (const Target& target : targets) {
    report += CsvField(target.row->account) + ',' + target.sid + ',' +
              std::string(ActionText(target)) + ',' + ChangedValues(target.diff, ";") + ',' +
              (target.outcome.ok() ? "" : CsvField(FailureText(port, target.outcome))) + "\r\n";
  }
  return port.WriteFileFlushed(
      path, std::span(reinterpret_cast<const std::uint8_t*>(report.data()), report.size()));
}

std::string AccountLine(std::string_view action, const Target& target) {
  std::string line(action);
  line.resize(std::max(line.size() + 1, kActionWidth), ' ');
  line += target.sid;
  if (target.row->account != target.sid) {
    line += " (" + target.row->account + ")";
  }
  return line;
}

// ROOT's folders, with ROOT held for this run alone where it writes; false,
// with why printed, when either cannot be had.
bool OpenRoot(PublishPort& port, const std::string& root, bool writes,
              std::vector<std::string>& names) {
  if (writes) {
    if (const PublishError error = port.LockFolder(root); error != kPublishOk) {
      port.Print(root + ": cannot be locked for this run (another run on it?): " +
                 ErrorLine(port, error) + "; nothing written");
      return false;
    }
  }
  if (const PublishError error = port.ListFolder(root, true, names); error != kPublishOk) {
    port.Print(root + ": cannot be listed: " + ErrorLine(port, error) + "; nothing written");
    return false;
  }
  return true;
}

int RunPlanOrApply(PublishPort& port, const PublishArguments& arguments) {
  std::vector<std::uint8_t> bytes;
  if (const PublishError error = port.ReadFile(arguments.users, bytes); error != kPublishOk) {
    port.Print(arguments.users + ": cannot be read: " + ErrorLine(port, error));
    return Exit(PublishStatus::Refused);
  }
  const UsersCsv csv =
      ReadUsersCsv(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (csv.verdict != CsvVerdict::Read) {
    port.Print(arguments.users + ":" + std::to_string(csv.line) + ": " +
               std::string(CsvText(csv.verdict)) + "; nothing written");
    return Exit(PublishStatus::Refused);
  }
  std::vector<Target> targets;
  bool accepted = CheckRows(port, arguments.users, csv, targets);
  std::unordered_set<std::string> named;
  for (const Target& target : targets) {
    named.insert(AsciiLower(target.sid));
  }
  if (!arguments.only.empty()) {
    std::unordered_set<std::string> only;
    accepted = ReadOnlyList(port, arguments.only, only) && accepted;
    for (const std::string& sid : only) {
      if (!named.contains(sid)) {
        port.Print(arguments.only + ": " + sid + " has no row in " + arguments.users);
        accepted = false;
      }
    }
    std::erase_if(targets, [&only](const Target& t) { return !only.contains(AsciiLower(t.sid)); });
  }
  if (!accepted) {
    port.Print("refused; nothing written");
    return Exit(PublishStatus::Refused);
  }
  const bool apply = arguments.command == PublishCommand::Apply;
  std::vector<std::string> folder_names;
  if (!OpenRoot(port, arguments.root, apply, folder_names)) {
    return Exit(PublishStatus::Refused);
  }
  std::unordered_set<std::string> folders;
  for (const std::string& name : folder_names) {
    folders.insert(AsciiLower(name));
  }
  std::vector<std::string> exposed;
  ReadCurrentMasters(port, arguments.root, folders, targets, exposed);

  std::size_t done = 0;
  for (Target& target : targets) {
    if (!target.outcome.ok()) {
      port.Print(AccountLine("failed", target) + ": " + FailureText(port, target.outcome));
      continue;
    }
    if (target.diff.action == MasterAction::Unchanged) {
      if (!apply) {
        port.Print(AccountLine("unchanged", target));
      }
      continue;
    }
    if (apply) {
      port.Progress(done++, targets.size());
      target.outcome =
          PublishMaster(port, JoinPath(arguments.root, target.sid), target.sid, target.text,
                        target.row->values, target.current, target.listed);
      if (!target.outcome.ok()) {
        port.Print(AccountLine("failed", target) + ": " + FailureText(port, target.outcome));
        continue;
      }
    }
    std::string line = AccountLine(ActionText(target), target);
    if (target.diff.action == MasterAction::Change) {
      line += "  " + ChangedValues(target.diff, ", ");
    }
    port.Print(line);
  }
  if (apply) {
    port.Progress(targets.size(), targets.size());
  }
  for (const std::string& name : folder_names) {
    if (!named.contains(AsciiLower(name))) {
      port.Print("not in " + arguments.users + ", left alone: " + JoinPath(arguments.root, name));
    }
  }
  for (const std::string& folder : exposed) {
    port.Print("warning: others than its user, Administrators and SYSTEM may read " + folder);
  }
  std::array<std::size_t, 3> counts{};
  std::size_t failed = 0;
  for (const Target& target : targets) {
    if (target.outcome.ok()) {
      ++counts[static_cast<std::size_t>(target.diff.action)];
    } else {
      ++failed;
    }
  }
  port.Print((apply ? "created " : "to create ") + std::to_string(counts[0]) +
             (apply ? ", changed " : ", to change ") + std::to_string(counts[1]) + ", unchanged " +
             std::to_string(counts[2]) + ", failed " + std::to_string(failed));
  if (!arguments.report.empty()) {
    if (const PublishError error = WriteReport(port, arguments.report, targets);
        error != kPublishOk) {
      port.Print(arguments.report + ": cannot be written: " + ErrorLine(port, error));
      return Exit(PublishStatus::SomeFailed);
    }
  }
  return Exit(failed == 0 ? PublishStatus::Done : PublishStatus::SomeFailed);
}

int RunRollback(PublishPort& port, const PublishArguments& arguments) {
  std::unordered_set<std::string> only;
  if (!arguments.only.empty() && !ReadOnlyList(port, arguments.only, only)) {
    port.Print("refused; nothing rolled back");
    return Exit(PublishStatus::Refused);
  }
  std::vector<std::string> names;
  if (!OpenRoot(port, arguments.root, true, names)) {
    return Exit(PublishStatus::Refused);
  }
  std::erase_if(names, [&only](const std::string& name) {
    return ClassifyAccount(name).kind != AccountKind::Sid ||
           (!only.empty() && !only.contains(AsciiLower(name)));
  });
  std::size_t failed = 0;
  std::unordered_set<std::string> found;
  for (const std::string& name : names) {
    found.insert(AsciiLower(name));
    const MasterOutcome outcome = RollbackMaster(port, JoinPath(arguments.root, name));
    if (outcome.ok()) {
      port.Print("rolled back " + name);
    } else {
      ++failed;
      port.Print("failed     " + name + ": " + FailureText(port, outcome));
    }
  }
  for (const std::string& sid : only) {
    if (!found.contains(sid)) {
      ++failed;
      port.Print("failed     " + sid + ": no folder under " + arguments.root);
    }
  }
  port.Print("rolled back " + std::to_string(names.size() - std::min(failed, names.size())) +
             ", failed " + std::to_string(failed));
  return Exit(failed == 0 ? PublishStatus::Done : PublishStatus::SomeFailed);
}

}  // namespace

int RunPublish(PublishPort& port, std::span<const std::string> arguments) {
  PublishArguments parsed;
  const bool valid = ParsePublishArguments(arguments, parsed);
  if (!valid || parsed.command == PublishCommand::Help) {
    for (const std::string_view line : kUsage) {
      port.Print(std::string(line));
    }
    if (!valid) {
      return Exit(PublishStatus::Usage);
    }
    port.Print("exit codes:");
    for (const PublishExitCode& code : kPublishExitCodes) {
      port.Print("  " + std::to_string(static_cast<int>(code.status)) + "  " +
                 std::string(code.meaning));
    }
    return Exit(PublishStatus::Done);
  }
  if (parsed.command == PublishCommand::Rollback) {
    return RunRollback(port, parsed);
  }
  return RunPlanOrApply(port, parsed);
}

}  // namespace profile_import::publish
