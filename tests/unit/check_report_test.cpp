#include "check/check_report.h"
#include "check/code_page.h"
#include "check/escaping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "project_env.h"
#include "support/hand_off_files.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace profile_import::check {
namespace {

using std::string_literals::operator""s;

struct RefusalCase {
  std::string name;
  std::string bytes;
  std::string message;
  // NOLINTNEXTLINE(readability-redundant-member-init): designated initializers may leave it out
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
       "f.cfg:6: line 6 is not valid CP932 text (the file is not UTF-8 through line 6, so every "
       "line is read in that code page)",
       "a file that is not UTF-8 is read in the importing machine's ANSI code page (CP932 here); "
       "write the whole file as UTF-8 with its byte order mark, or as UTF-16 LE with its mark, "
       "to import it on a machine of any language",
       932},
  };
}

class RefusalMessage : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalMessage, NamesTheRuleAndWhere) {
  const RefusalCase& c = GetParam();
  check::CodePage decoder{c.code_page};
  const ParsedProfile parsed = testing::ParseAsRead(c.bytes, decoder);
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

// The scripts name the importer's exit codes from cmake/project.env.
TEST(ExitCodes, AreTheOnesTheScriptsName) {
  for (const auto& [status, code] : project_env::kExitCodes) {
    EXPECT_EQ(ExitCode(status), std::to_string(code));
  }
  EXPECT_EQ(std::size(project_env::kExitCodes), 8U);
}

TEST(Report, AcceptedFileListsValuesLengthsEncodingsAndIgnoredText) {
  std::string bytes = "Caf\xC3\xA9\r\nsrv\\\r\n\x80\r\nskip\r\n\r\njdoe\r\nafter\n";
  bytes += '\0';
  bytes.resize(600, 'z');
  check::CodePage decoder{kWindows1252};
  const ParsedProfile parsed = testing::ParseAsRead(bytes, decoder);
  const CheckedFile file{"sysfile.cfg", StatusFor(parsed), bytes.size(), parsed};
  EXPECT_EQ(TextReport(file),
            "sysfile.cfg: accepted; the importer would store\n"
            "  RegCorp      \"Caf\xC3\x83\xC2\xA9\"   5/63   line 1: Windows-1252\n"
            "  RegDataBase  \"srv\\\\\xE2\x82\xAC\"  5/31   lines 2 and 3: ASCII + Windows-1252\n"
            "  RegAdmin     \"\"        0/31   line 5: ASCII\n"
            "  RegUser      \"jdoe\"    4/31   line 6: ASCII\n"
            "note: 6 bytes of text after line 6 are ignored\n"
            "note: the text ends at a NUL byte at offset 36; the 475 bytes read after it are "
            "ignored\n"
            "note: stored right only on machines whose ANSI code page is 1252 (Windows-1252): "
            "the file is not UTF-8, so each machine reads it in its own\n"
            "note: the file is 600 bytes; only the first 512 are read, the other 88 are ignored\n");
}

// Windows' own table for a code page: Wine's copies on Linux, System32's on Windows.
std::vector<std::uint16_t> WindowsTableWords(std::uint32_t number) {
#ifdef _WIN32
  std::array<char, MAX_PATH> system{};
  GetSystemDirectoryA(system.data(), static_cast<UINT>(system.size()));
  const std::string path = std::string(system.data()) + "\\c_" + std::to_string(number) + ".nls";
#else
  const std::string path = WindowsTablePath(number);
#endif
  std::vector<std::uint16_t> words;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return words;
  }
  std::array<std::uint8_t, 2> word{};
  while (std::fread(word.data(), 1, 2, file) == 2) {
    words.push_back(static_cast<std::uint16_t>(word[0] | (word[1] << 8U)));
  }
  static_cast<void>(std::fclose(file));
  return words;
}

// Where the lead bytes' offsets start in a table; 0 for a single-byte code page.
std::size_t LeadOffsets(const std::vector<std::uint16_t>& t) {
  const std::size_t single = t[0] + 1U;
  const std::size_t flag = single + 256 + (t[single + 256] != 0 ? 256 : 0) + 1;
  return t[flag] != 0 ? flag + 1 : 0;
}

constexpr int kRefused = -1;

// Windows' answer for one character's bytes (a byte, a lone lead byte, or a
// lead and trail pair), its UTF-16 unit or kRefused, read straight off its
// table: MB_ERR_INVALID_CHARS
// refuses the table's default character unless the bytes are its own, a
// single byte's private-use stand-in, and a lead byte without its trail.
int WindowsAnswer(const std::vector<std::uint16_t>& t, std::span<const std::uint8_t> bytes) {
  const std::size_t offsets = LeadOffsets(t);
  const std::uint16_t trails = offsets != 0 ? t[offsets + bytes[0]] : 0;
  const bool pair = trails != 0;
  if (pair && bytes.size() < 2) {
    return kRefused;
  }
  const char16_t unit = pair ? t[offsets + trails + bytes[1]] : t[t[0] + 1U + bytes[0]];
  const unsigned code = pair ? (unsigned{bytes[0]} << 8U) | bytes[1] : unsigned{bytes[0]};
  const bool stand_in =
      (unit == t[4] && code != t[6]) || (!pair && unit >= 0xE000 && unit <= 0xF8FF);
  return stand_in ? kRefused : int{unit};
}

// Every byte, every lone lead byte and every lead and trail pair of every ANSI
// code page but UTF-8: the checker must answer as Windows does.
TEST(CodePages, EveryCharacterDecodesAsWindowsDecodesIt) {
  int compared = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const std::uint32_t number : {874U, 1250U, 1251U, 1252U, 1253U, 1254U, 1255U, 1256U, 1257U,
                                     1258U, 932U, 936U, 949U, 950U}) {
    const std::vector<std::uint16_t> table = WindowsTableWords(number);
    if (table.size() < 600 || table[1] != number) {
      GTEST_SKIP() << "no Windows table for code page " << number
                   << " here (Wine installs them): nothing to compare with";
    }
    CodePage decoder{number};
    const std::size_t offsets = LeadOffsets(table);
    int mismatches = 0;
    const auto compare = [&](std::span<const std::uint8_t> bytes) {
      std::array<char16_t, 2> out{};
      const std::size_t units = decoder.multiByteToWideChar(bytes, out);
      const int got = units == 1 ? int{out[0]} : kRefused;
      const int want = WindowsAnswer(table, bytes);
      ++compared;
      if (got != want && ++mismatches <= 5) {
        ADD_FAILURE() << "code page " << number << ", bytes " << std::hex << int{bytes[0]} << " "
                      << (bytes.size() > 1 ? int{bytes[1]} : kRefused) << ": Windows gives " << want
                      << ", the checker " << got << " (-1: refused)";
      }
    };
    for (unsigned first = 1; first < 256; ++first) {
      const std::array<std::uint8_t, 2> pair = {static_cast<std::uint8_t>(first), 0};
      compare(std::span(pair).first(1));
      if (offsets == 0 || table[offsets + first] == 0) {
        continue;
      }
      for (unsigned trail = 0; trail < 256; ++trail) {
        compare(std::array<std::uint8_t, 2>{pair[0], static_cast<std::uint8_t>(trail)});
      }
    }
    EXPECT_EQ(mismatches, 0) << "code page " << number;
  }
  const auto took = std::chrono::steady_clock::now() - start;
  RecordProperty("characters_compared", compared);
  RecordProperty(
      "milliseconds",
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

}  // namespace
}  // namespace profile_import::check
