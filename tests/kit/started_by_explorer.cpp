// Tells the kit's commands whether a double-click in Explorer started them,
// so that only then they wait for a key before their window closes. Given the
// command line of the cmd.exe that runs the command (%CMDCMDLINE%), it exits
// with kStartedByExplorer when that cmd.exe was started with /c (as Explorer
// starts a .cmd file) and by explorer.exe; 1 otherwise: a prompt, another
// program, a scheduled task. The code is one no failed or do-nothing start
// gives (0, 1, 9009), so only a positive answer makes a command wait.
#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <cwchar>
#include <span>

namespace {

// kit-guard.cmd tests for this very number.
constexpr int kStartedByExplorer = 17;
constexpr int kStartedOtherwise = 1;

struct ProcessEntry {
  DWORD parent = 0;
  bool is_explorer = false;
  bool found = false;
};

ProcessEntry FindProcess(HANDLE snapshot, DWORD id) {
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more != FALSE;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == id) {
      return {entry.th32ParentProcessID,
              _wcsicmp(static_cast<const wchar_t*>(entry.szExeFile), L"explorer.exe") == 0, true};
    }
  }
  return {};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool run_with_c = false;
  for (const wchar_t* arg : std::span(argv, static_cast<std::size_t>(argc)).subspan(1)) {
    run_with_c = run_with_c || _wcsicmp(arg, L"/c") == 0;
  }
  if (!run_with_c) {
    return kStartedOtherwise;
  }
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return kStartedOtherwise;
  }
  // This program's parent is the cmd.exe running the command; its parent started it.
  const ProcessEntry command =
      FindProcess(snapshot, FindProcess(snapshot, GetCurrentProcessId()).parent);
  const ProcessEntry starter =
      command.found ? FindProcess(snapshot, command.parent) : ProcessEntry{};
  CloseHandle(snapshot);
  return starter.is_explorer ? kStartedByExplorer : kStartedOtherwise;
}
