#pragma once
// Starting a program, with the one start Wine may lose made again.
#include <windows.h>

#include <string>

#include "winlib/status.h"
#include "winlib/unique_handle.h"

namespace winlib {

// What CreateProcessW is given.
struct ProcessStart {
  std::wstring application;   // the program's full path
  std::wstring command_line;  // the whole line, the program's quoted name first
  std::wstring folder;        // where it starts; empty: this process's own folder
  DWORD creation_flags = 0;   // CREATE_SUSPENDED, for one to be put in a job first
  bool inherit_handles = false;
  // A CREATE_UNICODE_ENVIRONMENT block; empty: this process's environment.
  // NOLINTNEXTLINE(readability-redundant-member-init): initializers may leave it out
  std::wstring environment{};
  STARTUPINFOW startup{};  // its standard handles, if any; StartProcess sets cb
};

struct StartedProcess {
  UniqueProcess process;
  UniqueThread thread;
  // Starts Wine lost and that were made again; set whether or not the last
  // start worked.
  int lost_starts = 0;
  // QueryPerformanceCounter just before the start that worked, for whoever
  // times the program from its start.
  LARGE_INTEGER counter_at_start{};
};

// Wine's loader now and then ends a new process before any of its code runs
// (error 1359, ERROR_INTERNAL_ERROR): under Wine only, such a start is made
// again, up to this many starts in all. On Windows that error is a real one.
inline constexpr int kStartAttempts = 3;

// Calls start_once (a start: its Status) until a start works, fails otherwise
// than lost, or kStartAttempts were made; lost_starts counts those made again.
// The last start's status: a start that worked after a lost one is ok.
template <typename StartOnce>
[[nodiscard]] Status StartAgainWhileLost(bool under_wine, int& lost_starts, StartOnce start_once) {
  for (int attempt = 1;; ++attempt) {
    const Status status = start_once();
    if (status.error != ERROR_INTERNAL_ERROR || attempt == kStartAttempts || !under_wine) {
      return status;
    }
    ++lost_starts;
  }
}

// Starts the program; the last start's error if none worked.
[[nodiscard]] Result<StartedProcess> StartProcess(const ProcessStart& start);

// The program a running process runs, as a full path; empty if it has ended
// or cannot be asked.
[[nodiscard]] std::wstring RunningProgram(DWORD process_id);

// DLLs loaded from here on come from System32 alone, never from the
// program's or the current folder: first thing in each tool's main. Its
// static imports were loaded before main; each tool's are KnownDLLs, which
// always come from System32. Without SetDefaultDllDirectories (Windows 7
// lacking KB2533623) the current folder is at least taken out of the search.
[[nodiscard]] bool SearchSystem32Only();

// Whether this process runs under Wine.
[[nodiscard]] bool UnderWine();

}  // namespace winlib
