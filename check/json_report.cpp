#include "check/check_report.h"
#include "check/escaping.h"
#include "check/findings.h"

namespace profile_import::check {
namespace {

std::string RuleName(ProfileTextVerdict verdict) {
  switch (verdict) {
    case ProfileTextVerdict::Accepted:
      return "accepted";
    case ProfileTextVerdict::TooFewLineEnds:
      return "too_few_line_ends";
    case ProfileTextVerdict::LastLineMayBeCut:
      return "last_line_may_be_cut";
    case ProfileTextVerdict::CorpTooLong:
      return "corp_too_long";
    case ProfileTextVerdict::DataBaseTooLong:
      return "database_too_long";
    case ProfileTextVerdict::AdminTooLong:
      return "admin_too_long";
    case ProfileTextVerdict::UserTooLong:
      return "user_too_long";
    case ProfileTextVerdict::NotWellFormedUtf16:
      return "not_well_formed_utf16";
    case ProfileTextVerdict::NotInCodePage:
      return "not_in_code_page";
    case ProfileTextVerdict::NotWellFormedUtf8:
      return "not_well_formed_utf8";
  }
  return "?";
}

// A file name or a message, as UTF-8 (a name that is not is read as Windows-1252).
std::string JsonText(std::string_view text) {
  std::u16string units(text.size(), u'\0');
  CodePage windows_1252{kWindows1252};
  const std::span<const std::uint8_t> bytes{reinterpret_cast<const std::uint8_t*>(text.data()),
                                            text.size()};
  const bool utf8 = DecodeUtf8(bytes, {}).has_value();
  const DecodedLine decoded = DecodeLine(bytes, units, utf8, windows_1252);
  return "\"" + EscapeForJson(decoded.text.value_or(u"?")) + "\"";
}

std::string ValueJson(const CheckedFile& file, const FieldView& field) {
  const HandOffField& format = field.format;
  std::string lines;
  std::string encodings;
  for (std::size_t line = format.first_line; line < format.first_line + format.line_count; ++line) {
    lines += (lines.empty() ? "" : ",") + std::to_string(line + 1);
    encodings += (encodings.empty() ? "" : ",") + JsonText(LineEncoding(file, line));
  }
  return "{\"name\":" + JsonText(Utf8(format.value_name)) + ",\"text\":\"" +
         EscapeForJson(field.text) + "\",\"length\":" + std::to_string(field.text.size()) +
         ",\"capacity\":" + std::to_string(format.capacity) + ",\"lines\":[" + lines +
         "],\"encodings\":[" + encodings + "]}";
}

}  // namespace

std::string JsonReport(const CheckedFile& file) {
  const ParsedProfile& parsed = file.parsed;
  std::string out = "{\"file\":" + JsonText(file.label) + ",\"exit_code\":" + ExitCode(file.status);
  switch (file.status) {
    case ImportStatus::NoProfileFile:
    case ImportStatus::FileInaccessible:
      return out + ",\"verdict\":\"not_opened\",\"reason\":" + JsonText(file.unread_because) +
             "}\n";
    // The verdict keeps the name that scripts already test for.
    case ImportStatus::NoUserHive:
      return out + ",\"verdict\":\"service_account\",\"account\":" + JsonText(file.unread_because) +
             "}\n";
    case ImportStatus::ReadFailed:
      return out + ",\"verdict\":\"read_failed\"}\n";
    default:
      break;
  }
  out += ",\"file_bytes\":" + std::to_string(file.file_bytes) +
         ",\"code_page\":" + std::to_string(file.code_page);
  if (parsed.verdict != ProfileTextVerdict::Accepted) {
    out += ",\"verdict\":\"refused\",\"reason\":{\"rule\":\"" + RuleName(parsed.verdict) + "\"";
    out += ",\"line\":" + std::to_string(parsed.line);
    if (const std::size_t refused = RefusedField(parsed.verdict); refused != kFieldCount) {
      const HandOffField& field = kHandOffFields.at(refused);
      out += ",\"value\":" + JsonText(Utf8(field.value_name)) +
             ",\"length\":" + std::to_string(parsed.refused_length) +
             ",\"capacity\":" + std::to_string(field.capacity);
    }
    out += ",\"line_ends\":" + std::to_string(parsed.line_ends);
    const std::string hint = Hint(file);
    out += hint.empty() ? "" : ",\"hint\":" + JsonText(hint);
    return out + ",\"message\":" + JsonText(DescribeRefusal(file)) + "}}\n";
  }
  std::string values;
  for (const FieldView& field : Fields(parsed.profile)) {
    values += (values.empty() ? "" : ",") + ValueJson(file, field);
  }
  std::string notes;
  for (const std::string& note : Notes(file)) {
    notes += (notes.empty() ? "" : ",") + JsonText(note);
  }
  return out + ",\"verdict\":\"accepted\",\"values\":[" + values + "],\"notes\":[" + notes + "]}\n";
}

}  // namespace profile_import::check
