#include "check/findings.h"
#include "check/escaping.h"

#include <algorithm>

namespace profile_import::check {
namespace {

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

// What ends the text: a NUL byte, or in UTF-16 a U+0000 unit of two bytes.
std::size_t NulBytes(const ParsedProfile& parsed) {
  return parsed.utf16_le ? sizeof(char16_t) : 1;
}
std::string NulName(const ParsedProfile& parsed) {
  return parsed.utf16_le ? "a NUL character (U+0000)" : "a NUL byte";
}

// The file's last line, which ends at its LF or at the end of the text; the
// lines before it must each end with an LF.
std::string LastLine() {
  return std::to_string(kProfileLineCount);
}

}  // namespace

ImportStatus StatusFor(const ParsedProfile& parsed) {
  return parsed.verdict == ProfileTextVerdict::Accepted ? ImportStatus::ImportOk
                                                        : ImportStatus::ProfileRejected;
}

std::string ExitCode(ImportStatus status) {
  return std::to_string(static_cast<int>(status));
}

std::array<FieldView, kFieldCount> Fields(const SiteProfile& profile) {
  const std::array<std::u16string_view, kFieldCount> texts = profile.Texts();
  std::array<FieldView, kFieldCount> fields{};
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    fields.at(i) = {kHandOffFields.at(i), texts.at(i)};
  }
  return fields;
}

std::string LineList(const HandOffField& field) {
  const std::string first = std::to_string(field.first_line + 1);
  return field.line_count == 1
             ? "line " + first
             : "lines " + first + " and " + std::to_string(field.first_line + field.line_count);
}

std::string LineEncoding(const CheckedFile& file, std::size_t line) {
  const auto& encoding = file.parsed.encodings.at(line);
  return encoding ? EncodingName(*encoding, file.code_page) : "-";
}

std::size_t RefusedField(ProfileTextVerdict verdict) {
  switch (verdict) {
    case ProfileTextVerdict::CorpTooLong:
      return kCorp;
    case ProfileTextVerdict::DataBaseTooLong:
      return kDataBase;
    case ProfileTextVerdict::AdminTooLong:
      return kAdmin;
    case ProfileTextVerdict::UserTooLong:
      return kUser;
    default:
      return kFieldCount;
  }
}

std::vector<std::string> Notes(const CheckedFile& file) {
  const ParsedProfile& parsed = file.parsed;
  std::vector<std::string> notes;
  if (parsed.had_byte_order_mark) {
    notes.emplace_back(parsed.utf16_le ? "the UTF-16 LE byte order mark at the start is dropped"
                                       : "the UTF-8 byte order mark at the start is dropped");
  }
  if (parsed.ignored_after_line_six > 0) {
    notes.push_back(std::to_string(parsed.ignored_after_line_six) + " bytes of text after line " +
                    LastLine() + " are ignored");
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

std::string DescribeRefusal(const CheckedFile& file) {
  const ParsedProfile& parsed = file.parsed;
  const std::string& label = file.label;
  const std::string at = label + ":" + std::to_string(parsed.line) + ": ";
  if (const std::size_t refused = RefusedField(parsed.verdict); refused != kFieldCount) {
    const HandOffField& field = kHandOffFields.at(refused);
    return at + LineList(field) + (field.line_count > 1 ? " together are " : " is ") +
           std::to_string(parsed.refused_length) + " characters long; " + Utf8(field.value_name) +
           " holds at most " + std::to_string(field.capacity);
  }
  if (parsed.verdict == ProfileTextVerdict::NotWellFormedUtf16) {
    return at + "line " + std::to_string(parsed.line) +
           " holds a lone surrogate, so it is not well-formed UTF-16";
  }
  if (parsed.verdict == ProfileTextVerdict::NotInCodePage) {
    return at + "line " + std::to_string(parsed.line) + " is not valid " +
           CodePageName(file.code_page) + " text (the file is not UTF-8 through line " +
           LastLine() + ", so every line is read in that code page)";
  }
  if (parsed.verdict == ProfileTextVerdict::NotWellFormedUtf8) {
    return at + "line " + std::to_string(parsed.line) +
           " is not well-formed UTF-8, which every line of a file that starts with the UTF-8 "
           "byte order mark must be";
  }
  if (parsed.verdict == ProfileTextVerdict::LastLineMayBeCut) {
    return at + "line " + LastLine() + " has no line end within the first " +
           std::to_string(kProfileReadSize) + " bytes and may be cut";
  }
  // The read is zero-filled; only a NUL inside the file is worth pointing at.
  const bool nul_in_file =
      parsed.ended_at_nul && parsed.text_bytes + NulBytes(parsed) <= file.file_bytes;
  const std::string where = nul_in_file ? " (the text ends at " + NulName(parsed) + " at offset " +
                                              std::to_string(parsed.text_bytes) + ")"
                                        : "";
  const char* ends = parsed.line_ends == 1 ? " line end" : " line ends";
  return label + ": only " + std::to_string(parsed.line_ends) + ends +
         " before the end of the text" + where + "; " + std::to_string(kProfileLineCount - 1) +
         " are needed (lines 1 to " + std::to_string(kProfileLineCount - 1) +
         " each end with a line feed)";
}

}  // namespace profile_import::check
