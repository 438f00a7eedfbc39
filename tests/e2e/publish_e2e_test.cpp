// Runs the real profile-publish.exe on a folder of user folders: a thousand
// masters written, read back by the importer's parser, by the checker and by
// profile-sync; a second apply that writes nothing, ten changed, two rolled
// back; applies killed at random moments; a master held open by a reader.
#include <aclapi.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"
#include "publish/master_text.h"
#include "winlib/files.h"
#include "winlib/process.h"
// After <windows.h>, which e2e_support.h includes.
#include <sddl.h>

namespace e2e {
namespace {

using profile_import::publish::MasterValues;
using profile_import::publish::NoCodePage;

constexpr DWORD kDone = 0;
constexpr DWORD kRefused = 1;
constexpr std::size_t kUsers = 1000;

std::string Utf8(const std::wstring& text) {
  std::string bytes(text.size() * 3, '\0');
  bytes.resize(static_cast<std::size_t>(
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          static_cast<int>(bytes.size()), nullptr, nullptr)));
  return bytes;
}

std::wstring Root() {
  return WorkDirectory() + L"\\masters";
}
std::wstring UsersCsv() {
  return WorkDirectory() + L"\\users.csv";
}
std::wstring UserFolder(const std::string& sid) {
  return Root() + L"\\" + std::wstring(sid.begin(), sid.end());
}

// The suite's own account as DOMAIN\name, as the users file may name it.
std::string OwnAccountName() {
  PSID sid = nullptr;
  ConvertStringSidToSidW(UserSid().c_str(), &sid);
  std::array<wchar_t, 256> name{};
  std::array<wchar_t, 256> domain{};
  DWORD name_size = name.size();
  DWORD domain_size = domain.size();
  SID_NAME_USE use = SidTypeUnknown;
  LookupAccountSidW(nullptr, sid, name.data(), &name_size, domain.data(), &domain_size, &use);
  LocalFree(sid);
  return Utf8(std::wstring(domain.data()) + L"\\" + name.data());
}

struct User {
  std::string account;  // as the file names it
  std::string sid;
  std::vector<std::string> values;  // UTF-8, in the format's order
};

// A thousand users: the first is the suite's own account, by name; every
// value has a comma, a quote or a character beyond ASCII somewhere.
std::vector<User> Users(int version) {
  std::vector<User> users;
  const std::string stamp = std::to_string(version);
  for (std::size_t n = 0; n < kUsers; ++n) {
    User user;
    user.sid = "S-1-5-21-1000-2000-3000-" + std::to_string(10000 + n);
    user.account = user.sid;
    if (n == 0) {
      user.account = OwnAccountName();
      user.sid = Utf8(UserSid());
    }
    const std::string id = std::to_string(n);
    user.values = {std::string("Acme, \"Ärzte\" ").append(id).append(" v").append(stamp),
                   "SQL01\\Ωmega" + id, "admin", "пользователь" + id};
    users.push_back(std::move(user));
  }
  return users;
}

std::string Quoted(const std::string& field) {
  std::string quoted = "\"";
  for (const char c : field) {
    quoted.append(c == '"' ? 2 : 1, c);
  }
  return quoted + "\"";
}

void WriteUsers(const std::vector<User>& users) {
  std::string csv =
      "\xEF\xBB\xBF"
      "RegUser,account,RegCorp,RegDataBase,RegAdmin\r\n";
  for (const User& user : users) {
    csv += Quoted(user.values[3]) + "," + user.account + "," + Quoted(user.values[0]) + "," +
           Quoted(user.values[1]) + "," + user.values[2] + "\r\n";
  }
  WriteHandOff(csv, UsersCsv());
}

// The values the importer would store from a user's master; empty when it
// would refuse the file, or there is none.
std::vector<std::string> MasterOf(const std::string& sid) {
  const auto read = winlib::ReadWholeFile(UserFolder(sid) + L"\\sysfile.cfg");
  if (!read.ok()) {
    return {};
  }
  NoCodePage no_code_page;
  MasterValues values;
  if (!profile_import::publish::ReadMaster({read.value.begin(), read.value.end()}, no_code_page,
                                           values)) {
    return {};
  }
  std::vector<std::string> texts(values.size());
  std::ranges::transform(values, texts.begin(), [](const std::u16string& value) {
    return Utf8(std::wstring(value.begin(), value.end()));
  });
  return texts;
}

std::size_t HistoryCount(const std::string& sid) {
  std::size_t count = 0;
  ForEachFound(UserFolder(sid) + L"\\history", L"sysfile.*Z.cfg",
               [&count](const WIN32_FIND_DATAW&, const std::wstring&) { ++count; });
  return count;
}

// Every master's last write time: a run that writes nothing leaves them.
std::map<std::string, std::uint64_t> WriteTimes(const std::vector<User>& users) {
  std::map<std::string, std::uint64_t> times;
  for (const User& user : users) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW((UserFolder(user.sid) + L"\\sysfile.cfg").c_str(), GetFileExInfoStandard,
                         &data);
    times[user.sid] = (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32U) |
                      data.ftLastWriteTime.dwLowDateTime;
  }
  return times;
}

CapturedRun Publish(const std::wstring& arguments) {
  return RunCaptured(L"profile-publish.exe", arguments);
}
std::wstring Apply() {
  return L"apply \"" + UsersCsv() + L"\" \"" + Root() + L"\"";
}

std::size_t LinesStartingWith(const std::string& output, const std::string& start) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < output.size(); at = output.find('\n', at) + 1) {
    count += output.compare(at, start.size(), start) == 0 ? 1U : 0U;
    if (output.find('\n', at) == std::string::npos) {
      break;
    }
  }
  return count;
}

void RemoveTree(const std::wstring& folder) {
  ForEachFound(folder, L"*", [](const WIN32_FIND_DATAW& found, const std::wstring& path) {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      RemoveTree(path);
    } else {
      DeleteFileW(path.c_str());
    }
  });
  RemoveDirectoryW(folder.c_str());
}

class PublishEndToEnd : public ImportEndToEnd {
 protected:
  void SetUp() override {
    ImportEndToEnd::SetUp();
    RemoveTree(Root());
    ASSERT_TRUE(CreateDirectoryW(Root().c_str(), nullptr));
  }
};

// The whole life of a thousand masters, in one test: each step starts from
// the one before it, as an administrator's week would.
TEST_F(PublishEndToEnd, ThousandMastersWrittenReadChangedAndRolledBack) {
  const std::vector<User> first = Users(1);
  WriteUsers(first);
  CapturedRun run = Publish(Apply());
  ASSERT_EQ(run.code, kDone) << run.output;
  EXPECT_NE(run.output.find("created 1000, changed 0, unchanged 0, failed 0"), std::string::npos)
      << run.output;
  for (const User& user : first) {
    ASSERT_EQ(MasterOf(user.sid), user.values) << user.sid;
  }
  // The checker takes one file a run: a few, the suite's own first.
  for (const std::size_t n : {0U, 1U, 500U, 999U}) {
    const std::wstring master = UserFolder(first[n].sid) + L"\\sysfile.cfg";
    const CapturedRun check = RunCaptured(L"profile-check.exe", L"\"" + master + L"\"");
    EXPECT_EQ(check.code, 0U) << check.output;
    EXPECT_NE(check.output.find(first[n].values[3]), std::string::npos) << check.output;
  }
  // profile-sync finds the suite's own master by its SID, and stores it,
  // where no policy of the machine's decides otherwise.
  if (!PolicyKeyExists()) {
    const std::wstring app_data = WorkDirectory() + L"\\appdata";
    CreateDirectoryW(app_data.c_str(), nullptr);
    const CapturedRun sync =
        RunCaptured(L"profile-sync.exe", L"\"" + Root() + L"\\{sid}\\sysfile.cfg\"", app_data);
    EXPECT_EQ(sync.code, 0U) << sync.output;
    const std::vector<std::string>& own = first[0].values;
    auto wide = [](const std::string& text) {
      std::wstring units(text.size(), L'\0');
      units.resize(static_cast<std::size_t>(
          MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), units.data(),
                              static_cast<int>(units.size()))));
      return units;
    };
    ExpectProfileStored({wide(own[0]), wide(own[1]), wide(own[2]), wide(own[3])});
  }

  const auto times = WriteTimes(first);
  run = Publish(Apply());
  ASSERT_EQ(run.code, kDone) << run.output;
  EXPECT_NE(run.output.find("created 0, changed 0, unchanged 1000, failed 0"), std::string::npos);
  EXPECT_EQ(WriteTimes(first), times);

  std::vector<User> second = first;
  for (std::size_t n = 100; n < kUsers; n += 90) {
    second[n].values[3] += "x";
  }
  WriteUsers(second);
  run = Publish(L"plan \"" + UsersCsv() + L"\" \"" + Root() + L"\"");
  EXPECT_EQ(run.code, kDone);
  EXPECT_EQ(LinesStartingWith(run.output, "change "), 10U) << run.output;
  EXPECT_EQ(LinesStartingWith(run.output, "unchanged "), 990U);
  run = Publish(Apply());
  EXPECT_EQ(run.code, kDone);
  EXPECT_EQ(LinesStartingWith(run.output, "change "), 10U) << run.output;
  for (std::size_t n = 0; n < kUsers; ++n) {
    EXPECT_EQ(MasterOf(second[n].sid), second[n].values) << n;
    EXPECT_EQ(HistoryCount(second[n].sid), second[n].values == first[n].values ? 0U : 1U) << n;
  }

  // A pilot ring of two rolled back, by name and by SID.
  WriteHandOff("# ring 1\r\n" + second[100].sid + "\r\n" + second[190].sid + "\r\n",
               WorkDirectory() + L"\\ring.txt");
  run = Publish(L"rollback \"" + Root() + L"\" --only \"" + WorkDirectory() + L"\\ring.txt\"");
  EXPECT_EQ(run.code, kDone) << run.output;
  for (std::size_t n = 100; n < kUsers; n += 90) {
    EXPECT_EQ(MasterOf(second[n].sid), n < 200 ? first[n].values : second[n].values) << n;
  }
}

// Killed at random moments, an apply leaves every master as it was or as the
// file says, whole; the next apply finishes.
TEST_F(PublishEndToEnd, KilledAppliesLeaveEveryMasterOldOrNew) {
  const int rounds = sizeof(void*) == 4 ? 10 : 50;  // x86's suite runs the same rows
  std::vector<User> users = Users(0);
  users.resize(100);
  WriteUsers(users);
  const auto start = std::chrono::steady_clock::now();
  CapturedRun run = Publish(Apply());
  ASSERT_EQ(run.code, kDone) << run.output;
  // Kills fall anywhere in a run that changes every master, which takes
  // longer than this one, which only made them.
  const auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  winlib::UniqueFile nowhere(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inherit, OPEN_EXISTING, 0, nullptr));
  std::vector<std::set<std::vector<std::string>>> seen(users.size());
  for (std::size_t n = 0; n < users.size(); ++n) {
    seen[n].insert(users[n].values);
  }
  std::mt19937 random(std::random_device{}());
  int killed_running = 0;
  int halfway = 0;  // rounds killed with some masters written
  for (int round = 1; round <= rounds; ++round) {
    for (std::size_t n = 0; n < users.size(); ++n) {
      users[n].values[3] = "r" + std::to_string(round) + "-" + std::to_string(n);
      seen[n].insert(users[n].values);
    }
    WriteUsers(users);
    winlib::StartedProcess started =
        StartBeside(L"profile-publish.exe", Apply(), {}, 0, nowhere.get());
    ASSERT_TRUE(started.process);
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % (whole * 3 / 2 + 1)));
    if (WaitForSingleObject(started.process.get(), 0) == WAIT_TIMEOUT) {
      ++killed_running;
    }
    TerminateProcess(started.process.get(), 9);
    WaitForSingleObject(started.process.get(), INFINITE);
    std::size_t written = 0;
    for (std::size_t n = 0; n < users.size(); ++n) {
      const std::vector<std::string> master = MasterOf(users[n].sid);
      ASSERT_TRUE(seen[n].contains(master)) << "round " << round << ", user " << n;
      written += master == users[n].values ? 1U : 0U;
    }
    halfway += written > 0 && written < users.size() ? 1 : 0;
  }
  run = Publish(Apply());
  ASSERT_EQ(run.code, kDone) << run.output;
  for (const User& user : users) {
    EXPECT_EQ(MasterOf(user.sid), user.values);
  }
  const std::string kills = "[ KILLS    ] " + std::to_string(rounds) + " rounds, " +
                            std::to_string(killed_running) + " killed while running, " +
                            std::to_string(halfway) + " with some masters written\n";
  static_cast<void>(std::fputs(kills.c_str(), stdout));
  EXPECT_GT(killed_running, rounds / 4);
}

// A reader holding the master without delete sharing holds the rename off;
// apply waits, then replaces it. The folder it made keeps the ACL it was
// given, where Wine keeps one. A second apply meanwhile is refused.
TEST_F(PublishEndToEnd, WaitsForAReaderAndMakesTheFolderPrivate) {
  std::vector<User> users = Users(0);
  users.resize(1);
  WriteUsers(users);
  ASSERT_EQ(Publish(Apply()).code, kDone);
  users[0].values[3] = "renamed";
  WriteUsers(users);
  const std::wstring master = UserFolder(users[0].sid) + L"\\sysfile.cfg";
  winlib::UniqueFile reader(CreateFileW(master.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(reader);
  winlib::StartedProcess started = StartBeside(L"profile-publish.exe", Apply());
  ASSERT_EQ(WaitForSingleObject(started.process.get(), 1500), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_NE(MasterOf(users[0].sid), users[0].values);
  // Meanwhile a second apply on the same folder is refused, writing nothing.
  EXPECT_EQ(Publish(Apply()).code, kRefused);
  reader.reset();
  EXPECT_EQ(WaitForExitCode(std::move(started)), kDone);
  EXPECT_EQ(MasterOf(users[0].sid), users[0].values);

  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(UserFolder(users[0].sid).c_str(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                                  &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  wchar_t* sddl = nullptr;
  ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                       DACL_SECURITY_INFORMATION, &sddl, nullptr);
  const std::wstring text = sddl == nullptr ? L"" : sddl;
  LocalFree(sddl);
  LocalFree(descriptor);
  if (winlib::UnderWine()) {
    // Wine keeps a folder's DACL as Unix mode bits alone: the owner (this
    // user) and SYSTEM with full control, no Administrators, no protection.
    EXPECT_NE(text.find(L";;;" + UserSid() + L")"), std::wstring::npos) << text;
    EXPECT_NE(text.find(L";;;SY)"), std::wstring::npos) << text;
  } else {
    EXPECT_EQ(text, L"D:P(A;OICI;0x1200a9;;;" + UserSid() + L")(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
  }
}

}  // namespace
}  // namespace e2e
