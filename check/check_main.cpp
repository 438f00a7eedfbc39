// profile-check: tells whoever prepares a hand-off file what the importer
// would store from it, or why it would refuse it. Reads only; touches no
// registry and deletes nothing.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check/check_report.h"
#include "check/code_page.h"
#include "check/escaping.h"
#include "check/help_text.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <bit>

#include "core/running_account.h"
#include "platform/windows_port.h"
#include "winlib/process.h"
#else
#include <sys/stat.h>
#endif

namespace profile_import::check {
namespace {

constexpr std::string_view kUnknownCodePage =
    "profile-check: --code-page takes a code page that a Windows machine can have as its ANSI\n"
    "code page: 874, 1250 to 1258, 932, 936, 949, 950 or 65001\n";

// Reads what the importer's one read would see into a zero-filled buffer, and
// counts the rest of the file only to say that it is ignored.
CheckedFile ReadAndParse(std::FILE* stream, std::string label, std::uint32_t code_page) {
  CheckedFile file{std::move(label), ImportStatus::ImportOk, 0, {}, code_page};
  std::array<std::uint8_t, kProfileReadSize> buffer{};
  file.file_bytes = std::fread(buffer.data(), 1, buffer.size(), stream);
  std::array<std::uint8_t, kProfileReadSize> rest{};
  for (std::size_t got = 1; got > 0;) {
    got = std::fread(rest.data(), 1, rest.size(), stream);
    file.file_bytes += got;
  }
  if (std::ferror(stream) != 0) {
    file.status = ImportStatus::ReadFailed;
    return file;
  }
  CodePage decoder{code_page};
  file.parsed = ParseProfileText(buffer, decoder);
  file.status = StatusFor(file.parsed);
  const ParsedProfile& parsed = file.parsed;
  const bool non_ascii_utf8 = std::ranges::any_of(
      parsed.encodings, [](const auto& encoding) { return encoding == TextEncoding::Utf8; });
  if (parsed.utf8 && !parsed.had_byte_order_mark && non_ascii_utf8) {
    const std::span<const std::uint8_t> read_text =
        std::span(buffer).first(parsed.text_bytes - parsed.ignored_after_line_six);
    std::array<char16_t, kProfileReadSize> units{};
    file.utf8_also_in_code_page = decoder.multiByteToWideChar(read_text, units) != 0;
  }
  return file;
}

constexpr std::uint32_t kLargestCodePage = 65535;  // Windows' code page identifiers are 16-bit

std::string CannotReadCodePage(std::uint32_t code_page) {
#ifdef _WIN32
  return "profile-check: this Windows cannot read code page " + std::to_string(code_page) + "\n";
#else
  return "profile-check: code page " + std::to_string(code_page) + " is read with Windows' table " +
         WindowsTablePath(code_page) + ", which this machine lacks (Wine installs it)\n";
#endif
}

// The number of a code page that can be a machine's ANSI code page.
bool ParseCodePage(const std::string& text, std::uint32_t& code_page) {
  std::uint32_t number = 0;
  for (const char digit : text) {
    if (digit < '0' || digit > '9' || number > kLargestCodePage) {
      return false;
    }
    number = number * 10 + static_cast<std::uint32_t>(digit - '0');
  }
  if (text.empty() || number > kLargestCodePage || !IsAnsiCodePage(number)) {
    return false;
  }
  code_page = number;
  return true;
}

// The file opened as the importer would open it, or why it could not be.
struct OpenedFile {
  std::FILE* stream = nullptr;
  ImportStatus failure = ImportStatus::NoProfileFile;  // when there is no stream
  // NOLINTNEXTLINE(readability-redundant-member-init): designated initializers may leave it out
  std::string why{};
};

// `refused_account` says why the importer would refuse this account or its
// hive, or gives nothing for a user's own, loaded.
int Run(std::span<const std::string> args, OpenedFile (*open)(const std::string&),
        std::string (*refused_account)()) {
  bool json = false;
  std::string path = Utf8(kProfileFileName);
  std::uint32_t code_page = MachineCodePage();
  int paths = 0;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      static_cast<void>(std::fputs(HelpText().c_str(), stdout));
      return 0;
    }
    if (arg == "--json") {
      json = true;
    } else if (arg == "--code-page") {
      if (i + 1 == args.size() || !ParseCodePage(args[++i], code_page)) {
        static_cast<void>(std::fputs(kUnknownCodePage.data(), stderr));
        return kUsageError;
      }
      if (!IsKnownCodePage(code_page)) {
        static_cast<void>(std::fputs(CannotReadCodePage(code_page).c_str(), stderr));
        return kUsageError;
      }
    } else if ((arg.size() > 1 && arg[0] == '-') || ++paths > 1) {
      static_cast<void>(std::fputs(HelpText().c_str(), stderr));
      return kUsageError;
    } else {
      path = arg;
    }
  }

  const bool from_stdin = path == "-";
  const std::string label = from_stdin ? "<stdin>" : path;
  // The importer looks at its account before the file, and so does its check.
  CheckedFile file{label, ImportStatus::NoUserHive, 0, {}, code_page, refused_account()};
  if (file.unread_because.empty()) {
    OpenedFile opened = from_stdin ? OpenedFile{stdin} : open(path);
    if (opened.stream == nullptr) {
      file.status = opened.failure;
      file.unread_because = opened.why;
    } else {
      file = ReadAndParse(opened.stream, label, code_page);
      if (!from_stdin) {
        static_cast<void>(std::fclose(opened.stream));
      }
    }
  }
  const std::string report = json ? JsonReport(file) : TextReport(file);
  static_cast<void>(std::fputs(report.c_str(), stdout));
  return static_cast<int>(file.status);
}

}  // namespace
}  // namespace profile_import::check

#ifdef _WIN32
namespace {

std::string Utf8Argument(const wchar_t* argument) {
  return profile_import::check::Utf8(reinterpret_cast<const char16_t*>(argument));
}

namespace platform = profile_import::platform;
using profile_import::ImportStatus;
using profile_import::check::OpenedFile;

std::wstring WidePath(const std::string& path) {
  std::wstring wide(static_cast<std::size_t>(path.size()) + 1, L'\0');
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(size > 0 ? size - 1 : 0));
  return wide;
}

std::string WhyNotOpened(platform::PlatformError error, bool nothing_to_import,
                         const std::wstring& path) {
  switch (error) {
    case platform::kErrorFileNotFound:
      return "no such file";
    case platform::kErrorPathNotFound:
      return "no such folder";
    case platform::kErrorSharingViolation:
      return "another program has it open";
    case platform::kErrorAccessDenied: {
      if (nothing_to_import) {
        return "its deletion is pending";
      }
      const DWORD attributes = GetFileAttributesW(path.c_str());
      const bool folder =
          attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      return folder ? "it is a folder" : "access denied";
    }
    default:
      return "Windows error " + std::to_string(error) + "; net helpmsg " + std::to_string(error) +
             " says what it is";
  }
}

// Through the importer's own open: no sharing, and its reading of the error.
OpenedFile OpenLikeTheImporter(const std::string& path) {
  const std::wstring wide = WidePath(path);
  platform::WindowsPort port;
  const platform::FileResult opened =
      port.createFile(reinterpret_cast<const char16_t*>(wide.c_str()));
  if (opened.file == platform::kInvalidFile) {
    const bool nothing_to_import =
        profile_import::OpenFailure(opened) == profile_import::ProfileFileResult::NotOpened;
    return {nullptr,
            nothing_to_import ? ImportStatus::NoProfileFile : ImportStatus::FileInaccessible,
            WhyNotOpened(opened.error, nothing_to_import, wide)};
  }
  const int descriptor =
      _open_osfhandle(std::bit_cast<std::intptr_t>(opened.file), _O_RDONLY | _O_BINARY);
  if (descriptor == -1) {
    port.closeHandle(opened.file);
    return {nullptr, ImportStatus::ReadFailed, ""};
  }
  return {_fdopen(descriptor, "rb"), ImportStatus::ReadFailed, ""};
}

constexpr std::array<std::pair<std::string_view, std::string_view>, 3> kServiceAccounts = {{
    {"S-1-5-18", "SYSTEM"},
    {"S-1-5-19", "LOCAL SERVICE"},
    {"S-1-5-20", "NETWORK SERVICE"},
}};

std::string RefusedAccount() {
  platform::WindowsPort port;
  const profile_import::RunningAccount account = profile_import::FindRunningAccount(port);
  const std::u16string_view sid = account.SidText();
  const std::string sid_text(sid.begin(), sid.end());  // a SID's text is ASCII
  switch (account.kind) {
    case profile_import::AccountKind::User:
      return "";
    case profile_import::AccountKind::HiveNotLoaded:
      return "this runs as " + sid_text +
             ", whose profile is not loaded: HKEY_CURRENT_USER is HKEY_USERS\\.DEFAULT";
    case profile_import::AccountKind::NotAPerson:
      for (const auto& [service, name] : kServiceAccounts) {
        if (sid_text == service) {
          return "this runs as " + std::string(name) + " (" + sid_text + "), a service account";
        }
      }
      return "this runs as " + sid_text +
             ", not a person's account (a virtual service account, an application pool, ...)";
    case profile_import::AccountKind::Unknown:
      break;
  }
  return "this runs as an account whose token cannot be read";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Its static imports (advapi32, msvcrt, ntdll) are KnownDLLs, loaded from
  // System32 before this line; this keeps any later load there too. It
  // fails only where Windows has neither call, and the checker reads only.
  static_cast<void>(winlib::SearchSystem32Only());
  std::vector<std::string> args(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    args[static_cast<std::size_t>(i)] = Utf8Argument(argv[i]);  // NOLINT(*-pointer-arithmetic)
  }
  static_cast<void>(_setmode(_fileno(stdin), _O_BINARY));
  // Field texts are printed as UTF-8; a console shows them only in that code page.
  const UINT console_code_page = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  const int status = profile_import::check::Run(args, OpenLikeTheImporter, RefusedAccount);
  SetConsoleOutputCP(console_code_page);
  return status;
}
#else
namespace {

using profile_import::ImportStatus;
using profile_import::check::OpenedFile;

// No share modes here, so only what stands between any reader and the file.
OpenedFile OpenForReading(const std::string& path) {
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) {
      return {nullptr, ImportStatus::NoProfileFile,
              error == ENOENT ? "no such file" : "no such folder"};
    }
    return {nullptr, ImportStatus::FileInaccessible,
            error == EACCES ? "access denied" : std::strerror(error)};
  }
  struct stat status {};
  if (fstat(fileno(stream), &status) == 0 && S_ISDIR(status.st_mode)) {
    static_cast<void>(std::fclose(stream));
    return {nullptr, ImportStatus::FileInaccessible, "it is a folder"};
  }
  return {stream};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);  // NOLINT(*-pointer-arithmetic)
  // Accounts are Windows' own: here every run is a user's.
  return profile_import::check::Run(args, OpenForReading, [] { return std::string(); });
}
#endif
