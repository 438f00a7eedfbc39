// Runs the real profile-sync.exe against master copies on a share (under
// Wine, one the prefix serves as \\e2eserver\handoff; on Windows, a local
// folder) and the real registry, as rows of scenes: each sets masters and
// the key, runs, and checks the exit code, the values and what was kept.
#include <algorithm>
#include <array>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e_support.h"
#include "winlib/files.h"
// After <windows.h>, which e2e_support.h includes.
#include <sddl.h>

namespace e2e {
namespace {

const std::string kV1 = "Acme Corp\nSQL01\\\nMIRANDEL\nline four\nadmin\njdoe\n";
const std::string kV2 = "Acme Corp 2\nSQL02\\\nMIRANDEL\nline four\nadmin\njdoe\n";
const Profile kProfile1 = {L"Acme Corp", L"SQL01\\MIRANDEL", L"admin", L"jdoe"};
const Profile kProfile2 = {L"Acme Corp 2", L"SQL02\\MIRANDEL", L"admin", L"jdoe"};
constexpr DWORD kInPlace = 0;
constexpr DWORD kWouldWrite = 1;
constexpr DWORD kNoMaster = 10;
constexpr DWORD kUnreachable = 11;
constexpr DWORD kMasterInvalid = 15;
constexpr DWORD kTurnedOff = 40;
constexpr DWORD kPolicyUnreadable = 41;
const wchar_t* const kPolicyPath = L"SOFTWARE\\Policies\\Tessavo\\profile-sync";

std::wstring UserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  std::vector<BYTE> buffer(256);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size);
  CloseHandle(token);
  wchar_t* text = nullptr;
  ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text);
  std::wstring sid = text == nullptr ? L"" : text;
  LocalFree(text);
  return sid;
}

// The share: what a master's path names, and where this suite writes it.
struct Share {
  std::wstring given;        // \\e2eserver\handoff, or a local folder
  std::wstring folder;       // the same place, for writing
  std::wstring unreachable;  // a server that does not exist
};

const Share& TheShare() {
  static const Share share = [] {
    std::array<wchar_t, MAX_PATH> prefix{};
    if (GetEnvironmentVariableW(L"WINEPREFIX", prefix.data(), MAX_PATH) != 0) {
      // Wine serves \\SERVER\SHARE from dosdevices/unc/SERVER/SHARE.
      std::wstring folder = std::wstring(L"Z:") + prefix.data();
      std::replace(folder.begin(), folder.end(), L'/', L'\\');
      for (const wchar_t* part : {L"\\dosdevices", L"\\unc", L"\\e2eserver", L"\\handoff"}) {
        folder += part;
        CreateDirectoryW(folder.c_str(), nullptr);
      }
      return Share{L"\\\\e2eserver\\handoff", folder, L"\\\\e2e-no-such-server\\handoff"};
    }
    const std::wstring folder = WorkDirectory() + L"\\handoff";
    CreateDirectoryW(folder.c_str(), nullptr);
    return Share{folder, folder, L"\\\\e2e-no-such-server.invalid\\handoff"};
  }();
  return share;
}

// A master in the user's folder `user` (default: the user's SID) of the share.
std::wstring MasterFolder(const std::wstring& user) {
  return TheShare().folder + L"\\" + user;
}
void WriteMaster(const std::string& bytes, const std::wstring& user = UserSid()) {
  CreateDirectoryW(MasterFolder(user).c_str(), nullptr);
  const std::wstring path = MasterFolder(user) + L"\\sysfile.cfg";
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  WriteHandOff(bytes, path);
}
std::wstring Given(const std::wstring& user = L"{sid}") {
  return L"\"" + TheShare().given + L"\\" + user + L"\\sysfile.cfg\"";
}

std::wstring AppData() {
  return WorkDirectory() + L"\\appdata";
}
std::string Log() {
  return winlib::ReadWholeFile(AppData() + L"\\Tessavo\\profile-sync.log").value;
}

CapturedRun Sync(const std::wstring& arguments) {
  return RunCaptured(L"profile-sync.exe", arguments, AppData());
}

FILETIME KeyWritten() {
  HKEY key = nullptr;
  FILETIME written{};
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kProfileKeyPath, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, &written);
    RegCloseKey(key);
  }
  return written;
}

// Every file under the share, with its bytes and last write time: a master
// copy is only ever read.
std::string ShareSnapshot(const std::wstring& folder = TheShare().folder) {
  std::string snapshot;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return snapshot;
  }
  do {
    const std::wstring name = static_cast<const wchar_t*>(found.cFileName);
    if (name == L"." || name == L"..") {
      continue;
    }
    const std::wstring path = folder + L"\\" + name;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      snapshot += ShareSnapshot(path);
    } else {
      snapshot += std::string(path.begin(), path.end()) + ":" +
                  std::to_string(found.ftLastWriteTime.dwLowDateTime) + ":" +
                  winlib::ReadWholeFile(path).value + "\n";
    }
  } while (FindNextFileW(search, &found) != FALSE);
  FindClose(search);
  return snapshot;
}

bool PolicyKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyPath, 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

// A machine's own policy is never touched: where one is set, every run here
// would follow it, so the scenes do not run.
class SyncEndToEnd : public ImportEndToEnd {
 protected:
  void SetUp() override {
    if (PolicyKeyExists()) {
      const std::wstring_view policy = kPolicyPath;
      GTEST_SKIP()
          << "HKLM\\" << std::string(policy.begin(), policy.end())
          << " is set on this machine; profile-sync's scenes leave it alone and do not run";
    }
    ImportEndToEnd::SetUp();
    CreateDirectoryW(AppData().c_str(), nullptr);
    DeleteFileW((AppData() + L"\\Tessavo\\profile-sync.log").c_str());
    WriteMaster(kV1);
  }
  void TearDown() override {
    if (std::exchange(set_policy_, false)) {
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kPolicyPath, KEY_WOW64_64KEY, 0);
    }
  }

 public:
  static bool set_policy_;
};
bool SyncEndToEnd::set_policy_ = false;

struct Scene {
  const char* name;
  std::function<void()> before;  // sets the masters and the key
  std::wstring arguments;
  DWORD code;
  std::function<void()> after;  // checks what was stored and kept
};

void PrintTo(const Scene& scene, std::ostream* out) {
  *out << scene.name;
}

// Sets the machine's policy Mode, for this test only.
void SetPolicy(DWORD type, const std::vector<BYTE>& data) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPolicyPath, 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    GTEST_SKIP() << "HKLM's policy key is not writable by this user";
  }
  SyncEndToEnd::set_policy_ = true;
  RegSetValueExW(key, L"Mode", 0, type, data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(key);
}

const auto kStored1 = [] { ImportEndToEnd::ExpectProfileStored(kProfile1); };
const auto kNothingStored = [] { EXPECT_FALSE(KeyExists(kProfileKeyPath)); };

std::vector<Scene> Scenes() {
  return {
      {"FirstImport", [] {}, Given(), kInPlace, kStored1},
      {"Rollout",
       [] {
         ASSERT_EQ(Sync(Given()).code, kInPlace);
         WriteMaster(kV2);
       },
       Given(), kInPlace,
       [] {
         ImportEndToEnd::ExpectProfileStored(kProfile2);
         EXPECT_EQ(ReadValue(L"Software\\Tessavo\\profile-sync\\Previous", L"RegCorp"),
                   StringValue(L"Acme Corp"));
       }},
      // Another machine imported v2 from its own master, which roamed with the
      // hive; this machine's master is v1: the values follow the master.
      {"RevertAfterAnotherMachinesImport",
       [] {
         ASSERT_EQ(Sync(Given()).code, kInPlace);
         WriteMaster(kV2, L"machine-b");
         ASSERT_EQ(Sync(Given(L"machine-b")).code, kInPlace);
       },
       Given(), kInPlace, kStored1},
      {"DriftKept",
       [] {
         ASSERT_EQ(Sync(Given()).code, kInPlace);
         SetValue(kProfileKeyPath, L"RegAdmin", StringValue(L"changed"));
       },
       Given(), kInPlace,
       [] {
         EXPECT_EQ(ReadValue(kProfileKeyPath, L"RegAdmin"), StringValue(L"changed"));
         EXPECT_NE(Log().find("drift kept"), std::string::npos) << Log();
       }},
      {"DriftPutBack",
       [] {
         ASSERT_EQ(Sync(Given()).code, kInPlace);
         SetValue(kProfileKeyPath, L"RegAdmin", StringValue(L"changed"));
       },
       L"--enforce " + Given(), kInPlace, kStored1},
      {"ReadOnlyMaster",
       [] {
         SetFileAttributesW((MasterFolder(UserSid()) + L"\\sysfile.cfg").c_str(),
                            FILE_ATTRIBUTE_READONLY);
       },
       Given(), kInPlace, kStored1},
      {"NoMasterFile", [] { DeleteFileW((MasterFolder(UserSid()) + L"\\sysfile.cfg").c_str()); },
       Given(), kNoMaster, kNothingStored},
      {"NoUserFolder", [] {}, Given(L"no-such-user"), kNoMaster, kNothingStored},
      {"UnreachableServer", [] {}, L"\"" + TheShare().unreachable + L"\\{sid}\\sysfile.cfg\"",
       kUnreachable, kNothingStored},
      {"RefusedMaster", [] { WriteMaster("only\nfour\nline\nends\n"); }, Given(), kMasterInvalid,
       kNothingStored},
      {"AnsiMaster", [] { WriteMaster("Caf\xE9\nsrv\nmain\nx\nadmin\njdoe\n"); }, Given(),
       kMasterInvalid, kNothingStored},
      {"Utf8WithMark",
       [] {
         WriteMaster(
             "\xEF\xBB\xBF"
             "Caf\xC3\xA9\nsrv\\\nmain\nx\nadmin\njdoe\n");
       },
       Given(), kInPlace,
       [] {
         ImportEndToEnd::ExpectProfileStored({L"Caf\u00E9", L"srv\\main", L"admin", L"jdoe"});
       }},
      {"Utf16Le",
       [] {
         WriteMaster(
             std::string("\xFF\xFE"
                         "A\0\n\0s\0\n\0m\0\n\0x\0\n\0a\0\n\0j\0\n\0",
                         26));
       },
       Given(), kInPlace,
       [] {
         ImportEndToEnd::ExpectProfileStored({L"A", L"sm", L"a", L"j"});
       }},
      {"FirstPresentOfTwo", [] {}, Given(L"no-such-user") + L" " + Given(), kInPlace, kStored1},
      {"PathWithSpacesAndSigns",
       [] { WriteMaster(kV2, L"J\u00F6rg M\u00FCller & co %PATH% !x! ^y"); },
       Given(L"J\u00F6rg M\u00FCller & co %PATH% !x! ^y"), kInPlace,
       [] { ImportEndToEnd::ExpectProfileStored(kProfile2); }},
      {"CheckWouldWrite", [] {}, L"--check " + Given(), kWouldWrite, kNothingStored},
      {"CheckInLine", [] { ASSERT_EQ(Sync(Given()).code, kInPlace); }, L"--check " + Given(),
       kInPlace, kStored1},
      {"TurnedOffByPolicy",
       [] {
         SetPolicy(REG_DWORD, {0, 0, 0, 0});
       },
       Given(), kTurnedOff, kNothingStored},
      // As `reg add` and Group Policy Preferences write it when the type is missed.
      {"TurnedOffByPolicyAsText",
       [] {
         SetPolicy(REG_SZ, {'0', 0, 0, 0});
       },
       L"--enforce " + Given(), kTurnedOff, kNothingStored},
      {"PolicyOfNoNumberChecksOnly",
       [] {
         SetPolicy(REG_SZ, {'o', 0, 'f', 0, 'f', 0, 0, 0});
       },
       L"--enforce " + Given(), kPolicyUnreadable, kNothingStored},
  };
}

class SyncScenes : public SyncEndToEnd, public ::testing::WithParamInterface<Scene> {};

TEST_P(SyncScenes, ExitCodeValuesAndTheMasterUntouched) {
  GetParam().before();
  if (IsSkipped() || HasFatalFailure()) {
    return;
  }
  const std::string share_before = ShareSnapshot();

  const CapturedRun run = Sync(GetParam().arguments);

  EXPECT_EQ(run.code, GetParam().code) << run.output;
  EXPECT_EQ(ShareSnapshot(), share_before) << "a master copy is only ever read";
  GetParam().after();
}

INSTANTIATE_TEST_SUITE_P(Scenes, SyncScenes, ::testing::ValuesIn(Scenes()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SyncEndToEnd, NothingToDoLeavesTheKeyAsItWas) {
  ASSERT_EQ(Sync(Given()).code, kInPlace);
  const FILETIME written = KeyWritten();
  const std::string log = Log();
  Sleep(20);

  const CapturedRun second = Sync(Given());

  EXPECT_EQ(second.code, kInPlace);
  const FILETIME after = KeyWritten();
  EXPECT_EQ(CompareFileTime(&written, &after), 0) << "the key was written again";
  EXPECT_EQ(Log(), log) << "nothing to do is recorded at most once a day";
  EXPECT_NE(second.output.find("\t0 InPlace\t"), std::string::npos) << second.output;
}

TEST_F(SyncEndToEnd, TwoRunsAtOnceBothImportAndLogWholeLines) {
  CapturedRun first;
  std::thread other([&first] { first = Sync(Given()); });
  const CapturedRun second = Sync(Given());
  other.join();

  EXPECT_EQ(first.code, kInPlace) << first.output;
  EXPECT_EQ(second.code, kInPlace) << second.output;
  ExpectProfileStored(kProfile1);
  const std::string log = Log();
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos; at += 2) {
    ++lines;
  }
  EXPECT_GE(lines, 1U);
  EXPECT_EQ(log.rfind("\r\n"), log.size() - 2) << log;
  for (std::size_t start = 0; start < log.size(); start = log.find("\r\n", start) + 2) {
    const std::string line = log.substr(start, log.find("\r\n", start) - start);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 11) << line;
    EXPECT_TRUE(line.find("\t0 InPlace\t") != std::string::npos) << line;
  }
}

}  // namespace
}  // namespace e2e
