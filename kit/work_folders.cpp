#include "kit/work_folders.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <sddl.h>

#include "kit/kit_text.h"
#include "kit/user_lock.h"
#include "winlib/files.h"
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

winlib::UniqueFile OpenNotLink(const std::wstring& path, DWORD access, DWORD share,
                               DWORD disposition, DWORD flags) {
  winlib::UniqueFile file(CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                      flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (file && (GetFileInformationByHandle(file.get(), &info) == FALSE ||
               (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    file.reset();
    SetLastError(ERROR_CANT_ACCESS_FILE);
  }
  return file;
}

winlib::UniqueFile HoldFolder(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr) == FALSE && GetLastError() != ERROR_ALREADY_EXISTS) {
    return {};
  }
  winlib::UniqueFile folder =
      OpenNotLink(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS);
  BY_HANDLE_FILE_INFORMATION info{};
  if (folder && (GetFileInformationByHandle(folder.get(), &info) == FALSE ||
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)) {
    folder.reset();
    SetLastError(ERROR_DIRECTORY);
  }
  return folder;
}

std::wstring WorkFolder(const std::wstring& stamp) {
  const std::wstring temp =
      PathFrom([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
  if (!temp.empty()) {
    // Made new: a folder of this name made first by anything else is not used.
    std::wstring work = temp + L"profile-import-kit-" + stamp;
    if (CreateDirectoryW(work.c_str(), nullptr) == FALSE) {
      work.clear();
    } else if (SpelledInAnsi(work)) {
      return work;
    }
    std::wstring short_name = work.empty() ? work : PathFrom([&work](wchar_t* buffer, DWORD size) {
      return GetShortPathNameW(work.c_str(), buffer, size);
    });
    if (!short_name.empty() && SpelledInAnsi(short_name)) {
      return short_name;
    }
    if (!work.empty()) {
      RemoveDirectoryW(work.c_str());
    }
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
  const winlib::Result<std::wstring> local = LocalKitFolder();
  for (const std::wstring& parent : {kit_folder, local.ok() ? local.value : std::wstring()}) {
    const std::wstring results = parent + L"\\results";
    std::wstring run = results;
    run.append(L"\\").append(run_name);
    // A results folder that is a link would put the run's files where it
    // points: it is held, not a link, while the run's own folder is made new
    // in it, so nothing is in that first.
    const winlib::UniqueFile held = parent.empty() ? winlib::UniqueFile() : HoldFolder(results);
    if (held && CreateDirectoryW(run.c_str(), nullptr) != FALSE) {
      return run;
    }
  }
  return {};
}

namespace {

// Read-only files will not go; a file with other names (hard links) keeps
// its attributes, which are theirs too.
void ClearReadOnly(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0 || info.nNumberOfLinks > 1) {
    return;
  }
  FILE_BASIC_INFO basic{};  // zero times: left as they are
  basic.FileAttributes = info.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (basic.FileAttributes == 0) {
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  }
  SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic));
}

// found_link: the folder's listing already said it is a link.
void RemoveEntry(const std::wstring& path, bool found_link) {
  if (found_link) {
    // The link alone: RemoveDirectoryW and DeleteFileW never reach its target.
    if (RemoveDirectoryW(path.c_str()) == FALSE) {
      DeleteFileW(path.c_str());
    }
    return;
  }
  const winlib::UniqueFile held =
      OpenNotLink(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!held) {
    // Became a link since it was listed: removed as one.
    if (GetLastError() == ERROR_CANT_ACCESS_FILE) {
      RemoveEntry(path, true);
    }
    return;
  }
  if (GetFileInformationByHandle(held.get(), &info) == FALSE) {
    return;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    WIN32_FIND_DATAW found{};
    const winlib::UniqueFind search(FindFirstFileW((path + L"\\*").c_str(), &found));
    for (bool more = static_cast<bool>(search); more;
         more = FindNextFileW(search.get(), &found) != FALSE) {
      const std::wstring name = static_cast<const wchar_t*>(found.cFileName);
      if (name != L"." && name != L"..") {
        std::wstring entry = path;
        entry.append(L"\\").append(name);
        RemoveEntry(entry, (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
      }
    }
  }
  ClearReadOnly(held.get(), info);
  FILE_DISPOSITION_INFO disposition{TRUE};
  SetFileInformationByHandle(held.get(), FileDispositionInfo, &disposition, sizeof(disposition));
}

}  // namespace

void RemoveTree(const std::wstring& path) {
  RemoveEntry(path, false);
}

winlib::Status CopyRunner(const std::string& bytes, const std::wstring& copy) {
  // The same runner, perhaps the very copy running now: left as it is.
  if (winlib::ReadWholeFile(copy).value == bytes) {
    return {};
  }
  // Written under a name of its own, made new (never through a link or a
  // file planted there), then renamed over the copy, which replaces a link
  // there rather than writing through it.
  const std::wstring fresh = copy + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
  winlib::UniqueFile file = OpenNotLink(fresh, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  DWORD written = 0;
  const bool whole = file &&
                     WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                               nullptr) != FALSE &&
                     written == bytes.size() && FlushFileBuffers(file.get()) != FALSE;
  const DWORD error = GetLastError();
  file.reset();
  if (whole && MoveFileExW(fresh.c_str(), copy.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE) {
    return {};
  }
  const winlib::Status failed{whole ? GetLastError() : error};
  DeleteFileW(fresh.c_str());
  return failed;
}

}  // namespace kit
