#include <algorithm>
#include <string_view>

#include "check/check_report.h"
#include "check/escaping.h"
#include "check/findings.h"

namespace profile_import::check {
namespace {

// Columns wide enough for the table's longest value name, and for any
// "length/capacity" at capacity.
constexpr std::size_t kNameColumn = [] {
  std::size_t longest = 0;
  for (const HandOffField& field : kHandOffFields) {
    longest = std::max(longest, std::u16string_view(field.value_name).size());
  }
  return longest;
}();
constexpr std::size_t kCountColumn = [] {
  std::size_t digits = 0;
  for (const HandOffField& field : kHandOffFields) {
    std::size_t field_digits = 0;
    for (std::size_t rest = field.capacity; rest > 0; rest /= 10) {
      ++field_digits;
    }
    digits = std::max(digits, field_digits);
  }
  return 2 * digits + 1;
}();

// Columns on a terminal: one per code point, which is near enough for text
// that is mostly Latin.
std::size_t Width(std::string_view utf8) {
  return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U;
  }));
}

std::string PadTo(const std::string& text, std::size_t width) {
  const std::size_t have = Width(text);
  return have < width ? text + std::string(width - have, ' ') : text;
}

std::string Quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.append(1, '"').append(text).append(1, '"');
  return out;
}

std::string EncodingList(const CheckedFile& file, const HandOffField& field) {
  std::string out;
  for (std::size_t line = field.first_line; line < field.first_line + field.line_count; ++line) {
    out += (out.empty() ? "" : " + ") + LineEncoding(file, line);
  }
  return out;
}

}  // namespace

std::string TextReport(const CheckedFile& file) {
  switch (file.status) {
    case ImportStatus::NoProfileFile:
      return file.label + ": cannot open the file (" + file.unread_because +
             "); the importer would exit " + ExitCode(file.status) + ", nothing to import\n";
    case ImportStatus::FileInaccessible:
      return file.label + ": cannot open the file (" + file.unread_because +
             "); the importer would exit " + ExitCode(file.status) + " and keep it\n";
    case ImportStatus::NoUserHive:
      return file.label + ": not read: " + file.unread_because + "; the importer would exit " +
             ExitCode(file.status) +
             " without opening the file, which it leaves for the user's own run\n";
    case ImportStatus::ReadFailed:
      return file.label + ": cannot read the file\n";
    default:
      break;
  }
  const ParsedProfile& parsed = file.parsed;
  if (parsed.verdict != ProfileTextVerdict::Accepted) {
    const std::string hint = Hint(file);
    return DescribeRefusal(file) + "\n" + (hint.empty() ? "" : "hint: " + hint + "\n");
  }
  const std::array<FieldView, kFieldCount> fields = Fields(parsed.profile);
  std::size_t widest = 0;
  for (const FieldView& field : fields) {
    widest = std::max(widest, Width(Quoted(EscapeForDisplay(field.text))));
  }
  std::string out = file.label + ": accepted; the importer would store\n";
  for (const FieldView& field : fields) {
    const std::string count =
        std::to_string(field.text.size()) + "/" + std::to_string(field.format.capacity);
    out += "  " + PadTo(Utf8(field.format.value_name), kNameColumn) + "  " +
           PadTo(Quoted(EscapeForDisplay(field.text)), widest) + "  " + PadTo(count, kCountColumn) +
           "  " + LineList(field.format) + ": " + EncodingList(file, field.format) + "\n";
  }
  for (const std::string& note : Notes(file)) {
    out += "note: " + note + "\n";
  }
  return out;
}

}  // namespace profile_import::check
