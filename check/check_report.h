#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "check/code_page.h"
#include "core/import_status.h"
#include "profile/profile_text.h"

namespace profile_import::check {

// What the checker learnt of one file: whether it could be opened and read,
// its size, and what the importer's reader makes of its first 512 bytes.
struct CheckedFile {
  std::string label;  // the name shown in messages
  ImportStatus status = ImportStatus::ImportOk;
  std::size_t file_bytes = 0;
  ParsedProfile parsed;
  std::uint32_t code_page = kWindows1252;  // what lines neither ASCII nor UTF-8 were read with
  // Why the file was never read: what kept it from opening ("access denied"),
  // or why the importer refuses the account or its hive ("this runs as SYSTEM
  // (S-1-5-18), a service account").
  // NOLINTNEXTLINE(readability-redundant-member-init): initializers may leave it out
  std::string unread_because{};
  // A file without a mark, read as UTF-8, whose non-ASCII text is also text
  // of the code page: a guess either way.
  bool utf8_also_in_code_page = false;
};

// The exit code the importer would give for this file's content.
ImportStatus StatusFor(const ParsedProfile& parsed);

// The importer's exit code as messages show it: "-5".
std::string ExitCode(ImportStatus status);

// One line naming why the importer would refuse the file, and where.
std::string DescribeRefusal(const CheckedFile& file);

std::string TextReport(const CheckedFile& file);
std::string JsonReport(const CheckedFile& file);

}  // namespace profile_import::check
