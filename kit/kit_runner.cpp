// The test kit's one program: run-tests.cmd and run-bench.cmd only find it
// and pass their arguments on.
//   kit-runner tests [--gtest_...]...    every suite this machine runs
//   kit-runner bench [ROUNDS] [--seed N] the start-up benchmark
//   kit-runner restore                   puts back what a cut-short run left
//                                        (what the Run value runs at logon)
// Around the first two, KeyGuard backs HKCU\Software\Tessavo up and puts it
// back, and RunControl keeps what they start in hand. Suites work and write
// their XML in a local folder of the run's own, named in ASCII from the
// suite's point of view (gtest opens its XML by a narrow path), and the
// results are copied to a folder named for the machine, the account and the
// time, so no two runs share one.
#include <windows.h>
// After windows.h, whose types they use.
#include <conio.h>
#include <tlhelp32.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kit/junit_counts.h"
#include "kit/key_guard.h"
#include "kit/kit_folder.h"
#include "kit/kit_text.h"
#include "kit/run_arguments.h"
#include "kit/run_control.h"
#include "kit/work_folders.h"
#include "project_env.h"
#include "winlib/files.h"
#include "winlib/key_guard_variable.h"
#include "winlib/paths.h"
#include "winlib/process.h"
#include "winlib/unique_handle.h"

namespace {

using kit::Counts;
using kit::PrintLine;

constexpr int kPassed = 0;
constexpr int kFailed = 1;
constexpr int kRefused = 2;
constexpr int kNotRestored = 3;
// Outside 0 to 3, which the launcher passes on: it says the runner ended
// abnormally. abort()'s own code, 3, would read as "not put back".
constexpr int kCrashed = 4;

// A crash (out of memory, a failed check) ends with kCrashed; the backup and
// the Run value stay for the next run or logon to restore.
[[noreturn]] void EndCrashed() {
  std::_Exit(kCrashed);
}

// Set before the key is backed up; the console's handler ends the run through it.
kit::RunControl* volatile control = nullptr;

// Ctrl+C reaches every program in the console; this one ends every program
// of the run and stays to put the key back. Closing the window leaves a few
// seconds, enough to end them and put the key back at once.
BOOL WINAPI OnControl(DWORD event) {
  kit::RunControl* const run = control;
  if (run == nullptr) {
    return FALSE;
  }
  run->Interrupt();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    return TRUE;
  }
  run->End();
  return FALSE;
}

std::wstring Machine() {
  const std::wstring emulated = kit::Environment(L"PROCESSOR_ARCHITEW6432");
  return emulated.empty() ? kit::Environment(L"PROCESSOR_ARCHITECTURE") : emulated;
}

// The time and the process: two runs started within one second differ.
std::wstring RunStamp() {
  return kit::UtcStamp(L"", L"T", L"") + L"Z-" + std::to_wstring(GetCurrentProcessId());
}

// Machine, domain (or the machine again, for a local account) and user: a
// local and a domain user of one name, or two clones of one VM, never meet.
std::wstring RunName(const std::wstring& stamp) {
  return kit::Environment(L"COMPUTERNAME") + L"-" + kit::Environment(L"USERDOMAIN") + L"-" +
         kit::Environment(L"USERNAME") + L"-" + stamp;
}

struct Suite {
  const char* result;       // its XML file and its name in the results
  const wchar_t* program;   // from the kit folder
  const wchar_t* importer;  // from the suite's folder; empty: the one beside it
  const wchar_t* description;
};

class TestRun {
 public:
  TestRun(kit::RunControl& control, std::wstring kit, std::wstring work, std::wstring results,
          std::wstring arguments)
      : control_(control),
        kit_(std::move(kit)),
        work_(std::move(work)),
        results_(std::move(results)),
        arguments_(std::move(arguments)) {}

  void Run(const Suite& suite) {
    if (control_.interrupted()) {
      return;
    }
    PrintLine(suite.description);
    SetEnvironmentVariableW(profile_import::project_env::kUnderTestVariable,
                            std::wstring_view(suite.importer).empty() ? nullptr : suite.importer);
    const std::string xml_name = std::string(suite.result) + ".xml";
    const std::wstring xml = work_ + L"\\" + kit::Wide(xml_name);
    DeleteFileW(xml.c_str());
    const winlib::Result<DWORD> run =
        control_.Run(kit_ + L"\\" + suite.program,
                     L" --gtest_output=xml:" + kit::Wide(xml_name) + arguments_, work_, nullptr);
    if (!run.ok()) {
      if (run.status.error != ERROR_CANCELLED) {
        PrintLine(L"run-tests: " + kit::Wide(suite.result) + L" could not start: " +
                  kit::ErrorText(run.status));
        ++counts_.incomplete;
      }
      return;
    }
    std::string text = winlib::ReadWholeFile(xml).value;
    const kit::Report report = kit::ReadReport(text);
    counts_.passed += report.counts.passed;
    counts_.failed += report.counts.failed;
    counts_.skipped += report.counts.skipped;
    kit::NameApart(text, suite.result);
    const bool written = report.complete &&
                         winlib::WriteWholeFile(results_ + L"\\" + kit::Wide(xml_name), text).ok();
    const bool unexplained = run.value != 0 && report.counts.failed == 0;
    if (report.complete && !written) {
      PrintLine(L"run-tests: cannot write " + results_ + L"\\" + kit::Wide(xml_name));
    } else if (!report.complete || unexplained) {
      PrintLine(L"run-tests: " + kit::Wide(suite.result) + L" ended with exit code " +
                kit::CodeText(run.value) + L" without reporting its results");
    }
    if (!written || unexplained) {
      ++counts_.incomplete;
    }
  }

  const Counts& counts() const { return counts_; }

 private:
  kit::RunControl& control_;
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
  std::wstring command_line = kit::Environment(L"KIT_CMDCMDLINE");
  CharLowerW(command_line.data());
  if (!kit::Environment(L"CI").empty() || command_line.find(L"/c") == std::wstring::npos) {
    return false;
  }
  const winlib::UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    return false;
  }
  const ProcessEntry command =
      FindProcess(snapshot.get(), FindProcess(snapshot.get(), GetCurrentProcessId()).parent);
  const ProcessEntry starter = FindProcess(snapshot.get(), command.parent);
  return _wcsicmp(starter.name.c_str(), L"explorer.exe") == 0;
}

int Finish(int code) {
  if (StartedByExplorer()) {
    PrintLine(L"Press any key to close this window.");
    static_cast<void>(_getwch());
  }
  return code;
}

int RunTests(kit::RunControl& control, const std::wstring& kit_folder, const std::wstring& work,
             const std::wstring& results, const std::wstring& arguments) {
  const std::wstring machine = Machine();
  PrintLine(L"Machine: " + machine);
  SetEnvironmentVariableW(profile_import::project_env::kTestWorkVariable,
                          (work + L"\\e2e").c_str());
  TestRun run(control, kit_folder, work, results, arguments);
  for (const Suite& suite : SuitesFor(machine)) {
    run.Run(suite);
  }
  const bool restored = control.End() == kit::GuardStatus::Ready;
  const Counts& counts = run.counts();
  PrintLine(std::to_wstring(counts.passed) + L" passed, " + std::to_wstring(counts.failed) +
            L" failed, " + std::to_wstring(counts.skipped) + L" skipped, " +
            std::to_wstring(counts.incomplete) + L" incomplete");
  PrintLine(L"Results: \"" + results + L"\\\"");
  std::wstring why;
  if (!restored) {
    why = L"; HKCU\\Software\\Tessavo was not put back (see above)";
  }
  if (control.interrupted()) {
    why += L"; interrupted";
  }
  if (counts.passed + counts.failed == 0) {
    why += L"; no test ran (does the filter match any?)";
  }
  if (counts.failed + counts.incomplete != 0) {
    why += L"; tests failed or did not finish";
  }
  PrintLine(why.empty() ? L"run-tests: PASSED" : L"run-tests: FAILED" + why);
  return !restored ? kNotRestored : why.empty() ? kPassed : kFailed;
}

int RunBench(kit::RunControl& control, const std::wstring& kit_folder, const std::wstring& work,
             const std::wstring& results, const std::wstring& arguments) {
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
  winlib::UniqueFile output(CreateFileW(report.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                        CREATE_ALWAYS, 0, nullptr));
  PrintLine(L"run-bench: timing on " + machine + L"; the report follows when the rounds are done");
  const winlib::Result<DWORD> run =
      !output ? winlib::Result<DWORD>{winlib::Status::LastError()}
              : control.Run(bench,
                            arguments + others + L" --work " + kit::Quoted(work + L"\\bench") +
                                L" --json " + kit::Quoted(results + L"\\bench.json"),
                            work, output.get());
  output.reset();
  const bool restored = control.End() == kit::GuardStatus::Ready;
  const std::string text = winlib::ReadWholeFile(report).value;
  const bool kept = winlib::WriteWholeFile(results + L"\\bench.txt", text).ok();
  PrintLine(L"Results: \"" + results + L"\\bench.json\", \"" + results + L"\\bench.txt\"" +
            (kept ? L"" : L" (bench.txt could not be written)"));
  if (!run.ok() && !control.interrupted()) {
    PrintLine(L"run-bench: cannot start " + bench + L": " + kit::ErrorText(run.status));
  }
  // The report last, so that its last line, the one to quote, ends the output
  // of a run that passed; a failure says so after it.
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
  const int code = !restored ? kNotRestored : run.ok() && run.value == 0 ? kPassed : kFailed;
  if (code != kPassed) {
    PrintLine(L"run-bench: FAILED; " +
              std::wstring(!restored ? L"HKCU\\Software\\Tessavo was not put back (see above)"
                           : control.interrupted() ? L"interrupted"
                           : !run.ok()             ? L"the benchmark did not start"
                                                   : L"a run went wrong (see the report)"));
  }
  return code;
}

struct Verb {
  std::wstring_view word;
  const wchar_t* command;  // at the head of what it prints
  bool (*accept)(std::span<const std::wstring>, std::wstring&);
  int (*run)(kit::RunControl&, const std::wstring&, const std::wstring&, const std::wstring&,
             const std::wstring&);
};

bool NoArguments(std::span<const std::wstring> args, std::wstring& /*out*/) {
  return args.empty();
}

constexpr std::array<Verb, 3> kVerbs = {{
    {L"tests", L"run-tests", kit::TestArguments, RunTests},
    {L"bench", L"run-bench", kit::BenchArguments, RunBench},
    {L"restore", L"kit-runner", NoArguments, nullptr},
}};

int GuardCode(kit::GuardStatus status) {
  return status == kit::GuardStatus::Ready     ? kPassed
         : status == kit::GuardStatus::Refused ? kRefused
                                               : kNotRestored;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (!winlib::SearchSystem32Only()) {
    PrintLine(L"kit-runner: cannot keep DLLs to System32: " + kit::ErrorText(GetLastError()) +
              L"; nothing was run");
    return kRefused;
  }
  std::set_terminate(EndCrashed);
  static_cast<void>(std::signal(SIGABRT, [](int /*signal*/) { EndCrashed(); }));
  const std::vector<std::wstring> all = kit::Arguments(argc, argv);
  const std::span<const std::wstring> args(all);
  const auto* const known = std::find_if(kVerbs.begin(), kVerbs.end(), [&args](const Verb& verb) {
    return args.size() > 1 && args[1] == verb.word;
  });
  const Verb* verb = known != kVerbs.end() ? known : nullptr;
  std::wstring arguments;
  if (verb == nullptr) {
    PrintLine(L"usage: kit-runner tests [--gtest_...]... | bench [ROUNDS] [--seed N] | restore");
  }
  if (verb == nullptr || !verb->accept(args.subspan(2), arguments)) {
    return Finish(kRefused);
  }
  const winlib::Result<std::wstring> program = winlib::ProgramPath();
  if (!program.ok()) {
    PrintLine(std::wstring(verb->command) + L": cannot tell where it is: " +
              kit::ErrorText(program.status.error) + L"; nothing was run");
    return Finish(kRefused);
  }
  // Before anything else: what the run starts must be the tester's alone.
  // The restore runs the runner's own copy; the suites and the benchmark,
  // the kit's programs too.
  std::vector<std::wstring> folders = {winlib::ParentFolder(program.value)};
  if (verb->run != nullptr && kit::KitFolder(program.value) != folders.front()) {
    folders.push_back(kit::KitFolder(program.value));
  }
  for (const std::wstring& folder : folders) {
    const winlib::Result<kit::FolderCheck> check = kit::CheckKitFolder(folder);
    if (!kit::MayRunFrom(check)) {
      PrintLine(std::wstring(verb->command) + L": " + kit::FolderRefusal(folder, check));
      return Finish(kRefused);
    }
  }
  // Static: the console's close handler may use them until the process ends.
  static kit::KeyGuard guard(verb->command, program.value);
  static kit::RunControl run(guard);
  if (verb->run == nullptr) {
    const int code = GuardCode(guard.Recover());
    guard.Unlock();
    return code;
  }
  const winlib::Status job = run.MakeJob();
  if (!job.ok()) {
    PrintLine(std::wstring(verb->command) + L": cannot make a job for the run's programs: " +
              kit::ErrorText(job) + L"; nothing was run");
    return Finish(kRefused);
  }
  const std::wstring kit_folder = kit::KitFolder(program.value);
  const std::wstring stamp = RunStamp();
  // The suites' work files and their XML.
  const std::wstring work = kit::WorkFolder(stamp);
  const std::wstring results = kit::ResultsFolder(kit_folder, RunName(stamp));
  if (work.empty() || results.empty()) {
    PrintLine(std::wstring(verb->command) +
              L": cannot create a work folder in %TEMP% or %ProgramData%, or a results folder "
              L"beside the kit or in %LOCALAPPDATA%; nothing was run");
    return Finish(kRefused);
  }
  // Before the backup, so that a window closed during it, or during the
  // restore of an earlier run's, waits for it to end and then restores.
  control = &run;
  SetConsoleCtrlHandler(OnControl, TRUE);
  const kit::GuardStatus begun = run.Begin();
  if (begun != kit::GuardStatus::Ready) {
    guard.Unlock();
    kit::RemoveTree(work);
    RemoveDirectoryW(results.c_str());
    return Finish(GuardCode(begun));
  }
  SetEnvironmentVariableW(winlib::kKeyGuardVariable, L"kit-runner");
  const int code = verb->run(run, kit_folder, work, results, arguments);
  kit::RemoveTree(work);
  // Another run may start while this window waits for a key.
  guard.Unlock();
  return Finish(code);
}
