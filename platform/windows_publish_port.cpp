#include "platform/windows_publish_port.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "winlib/error_text.h"
#include "winlib/paths.h"
#include "winlib/status.h"

namespace profile_import::platform {

// Every Windows number the portable run names, as <windows.h> has it.
static_assert(kPublishOk == ERROR_SUCCESS);
static_assert(kPublishFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kPublishPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kPublishAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kPublishSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(kPublishFileExists == ERROR_FILE_EXISTS);
static_assert(kPublishInvalidData == ERROR_INVALID_DATA);
static_assert(kPublishAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(kPublishNoSuchUser == ERROR_NO_SUCH_USER);
static_assert(kPublishNoneMapped == ERROR_NONE_MAPPED);

namespace {

// CreateDirectoryW's limit: MAX_PATH less room for an 8.3 name in the folder.
// A longer path takes the \\?\ form, which no call cuts.
constexpr std::size_t kShortPathLimit = MAX_PATH - 12;
constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kUncStart = L"\\\\";
constexpr std::wstring_view kLockName = L"\\.profile-publish.lock";
constexpr DWORD kTransferBytes = 64 * 1024;  // one ReadFile or WriteFile
constexpr DWORD kDomainUnits = 256;          // a first try; the call says if it needs more
constexpr std::uint64_t kProgressMilliseconds = 250;

struct LocalMemoryTraits {
  using Raw = HLOCAL;
  static Raw Invalid() { return nullptr; }
  static void Close(Raw raw) { LocalFree(raw); }
};
// What the security calls hand out, for LocalFree.
using UniqueLocal = winlib::UniqueHandle<LocalMemoryTraits>;

PublishError LastError() {
  return winlib::Status::LastError().error;
}

// Paths and names must be UTF-8; a line printed takes U+FFFD for what is not.
winlib::Result<std::wstring> Wide(std::string_view text, DWORD flags = MB_ERR_INVALID_CHARS) {
  winlib::Result<std::wstring> wide;
  if (text.empty()) {
    return wide;
  }
  const auto bytes = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_UTF8, flags, text.data(), bytes, nullptr, 0);
  if (units == 0) {
    wide.status = winlib::Status::LastError();
    return wide;
  }
  wide.value.resize(static_cast<std::size_t>(units));
  if (MultiByteToWideChar(CP_UTF8, flags, text.data(), bytes, wide.value.data(), units) != units) {
    wide.status = winlib::Status::LastError();
  }
  return wide;
}

// A path as the calls take it: full, and in the \\?\ form when it is long,
// which every call then takes as it is, without the MAX_PATH limit.
winlib::Result<std::wstring> PathFor(const std::string& path) {
  winlib::Result<std::wstring> wide = Wide(path);
  if (!wide.ok() || wide.value.starts_with(kLongPrefix)) {
    return wide;
  }
  winlib::Result<std::wstring> full = winlib::FullPath(wide.value);
  if (!full.ok() || full.value.size() < kShortPathLimit) {
    return full;
  }
  if (full.value.starts_with(kUncStart)) {
    full.value.replace(0, kUncStart.size(), kLongUncPrefix);
  } else {
    full.value.insert(0, kLongPrefix);
  }
  return full;
}

PublishError SidText(PSID sid, std::string& text) {
  UniqueLocal wide;
  wchar_t* units = nullptr;
  if (ConvertSidToStringSidW(sid, &units) == FALSE) {
    return LastError();
  }
  wide.reset(units);
  text = Utf8FromWide(units);
  return kPublishOk;
}

// Best effort: output that cannot be written has nowhere else to go.
void WriteConsoleText(HANDLE console, std::wstring_view text) {
  DWORD written = 0;
  static_cast<void>(
      WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
}

}  // namespace

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) {
    return {};
  }
  const auto units = static_cast<int>(text.size());
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) {
    return {};
  }
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text.data(), units, utf8.data(), bytes, nullptr, nullptr) !=
      bytes) {
    return {};
  }
  return utf8;
}

PublishError WindowsPublishPort::ReadFile(const std::string& path,
                                          std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  const winlib::Result<std::wstring> name = PathFor(path);
  if (!name.ok()) {
    return name.status.error;
  }
  // profile-sync may be reading the master; a writer would keep it out.
  const winlib::UniqueFile file(CreateFileW(name.value.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    return LastError();
  }
  for (;;) {
    const std::size_t at = bytes.size();
    bytes.resize(at + kTransferBytes);
    DWORD read = 0;
    if (::ReadFile(file.get(), &bytes[at], kTransferBytes, &read, nullptr) == FALSE) {
      bytes.clear();
      return LastError();
    }
    bytes.resize(at + read);
    if (read == 0) {
      return kPublishOk;
    }
  }
}

PublishError WindowsPublishPort::WriteFileFlushed(const std::string& path,
                                                  std::span<const std::uint8_t> bytes) {
  const winlib::Result<std::wstring> name = PathFor(path);
  if (!name.ok()) {
    return name.status.error;
  }
  winlib::UniqueFile file(CreateFileW(name.value.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return LastError();
  }
  for (std::size_t at = 0; at < bytes.size();) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - at, kTransferBytes));
    DWORD written = 0;
    if (::WriteFile(file.get(), &bytes[at], chunk, &written, nullptr) == FALSE) {
      return LastError();
    }
    if (written == 0) {
      return ERROR_WRITE_FAULT;  // a disk file takes every byte or fails; never loop on none
    }
    at += written;
  }
  if (FlushFileBuffers(file.get()) == FALSE || CloseHandle(file.release()) == FALSE) {
    return LastError();
  }
  return kPublishOk;
}

PublishError WindowsPublishPort::MakeFolder(const std::string& path, const std::string& sddl) {
  const winlib::Result<std::wstring> name = PathFor(path);
  if (!name.ok()) {
    return name.status.error;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
  UniqueLocal descriptor;
  if (!sddl.empty()) {
    const winlib::Result<std::wstring> text = Wide(sddl);
    if (!text.ok()) {
      return text.status.error;
    }
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(text.value.c_str(), SDDL_REVISION_1,
                                                             descriptor.put(), nullptr) == FALSE) {
      return LastError();
    }
    attributes.lpSecurityDescriptor = descriptor.get();
  }
  if (CreateDirectoryW(name.value.c_str(), sddl.empty() ? nullptr : &attributes) == FALSE) {
    return LastError();
  }
  return kPublishOk;
}

PublishError WindowsPublishPort::ListFolder(const std::string& path, bool folders,
                                            std::vector<std::string>& names) {
  names.clear();
  const winlib::Result<std::wstring> name = PathFor(path);
  if (!name.ok()) {
    return name.status.error;
  }
  const std::wstring pattern = name.value + (name.value.ends_with(L'\\') ? L"*" : L"\\*");
  WIN32_FIND_DATAW found{};
  const winlib::UniqueFind search(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                                   FindExSearchNameMatch, nullptr,
                                                   FIND_FIRST_EX_LARGE_FETCH));
  if (!search) {
    const PublishError error = LastError();
    // A drive's root has no "." or "..": there, none found is an empty folder.
    const DWORD attributes = GetFileAttributesW(name.value.c_str());
    return error == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? kPublishOk
               : error;
  }
  do {
    const std::wstring_view entry = &found.cFileName[0];
    const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A folder that is a link (a junction, a symbolic link) is left out: no
    // run made it, and none is led through it to another place. A file that
    // is one is listed: deleting it deletes the link alone.
    const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (folder == folders && entry != L"." && entry != L".." && !(folder && link)) {
      names.push_back(Utf8FromWide(entry));
    }
  } while (FindNextFileW(search.get(), &found) != FALSE);
  const PublishError error = LastError();
  if (error != ERROR_NO_MORE_FILES) {
    names.clear();
    return error;
  }
  return kPublishOk;
}

PublishError WindowsPublishPort::MoveFile(const std::string& from, const std::string& to,
                                          bool replace) {
  const winlib::Result<std::wstring> source = PathFor(from);
  const winlib::Result<std::wstring> target = PathFor(to);
  if (!source.ok() || !target.ok()) {
    return source.ok() ? target.status.error : source.status.error;
  }
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExW(source.value.c_str(), target.value.c_str(), flags) == FALSE) {
    return LastError();
  }
  return kPublishOk;
}

PublishError WindowsPublishPort::DeleteFile(const std::string& path) {
  const winlib::Result<std::wstring> name = PathFor(path);
  if (!name.ok()) {
    return name.status.error;
  }
  return DeleteFileW(name.value.c_str()) != FALSE ? kPublishOk : LastError();
}

PublishError WindowsPublishPort::ReadFolderAcl(const std::string& path, FolderAcl& acl) {
  acl = {};
  const winlib::Result<std::wstring> name = PathFor(path);
  if (!name.ok()) {
    return name.status.error;
  }
  PACL dacl = nullptr;
  UniqueLocal descriptor;
  const DWORD error =
      GetNamedSecurityInfoW(name.value.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, descriptor.put());
  if (error != ERROR_SUCCESS) {
    return error;
  }
  acl.has_dacl = dacl != nullptr;
  for (DWORD index = 0; acl.has_dacl && index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (GetAce(dacl, index, &ace) == FALSE) {
      acl = {};
      return LastError();
    }
    // The four kinds a file's DACL holds share one layout: header, mask,
    // SID. The object kinds are for directory objects, never a file's.
    const BYTE type = static_cast<const ACE_HEADER*>(ace)->AceType;
    const bool allows = type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    if (!allows && type != ACCESS_DENIED_ACE_TYPE && type != ACCESS_DENIED_CALLBACK_ACE_TYPE) {
      continue;
    }
    auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    AclEntry read{{}, allows, entry->Mask};
    const PublishError sid_error = SidText(&entry->SidStart, read.trustee);
    if (sid_error != kPublishOk) {
      acl = {};
      return sid_error;
    }
    acl.entries.push_back(std::move(read));
  }
  return kPublishOk;
}

PublishError WindowsPublishPort::LookupAccount(const std::string& name, std::string& sid) {
  sid.clear();
  const winlib::Result<std::wstring> account = Wide(name);
  if (!account.ok()) {
    return account.status.error;
  }
  std::array<BYTE, SECURITY_MAX_SID_SIZE> sid_bytes{};
  std::wstring domain(kDomainUnits, L'\0');
  for (;;) {
    auto sid_size = static_cast<DWORD>(sid_bytes.size());
    auto domain_size = static_cast<DWORD>(domain.size());
    SID_NAME_USE use = SidTypeUnknown;
    if (LookupAccountNameW(nullptr, account.value.c_str(), sid_bytes.data(), &sid_size,
                           domain.data(), &domain_size, &use) != FALSE) {
      // A group's folder would let every member read the master.
      return use == SidTypeUser ? SidText(sid_bytes.data(), sid) : kPublishNoSuchUser;
    }
    const PublishError error = LastError();
    // The SID always fits; only the domain's name may not.
    if (error != ERROR_INSUFFICIENT_BUFFER || domain_size <= domain.size()) {
      return error;
    }
    domain.resize(domain_size);
  }
}

std::uint64_t WindowsPublishPort::Now() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return std::uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime;
}

void WindowsPublishPort::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

std::string WindowsPublishPort::ErrorText(PublishError error) {
  const std::string text = Utf8FromWide(winlib::ErrorText({error}));
  return text.empty() ? "error " + std::to_string(error) : text;
}

PublishError WindowsPublishPort::LockFolder(const std::string& path) {
  const winlib::Result<std::wstring> folder = PathFor(path);
  if (!folder.ok()) {
    return folder.status.error;
  }
  // Shared with no one, so a second run's open fails with a sharing
  // violation; deleted when the last handle closes, however the process ends.
  winlib::UniqueFile lock(CreateFileW((folder.value + std::wstring(kLockName)).c_str(),
                                      GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!lock) {
    return LastError();
  }
  locks_.push_back(std::move(lock));
  return kPublishOk;
}

void WindowsPublishPort::Print(const std::string& line) {
  if (out_ == nullptr || out_ == INVALID_HANDLE_VALUE) {
    return;
  }
  if (progress_width_ != 0) {
    // The progress line goes, to be drawn again under this one.
    WriteConsoleText(error_, L"\r" + std::wstring(progress_width_, L' ') + L"\r");
    progress_width_ = 0;
  }
  if (out_is_console_) {
    WriteConsoleText(out_, Wide(line, 0).value + L"\r\n");
    return;
  }
  const std::string bytes = line + "\r\n";
  DWORD written = 0;
  static_cast<void>(
      ::WriteFile(out_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

void WindowsPublishPort::Progress(std::size_t done, std::size_t total) {
  if (!error_is_console_) {
    return;
  }
  const bool last = done >= total;
  const std::uint64_t now = GetTickCount64();
  if (!last && now - last_progress_ < kProgressMilliseconds) {
    return;
  }
  last_progress_ = now;
  if (last) {
    // Cleared, so that the summary starts its own line.
    if (progress_width_ != 0) {
      WriteConsoleText(error_, L"\r" + std::wstring(progress_width_, L' ') + L"\r");
    }
    progress_width_ = 0;
    return;
  }
  const std::wstring text = std::to_wstring(done) + L"/" + std::to_wstring(total);
  WriteConsoleText(error_, L"\r" + text);
  progress_width_ = text.size();
}

}  // namespace profile_import::platform
