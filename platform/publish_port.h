#pragma once
// The Windows calls profile-publish makes, behind one interface, so that the
// unit tests' fake can fail any of them, or stop the run at any of them as a
// kill would. Paths and names are UTF-8 here; the Windows side converts them.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace profile_import::platform {

// A Win32 error code, as GetLastError gives it; kPublishOk when the call did
// what it says. Each one the run tells apart is named once here (the Windows
// build checks every one against <windows.h>).
using PublishError = std::uint32_t;
inline constexpr PublishError kPublishOk = 0;
inline constexpr PublishError kPublishFileNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr PublishError kPublishPathNotFound = 3;       // ERROR_PATH_NOT_FOUND
inline constexpr PublishError kPublishAccessDenied = 5;       // ERROR_ACCESS_DENIED
inline constexpr PublishError kPublishSharingViolation = 32;  // ERROR_SHARING_VIOLATION
inline constexpr PublishError kPublishFileExists = 80;        // ERROR_FILE_EXISTS
inline constexpr PublishError kPublishInvalidData = 13;       // ERROR_INVALID_DATA
inline constexpr PublishError kPublishAlreadyExists = 183;    // ERROR_ALREADY_EXISTS
inline constexpr PublishError kPublishNoSuchUser = 1317;      // ERROR_NO_SUCH_USER
inline constexpr PublishError kPublishNoneMapped = 1332;      // ERROR_NONE_MAPPED

// One entry of a folder's DACL, its trustee as an S-1-… text.
struct AclEntry {
  std::string trustee;
  bool allows = false;  // deny entries only take rights away
  std::uint32_t mask = 0;
};

struct FolderAcl {
  bool has_dacl = false;  // none: everyone may do everything
  std::vector<AclEntry> entries;
};

// NOLINTNEXTLINE(cppcoreguidelines-special-member-functions): an interface, never copied
class PublishPort {
 public:
  virtual ~PublishPort() = default;

  // Every byte of the file; kPublishFileNotFound or kPublishPathNotFound
  // when there is none.
  virtual PublishError ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes) = 0;
  // Makes the file, or empties the one there, writes every byte, flushes it
  // to disk and closes it.
  virtual PublishError WriteFileFlushed(const std::string& path,
                                        std::span<const std::uint8_t> bytes) = 0;
  // Makes a folder with the DACL an SDDL text gives (empty: its parent's,
  // inherited); kPublishAlreadyExists when there is one, left as it is.
  virtual PublishError MakeFolder(const std::string& path, const std::string& sddl) = 0;
  // The names in a folder (no "." or ".."): its subfolders', or its files'.
  virtual PublishError ListFolder(const std::string& path, bool folders,
                                  std::vector<std::string>& names) = 0;
  // Renames a file, over the one at `to` when `replace`; never half done.
  virtual PublishError MoveFile(const std::string& from, const std::string& to, bool replace) = 0;
  virtual PublishError DeleteFile(const std::string& path) = 0;
  virtual PublishError ReadFolderAcl(const std::string& path, FolderAcl& acl) = 0;
  // The SID a DOMAIN\name or name@domain stands for, as S-1-… text;
  // kPublishNoneMapped when no account has that name, kPublishNoSuchUser
  // when it names a group, a computer or a well-known account, not a user.
  virtual PublishError LookupAccount(const std::string& name, std::string& sid) = 0;

  // The time now, as a FILETIME (100 ns since 1601, UTC).
  virtual std::uint64_t Now() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // The system's text for an error ("Access is denied"), without a full stop.
  virtual std::string ErrorText(PublishError error) = 0;
  // Keeps any other run from writing under the folder until this process
  // ends: a file in it that no one else may open, gone when the process is.
  virtual PublishError LockFolder(const std::string& path) = 0;
  // A line for whoever runs it (UTF-8, no line end), and where there is a
  // console, a progress line that the next one overwrites.
  virtual void Print(const std::string& line) = 0;
  virtual void Progress(std::size_t done, std::size_t total) = 0;
};

}  // namespace profile_import::platform
