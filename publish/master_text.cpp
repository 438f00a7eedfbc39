#include "publish/master_text.h"

#include <span>

#include "profile/text_encoding.h"

namespace profile_import::publish {
namespace {

constexpr std::array<std::uint8_t, 3> kUtf8Mark = {0xEF, 0xBB, 0xBF};

void AppendUtf8(std::u16string_view text, std::vector<std::uint8_t>& bytes) {
  const std::size_t at = bytes.size();
  bytes.resize(at + EncodeUtf8(text, {}));
  EncodeUtf8(text, std::span<std::uint8_t>(bytes).subspan(at));
}

}  // namespace

MasterText WriteMaster(const MasterValues& values) {
  MasterText text;
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    if (values[field].find_first_of(u"\r\n") != std::u16string::npos) {
      text.verdict = MasterVerdict::LineEndInValue;
      text.field = field;
      return text;
    }
  }
  std::vector<std::uint8_t> bytes(kUtf8Mark.begin(), kUtf8Mark.end());
  for (std::size_t line = 0; line < kProfileLineCount; ++line) {
    const std::size_t field = FieldOfLine(line);
    // A field's later lines, and a line passed over, stay empty.
    if (field < kFieldCount && kHandOffFields[field].first_line == line) {
      AppendUtf8(values[field], bytes);
    }
    bytes.push_back('\n');
  }
  // A file with the UTF-8 mark is never read in a code page.
  NoCodePage no_code_page;
  const ParsedProfile parsed = ParseProfileText(bytes, no_code_page);
  text.reader_verdict = parsed.verdict;
  if (parsed.verdict != ProfileTextVerdict::Accepted) {
    text.verdict = MasterVerdict::Refused;
    if (parsed.line > 0) {
      text.field = FieldOfLine(parsed.line - 1);
    }
    return text;
  }
  const auto read_back = parsed.profile.Texts();
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    if (read_back[field] != values[field]) {
      text.verdict = MasterVerdict::DoesNotReadBack;
      text.field = field;
      return text;
    }
  }
  text.verdict = MasterVerdict::Written;
  text.bytes = std::move(bytes);
  return text;
}

bool ReadMaster(const std::vector<std::uint8_t>& bytes, platform::AnsiCodePage& code_page,
                MasterValues& values) {
  const ParsedProfile parsed = ParseProfileText(bytes, code_page);
  if (parsed.verdict != ProfileTextVerdict::Accepted) {
    return false;
  }
  const auto texts = parsed.profile.Texts();
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    values[field] = texts[field];
  }
  return true;
}

}  // namespace profile_import::publish
