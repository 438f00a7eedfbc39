#include "work_folders.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <sddl.h>

#include "kit_text.h"
#include "user_lock.h"
#include "winlib/paths.h"
#include "winlib/unique_handle.h"

namespace kit {

namespace {

// gtest joins its XML's name to the working folder, which it reads by a
// narrow path in the ANSI code page; %TEMP% holds the user's name, which may
// be in a script that code page cannot spell.
bool SpelledInAnsi(const std::wstring& path) {
  BOOL lossy = FALSE;
  return GetACP() == CP_UTF8 || (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1,
                                                     nullptr, 0, nullptr, &lossy) > 0 &&
                                 lossy == FALSE);
}

// A path from a call that, given too small a buffer, gives the size it needs
// (NUL included) and, given one large enough, the length it wrote. Empty if
// the call fails.
template <typename Call>
std::wstring PathFrom(Call call) {
  std::wstring path(call(nullptr, 0), L'\0');
  const DWORD length = call(path.data(), static_cast<DWORD>(path.size()));
  path.resize(length < path.size() ? length : 0);
  return path;
}

}  // namespace

std::wstring KitFolder(const std::wstring& program) {
#ifdef _WIN64
  return winlib::ParentFolder(program);
#else
  return winlib::ParentFolder(winlib::ParentFolder(program));
#endif
}

bool MakeFolder(const std::wstring& path) {
  return CreateDirectoryW(path.c_str(), nullptr) != FALSE || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::wstring WorkFolder(const std::wstring& stamp) {
  const std::wstring temp =
      PathFrom([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
  if (!temp.empty()) {
    std::wstring work = temp + L"profile-import-kit-" + stamp;
    if (MakeFolder(work) && SpelledInAnsi(work)) {
      return work;
    }
    std::wstring short_name = PathFrom([&work](wchar_t* buffer, DWORD size) {
      return GetShortPathNameW(work.c_str(), buffer, size);
    });
    if (!short_name.empty() && SpelledInAnsi(short_name)) {
      return short_name;
    }
    RemoveDirectoryW(work.c_str());
  }
  // Others may write in %ProgramData%: the folder is made new, for this user
  // and SYSTEM alone, so no one else can put a file in it first.
  const std::wstring work = Environment(L"ProgramData") + L"\\profile-import-kit-" + stamp;
  const std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + CurrentUserSid() + L")";
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr) == FALSE) {
    return {};
  }
  const BOOL made = CreateDirectoryW(work.c_str(), &attributes);
  LocalFree(attributes.lpSecurityDescriptor);
  return made != FALSE ? work : std::wstring();
}

std::wstring ResultsFolder(const std::wstring& kit_folder, const std::wstring& run_name) {
  for (const std::wstring& parent : {kit_folder, LocalKitFolder()}) {
    const std::wstring results = parent + L"\\results";
    std::wstring run = results;
    run.append(L"\\").append(run_name);
    // A results folder that is a link would put the run's files where it
    // points; the run's own folder is made new, so nothing is in it first.
    const bool made = !parent.empty() && MakeFolder(results);
    const DWORD attributes = made ? GetFileAttributesW(results.c_str()) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
        CreateDirectoryW(run.c_str(), nullptr) != FALSE) {
      return run;
    }
  }
  return {};
}

void RemoveTree(const std::wstring& path) {
  {
    WIN32_FIND_DATAW found{};
    const winlib::UniqueFind search(FindFirstFileW((path + L"\\*").c_str(), &found));
    for (bool more = static_cast<bool>(search); more;
         more = FindNextFileW(search.get(), &found) != FALSE) {
      const std::wstring name = static_cast<const wchar_t*>(found.cFileName);
      if (name == L"." || name == L"..") {
        continue;
      }
      std::wstring entry = path;
      entry.append(L"\\").append(name);
      const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (folder && link) {
        RemoveDirectoryW(entry.c_str());  // the link alone
      } else if (folder) {
        RemoveTree(entry);
      } else {
        if (!link) {
          SetFileAttributesW(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        DeleteFileW(entry.c_str());
      }
    }
  }  // the search closed, or the folder would not go
  RemoveDirectoryW(path.c_str());
}

}  // namespace kit
