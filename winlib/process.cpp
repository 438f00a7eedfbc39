#include "winlib/process.h"

namespace winlib {

std::wstring RunningProgram(DWORD process_id) {
  const UniqueProcess process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  DWORD code = 0;
  if (!process || GetExitCodeProcess(process.get(), &code) == FALSE || code != STILL_ACTIVE) {
    return {};
  }
  // Long paths reach 32,767 characters.
  std::wstring path(UNICODE_STRING_MAX_CHARS, L'\0');
  auto size = static_cast<DWORD>(path.size());
  path.resize(QueryFullProcessImageNameW(process.get(), 0, path.data(), &size) != FALSE ? size : 0);
  return path;
}

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
  result.status = StartAgainWhileLost(UnderWine(), started.lost_starts, [&] {
    // CreateProcessW may write to the command line it is given.
    std::wstring command_line = start.command_line;
    PROCESS_INFORMATION process{};
    QueryPerformanceCounter(&started.counter_at_start);
    if (CreateProcessW(start.application.c_str(), command_line.data(), nullptr, nullptr,
                       start.inherit_handles ? TRUE : FALSE, start.creation_flags,
                       environment.empty() ? nullptr : environment.data(), folder, &startup,
                       &process) == FALSE) {
      return Status::LastError();
    }
    started.process.reset(process.hProcess);
    started.thread.reset(process.hThread);
    return Status{};
  });
  return result;
}

bool SearchSystem32Only() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  // By address: a static import of it would keep the tool from starting
  // where it is missing.
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  const auto set = kernel32 == nullptr ? nullptr
                                       : reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
                                             GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  return set != nullptr ? set(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE
                        : SetDllDirectoryW(L"") != FALSE;
}

}  // namespace winlib
