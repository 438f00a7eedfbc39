#include "winlib/process.h"

namespace winlib {

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

Result<StartedProcess> StartProcess(const ProcessStart& start) {
  Result<StartedProcess> result;
  StartedProcess& started = result.value;
  STARTUPINFOW startup = start.startup;
  startup.cb = sizeof(startup);
  const wchar_t* folder = start.folder.empty() ? nullptr : start.folder.c_str();
  // The call takes the block through a pointer to non-const.
  std::wstring environment = start.environment;
  for (int attempt = 1;; ++attempt) {
    // CreateProcessW may write to the command line it is given.
    std::wstring command_line = start.command_line;
    PROCESS_INFORMATION process{};
    QueryPerformanceCounter(&started.counter_at_start);
    if (CreateProcessW(start.application.c_str(), command_line.data(), nullptr, nullptr,
                       start.inherit_handles ? TRUE : FALSE, start.creation_flags,
                       environment.empty() ? nullptr : environment.data(), folder, &startup,
                       &process) != FALSE) {
      started.process.reset(process.hProcess);
      started.thread.reset(process.hThread);
      return result;
    }
    result.status = Status::LastError();
    if (result.status.error != ERROR_INTERNAL_ERROR || attempt == kStartAttempts || !UnderWine()) {
      return result;
    }
    ++started.lost_starts;
  }
}

}  // namespace winlib
