#include "profile/profile_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "profile/text_encoding.h"
#include "unit/test_code_page.h"

namespace profile_import {
namespace {

using std::string_literals::operator""s;
using Verdict = ProfileTextVerdict;

struct ParseCase {
  std::string name;
  std::string bytes;
  Verdict verdict;
  // NOLINTNEXTLINE(readability-redundant-member-init): designated initializers may leave them out
  std::u16string corp{}, database{}, admin{}, user{};
  std::uint32_t code_page = 1252;  // what lines neither ASCII nor UTF-8 are read with
};

std::string Times(const std::string& text, std::size_t count) {
  std::string result;
  for (std::size_t i = 0; i < count; ++i) {
    result += text;
  }
  return result;
}
std::string Repeat(char c, std::size_t count) {
  return std::string(count, c);
}

// A text of exactly kProfileReadSize bytes, with filler in line 4.
std::string FullRead(const std::string& before_line4, const std::string& after_line4) {
  const std::size_t filler = kProfileReadSize - before_line4.size() - after_line4.size();
  return before_line4 + Repeat('x', filler) + after_line4;
}

// A UTF-16 LE file with its byte order mark, as PowerShell's Out-File writes it.
std::string Utf16(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFFU);
    bytes += static_cast<char>(unit >> 8U);
  }
  return bytes;
}
std::u16string Units(char16_t unit, std::size_t count) {
  return std::u16string(count, unit);
}
const std::u16string kHigh(1, char16_t{0xD83D});  // half of U+1F600
const std::u16string kLow(1, char16_t{0xDE00});

std::vector<ParseCase> ParseCases() {
  return {
      {"SixLfLines", "Acme\nsrv\\\ndb\nskip\nadmin\nuser\n", Verdict::Accepted, u"Acme", u"srv\\db",
       u"admin", u"user"},
      {"CrLfLineEndsAreNotStored", "Acme\r\nsrv\r\ndb\r\nskip\r\nadmin\r\nuser\r\n",
       Verdict::Accepted, u"Acme", u"srvdb", u"admin", u"user"},
      {"OnlyTheCrBeforeLfIsALineEnd", "A\rB\r\r\n\r\n\n\nadmin\nuser\r", Verdict::Accepted,
       u"A\rB\r", u"", u"admin", u"user\r"},
      {"EmptyLine2GivesLine3", "c\n\ndef\n\n\n\n", Verdict::Accepted, u"c", u"def", u"", u""},
      {"FiveLineEndsAndNothingAfter", "c\nd\ne\nf\na\n", Verdict::Accepted, u"c", u"de", u"a", u""},
      {"LastLineEndsAtEndOfText", "c\nd\ne\nf\na\nlast", Verdict::Accepted, u"c", u"de", u"a",
       u"last"},
      {"TextAfterLine6Ignored", "c\nd\ne\nf\na\nu\n" + Repeat('z', 300) + "\n\n", Verdict::Accepted,
       u"c", u"de", u"a", u"u"},
      {"NulEndsLine6", "c\nd\ne\nf\na\nus\0er\n"s, Verdict::Accepted, u"c", u"de", u"a", u"us"},
      {"LongLine4PassedOver", "c\nd\ne\n" + Repeat('4', 450) + "\na\nu\n", Verdict::Accepted, u"c",
       u"de", u"a", u"u"},
      {"ByteOrderMarkDropped",
       "\xEF\xBB\xBF"
       "c\nd\ne\nf\na\nu\n",
       Verdict::Accepted, u"c", u"de", u"a", u"u"},
      {"ByteOrderMarkLaterIsText",
       "c\n\xEF\xBB\xBF"
       "d\ne\nf\na\nu\n",
       Verdict::Accepted, u"c", u"\uFEFFde", u"a", u"u"},
      {"Utf8TwoThreeAndFourBytes", "M\xC3\xBCller\n\xE2\x82\xAC\n\xF0\x9F\x98\x80\nf\na\nu\n",
       Verdict::Accepted, u"M\u00FCller", u"\u20AC\U0001F600", u"a", u"u"},
      {"Windows1252", "Caf\xE9\n\x80\x81\n\x9F\nf\n\x8D\x8F\x90\x9D\nna\xEFve\n", Verdict::Accepted,
       u"Caf\u00E9", u"\u20AC\u0081\u0178", u"\u008D\u008F\u0090\u009D", u"na\u00EFve"},
      // One encoding per file: a line that happens to be UTF-8 is read with the rest.
      {"OneEncodingForTheWholeFile", "\xC3\xA9\n\xE9\nx\nf\n\xC3\xA9\xE9\nu\n", Verdict::Accepted,
       u"\u00C3\u00A9", u"\u00E9x", u"\u00C3\u00A9\u00E9", u"u"},
      {"NonUtf8Line4DecidesTheFile", "Caf\xC3\xA9\nd\ne\n\xE9\na\nu\n", Verdict::Accepted,
       u"Caf\u00C3\u00A9", u"de", u"a", u"u"},
      {"MarkThenLineNotUtf8Refused", "\xEF\xBB\xBFok\nd\ne\nf\na\nu\xE9\n",
       Verdict::NotWellFormedUtf8},
      {"Utf8CutAt512AfterLineSixChangesNothing",
       "\xC3\xA9\nd\ne\nf\na\nu\n" + Repeat('x', kProfileReadSize - 15) + "\xC3", Verdict::Accepted,
       u"\u00E9", u"de", u"a", u"u"},
      // Other ANSI code pages, as machines of other languages read the same bytes.
      {"Cp1251Cyrillic", "\xD2\xE5\xF1\nSQL01\\\n\xC3\xCB\nf\n\xE0\xE4\nu\n", Verdict::Accepted,
       u"\u0422\u0435\u0441", u"SQL01\\\u0413\u041B", u"\u0430\u0434", u"u", 1251},
      {"Cp1251UnassignedByteIsItsCodePoint", "c\x98\nd\ne\nf\na\nu\n", Verdict::Accepted,
       u"c\u0098", u"de", u"a", u"u", 1251},
      {"Cp932DoubleBytesCountAsOneUnit", "\x83\x5C\nd\ne\nf\n" + Times("\x82\xA0", 31) + "\nu\n",
       Verdict::Accepted, u"\u30BD", u"de", std::u16string(31, u'\u3042'), u"u", 932},
      {"Cp932AdminOnePast", "c\nd\ne\nf\n" + Times("\x82\xA0", 32) + "\nu\n", Verdict::AdminTooLong,
       u"", u"", u"", u"", 932},
      {"Cp932LoneLeadByteRefused", "c\nd\ne\nf\na\nuser\x82\n", Verdict::NotInCodePage, u"", u"",
       u"", u"", 932},
      {"Cp932Line4NeverDecoded", "c\nd\ne\n\x82\na\nu\n", Verdict::Accepted, u"c", u"de", u"a",
       u"u", 932},
      {"Utf8LineReadAsUtf8InAnyCodePage", "\xC3\xA9\nd\ne\nf\na\nu\n", Verdict::Accepted, u"\u00E9",
       u"de", u"a", u"u", 1251},
      {"MalformedUtf8FallsBackTo1252",
       "\xC0\x80\n\xED\xA0\x80\n\xF4\x90\x80\x80\nf\n\xE2\x82\na\xC3\n", Verdict::Accepted,
       u"\u00C0\u20AC", u"\u00ED\u00A0\u20AC\u00F4\u0090\u20AC\u20AC", u"\u00E2\u201A", u"a\u00C3"},
      // Each rule of well-formed UTF-8 alone: the sequence just inside it is
      // UTF-8, the one just outside sends the whole file to the code page.
      {"Utf8LowestOfEachLength", "\xC2\x80\n\xE0\xA0\x80\n\xF0\x90\x80\x80\nf\na\nu\n",
       Verdict::Accepted, u"\u0080", u"\u0800\U00010000", u"a", u"u"},
      {"Utf8HighestOfEachRange", "\xDF\xBF\n\xED\x9F\xBF\n\xF4\x8F\xBF\xBF\nf\na\nu\n",
       Verdict::Accepted, u"\u07FF", u"\uD7FF\U0010FFFF", u"a", u"u"},
      {"Utf8LoneContinuationIsNot", "\x80\nd\ne\nf\na\nu\n", Verdict::Accepted, u"\u20AC", u"de",
       u"a", u"u"},
      {"Utf8OverlongTwoBytesIsNot", "\xC1\xBF\nd\ne\nf\na\nu\n", Verdict::Accepted, u"\u00C1\u00BF",
       u"de", u"a", u"u"},
      {"Utf8OverlongThreeBytesIsNot", "\xE0\x9F\xBF\nd\ne\nf\na\nu\n", Verdict::Accepted,
       u"\u00E0\u0178\u00BF", u"de", u"a", u"u"},
      {"Utf8SurrogateIsNot", "\xED\xA0\x80\nd\ne\nf\na\nu\n", Verdict::Accepted,
       u"\u00ED\u00A0\u20AC", u"de", u"a", u"u"},
      {"Utf8OverlongFourBytesIsNot", "\xF0\x8F\xBF\xBF\nd\ne\nf\na\nu\n", Verdict::Accepted,
       u"\u00F0\u008F\u00BF\u00BF", u"de", u"a", u"u"},
      {"Utf8AboveU10FFFFIsNot", "\xF4\x90\x80\x80\nd\ne\nf\na\nu\n", Verdict::Accepted,
       u"\u00F4\u0090\u20AC\u20AC", u"de", u"a", u"u"},
      {"Utf8LeadF5IsNot", "\xF5\x80\x80\x80\nd\ne\nf\na\nu\n", Verdict::Accepted,
       u"\u00F5\u20AC\u20AC\u20AC", u"de", u"a", u"u"},
      {"Utf8MissingContinuationIsNot", "\xE2\x82\xC3\nd\ne\nf\na\nu\n", Verdict::Accepted,
       u"\u00E2\u201A\u00C3", u"de", u"a", u"u"},
      {"EmptyFile", "", Verdict::TooFewLineEnds, u"", u"", u"", u""},
      {"FourLineEnds", "c\nd\ne\nf\nadmin", Verdict::TooFewLineEnds, u"", u"", u"", u""},
      {"NulInLine3", "c\nd\ne\0\nf\na\nu\n"s, Verdict::TooFewLineEnds, u"", u"", u"", u""},
      {"FieldsAtCapacity",
       Repeat('c', 63) + "\r\n" + Repeat('d', 20) + "\n" + Repeat('e', 11) + "\nf\n" +
           Repeat('a', 31) + "\n" + Repeat('u', 31) + "\r\n",
       Verdict::Accepted, std::u16string(63, u'c'),
       std::u16string(20, u'd') + std::u16string(11, u'e'), std::u16string(31, u'a'),
       std::u16string(31, u'u')},
      {"CapacityCountsCodeUnitsNotBytes", "c\nd\ne\nf\n" + Times("\xC3\xA9", 31) + "\nu\n",
       Verdict::Accepted, u"c", u"de", std::u16string(31, u'\u00E9'), u"u"},
      {"CorpTooLong", Repeat('c', 64) + "\nd\ne\nf\na\nu\n", Verdict::CorpTooLong},
      {"DataBaseTooLongTogether", "c\n" + Repeat('d', 16) + "\n" + Repeat('e', 16) + "\nf\na\nu\n",
       Verdict::DataBaseTooLong},
      {"AdminTooLong", "c\nd\ne\nf\n" + Repeat('a', 32) + "\nu\n", Verdict::AdminTooLong},
      {"UserTooLongInSurrogates", "c\nd\ne\nf\na\n" + Times("\xF0\x9F\x98\x80", 16),
       Verdict::UserTooLong},
      {"FullReadWithoutNulAndLine6Open", FullRead("c\nd\ne\n", "\na\nuser"),
       Verdict::LastLineMayBeCut},
      {"FullReadFifthLfIsLastByte", FullRead("c\nd\ne\n", "\na\n"), Verdict::LastLineMayBeCut},
      {"FullReadWithSixthLf", FullRead("c\nd\ne\n", "\na\nu\n"), Verdict::Accepted, u"c", u"de",
       u"a", u"u"},
      {"BytesPastTheReadAreNeverLookedAt", FullRead("c\nd\ne\n", "\na\nu\n") + "more\0"s,
       Verdict::Accepted, u"c", u"de", u"a", u"u"},
      {"SixthLfPastTheReadIsNotSeen", FullRead("c\nd\ne\n", "\na\nuser") + "\n",
       Verdict::LastLineMayBeCut},
      // UTF-16 LE, by its byte order mark.
      {"Utf16CrLf", Utf16(u"Caf\u00E9\r\nSQL01\\\r\nMAIN\r\nx\r\nadmin\r\njdoe\r\n"),
       Verdict::Accepted, u"Caf\u00E9", u"SQL01\\MAIN", u"admin", u"jdoe"},
      {"Utf16UnitsStoredAsTheyStand", Utf16(u"\u20AC\r\r\nx\n\n\uFFFF\n\uFEFF\na\r"),
       Verdict::Accepted, u"\u20AC\r", u"x", u"\uFEFF", u"a\r"},
      {"Utf16AtCapacity",
       Utf16(Units(u'\u00E9', 63) + u"\n" + Units(u'd', 20) + u"\n" + Units(u'e', 11) + u"\nf\n" +
             Units(u'a', 31) + u"\n" + Units(u'u', 31)),
       Verdict::Accepted, Units(u'\u00E9', 63), Units(u'd', 20) + Units(u'e', 11), Units(u'a', 31),
       Units(u'u', 31)},
      {"Utf16CorpOnePast", Utf16(Units(u'c', 64) + u"\nd\ne\nf\na\nu\n"), Verdict::CorpTooLong},
      {"Utf16DataBaseOnePast",
       Utf16(u"c\n" + Units(u'd', 16) + u"\n" + Units(u'e', 16) + u"\nf\na\nu"),
       Verdict::DataBaseTooLong},
      {"Utf16AdminOnePast", Utf16(u"c\nd\ne\nf\n" + Units(u'a', 32) + u"\nu"),
       Verdict::AdminTooLong},
      {"Utf16UserCountsUnits", Utf16(u"c\nd\ne\nf\na\n" + Units(u'u', 30) + kHigh + kLow),
       Verdict::UserTooLong},
      {"Utf16SurrogatePair", Utf16(u"c\nd\n" + kHigh + kLow + u"\nf\na\nu\U0001F600\n"),
       Verdict::Accepted, u"c", u"d\U0001F600", u"a", u"u\U0001F600"},
      {"Utf16LoneHighSurrogate", Utf16(u"c" + kHigh + u"\nd\ne\nf\na\nu\n"),
       Verdict::NotWellFormedUtf16},
      {"Utf16HighSurrogateBeforeLineEnd", Utf16(u"c\nd\ne\nf\na\nu" + kHigh + u"\r\n" + kLow),
       Verdict::NotWellFormedUtf16},
      {"Utf16HighSurrogateBeforeAnother", Utf16(u"c" + kHigh + kHigh + u"\nd\ne\nf\na\nu\n"),
       Verdict::NotWellFormedUtf16},
      {"Utf16LoneLowSurrogate", Utf16(u"c\nd\ne" + kLow + u"\nf\na\nu\n"),
       Verdict::NotWellFormedUtf16},
      {"Utf16Line4AndTailNotChecked", Utf16(u"c\nd\ne\n" + kLow + u"\na\nu\n" + kHigh),
       Verdict::Accepted, u"c", u"de", u"a", u"u"},
      {"Utf16TextAfterLine6Ignored", Utf16(u"c\nd\ne\nf\na\nu\n" + Units(u'z', 200) + u"\n"),
       Verdict::Accepted, u"c", u"de", u"a", u"u"},
      {"Utf16EndsAtU0000", Utf16(u"c\nd\ne\nf\na\nus\0er\n"s), Verdict::Accepted, u"c", u"de", u"a",
       u"us"},
      {"Utf16OddLastByteIsAUnit", Utf16(u"c\nd\ne\nf\na\nu") + "v", Verdict::Accepted, u"c", u"de",
       u"a", u"uv"},
      {"Utf16FourLineEnds", Utf16(u"c\nd\ne\nf\na"), Verdict::TooFewLineEnds},
      {"Utf16FullReadCut", Utf16(u"c\nd\ne\n" + Units(u'x', 255 - 11) + u"\na\nuu"),
       Verdict::LastLineMayBeCut},
      {"Utf16FullReadWithSixthLf", Utf16(u"c\nd\ne\n" + Units(u'x', 255 - 11) + u"\na\nu\n"),
       Verdict::Accepted, u"c", u"de", u"a", u"u"},
      {"Utf16BigEndianMarkIsNotRead", "\xFE\xFF" + Utf16(u"c\nd\ne\nf\na\nu\n").substr(2),
       Verdict::TooFewLineEnds},
      {"Utf16WithoutMarkIsNotRead", Utf16(u"c\nd\ne\nf\na\nu\n").substr(2),
       Verdict::TooFewLineEnds},
      {"Windows1252ThornIsNotAMarkLater", "c\n\xFF\xFE\nd\nf\na\nu\n", Verdict::Accepted, u"c",
       u"\u00FF\u00FEd", u"a", u"u"},
  };
}

void PrintTo(const ParseCase& c, std::ostream* out) {
  *out << c.name;
}

class ParseProfileTextTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseProfileTextTest, SplitsDecodesAndChecks) {
  const ParseCase& c = GetParam();
  const auto* data = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
  testing::TestCodePage code_page{c.code_page};
  const ParsedProfile parsed = ParseProfileText({data, c.bytes.size()}, code_page);
  ASSERT_EQ(parsed.verdict, c.verdict);
  if (c.verdict != Verdict::Accepted) {
    return;
  }
  EXPECT_EQ(parsed.profile.Corp.View(), c.corp);
  // What the checker reports the first line was read as.
  const bool ascii = std::ranges::all_of(c.corp, [](char16_t unit) { return unit < 0x80; });
  EXPECT_EQ(parsed.encodings[0], parsed.utf16_le ? TextEncoding::Utf16Le
                                 : ascii         ? TextEncoding::Ascii
                                 : parsed.utf8   ? TextEncoding::Utf8
                                                 : TextEncoding::AnsiCodePage);
  EXPECT_EQ(parsed.profile.DataBase.View(), c.database);
  EXPECT_EQ(parsed.profile.Admin.View(), c.admin);
  EXPECT_EQ(parsed.profile.User.View(), c.user);
}

INSTANTIATE_TEST_SUITE_P(Rows, ParseProfileTextTest, ::testing::ValuesIn(ParseCases()),
                         [](const auto& info) { return info.param.name; });

// The one UTF-16 to UTF-8 conversion every program writes UTF-8 with.
TEST(EncodeUtf8, EncodesEachLengthAndLoneSurrogatesAsReplacement) {
  struct Row {
    std::u16string text;
    std::string utf8;
  };
  const std::vector<Row> rows = {
      {u"A\u007F", "A\x7F"},
      {u"\u0080\u07FF", "\xC2\x80\xDF\xBF"},
      {u"\u0800\uFFFF", "\xE0\xA0\x80\xEF\xBF\xBF"},
      {u"\U00010000\U0010FFFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
      {std::u16string{char16_t{0xD800}, u'a'},
       "\xEF\xBF\xBD"
       "a"},                                                      // a high half alone
      {std::u16string{u'a', char16_t{0xDFFF}}, "a\xEF\xBF\xBD"},  // a low half alone
      {std::u16string{char16_t{0xDC00}, char16_t{0xD800}}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const Row& row : rows) {
    std::array<std::uint8_t, 16> out{};
    ASSERT_EQ(EncodeUtf8(row.text, {}), row.utf8.size()) << row.utf8;
    ASSERT_EQ(EncodeUtf8(row.text, out), row.utf8.size()) << row.utf8;
    const std::span<const std::uint8_t> written = std::span{out}.first(row.utf8.size());
    EXPECT_EQ(std::string(written.begin(), written.end()), row.utf8);
  }
  // Cut where the buffer ends, nothing written past it; the length is the whole's.
  std::array<std::uint8_t, 3> cut{0, 0, 0x55};
  EXPECT_EQ(EncodeUtf8(u"a\u20AC", std::span{cut}.first(2)), 4U);
  EXPECT_EQ(cut, (std::array<std::uint8_t, 3>{'a', 0xE2, 0x55}));
}

}  // namespace
}  // namespace profile_import
