#include "check/help_text.h"
#include "check/escaping.h"

#include <array>
#include <cstddef>

#include "check/check_report.h"
#include "profile/profile_file.h"

namespace profile_import::check {
namespace {

constexpr std::size_t kItemsPerRow = 3;

// "line 1 -> RegCorp (63)   lines 2+3 joined -> RegDataBase (31)   line 4
// passed over", and so on for every line, a few to a row.
std::string FormatRows() {
  std::string out;
  std::size_t items = 0;
  const auto add = [&out, &items](const std::string& item) {
    out += (items % kItemsPerRow == 0 ? (items == 0 ? "  " : "\n  ") : "   ") + item;
    ++items;
  };
  for (std::size_t line = 0; line < kProfileLineCount; ++line) {
    const std::size_t field = FieldOfLine(line);
    const std::string number = std::to_string(line + 1);
    if (field == kFieldCount) {
      add("line " + number + " passed over");
      continue;
    }
    const HandOffField& format = kHandOffFields.at(field);
    if (line != format.first_line) {
      continue;
    }
    const std::string lines =
        format.line_count == 1
            ? "line " + number
            : "lines " + number + "+" + std::to_string(line + format.line_count) + " joined";
    add(lines + " -> " + Utf8(format.value_name) + " (" + std::to_string(format.capacity) + ")");
  }
  add("(limits in UTF-16 code units)");
  return out + "\n";
}

}  // namespace

std::string HelpText() {
  const std::string read_size = std::to_string(kProfileReadSize);
  const std::string last_line = std::to_string(kProfileLineCount);
  const std::string line_ends = std::to_string(kProfileLineCount - 1);
  return "usage: profile-check [--json] [--code-page N] [FILE]\n"
         "  (FILE defaults to " +
         Utf8(kProfileFileName) +
         "; - reads stdin)\n"
         "Reads FILE as profile-import does and prints what it would store, or why it "
         "refuses.\n"
         "Format: only the first " +
         read_size + " bytes count; the text ends at the first NUL.\n" + FormatRows() +
         "Lines end with LF or CR LF; BOM dropped; each line is UTF-8 if valid, else text of the\n"
         "importing machine's ANSI code page (1251 Cyrillic, 1253 Greek, 932 Japanese, ...):\n"
         "--code-page N checks the file for such a machine; the default is this machine's own\n"
         "on Windows, 1252 (Western European) elsewhere.\n"
         "A file that starts with FF FE is UTF-16 LE (as PowerShell's Out-File writes it).\n"
         "Refused: fewer than " +
         line_ends +
         " line ends, a line over its limit, a line not valid in the code\n"
         "page, a lone surrogate (UTF-16), or line " +
         last_line + " cut at byte " + read_size +
         ".\n"
         "Exit: the importer's code: " +
         ExitCode(ImportStatus::ImportOk) + " accepted, " +
         ExitCode(ImportStatus::ProfileRejected) + " refused, " +
         ExitCode(ImportStatus::NoProfileFile) + " no file (or another run has it),\n" +
         ExitCode(ImportStatus::FileInaccessible) + " there but cannot be opened, " +
         ExitCode(ImportStatus::ReadFailed) + " cannot read, " +
         ExitCode(ImportStatus::NoUserHive) +
         " not a person's account, or its profile\n"
         "not loaded (Windows: SYSTEM, a service, runas /noprofile); " +
         std::to_string(kUsageError) +
         " bad usage. On Windows the\n"
         "file is opened as the importer opens it, without sharing.\n"
         "--json prints one JSON object (values, lengths, encodings, or the reason).\n"
         "Nothing is written: no registry access, no deletion.\n";
}

}  // namespace profile_import::check
