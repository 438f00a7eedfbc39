#include "e2e_support.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

namespace e2e {
std::wstring ExeDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
  path.resize(length);
  return path.substr(0, path.find_last_of(L'\\'));
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
  return PathFromEnvironment(L"PROFILE_IMPORT_UNDER_TEST", L"profile-import.exe");
}

std::wstring HandOffPath() {
  return WorkDirectory() + L"\\sysfile.cfg";
}

const std::wstring& WorkDirectory() {
  // The test kit names one per machine and user, so runs from a shared folder
  // never work in each other's.
  static const std::wstring dir = PathFromEnvironment(L"PROFILE_IMPORT_TEST_WORK", L"e2e-work");
  return dir;
}

void WriteHandOff(const std::string& bytes, const std::wstring& path) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  EXPECT_EQ(fclose(file), 0);
}

std::optional<std::string> ReadHandOff() {
  FILE* file = _wfopen(HandOffPath().c_str(), L"rb");
  if (file == nullptr) {
    return std::nullopt;
  }
  std::string bytes(4096, '\0');
  bytes.resize(fread(bytes.data(), 1, bytes.size(), file));
  EXPECT_EQ(fclose(file), 0);
  return bytes;
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

std::string StartFailure(const std::wstring& program, int attempt, DWORD error) {
  std::array<char, 256> text{};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                     text.data(), static_cast<DWORD>(text.size()), nullptr);
  std::string reason(text.data(), length);
  reason.erase(reason.find_last_not_of(" \r\n") + 1);
  return "could not start " + std::string(program.begin(), program.end()) + " (attempt " +
         std::to_string(attempt) + "): error " + std::to_string(error) + " (" + reason + ")";
}

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

}  // namespace

bool StartInWorkDirectory(const std::wstring& program, const std::wstring& command_line,
                          BOOL inherit_handles, DWORD creation_flags, STARTUPINFOW& startup,
                          PROCESS_INFORMATION& process, wchar_t* environment) {
  // Wine 8 now and then loses a new process before it has run any of its
  // code: the process's loader exits during start-up and CreateProcessW fails
  // with ERROR_INTERNAL_ERROR. That failure alone, and only under Wine, is
  // tried again, and each retry is said; any other failure fails at once.
  constexpr int kAttempts = 3;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    std::wstring writable = command_line;  // CreateProcessW may write to it
    const wchar_t* application = command_line.empty() ? program.c_str() : nullptr;
    if (CreateProcessW(application, command_line.empty() ? nullptr : writable.data(), nullptr,
                       nullptr, inherit_handles, creation_flags, environment,
                       WorkDirectory().c_str(), &startup, &process) != FALSE) {
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR || !UnderWine() || attempt == kAttempts) {
      ADD_FAILURE() << StartFailure(program, attempt, error);
      return false;
    }
    const std::string retry =
        "[ RETRY    ] " + StartFailure(program, attempt, error) +
        ": Wine lost the new process during its start-up; starting it again\n";
    static_cast<void>(std::fputs(retry.c_str(), stdout));
  }
  return false;
}

PROCESS_INFORMATION StartImporter(DWORD creation_flags) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  StartInWorkDirectory(ImporterPath(), {}, FALSE, creation_flags, startup, process);
  return process;
}

DWORD WaitForExitCode(const PROCESS_INFORMATION& process) {
  if (process.hProcess == nullptr) {
    return 0xDEADBEEF;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0xDEADBEEF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
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

std::string ReadWholeFile(const std::wstring& path) {
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) {
    return {};
  }
  constexpr std::size_t kEnough = std::size_t{64} * 1024;  // every sample is far smaller
  std::string bytes(kEnough, '\0');
  bytes.resize(fread(bytes.data(), 1, bytes.size(), file));
  EXPECT_EQ(fclose(file), 0);
  return bytes;
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

CapturedRun RunCaptured(const wchar_t* program, const std::wstring& arguments,
                        const std::wstring& local_app_data) {
  const std::wstring out_path =
      WorkDirectory() + L"\\output-" + std::to_wstring(GetCurrentThreadId()) + L".txt";
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  const HANDLE out = CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot create the program's output file";
    return {};
  }
  const std::wstring path = ExeDirectory() + L"\\" + program;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION process{};
  std::wstring environment = local_app_data.empty() ? L"" : EnvironmentWith(local_app_data);
  const bool started = StartInWorkDirectory(path, L"\"" + path + L"\" " + arguments, TRUE,
                                            CREATE_UNICODE_ENVIRONMENT, startup, process,
                                            environment.empty() ? nullptr : environment.data());
  CloseHandle(out);
  if (!started) {
    return {};
  }
  CapturedRun run;
  run.code = WaitForExitCode(process);
  run.output = ReadWholeFile(out_path);
  DeleteFileW(out_path.c_str());
  return run;
}

CheckerRun RunChecker() {
  return RunCaptured(L"profile-check.exe", L"--json sysfile.cfg");
}

}  // namespace e2e
