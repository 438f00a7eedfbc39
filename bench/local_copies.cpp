#include "bench/local_copies.h"

#include <windows.h>

#include <algorithm>

#include "bench/bench_text.h"
#include "winlib/status.h"

namespace bench {

bool OnNetworkDrive(const std::wstring& folder) {
  if (folder.starts_with(L"\\\\")) {
    return true;
  }
  // The volume's path is never longer than the path it was asked of.
  std::wstring root(folder.size() + 1, L'\0');
  return GetVolumePathNameW(folder.c_str(), root.data(), static_cast<DWORD>(root.size())) !=
             FALSE &&
         GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
}

bool TimeLocalCopies(const std::vector<Program*>& programs, const std::wstring& own,
                     const std::wstring& local, std::vector<std::wstring>& made) {
  if (CreateDirectoryW(local.c_str(), nullptr) != FALSE) {
    made.push_back(local);
  }
  const std::wstring below = local + L"\\";
  for (Program* program : programs) {
    std::wstring relative = program->application.substr(own.size() + 1);
    while (relative.starts_with(L"..\\")) {
      relative.erase(0, 3);
    }
    const std::wstring copy = below + relative;
    for (std::size_t at = relative.find(L'\\'); at != std::wstring::npos;
         at = relative.find(L'\\', at + 1)) {
      const std::wstring folder = below + relative.substr(0, at);
      if (CreateDirectoryW(folder.c_str(), nullptr) != FALSE) {
        made.push_back(folder);
      }
    }
    // The importer is timed twice, with and without a hand-off file: one copy.
    if (std::find(made.begin(), made.end(), copy) == made.end()) {
      if (CopyFileW(program->application.c_str(), copy.c_str(), FALSE) == FALSE) {
        const winlib::Status status = winlib::Status::LastError();
        Print("bench-startup: cannot copy " + Narrow(program->application) + " to " + Narrow(copy) +
              ": " + ErrorDescription(status) + "\n");
        return false;
      }
      made.push_back(copy);
      // A read-only file on the share must still be deletable here.
      SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    // The quoted path is replaced; any arguments after it stay.
    const std::wstring arguments = program->command_line.substr(program->application.size() + 2);
    program->application = copy;
    program->command_line = L"\"" + copy + L"\"";
    program->command_line += arguments;
  }
  return true;
}

}  // namespace bench
