// The test kit's one program: run-tests.cmd and run-bench.cmd only find it
// and pass their arguments on.
//   kit-runner tests [--gtest_...]...    every suite this machine runs
//   kit-runner bench [ROUNDS] [--seed N] the start-up benchmark
// Around either, KeyGuard backs HKCU\Software\Tessavo up and puts it back.
// Suites work and write their XML in a local folder of the run's own, named
// in ASCII from the suite's point of view (gtest opens its XML by a narrow
// path), and the results are copied to a folder named for the machine, the
// account and the time, so no two runs share one.
#include <windows.h>
// After windows.h, whose types they use.
#include <conio.h>
#include <sddl.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "key_guard.h"

namespace {

constexpr int kPassed = 0;
constexpr int kFailed = 1;
constexpr int kRefused = 2;
constexpr int kNotRestored = 3;

constexpr std::wstring_view kGtestPrefix = L"--gtest_";
// The runner names the XML; a listing or a flag file runs no test.
constexpr std::array<std::wstring_view, 3> kGtestRefused = {
    L"--gtest_output", L"--gtest_list_tests", L"--gtest_flagfile"};
constexpr std::uint32_t kMostRounds = 100000;

volatile LONG interrupted = 0;
kit::KeyGuard* guard_to_end = nullptr;
HANDLE running = nullptr;  // the suite or benchmark under way

// Ctrl+C reaches every program in the console: the suite under way ends, and
// this one stays to put the key back. Closing the window leaves a few
// seconds, enough to end the suite and put the key back at once.
BOOL WINAPI OnControl(DWORD event) {
  InterlockedExchange(&interrupted, 1);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    return TRUE;
  }
  if (running != nullptr) {
    TerminateProcess(running, STATUS_CONTROL_C_EXIT);
  }
  if (guard_to_end != nullptr) {
    guard_to_end->End();
  }
  return FALSE;
}

// The suites and the benchmark die with this program, however it ends: a
// suite left running would go on rewriting the key after its restore.
void EndChildrenWithThisProgram() {
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job == nullptr ||
      SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ==
          FALSE ||
      AssignProcessToJobObject(job, GetCurrentProcess()) == FALSE) {
    // Windows 7 nests no jobs: started inside one, the run goes on without.
    kit::PrintLine(L"kit-runner: cannot put the suites in a job of their own: " +
                   kit::ErrorText(GetLastError()) +
                   L"; if this window is ended, end the suites in it too");
  }
  // The handle stays open until the process ends, which closes the job.
}

std::wstring Environment(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) {
    return {};
  }
  std::wstring value(needed, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), needed));
  return value;
}

std::wstring Folder(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L'\\'));
}

// x64's runner is in the kit folder, x86's in x86\.
std::wstring KitFolder() {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
#ifdef _WIN64
  return Folder(path);
#else
  return Folder(Folder(path));
#endif
}

std::wstring Machine() {
  const std::wstring emulated = Environment(L"PROCESSOR_ARCHITEW6432");
  return emulated.empty() ? Environment(L"PROCESSOR_ARCHITECTURE") : emulated;
}

// The time and the process: two runs started within one second differ.
std::wstring RunStamp() {
  return kit::UtcStamp(L"", L"T", L"") + L"Z-" + std::to_wstring(GetCurrentProcessId());
}

// Machine, domain (or the machine again, for a local account) and user: a
// local and a domain user of one name, or two clones of one VM, never meet.
std::wstring RunName(const std::wstring& stamp) {
  return Environment(L"COMPUTERNAME") + L"-" + Environment(L"USERDOMAIN") + L"-" +
         Environment(L"USERNAME") + L"-" + stamp;
}

bool MakeFolder(const std::wstring& path) {
  return CreateDirectoryW(path.c_str(), nullptr) != FALSE || GetLastError() == ERROR_ALREADY_EXISTS;
}

// gtest joins its XML's name to the working folder, which it reads by a
// narrow path in the ANSI code page; %TEMP% holds the user's name, which may
// be in a script that code page cannot spell.
bool SpelledInAnsi(const std::wstring& path) {
  BOOL lossy = FALSE;
  return GetACP() == CP_UTF8 || (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1,
                                                     nullptr, 0, nullptr, &lossy) > 0 &&
                                 lossy == FALSE);
}

// Local and of this run alone: in %TEMP%, by its short name if need be, else
// in %ProgramData%. Empty if none can be made.
std::wstring WorkFolder(const std::wstring& stamp) {
  std::array<wchar_t, MAX_PATH + 1> path{};
  GetTempPathW(static_cast<DWORD>(path.size()), path.data());
  std::wstring work = std::wstring(path.data()) + L"profile-import-kit-" + stamp;
  if (MakeFolder(work) && SpelledInAnsi(work)) {
    return work;
  }
  const DWORD length =
      GetShortPathNameW(work.c_str(), path.data(), static_cast<DWORD>(path.size()));
  if (length > 0 && length < path.size() && SpelledInAnsi(path.data())) {
    return path.data();
  }
  RemoveDirectoryW(work.c_str());
  // Others may write in %ProgramData%: the folder is made new, for this user
  // and SYSTEM alone, so no one else can put a file in it first.
  work = Environment(L"ProgramData") + L"\\profile-import-kit-" + stamp;
  const std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + kit::CurrentUserSid() + L")";
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr) == FALSE) {
    return {};
  }
  const BOOL made = CreateDirectoryW(work.c_str(), &attributes);
  LocalFree(attributes.lpSecurityDescriptor);
  return made != FALSE ? work : std::wstring();
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more;
       more = FindNextFileW(search, &found) != FALSE) {
    const std::wstring name = static_cast<const wchar_t*>(found.cFileName);
    if (name == L"." || name == L"..") {
      continue;
    }
    std::wstring entry = path;
    entry.append(L"\\").append(name);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      RemoveTree(entry);
    } else {
      SetFileAttributesW(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(entry.c_str());
    }
  }
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return bytes;
  }
  std::array<char, 65536> chunk{};
  DWORD read = 0;
  while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) != FALSE &&
         read != 0) {
    bytes.append(chunk.data(), read);
  }
  CloseHandle(file);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, std::string_view bytes) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return CloseHandle(file) != FALSE && ok != FALSE && written == bytes.size();
}

// An argument as CommandLineToArgvW and the C runtime split it back.
std::wstring Quoted(std::wstring_view arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring_view::npos) {
    return std::wstring(arg);
  }
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  return out.append(backslashes * 2, L'\\') + L"\"";
}

std::wstring CodeText(DWORD code) {
  if (code < 0x10000) {
    return std::to_wstring(code);
  }
  std::wstring hex = L"0x";
  for (int shift = 28; shift >= 0; shift -= 4) {
    hex += L"0123456789ABCDEF"[(code >> shift) & 0xF];
  }
  return hex + L" (" + std::to_wstring(static_cast<std::int32_t>(code)) + L")";
}

struct Started {
  bool ok = false;
  DWORD code = 0;  // the exit code, or the error that kept it from starting
};

// Starts a program in the work folder and waits for it; output, when given,
// receives its standard output and error.
Started RunProgram(const std::wstring& program, const std::wstring& arguments,
                   const std::wstring& folder, HANDLE output) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (output != nullptr) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
  }
  PROCESS_INFORMATION process{};
  // Wine's loader now and then loses a process before any of its code runs
  // (error 1359): only such a start is made again.
  constexpr int kAttempts = 3;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    std::wstring command_line = Quoted(program) + arguments;
    if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr,
                       output != nullptr ? TRUE : FALSE, 0, nullptr, folder.c_str(), &startup,
                       &process) != FALSE) {
      break;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == kAttempts) {
      return {false, error};
    }
  }
  InterlockedExchangePointer(&running, process.hProcess);
  WaitForSingleObject(process.hProcess, INFINITE);
  InterlockedExchangePointer(&running, nullptr);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return {true, code};
}

struct Counts {
  long passed = 0;
  long failed = 0;
  long skipped = 0;
  long incomplete = 0;
};

long Attribute(std::string_view tag, std::string_view name) {
  const std::size_t at = tag.find(" " + std::string(name) + "=\"");
  return at == std::string_view::npos
             ? 0
             : std::strtol(tag.substr(at + name.size() + 3).data(), nullptr, 10);
}

void Replace(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

struct Suite {
  const char* result;       // its XML file and its name in the results
  const wchar_t* program;   // from the kit folder
  const wchar_t* importer;  // from the suite's folder; empty: the one beside it
  const wchar_t* description;
};

std::wstring Wide(std::string_view ascii) {
  return {ascii.begin(), ascii.end()};
}

class TestRun {
 public:
  TestRun(std::wstring kit, std::wstring work, std::wstring results, std::wstring arguments)
      : kit_(std::move(kit)),
        work_(std::move(work)),
        results_(std::move(results)),
        arguments_(std::move(arguments)) {}

  void Run(const Suite& suite) {
    if (interrupted != 0) {
      return;
    }
    kit::PrintLine(suite.description);
    SetEnvironmentVariableW(L"PROFILE_IMPORT_UNDER_TEST",
                            std::wstring_view(suite.importer).empty() ? nullptr : suite.importer);
    const std::string xml_name = std::string(suite.result) + ".xml";
    const std::wstring xml = work_ + L"\\" + Wide(xml_name);
    DeleteFileW(xml.c_str());
    const Started run =
        RunProgram(kit_ + L"\\" + suite.program,
                   L" --gtest_output=xml:" + Wide(xml_name) + arguments_, work_, nullptr);
    if (!run.ok) {
      kit::PrintLine(L"run-tests: " + Wide(suite.result) + L" could not start: " +
                     kit::ErrorText(run.code));
      ++counts_.incomplete;
      return;
    }
    std::string report = ReadFileBytes(xml);
    long failed = 0;
    for (std::size_t at = report.find("<testsuite "); at != std::string::npos;
         at = report.find("<testsuite ", at + 1)) {
      const std::string_view tag = std::string_view(report).substr(at, report.find('>', at) - at);
      const long skipped = Attribute(tag, "skipped") + Attribute(tag, "disabled");
      failed += Attribute(tag, "failures") + Attribute(tag, "errors");
      counts_.passed +=
          Attribute(tag, "tests") - Attribute(tag, "failures") - Attribute(tag, "errors") - skipped;
      counts_.skipped += skipped;
    }
    counts_.failed += failed;
    const bool reported = report.find("<testsuites ") != std::string::npos;
    // Two runs of one suite (against two importers) stay apart in a viewer.
    const std::string prefix = std::string(suite.result) + ".";
    Replace(report, "name=\"AllTests\"", "name=\"" + std::string(suite.result) + "\"");
    Replace(report, "<testsuite name=\"", "<testsuite name=\"" + prefix);
    Replace(report, " classname=\"", " classname=\"" + prefix);
    const bool written = reported && WriteFileBytes(results_ + L"\\" + Wide(xml_name), report);
    if (reported && !written) {
      kit::PrintLine(L"run-tests: cannot write " + results_ + L"\\" + Wide(xml_name));
    } else if (!reported || (run.code != 0 && failed == 0)) {
      kit::PrintLine(L"run-tests: " + Wide(suite.result) + L" ended with exit code " +
                     CodeText(run.code) + L" without reporting its results");
    }
    if (!written || (run.code != 0 && failed == 0)) {
      ++counts_.incomplete;
    }
  }

  const Counts& counts() const { return counts_; }

 private:
  std::wstring kit_;
  std::wstring work_;
  std::wstring results_;
  std::wstring arguments_;
  Counts counts_;
};

// Every importer the machine can run, each by a suite it runs: x64 Windows
// runs x64 and x86 programs, 32-bit Windows x86 only, Windows on ARM ARM64
// and x86 (Windows 10 on ARM runs no x64).
std::vector<Suite> SuitesFor(const std::wstring& machine) {
  const bool x64 = _wcsicmp(machine.c_str(), L"AMD64") == 0;
  std::vector<Suite> suites;
  if (x64) {
    suites.push_back({"unit_tests", L"unit_tests.exe", L"", L"x64 importer: x64 unit tests"});
    suites.push_back({"e2e_tests", L"e2e_tests.exe", L"", L"x64 importer: x64 end-to-end tests"});
  }
  suites.push_back(
      {"x86-unit_tests", L"x86\\unit_tests.exe", L"", L"x86 importer: x86 unit tests"});
  suites.push_back(
      {"x86-e2e_tests", L"x86\\e2e_tests.exe", L"", L"x86 importer: x86 end-to-end tests"});
  // What a 32-bit importer stores, as 64-bit programs read it.
  if (x64) {
    suites.push_back({"x86-importer-x64-e2e_tests", L"e2e_tests.exe", L"x86\\profile-import.exe",
                      L"x86 importer: x64 end-to-end tests"});
  }
  if (_wcsicmp(machine.c_str(), L"ARM64") == 0) {
    suites.push_back({"arm64-importer-x86-e2e_tests", L"x86\\e2e_tests.exe",
                      L"..\\arm64\\profile-import.exe", L"ARM64 importer: x86 end-to-end tests"});
  }
  return suites;
}

bool Digits(std::wstring_view text) {
  return !text.empty() && text.size() <= 9 &&
         text.find_first_not_of(L"0123456789") == std::wstring_view::npos;
}

// The arguments, checked, as they go on to the benchmark or the suites; empty
// with an error message when one is not accepted.
bool BenchArguments(std::span<const std::wstring> args, std::wstring& out) {
  std::wstring rounds = L"200";
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::wstring_view arg = args[i];
    if (arg == L"--seed" && i + 1 < args.size() && Digits(args[i + 1])) {
      out += L" --seed " + args[++i];
    } else if (Digits(arg) && std::wcstoul(arg.data(), nullptr, 10) - 1 < kMostRounds) {
      rounds = arg;
    } else {
      kit::PrintLine(L"run-bench: not accepted: " + Quoted(arg) +
                     L". Usage: run-bench.cmd [ROUNDS] [--seed N], ROUNDS from 1 to 100000");
      return false;
    }
  }
  out = L" --rounds " + rounds + out;
  return true;
}

bool TestArguments(std::span<const std::wstring> args, std::wstring& out) {
  for (const std::wstring& arg : args) {
    const std::wstring_view text = arg;
    if (!text.starts_with(kGtestPrefix) ||
        std::any_of(kGtestRefused.begin(), kGtestRefused.end(),
                    [&text](std::wstring_view refused) { return text.starts_with(refused); })) {
      kit::PrintLine(L"run-tests: not accepted: " + Quoted(text) +
                     L". Only --gtest_ options go on to the suites, for example "
                     L"run-tests.cmd --gtest_filter=ImportEndToEnd.*");
      return false;
    }
    out += L" " + Quoted(text);
  }
  return true;
}

struct ProcessEntry {
  DWORD parent = 0;
  std::wstring name;
};

ProcessEntry FindProcess(HANDLE snapshot, DWORD id) {
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more != FALSE;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == id) {
      return {entry.th32ParentProcessID, static_cast<const wchar_t*>(entry.szExeFile)};
    }
  }
  return {};
}

// A double-click: Explorer started the cmd.exe that runs the command, with /c
// (the command file passes its %CMDCMDLINE% on). A prompt, a script, a
// scheduled task or CI never waits.
bool StartedByExplorer() {
  std::wstring command_line = Environment(L"KIT_CMDCMDLINE");
  CharLowerW(command_line.data());
  if (!Environment(L"CI").empty() || command_line.find(L"/c") == std::wstring::npos) {
    return false;
  }
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return false;
  }
  const ProcessEntry command =
      FindProcess(snapshot, FindProcess(snapshot, GetCurrentProcessId()).parent);
  const ProcessEntry starter = FindProcess(snapshot, command.parent);
  CloseHandle(snapshot);
  return _wcsicmp(starter.name.c_str(), L"explorer.exe") == 0;
}

int Finish(int code) {
  if (StartedByExplorer()) {
    kit::PrintLine(L"Press any key to close this window.");
    static_cast<void>(_getwch());
  }
  return code;
}

int RunTests(const std::wstring& kit_folder, const std::wstring& work, const std::wstring& results,
             const std::wstring& arguments, kit::KeyGuard& guard) {
  const std::wstring machine = Machine();
  kit::PrintLine(L"Machine: " + machine);
  SetEnvironmentVariableW(L"PROFILE_IMPORT_TEST_WORK", (work + L"\\e2e").c_str());
  TestRun run(kit_folder, work, results, arguments);
  for (const Suite& suite : SuitesFor(machine)) {
    run.Run(suite);
  }
  const bool restored = guard.End() == kit::GuardStatus::kReady;
  const Counts& counts = run.counts();
  kit::PrintLine(std::to_wstring(counts.passed) + L" passed, " + std::to_wstring(counts.failed) +
                 L" failed, " + std::to_wstring(counts.skipped) + L" skipped, " +
                 std::to_wstring(counts.incomplete) + L" incomplete");
  kit::PrintLine(L"Results: \"" + results + L"\\\"");
  std::wstring why;
  if (!restored) {
    why = L"; HKCU\\Software\\Tessavo was not put back (see above)";
  }
  if (interrupted != 0) {
    why += L"; interrupted";
  }
  if (counts.passed + counts.failed == 0) {
    why += L"; no test ran (does the filter match any?)";
  }
  if (counts.failed + counts.incomplete != 0) {
    why += L"; tests failed or did not finish";
  }
  kit::PrintLine(why.empty() ? L"run-tests: PASSED" : L"run-tests: FAILED" + why);
  return !restored ? kNotRestored : why.empty() ? kPassed : kFailed;
}

int RunBench(const std::wstring& kit_folder, const std::wstring& work, const std::wstring& results,
             const std::wstring& arguments, kit::KeyGuard& guard) {
  // The x86 benchmark where x64 programs may not run; each other importer
  // against its own architecture's minimal PE.
  const std::wstring machine = Machine();
  std::wstring bench = kit_folder + L"\\bench-startup.exe";
  std::wstring others = L" --arch x86";
  if (_wcsicmp(machine.c_str(), L"AMD64") != 0) {
    bench = kit_folder + L"\\x86\\bench-startup.exe";
    others = _wcsicmp(machine.c_str(), L"ARM64") == 0 ? L" --arch ..\\arm64" : L"";
  }
  const std::wstring report = work + L"\\bench.txt";
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  const HANDLE output = CreateFileW(report.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, 0, nullptr);
  kit::PrintLine(L"run-bench: timing on " + machine +
                 L"; the report follows when the rounds are done");
  const Started run =
      output == INVALID_HANDLE_VALUE ? Started{false, GetLastError()}
      : interrupted != 0             ? Started{false, ERROR_CANCELLED}
                                     : RunProgram(bench,
                                                  arguments + others + L" --work " + Quoted(work + L"\\bench") +
                                                      L" --json " + Quoted(results + L"\\bench.json"),
                                                  work, output);
  if (output != INVALID_HANDLE_VALUE) {
    CloseHandle(output);
  }
  const bool restored = guard.End() == kit::GuardStatus::kReady;
  const std::string text = ReadFileBytes(report);
  const bool kept = WriteFileBytes(results + L"\\bench.txt", text);
  kit::PrintLine(L"Results: \"" + results + L"\\bench.json\", \"" + results + L"\\bench.txt\"" +
                 (kept ? L"" : L" (bench.txt could not be written)"));
  if (!run.ok && interrupted == 0) {
    kit::PrintLine(L"run-bench: cannot start " + bench + L": " + kit::ErrorText(run.code));
  }
  // The report last, so that its last line, the one to quote, ends the output
  // of a run that passed; a failure says so after it.
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
  const int code = !restored ? kNotRestored : run.ok && run.code == 0 ? kPassed : kFailed;
  if (code != kPassed) {
    kit::PrintLine(L"run-bench: FAILED; " +
                   std::wstring(!restored ? L"HKCU\\Software\\Tessavo was not put back (see above)"
                                : interrupted != 0 ? L"interrupted"
                                : !run.ok          ? L"the benchmark did not start"
                                                   : L"a run went wrong (see the report)"));
  }
  return code;
}

// The command line's arguments, then those the command file passed in
// KIT_ARGS, split as a command line is.
std::vector<std::wstring> Arguments(int argc, wchar_t** argv) {
  const std::span<wchar_t*> given(argv, static_cast<std::size_t>(argc));
  std::vector<std::wstring> args(given.begin(), given.end());
  const std::wstring passed = Environment(L"KIT_ARGS");
  int count = 0;
  wchar_t** split = passed.empty() ? nullptr : CommandLineToArgvW((L"x " + passed).c_str(), &count);
  if (split != nullptr) {
    const std::span<wchar_t*> more(split, static_cast<std::size_t>(count));
    args.insert(args.end(), more.begin() + 1, more.end());
    LocalFree(static_cast<void*>(split));
  }
  return args;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::vector<std::wstring> all = Arguments(argc, argv);
  const std::span<const std::wstring> args(all);
  const bool tests = args.size() > 1 && args[1] == L"tests";
  const bool bench = args.size() > 1 && args[1] == L"bench";
  std::wstring arguments;
  if ((!tests && !bench) || !(tests ? TestArguments(args.subspan(2), arguments)
                                    : BenchArguments(args.subspan(2), arguments))) {
    if (!tests && !bench) {
      kit::PrintLine(L"usage: kit-runner tests [--gtest_...]... | bench [ROUNDS] [--seed N]");
    }
    return Finish(kRefused);
  }
  const std::wstring name = tests ? L"run-tests" : L"run-bench";
  SetConsoleCtrlHandler(OnControl, TRUE);
  EndChildrenWithThisProgram();
  const std::wstring kit_folder = KitFolder();
  const std::wstring stamp = RunStamp();
  const std::wstring run_name = RunName(stamp);
  // The suites' work files and their XML.
  const std::wstring work = WorkFolder(stamp);
  // Results beside the kit when its folder can be written, else the user's own.
  std::wstring results = kit_folder + L"\\results";
  if (!MakeFolder(results) || !MakeFolder(results + L"\\" + run_name)) {
    results = Environment(L"LOCALAPPDATA") + L"\\profile-import-kit";
    MakeFolder(results);
    results += L"\\results";
    MakeFolder(results);
  }
  results += L"\\" + run_name;
  if (work.empty() || !MakeFolder(results)) {
    kit::PrintLine(name + L": cannot create a work folder in %TEMP% or %ProgramData%, or \"" +
                   results + L"\"; nothing was run");
    return Finish(kRefused);
  }
  // Static: the console's close handler may use it until the process ends.
  static kit::KeyGuard guard(name);
  const kit::GuardStatus begun = guard.Begin();
  if (begun != kit::GuardStatus::kReady) {
    RemoveTree(work);
    RemoveDirectoryW(results.c_str());
    return Finish(begun == kit::GuardStatus::kRefused ? kRefused : kNotRestored);
  }
  guard_to_end = &guard;
  SetEnvironmentVariableW(kit::kGuardVariable, L"kit-runner");
  const int code = tests ? RunTests(kit_folder, work, results, arguments, guard)
                         : RunBench(kit_folder, work, results, arguments, guard);
  RemoveTree(work);
  return Finish(code);
}
