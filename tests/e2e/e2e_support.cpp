#include "e2e/e2e_support.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

#include "project_env.h"
#include "winlib/error_text.h"
#include "winlib/files.h"
#include "winlib/machine_policy.h"
#include "winlib/paths.h"
#include "winlib/unique_handle.h"
// After <windows.h>, which e2e_support.h includes.
#include <sddl.h>

namespace e2e {
std::wstring ExeDirectory() {
  return winlib::ProgramFolder().value;
}

namespace {
// A path from the environment, relative to the suite's folder unless
// absolute; the default name in the suite's folder when the variable is unset.
std::wstring PathFromEnvironment(const wchar_t* variable, const wchar_t* default_name) {
  const DWORD needed = GetEnvironmentVariableW(variable, nullptr, 0);
  if (needed == 0) {
    return ExeDirectory() + L"\\" + default_name;
  }
  std::wstring path(needed, L'\0');
  path.resize(GetEnvironmentVariableW(variable, path.data(), needed));
  const bool absolute = path.find(L':') != std::wstring::npos || path.starts_with(L"\\\\");
  return absolute ? path : ExeDirectory() + L"\\" + path;
}
}  // namespace

std::wstring ImporterPath() {
  return PathFromEnvironment(profile_import::project_env::kUnderTestVariable,
                             L"profile-import.exe");
}

std::wstring HandOffPath() {
  return WorkDirectory() + L"\\sysfile.cfg";
}

const std::wstring& WorkDirectory() {
  // The test kit names one per machine and user, so runs from a shared folder
  // never work in each other's.
  static const std::wstring dir =
      PathFromEnvironment(profile_import::project_env::kTestWorkVariable, L"e2e-work");
  return dir;
}

void WriteHandOff(const std::string& bytes, const std::wstring& path) {
  const winlib::Status written = winlib::WriteWholeFile(path, bytes);
  ASSERT_TRUE(written.ok()) << winlib::ErrorText(written);
}

std::optional<std::string> ReadHandOff() {
  winlib::Result<std::string> read = winlib::ReadWholeFile(HandOffPath());
  if (!read.ok()) {
    return std::nullopt;
  }
  return std::move(read.value);
}

bool KeyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

std::optional<RegValue> ReadValue(const wchar_t* path, const wchar_t* name) {
  RegValue value{0, std::vector<BYTE>(1024)};
  auto size = static_cast<DWORD>(value.data.size());
  if (RegGetValueW(HKEY_CURRENT_USER, path, name, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                   value.data.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  return value;
}

RegValue StringValue(const std::wstring& text) {
  const auto bytes = std::as_bytes(std::span{text.c_str(), text.size() + 1});
  RegValue value{REG_SZ, std::vector<BYTE>(bytes.size())};
  std::memcpy(value.data.data(), bytes.data(), bytes.size());
  return value;
}

void SetValue(const wchar_t* path, const wchar_t* name, const RegValue& value) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path, name, value.type, value.data.data(),
                            static_cast<DWORD>(value.data.size())),
            ERROR_SUCCESS);
}

namespace {

// A failure to start is a test failure that names the program and the error;
// a start Wine lost and that was made again is said, not failed.
winlib::StartedProcess StartInWorkDirectory(winlib::ProcessStart start) {
  start.folder = WorkDirectory();
  winlib::Result<winlib::StartedProcess> started = winlib::StartProcess(start);
  if (started.value.lost_starts > 0) {
    const std::string retry = "[ RETRY    ] " + std::to_string(started.value.lost_starts) +
                              " start(s) of " +
                              std::string(start.application.begin(), start.application.end()) +
                              " lost by Wine during start-up; started again\n";
    static_cast<void>(std::fputs(retry.c_str(), stdout));
  }
  if (!started.ok()) {
    ADD_FAILURE() << L"could not start " << start.application << L": error " << started.status.error
                  << L" (" << winlib::ErrorText(started.status) << L")";
  }
  return std::move(started.value);
}

std::wstring Quoted(const std::wstring& text) {
  return L"\"" + text + L"\"";
}

}  // namespace

winlib::StartedProcess StartImporter(DWORD creation_flags) {
  winlib::ProcessStart start;
  start.application = ImporterPath();
  start.command_line = Quoted(start.application);
  start.creation_flags = creation_flags;
  return StartInWorkDirectory(std::move(start));
}

DWORD WaitForExitCode(winlib::StartedProcess process) {
  DWORD code = 0xDEADBEEF;
  if (process.process) {
    WaitForSingleObject(process.process.get(), INFINITE);
    GetExitCodeProcess(process.process.get(), &code);
  }
  return code;
}

DWORD RunImporter() {
  return WaitForExitCode(StartImporter(0));
}

void ImportEndToEnd::SetUp() {
  CreateDirectoryW(WorkDirectory().c_str(), nullptr);
  DeleteFileW(HandOffPath().c_str());
  RemoveDirectoryW(HandOffPath().c_str());  // a folder named like the file
  const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, kTessavoPath);
  ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
}

void ImportEndToEnd::ExpectProfileStored(const Profile& expected) {
  const std::array texts = {&expected.corp, &expected.database, &expected.admin, &expected.user};
  for (std::size_t i = 0; i < kValueNames.size(); ++i) {
    const std::wstring_view name = kValueNames.at(i);
    EXPECT_EQ(ReadValue(kProfileKeyPath, name.data()), StringValue(*texts.at(i)))
        << std::string(name.begin(), name.end());
  }
}

namespace {

// The environment of this process with LOCALAPPDATA replaced, as a block.
std::wstring EnvironmentWith(const std::wstring& local_app_data) {
  std::wstring block;
  wchar_t* strings = GetEnvironmentStringsW();
  // A list of NUL-terminated entries, ended by an empty one.
  for (std::wstring_view entry = strings; !entry.empty();
       entry = entry.data() + entry.size() + 1) {  // NOLINT(*-pointer-arithmetic)
    if (_wcsnicmp(entry.data(), L"LOCALAPPDATA=", 13) != 0) {
      block.append(entry).push_back(L'\0');
    }
  }
  FreeEnvironmentStringsW(strings);
  block.append(L"LOCALAPPDATA=" + local_app_data).push_back(L'\0');
  return block;
}

}  // namespace

winlib::StartedProcess StartBeside(const wchar_t* program, const std::wstring& arguments,
                                   const std::wstring& local_app_data, DWORD creation_flags,
                                   HANDLE output) {
  const std::wstring path = ExeDirectory() + L"\\" + program;
  winlib::ProcessStart start;
  start.application = path;
  start.command_line = Quoted(path) + L" " + arguments;
  start.creation_flags = creation_flags | CREATE_UNICODE_ENVIRONMENT;
  if (!local_app_data.empty()) {
    start.environment = EnvironmentWith(local_app_data);
  }
  if (output != nullptr) {
    start.inherit_handles = true;
    start.startup.dwFlags = STARTF_USESTDHANDLES;
    start.startup.hStdOutput = output;
    start.startup.hStdError = output;
  }
  return StartInWorkDirectory(std::move(start));
}

CapturedRun RunCaptured(const wchar_t* program, const std::wstring& arguments,
                        const std::wstring& local_app_data) {
  const std::wstring out_path =
      WorkDirectory() + L"\\output-" + std::to_wstring(GetCurrentThreadId()) + L".txt";
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  winlib::UniqueFile out(CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) {
    ADD_FAILURE() << "cannot create the program's output file";
    return {};
  }
  winlib::StartedProcess started = StartBeside(program, arguments, local_app_data, 0, out.get());
  out.reset();
  if (!started.process) {
    return {};
  }
  CapturedRun run;
  run.code = WaitForExitCode(std::move(started));
  run.output = winlib::ReadWholeFile(out_path).value;
  DeleteFileW(out_path.c_str());
  return run;
}

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

bool PolicyKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, winlib::kMachinePolicyKey, 0, KEY_READ | KEY_WOW64_64KEY,
                    &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

void ForEachFound(const std::wstring& folder, const wchar_t* pattern,
                  const std::function<void(const WIN32_FIND_DATAW&, const std::wstring&)>& visit) {
  WIN32_FIND_DATAW found{};
  const winlib::UniqueFind search(FindFirstFileW((folder + L"\\" + pattern).c_str(), &found));
  if (!search) {
    return;
  }
  do {
    const std::wstring name = static_cast<const wchar_t*>(found.cFileName);
    if (name != L"." && name != L"..") {
      visit(found, folder + L"\\" + name);
    }
  } while (FindNextFileW(search.get(), &found) != FALSE);
}

CheckerRun RunChecker() {
  return RunCaptured(L"profile-check.exe", L"--json sysfile.cfg");
}

}  // namespace e2e
