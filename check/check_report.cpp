#include "check/check_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "store/profile_key.h"

namespace profile_import::check {
namespace {

constexpr std::size_t kLongestValueName = 11;  // "RegDataBase"

struct FieldView {
  const char16_t* name;
  std::u16string_view text;
  std::size_t capacity;
  std::vector<std::size_t> lines;  // 0-based
};

std::vector<FieldView> Fields(const SiteProfile& profile) {
  return {
      {kCorpValueName, profile.Corp.View(), kCorpCapacity, {0}},
      {kDataBaseValueName, profile.DataBase.View(), kDataBaseCapacity, {1, 2}},
      {kAdminValueName, profile.Admin.View(), kAdminCapacity, {4}},
      {kUserValueName, profile.User.View(), kUserCapacity, {5}},
  };
}

void AppendUtf8(char32_t point, std::string& out) {
  if (point < 0x80U) {
    out += static_cast<char>(point);
  } else if (point < 0x800U) {
    out += static_cast<char>(0xC0U | (point >> 6U));
    out += static_cast<char>(0x80U | (point & 0x3FU));
  } else if (point < 0x10000U) {
    out += static_cast<char>(0xE0U | (point >> 12U));
    out += static_cast<char>(0x80U | ((point >> 6U) & 0x3FU));
    out += static_cast<char>(0x80U | (point & 0x3FU));
  } else {
    out += static_cast<char>(0xF0U | (point >> 18U));
    out += static_cast<char>(0x80U | ((point >> 12U) & 0x3FU));
    out += static_cast<char>(0x80U | ((point >> 6U) & 0x3FU));
    out += static_cast<char>(0x80U | (point & 0x3FU));
  }
}

// Code points of a UTF-16 text; a lone surrogate is kept as itself.
template <typename Visit>
void ForEachCodePoint(std::u16string_view text, Visit visit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = text[i];
    const bool pair = unit >= 0xD800U && unit <= 0xDBFFU && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00U && text[i + 1] <= 0xDFFFU;
    if (pair) {
      visit(0x10000U + ((unit - 0xD800U) << 10U) + (char32_t{text[++i]} - 0xDC00U));
    } else {
      visit(unit);
    }
  }
}

std::string Hex(const char* format, char32_t point) {
  std::array<char, 16> buffer{};
  static_cast<void>(std::snprintf(buffer.data(), buffer.size(), format,  // NOLINT(*-vararg)
                                  static_cast<unsigned>(point)));
  return buffer.data();
}

std::string Utf8(std::u16string_view text) {
  std::string out;
  ForEachCodePoint(text, [&out](char32_t point) { AppendUtf8(point, out); });
  return out;
}

std::string EncodingName(TextEncoding encoding, std::uint32_t code_page) {
  switch (encoding) {
    case TextEncoding::Ascii:
      return "ASCII";
    case TextEncoding::Utf8:
      return "UTF-8";
    case TextEncoding::AnsiCodePage:
      return CodePageName(code_page);
    case TextEncoding::Utf16Le:
      return "UTF-16LE";
  }
  return "?";
}

std::string LineList(const std::vector<std::size_t>& lines) {
  return lines.size() == 1
             ? "line " + std::to_string(lines[0] + 1)
             : "lines " + std::to_string(lines[0] + 1) + " and " + std::to_string(lines[1] + 1);
}

std::string EncodingList(const CheckedFile& file, const std::vector<std::size_t>& lines) {
  std::string out;
  for (const std::size_t line : lines) {
    out += out.empty() ? "" : " + ";
    const auto& encoding = file.parsed.encodings.at(line);
    out += encoding ? EncodingName(*encoding, file.code_page) : "-";
  }
  return out;
}

// What ends the text: a NUL byte, or in UTF-16 a U+0000 unit of two bytes.
std::size_t NulBytes(const ParsedProfile& parsed) {
  return parsed.utf16_le ? sizeof(char16_t) : 1;
}
std::string NulName(const ParsedProfile& parsed) {
  return parsed.utf16_le ? "a NUL character (U+0000)" : "a NUL byte";
}

// What the importer never looks at, for a file it accepts.
std::vector<std::string> Notes(const CheckedFile& file) {
  const ParsedProfile& parsed = file.parsed;
  std::vector<std::string> notes;
  if (parsed.had_byte_order_mark) {
    notes.emplace_back(parsed.utf16_le ? "the UTF-16 LE byte order mark at the start is dropped"
                                       : "the UTF-8 byte order mark at the start is dropped");
  }
  if (parsed.ignored_after_line_six > 0) {
    notes.push_back(std::to_string(parsed.ignored_after_line_six) +
                    " bytes of text after line 6 are ignored");
  }
  const std::size_t read = std::min(file.file_bytes, kProfileReadSize);
  const std::size_t nul_bytes = NulBytes(parsed);
  if (parsed.ended_at_nul && read > parsed.text_bytes + nul_bytes) {
    notes.push_back("the text ends at " + NulName(parsed) + " at offset " +
                    std::to_string(parsed.text_bytes) + "; the " +
                    std::to_string(read - parsed.text_bytes - nul_bytes) +
                    " bytes read after it are ignored");
  }
  const bool ansi = std::ranges::any_of(parsed.encodings, [](const auto& encoding) {
    return encoding == TextEncoding::AnsiCodePage;
  });
  if (ansi) {
    notes.push_back("stored right only on machines whose ANSI code page is " +
                    std::to_string(file.code_page) + " (" + CodePageName(file.code_page) +
                    "): the file is not UTF-8, so each machine reads it in its own");
  }
  if (file.utf8_also_in_code_page) {
    notes.push_back(
        "without a byte order mark, its text is valid both as UTF-8, which it is read "
        "as, and as " +
        CodePageName(file.code_page) +
        " text; if it was written in that code page, it is stored wrong: write it "
        "with the UTF-8 byte order mark, or as UTF-16 LE");
  }
  if (file.file_bytes > kProfileReadSize) {
    notes.push_back("the file is " + std::to_string(file.file_bytes) + " bytes; only the first " +
                    std::to_string(kProfileReadSize) + " are read, the other " +
                    std::to_string(file.file_bytes - kProfileReadSize) + " are ignored");
  }
  return notes;
}

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

// The field a too-long refusal is about; null for the other rules.
const FieldView* RefusedField(const ParsedProfile& parsed, const std::vector<FieldView>& fields) {
  switch (parsed.verdict) {
    case ProfileTextVerdict::CorpTooLong:
      return fields.data();
    case ProfileTextVerdict::DataBaseTooLong:
      return &fields.at(1);
    case ProfileTextVerdict::AdminTooLong:
      return &fields.at(2);
    case ProfileTextVerdict::UserTooLong:
      return &fields.at(3);
    default:
      return nullptr;
  }
}

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

// For a refused file that looks like UTF-16 the reader does not take, or
// whose text is not of the code page it is read with: what to write instead.
// Empty otherwise.
std::string Hint(const CheckedFile& file) {
  const ParsedProfile& parsed = file.parsed;
  if (parsed.verdict == ProfileTextVerdict::NotInCodePage) {
    return "a file that is not UTF-8 is read in the importing machine's ANSI code page (" +
           CodePageName(file.code_page) +
           " here); write the whole file as UTF-8 with its byte order mark, or as UTF-16 LE with "
           "its mark, to import it on a machine of any language";
  }
  if (parsed.verdict == ProfileTextVerdict::Accepted || parsed.unread_utf16 == UnreadUtf16::None) {
    return {};
  }
  const char* looks = parsed.unread_utf16 == UnreadUtf16::BigEndian
                          ? "UTF-16 big-endian"
                          : "UTF-16 without a byte order mark";
  return std::string("the file looks like ") + looks +
         "; UTF-8, UTF-16 LE with its byte order mark (FF FE) and the machine's ANSI code page "
         "are read";
}

}  // namespace

ImportStatus StatusFor(const ParsedProfile& parsed) {
  return parsed.verdict == ProfileTextVerdict::Accepted ? ImportStatus::ImportOk
                                                        : ImportStatus::ProfileRejected;
}

std::string EscapeForDisplay(std::u16string_view text) {
  std::string out;
  ForEachCodePoint(text, [&out](char32_t point) {
    switch (point) {
      case U'\\':
        out += "\\\\";
        break;
      case U'"':
        out += "\\\"";
        break;
      case U'\r':
        out += "\\r";
        break;
      case U'\t':
        out += "\\t";
        break;
      default:
        if (point < 0x20U || point == 0x7FU) {
          out += Hex("\\x%02x", point);
        } else if ((point >= 0x80U && point <= 0x9FU) || (point >= 0xD800U && point <= 0xDFFFU)) {
          out += Hex("\\u%04x", point);  // C1 controls, and surrogates that pair with nothing
        } else {
          AppendUtf8(point, out);
        }
    }
  });
  return out;
}

// ASCII only: Windows PowerShell 5.1 decodes a program's output with the
// console's code page, so UTF-8 would reach ConvertFrom-Json garbled. Each
// UTF-16 unit outside ASCII is one escape, which makes a pair of them for a
// character beyond U+FFFF.
std::string EscapeForJson(std::u16string_view text) {
  std::string out;
  for (const char16_t unit : text) {
    if (unit == u'"' || unit == u'\\') {
      out += '\\';
      out += static_cast<char>(unit);
    } else if (unit < 0x20U || unit >= 0x80U) {
      out += Hex("\\u%04x", unit);
    } else {
      out += static_cast<char>(unit);
    }
  }
  return out;
}

std::string DescribeRefusal(const CheckedFile& file) {
  const ParsedProfile& parsed = file.parsed;
  const std::string& label = file.label;
  const std::vector<FieldView> fields = Fields(parsed.profile);
  const std::string at = label + ":" + std::to_string(parsed.line) + ": ";
  if (const FieldView* field = RefusedField(parsed, fields)) {
    const bool joined = field->lines.size() > 1;
    return at + LineList(field->lines) + (joined ? " together are " : " is ") +
           std::to_string(parsed.refused_length) + " characters long; " + Utf8(field->name) +
           " holds at most " + std::to_string(field->capacity);
  }
  if (parsed.verdict == ProfileTextVerdict::NotWellFormedUtf16) {
    return at + "line " + std::to_string(parsed.line) +
           " holds a lone surrogate, so it is not well-formed UTF-16";
  }
  if (parsed.verdict == ProfileTextVerdict::NotInCodePage) {
    return at + "line " + std::to_string(parsed.line) + " is not valid " +
           CodePageName(file.code_page) +
           " text (the file is not UTF-8 through line 6, so every line is read in that code page)";
  }
  if (parsed.verdict == ProfileTextVerdict::NotWellFormedUtf8) {
    return at + "line " + std::to_string(parsed.line) +
           " is not well-formed UTF-8, which every line of a file that starts with the UTF-8 "
           "byte order mark must be";
  }
  if (parsed.verdict == ProfileTextVerdict::LastLineMayBeCut) {
    return at + "line 6 has no line end within the first " + std::to_string(kProfileReadSize) +
           " bytes and may be cut";
  }
  // The read is zero-filled; only a NUL inside the file is worth pointing at.
  const bool nul_in_file =
      parsed.ended_at_nul && parsed.text_bytes + NulBytes(parsed) <= file.file_bytes;
  const std::string where = nul_in_file ? " (the text ends at " + NulName(parsed) + " at offset " +
                                              std::to_string(parsed.text_bytes) + ")"
                                        : "";
  const char* ends = parsed.line_ends == 1 ? " line end" : " line ends";
  return label + ": only " + std::to_string(parsed.line_ends) + ends +
         " before the end of the text" + where +
         "; 5 are needed (lines 1 to 5 each end with a line feed)";
}

std::string TextReport(const CheckedFile& file) {
  switch (file.status) {
    case ImportStatus::NoProfileFile:
      return file.label + ": cannot open the file (" + file.unread_because +
             "); the importer would exit -1, nothing to import\n";
    case ImportStatus::FileInaccessible:
      return file.label + ": cannot open the file (" + file.unread_because +
             "); the importer would exit -6 and keep it\n";
    case ImportStatus::NoUserHive:
      return file.label + ": not read: " + file.unread_because +
             "; the importer would exit -7 without opening the file, which it leaves for the " +
             "user's own run\n";
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
  const std::vector<FieldView> fields = Fields(parsed.profile);
  std::size_t widest = 0;
  for (const FieldView& field : fields) {
    widest = std::max(widest, Width(Quoted(EscapeForDisplay(field.text))));
  }
  std::string out = file.label + ": accepted; the importer would store\n";
  for (const FieldView& field : fields) {
    const std::string count =
        std::to_string(field.text.size()) + "/" + std::to_string(field.capacity);
    out += "  " + PadTo(Utf8(field.name), kLongestValueName) + "  " +
           PadTo(Quoted(EscapeForDisplay(field.text)), widest) + "  " + PadTo(count, 5) + "  " +
           LineList(field.lines) + ": " + EncodingList(file, field.lines) + "\n";
  }
  for (const std::string& note : Notes(file)) {
    out += "note: " + note + "\n";
  }
  return out;
}

std::string JsonReport(const CheckedFile& file) {
  const ParsedProfile& parsed = file.parsed;
  const std::vector<FieldView> fields = Fields(parsed.profile);
  std::string out = "{\"file\":" + JsonText(file.label) +
                    ",\"exit_code\":" + std::to_string(static_cast<int>(file.status));
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
    if (const FieldView* field = RefusedField(parsed, fields)) {
      out += ",\"value\":" + JsonText(Utf8(field->name)) +
             ",\"length\":" + std::to_string(parsed.refused_length) +
             ",\"capacity\":" + std::to_string(field->capacity);
    }
    out += ",\"line_ends\":" + std::to_string(parsed.line_ends);
    const std::string hint = Hint(file);
    out += hint.empty() ? "" : ",\"hint\":" + JsonText(hint);
    return out + ",\"message\":" + JsonText(DescribeRefusal(file)) + "}}\n";
  }
  out += ",\"verdict\":\"accepted\",\"values\":[";
  for (const FieldView& field : fields) {
    out += field.name == fields.front().name ? "{" : ",{";
    out += "\"name\":" + JsonText(Utf8(field.name)) + ",\"text\":\"" + EscapeForJson(field.text) +
           "\",\"length\":" + std::to_string(field.text.size()) +
           ",\"capacity\":" + std::to_string(field.capacity) + ",\"lines\":[";
    std::string encodings;
    for (const std::size_t line : field.lines) {
      out += std::to_string(line + 1) + (line == field.lines.back() ? "" : ",");
      const auto& encoding = parsed.encodings.at(line);
      encodings += (encodings.empty() ? "" : ",") +
                   JsonText(encoding ? EncodingName(*encoding, file.code_page) : "-");
    }
    out += "],\"encodings\":[" + encodings + "]}";
  }
  out += "],\"notes\":[";
  const std::vector<std::string> notes = Notes(file);
  for (std::size_t i = 0; i < notes.size(); ++i) {
    out += (i == 0 ? "" : ",") + JsonText(notes[i]);
  }
  return out + "]}\n";
}

}  // namespace profile_import::check
