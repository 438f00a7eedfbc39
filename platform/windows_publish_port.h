#pragma once

#include <windows.h>
// The port's calls share their names with <windows.h>'s macros for the ANSI
// and wide calls; here they are the port's.
#undef DeleteFile
#undef MoveFile

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/publish_port.h"
#include "winlib/unique_handle.h"

namespace profile_import::platform {

// UTF-16 as UTF-8, a lone surrogate as U+FFFD; empty if Windows cannot.
std::string Utf8FromWide(std::wstring_view text);

// Whether the handle is a console's, not a file's or a pipe's.
inline bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetConsoleMode(handle, &mode) != FALSE;
}

// profile-publish's Windows calls. Final, and never deleted through the port.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class WindowsPublishPort final : public PublishPort {
 public:
  PublishError ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes) override;
  PublishError WriteFileFlushed(const std::string& path,
                                std::span<const std::uint8_t> bytes) override;
  PublishError MakeFolder(const std::string& path, const std::string& sddl) override;
  PublishError ListFolder(const std::string& path, bool folders,
                          std::vector<std::string>& names) override;
  PublishError MoveFile(const std::string& from, const std::string& to, bool replace) override;
  PublishError DeleteFile(const std::string& path) override;
  PublishError ReadFolderAcl(const std::string& path, FolderAcl& acl) override;
  PublishError LookupAccount(const std::string& name, std::string& sid) override;
  std::uint64_t Now() override;
  void Sleep(std::uint32_t milliseconds) override;
  std::string ErrorText(PublishError error) override;
  PublishError LockFolder(const std::string& path) override;
  void Print(const std::string& line) override;
  void Progress(std::size_t done, std::size_t total) override;

 private:
  // The lock files this run holds: closed, and so deleted, with the port.
  std::vector<winlib::UniqueFile> locks_;
  std::uint64_t last_progress_ = 0;  // GetTickCount64's, when one was last shown
  std::size_t progress_width_ = 0;   // of the progress line on the console; 0: none
  // Asked once: each asking is a round trip to the console, and a run prints
  // a line for every master it writes.
  HANDLE out_ = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE error_ = GetStdHandle(STD_ERROR_HANDLE);
  bool out_is_console_ = IsConsole(out_);
  bool error_is_console_ = IsConsole(error_);
};

}  // namespace profile_import::platform
