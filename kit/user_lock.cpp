#include "kit/user_lock.h"

#include <sddl.h>

#include <array>
#include <cwchar>
#include <string_view>

#include "kit/kit_text.h"
#include "kit/work_folders.h"
#include "winlib/process.h"
#include "winlib/unique_handle.h"

namespace kit {

namespace {

// How a holder's text begins: its process id follows.
constexpr std::wstring_view kHolderPrefix = L"process ";

bool ServiceAccount(PSID sid) {
  return IsWellKnownSid(sid, WinLocalSystemSid) != FALSE ||
         IsWellKnownSid(sid, WinLocalServiceSid) != FALSE ||
         IsWellKnownSid(sid, WinNetworkServiceSid) != FALSE;
}

// Who holds the lock, as the holder wrote it into the file.
std::wstring Holder(const std::wstring& path) {
  // Read access only, sharing everything: the holder shares reading.
  const winlib::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
  std::array<wchar_t, 256> text{};
  DWORD read = 0;
  if (!file ||
      ReadFile(file.get(), text.data(), static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t)),
               &read, nullptr) == FALSE) {
    return L"a program that does not say which";
  }
  return {text.data(), read / sizeof(wchar_t)};
}

// Whether the process the holder's text names is still a kit run: an
// antivirus or backup program may hold the file open for a moment too.
bool HeldByRun(const std::wstring& holder) {
  if (holder.rfind(kHolderPrefix, 0) != 0) {
    return false;
  }
  const std::wstring id = holder.substr(kHolderPrefix.size());
  const std::wstring program =
      winlib::RunningProgram(static_cast<DWORD>(std::wcstoul(id.c_str(), nullptr, 10)));
  // Past the last backslash; the whole path if there is none.
  const std::wstring name = program.substr(program.find_last_of(L'\\') + 1);
  return _wcsicmp(name.c_str(), L"kit-runner.exe") == 0;
}

}  // namespace

std::wstring CurrentUserSid() {
  winlib::UniqueToken token;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) == FALSE) {
    return {};
  }
  alignas(TOKEN_USER) std::array<BYTE, 256> buffer{};
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token.get(), TokenUser, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), &size);
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  wchar_t* text = nullptr;
  if (read == FALSE || ServiceAccount(sid) || ConvertSidToStringSidW(sid, &text) == FALSE) {
    return {};
  }
  std::wstring out(text);
  LocalFree(text);
  return out;
}

winlib::Result<std::wstring> LocalKitFolder() {
  const std::wstring local = Environment(L"LOCALAPPDATA");
  if (local.empty()) {
    return {{ERROR_ENVVAR_NOT_FOUND}};
  }
  const std::wstring folder = local + L"\\profile-import-kit";
  if (!HoldFolder(folder)) {
    return {winlib::Status::LastError()};
  }
  return {{}, folder};
}

winlib::Result<LockStatus> UserLock::Take(std::wstring& holder) {
  const winlib::Result<std::wstring> folder = LocalKitFolder();
  if (!folder.ok()) {
    return {folder.status};
  }
  const std::wstring path = folder.value + L"\\run.lock";
  // Made new and deleted when closed (a crash or a logoff closes it too):
  // never a file or link put there first. Writing and deleting not shared:
  // a second run's open fails while this one holds it.
  const DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE;
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE;
  file_ = OpenNotLink(path, access, FILE_SHARE_READ, CREATE_NEW, flags);
  if (!file_ && GetLastError() == ERROR_FILE_EXISTS) {
    // Left by a power loss, or planted: deleted as itself, a link too, once
    // no run holds it, and made again.
    winlib::UniqueFile stale =
        OpenNotLink(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    DWORD error = stale ? ERROR_SUCCESS : GetLastError();
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (error == ERROR_CANT_ACCESS_FILE) {
      error = DeleteFileW(path.c_str()) != FALSE ? ERROR_SUCCESS : GetLastError();
    } else if (stale && SetFileInformationByHandle(stale.get(), FileDispositionInfo, &disposition,
                                                   sizeof(disposition)) == FALSE) {
      error = GetLastError();
    }
    stale.reset();
    if (error == ERROR_SUCCESS) {
      file_ = OpenNotLink(path, access, FILE_SHARE_READ, CREATE_NEW, flags);
    } else {
      SetLastError(error);
    }
  }
  if (!file_) {
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION) {
      return {{error}};
    }
    holder = Holder(path);
    if (!HeldByRun(holder)) {
      holder = path;
      return {{}, LockStatus::Busy};
    }
    return {{}, LockStatus::Held};
  }
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  const std::wstring text = std::wstring(kHolderPrefix) + std::to_wstring(GetCurrentProcessId()) +
                            L" in session " + std::to_wstring(session) + L", started " +
                            UtcStamp(L"-", L" ", L":") + L" UTC";
  DWORD written = 0;
  WriteFile(file_.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written,
            nullptr);
  return {{}, LockStatus::Taken};
}

}  // namespace kit
