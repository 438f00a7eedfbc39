#pragma once
// Helpers for tests that run the real profile-import.exe against real files
// and the real registry (under Wine on Linux).
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/key_paths.h"
#include "winlib/process.h"

namespace e2e {

inline constexpr auto kTessavoText =
    profile_import::JoinKeyPath<wchar_t>(profile_import::kVendorKeyPath, "");
inline constexpr const wchar_t* kTessavoPath = kTessavoText.data();
inline constexpr auto kProfileKeyText =
    profile_import::JoinKeyPath<wchar_t>(profile_import::kVendorKeyPath, "Mirandel");
inline constexpr const wchar_t* kProfileKeyPath = kProfileKeyText.data();
inline constexpr DWORD kImportOk = 0;
inline constexpr DWORD kNoProfileFile = 0xFFFFFFFF;
inline constexpr DWORD kKeyUnavailable = 0xFFFFFFFE;
inline constexpr DWORD kProfileRejected = 0xFFFFFFFB;
inline constexpr DWORD kFileInaccessible = 0xFFFFFFFA;
inline constexpr std::array<const wchar_t*, 4> kValueNames = {L"RegCorp", L"RegDataBase",
                                                              L"RegAdmin", L"RegUser"};

struct RegValue {
  DWORD type;
  std::vector<BYTE> data;
  bool operator==(const RegValue&) const = default;
};

struct Profile {
  std::wstring corp, database, admin, user;
};

std::wstring ExeDirectory();
// The importer under test: the one beside the suite, or the one that
// PROFILE_IMPORT_UNDER_TEST names (a full path, or one from the suite's folder).
std::wstring ImporterPath();
const std::wstring& WorkDirectory();
std::wstring HandOffPath();
void WriteHandOff(const std::string& bytes, const std::wstring& path = HandOffPath());
std::optional<std::string> ReadHandOff();

bool KeyExists(const wchar_t* path);
std::optional<RegValue> ReadValue(const wchar_t* path, const wchar_t* name);
RegValue StringValue(const std::wstring& text);
void SetValue(const wchar_t* path, const wchar_t* name, const RegValue& value);

// Starts the importer in the work directory. WaitForExitCode waits for it,
// closes its handles and gives its full 32-bit exit code.
winlib::StartedProcess StartImporter(DWORD creation_flags);
DWORD WaitForExitCode(winlib::StartedProcess process);
DWORD RunImporter();

struct CapturedRun {
  DWORD code = 0xDEADBEEF;
  std::string output;
};
using CheckerRun = CapturedRun;
// Starts a program beside the suite in the work directory with `arguments`,
// LOCALAPPDATA set to `local_app_data` when one is given, and its standard
// output and error written to `output` when one is given; does not wait.
winlib::StartedProcess StartBeside(const wchar_t* program, const std::wstring& arguments,
                                   const std::wstring& local_app_data = {},
                                   DWORD creation_flags = 0, HANDLE output = nullptr);
// Runs a program as StartBeside does, its standard output and error captured,
// and waits for it.
CapturedRun RunCaptured(const wchar_t* program, const std::wstring& arguments,
                        const std::wstring& local_app_data = {});
// Runs "profile-check.exe --json" on the hand-off file in the work directory.
CheckerRun RunChecker();

// The SID of the user the suite runs as, as S-1-… text.
std::wstring UserSid();
// Whether this machine sets profile-sync's policy, which every run of it follows.
bool PolicyKeyExists();

// Calls `visit` with each entry of `folder` that `pattern` ("*", or one with
// wildcards) names, "." and ".." left out, and the entry's full path.
void ForEachFound(const std::wstring& folder, const wchar_t* pattern,
                  const std::function<void(const WIN32_FIND_DATAW&, const std::wstring&)>& visit);

// A clean work directory and no Tessavo key before every test.
class ImportEndToEnd : public ::testing::Test {
 public:
  // Public: tables check what was stored from their rows.
  static void ExpectProfileStored(const Profile& expected);

 protected:
  void SetUp() override;
};

}  // namespace e2e
