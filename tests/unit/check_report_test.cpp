#include "check/check_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "support/hand_off_files.h"

namespace profile_import::check {
namespace {

using std::string_literals::operator""s;

struct RefusalCase {
  std::string name;
  std::string bytes;
  std::string message;
  std::string hint{};
  std::uint32_t code_page = kWindows1252;
};

void PrintTo(const RefusalCase& c, std::ostream* out) {
  *out << c.name;
}

const std::string kTail = "\nd\nb\nskip\na\nu\n";

std::string Repeat(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) {
    out += piece;
  }
  return out;
}

std::vector<RefusalCase> RefusalCases() {
  return {
      {"CorpOnePastCapacity", std::string(64, 'c') + kTail,
       "f.cfg:1: line 1 is 64 characters long; RegCorp holds at most 63"},
      {"DataBaseJoinedTooLong",
       "c\n" + std::string(20, 'd') + "\n" + std::string(12, 'b') + "\nskip\na\nu\n",
       "f.cfg:2: lines 2 and 3 together are 32 characters long; RegDataBase holds at most 31"},
      {"AdminCountsCharactersNotBytes", "c\nd\nb\nskip\n" + Repeat("\xC3\xA9", 32) + "\nu\n",
       "f.cfg:5: line 5 is 32 characters long; RegAdmin holds at most 31"},
      {"UserWithSurrogatePairs", "c\nd\nb\nskip\na\n" + Repeat("\xF0\x9F\x98\x80", 16) + "\n",
       "f.cfg:6: line 6 is 32 characters long; RegUser holds at most 31"},
      {"FourLineEnds", "only\nfour\nline\nends\n",
       "f.cfg: only 4 line ends before the end of the text; 5 are needed (lines 1 to 5 each "
       "end with a line feed)"},
      {"NulInsideTheFile", std::string("c\nd") + '\0' + "b\nskip\na\nu\n",
       "f.cfg: only 1 line end before the end of the text (the text ends at a NUL byte at "
       "offset 3); 5 are needed (lines 1 to 5 each end with a line feed)"},
      {"LineSixCutByTheRead", "c\nd\nb\nskip\na\n" + std::string(600, 'u'),
       "f.cfg:6: line 6 has no line end within the first 512 bytes and may be cut"},
      {"Utf16LoneSurrogate",
       "\xFF\xFE" + Repeat("c\0\n\0"s, 2) + "\x3D\xD8\n\0"s + Repeat("x\0\n\0"s, 3),
       "f.cfg:3: line 3 holds a lone surrogate, so it is not well-formed UTF-16"},
      {"Utf16NulInsideTheFile", "\xFF\xFE" + Repeat("c\0\n\0"s, 3) + Repeat("\0"s, 2) + "x\0\n\0"s,
       "f.cfg: only 3 line ends before the end of the text (the text ends at a NUL character "
       "(U+0000) at offset 14); 5 are needed (lines 1 to 5 each end with a line feed)"},
      {"Utf16BigEndian", "\xFE\xFF" + Repeat("\0c\0\n"s, 6),
       "f.cfg: only 0 line ends before the end of the text (the text ends at a NUL byte at "
       "offset 2); 5 are needed (lines 1 to 5 each end with a line feed)",
       "the file looks like UTF-16 big-endian; UTF-8, UTF-16 LE with its byte order mark (FF FE) "
       "and the machine's ANSI code page are read"},
      {"Utf16WithoutMark", Repeat("c\0\n\0"s, 6),
       "f.cfg: only 0 line ends before the end of the text (the text ends at a NUL byte at "
       "offset 1); 5 are needed (lines 1 to 5 each end with a line feed)",
       "the file looks like UTF-16 without a byte order mark; UTF-8, UTF-16 LE with its byte "
       "order mark (FF FE) and the machine's ANSI code page are read"},
      {"LeadByteAloneInCp932", "c\nd\nb\nskip\na\nu\x82\n",
       "f.cfg:6: line 6 is neither UTF-8 nor valid CP932 text",
       "a line that is not UTF-8 is read in the importing machine's ANSI code page (CP932 here); "
       "write the file as UTF-8, or UTF-16 LE with its byte order mark, to import it on a "
       "machine of any language",
       932},
  };
}

class RefusalMessage : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalMessage, NamesTheRuleAndWhere) {
  const RefusalCase& c = GetParam();
  const ParsedProfile parsed = testing::ParseAsRead(c.bytes, c.code_page);
  ASSERT_NE(parsed.verdict, ProfileTextVerdict::Accepted);
  const CheckedFile file{"f.cfg", StatusFor(parsed), c.bytes.size(), parsed, c.code_page};
  EXPECT_EQ(DescribeRefusal(file), c.message);
  EXPECT_EQ(TextReport(file), c.message + "\n" + (c.hint.empty() ? "" : "hint: " + c.hint + "\n"));
  const std::string json = JsonReport(file);
  const std::string hint = c.hint.empty() ? "" : "\"" + c.hint + "\"";
  EXPECT_EQ(json.find("\"hint\":" + hint) != std::string::npos, !c.hint.empty()) << json;
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusalMessage, ::testing::ValuesIn(RefusalCases()),
                         [](const auto& info) { return info.param.name; });

// What a JSON reader makes of an escaped text: \uXXXX units and \" \\ pairs.
std::u16string JsonDecoded(std::string_view json) {
  std::u16string out;
  for (std::size_t i = 0; i < json.size(); ++i) {
    if (json[i] == '\\' && json.at(i + 1) == 'u') {
      out += static_cast<char16_t>(std::stoul(std::string(json.substr(i + 2, 4)), nullptr, 16));
      i += 5;
    } else {
      out += static_cast<char16_t>(json[i] == '\\' ? json[++i] : json[i]);
    }
  }
  return out;
}

TEST(Escaping, ShowsEveryCharacterThatCouldHide) {
  struct Row {
    std::u16string text;
    std::string display;
    std::string json;
  };
  const std::vector<Row> rows = {
      {u"plain", "plain", "plain"},
      {u"a\\b\"c", "a\\\\b\\\"c", "a\\\\b\\\"c"},
      {u"cr\r tab\t", "cr\\r tab\\t", "cr\\u000d tab\\u0009"},
      {u"\x01\x1F\x7F", "\\x01\\x1f\\x7f", "\\u0001\\u001f\x7F"},
      {u"\u0085 nel", "\\u0085 nel", "\\u0085 nel"},
      // JSON stays ASCII, for consoles that would not read UTF-8 back.
      {u"caf\u00E9 \u20AC \U0001F600", "caf\u00E9 \u20AC \U0001F600",
       "caf\\u00e9 \\u20ac \\ud83d\\ude00"},
      {std::u16string(1, char16_t{0xD800}), "\\ud800", "\\ud800"},  // a lone surrogate
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EscapeForDisplay(row.text), row.display) << row.display;
    EXPECT_EQ(EscapeForJson(row.text), row.json) << row.json;
    EXPECT_TRUE(std::ranges::all_of(row.json, [](char c) { return (c & 0x80) == 0; })) << row.json;
    EXPECT_EQ(JsonDecoded(row.json), row.text) << row.json;
  }
}

TEST(Report, AcceptedFileListsValuesLengthsEncodingsAndIgnoredText) {
  std::string bytes = "Caf\xC3\xA9\r\nsrv\\\r\n\x80\r\nskip\r\n\r\njdoe\r\nafter\n";
  bytes += '\0';
  bytes.resize(600, 'z');
  const ParsedProfile parsed = testing::ParseAsRead(bytes, kWindows1252);
  const CheckedFile file{"sysfile.cfg", StatusFor(parsed), bytes.size(), parsed};
  EXPECT_EQ(TextReport(file),
            "sysfile.cfg: accepted; the importer would store\n"
            "  RegCorp      \"Caf\xC3\xA9\"    4/63   line 1: UTF-8\n"
            "  RegDataBase  \"srv\\\\\xE2\x82\xAC\"  5/31   lines 2 and 3: ASCII + Windows-1252\n"
            "  RegAdmin     \"\"        0/31   line 5: ASCII\n"
            "  RegUser      \"jdoe\"    4/31   line 6: ASCII\n"
            "note: 6 bytes of text after line 6 are ignored\n"
            "note: the text ends at a NUL byte at offset 36; the 475 bytes read after it are "
            "ignored\n"
            "note: the file is 600 bytes; only the first 512 are read, the other 88 are ignored\n");
}

}  // namespace
}  // namespace profile_import::check
