// profile-check: tells whoever prepares a hand-off file what the importer
// would store from it, or why it would refuse it. Reads only; touches no
// registry and deletes nothing.
#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check/check_report.h"
#include "check/code_page.h"
#include "profile/profile_text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace profile_import::check {
namespace {

constexpr int kUsageError = 2;

constexpr std::string_view kHelp =
    "usage: profile-check [--json] [--code-page N] [FILE]\n"
    "  (FILE defaults to sysfile.cfg; - reads stdin)\n"
    "Reads FILE as profile-import does and prints what it would store, or why it refuses.\n"
    "Format: only the first 512 bytes count; the text ends at the first NUL.\n"
    "  line 1 -> RegCorp (63)   lines 2+3 joined -> RegDataBase (31)   line 4 passed over\n"
    "  line 5 -> RegAdmin (31)  line 6 -> RegUser (31)   (limits in UTF-16 code units)\n"
    "Lines end with LF or CR LF; BOM dropped; each line is UTF-8 if valid, else text of the\n"
    "importing machine's ANSI code page (1251 Cyrillic, 1253 Greek, 932 Japanese, ...):\n"
    "--code-page N checks the file for such a machine; the default is this machine's own\n"
    "on Windows, 1252 (Western European) elsewhere.\n"
    "A file that starts with FF FE is UTF-16 LE (as PowerShell's Out-File writes it).\n"
    "Refused: fewer than 5 line ends, a line over its limit, a line not valid in the code\n"
    "page, a lone surrogate (UTF-16), or line 6 cut at byte 512.\n"
    "Exit: 0 accepted, -5 refused, -1 cannot open, -4 cannot read, 2 bad usage.\n"
    "--json prints one JSON object (values, lengths, encodings, or the reason).\n"
    "Nothing is written: no registry access, no deletion.\n";

constexpr std::string_view kUnknownCodePage =
    "profile-check: --code-page needs the number of a code page this machine reads, such as\n"
    "1250 to 1258, 874, 932, 936, 949, 950 or 65001\n";

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
  return file;
}

constexpr std::uint32_t kLargestCodePage = 65535;  // Windows' code page identifiers are 16-bit

// A code page number this machine can read text in.
bool ParseCodePage(const std::string& text, std::uint32_t& code_page) {
  std::uint32_t number = 0;
  for (const char digit : text) {
    if (digit < '0' || digit > '9' || number > kLargestCodePage) {
      return false;
    }
    number = number * 10 + static_cast<std::uint32_t>(digit - '0');
  }
  if (text.empty() || number > kLargestCodePage || !IsKnownCodePage(number)) {
    return false;
  }
  code_page = number;
  return true;
}

int Run(std::span<const std::string> args, std::FILE* (*open)(const std::string&)) {
  bool json = false;
  std::string path = "sysfile.cfg";
  std::uint32_t code_page = MachineCodePage();
  int paths = 0;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      static_cast<void>(std::fputs(kHelp.data(), stdout));
      return 0;
    }
    if (arg == "--json") {
      json = true;
    } else if (arg == "--code-page") {
      if (i + 1 == args.size() || !ParseCodePage(args[++i], code_page)) {
        static_cast<void>(std::fputs(kUnknownCodePage.data(), stderr));
        return kUsageError;
      }
    } else if ((arg.size() > 1 && arg[0] == '-') || ++paths > 1) {
      static_cast<void>(std::fputs(kHelp.data(), stderr));
      return kUsageError;
    } else {
      path = arg;
    }
  }

  const bool from_stdin = path == "-";
  const std::string label = from_stdin ? "<stdin>" : path;
  std::FILE* stream = from_stdin ? stdin : open(path);
  CheckedFile file{label, ImportStatus::NoProfileFile, 0, {}, code_page};
  if (stream != nullptr) {
    file = ReadAndParse(stream, label, code_page);
    if (!from_stdin) {
      static_cast<void>(std::fclose(stream));
    }
  }
  std::string report = json ? JsonReport(file) : TextReport(file);
  if (!json && file.status == ImportStatus::NoProfileFile) {
    report = label + ": cannot open the file\n";
  } else if (!json && file.status == ImportStatus::ReadFailed) {
    report = label + ": cannot read the file\n";
  }
  static_cast<void>(std::fputs(report.c_str(), stdout));
  return static_cast<int>(file.status);
}

}  // namespace
}  // namespace profile_import::check

#ifdef _WIN32
namespace {

std::string Utf8Argument(const wchar_t* argument) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, argument, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, argument, -1, out.data(), size, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

std::FILE* OpenUtf8Path(const std::string& path) {
  std::wstring wide(static_cast<std::size_t>(path.size()) + 1, L'\0');
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(size > 0 ? size - 1 : 0));
  return _wfopen(wide.c_str(), L"rb");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    args[static_cast<std::size_t>(i)] = Utf8Argument(argv[i]);  // NOLINT(*-pointer-arithmetic)
  }
  static_cast<void>(_setmode(_fileno(stdin), _O_BINARY));
  // Field texts are printed as UTF-8; a console shows them only in that code page.
  const UINT console_code_page = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  const int status = profile_import::check::Run(args, OpenUtf8Path);
  SetConsoleOutputCP(console_code_page);
  return status;
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);  // NOLINT(*-pointer-arithmetic)
  return profile_import::check::Run(
      args, [](const std::string& path) { return std::fopen(path.c_str(), "rb"); });
}
#endif
