#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "publish/account.h"
#include "publish/history.h"
#include "publish/master_text.h"
#include "publish/plan.h"
#include "publish/users_csv.h"
#include "unit/test_code_page.h"

namespace profile_import::publish {
namespace {

using std::string_literals::operator""s;

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}
std::u16string Units(char16_t unit, std::size_t count) {
  return std::u16string(count, unit);
}

struct WriteCase {
  std::string name;
  MasterValues values;
  MasterVerdict verdict;
  std::size_t field = kFieldCount;
};

class WriteMasterTest : public ::testing::TestWithParam<WriteCase> {};

// Every master written reads back through the importer's parser as its row;
// anything else is refused, naming the value.
TEST_P(WriteMasterTest, ReadsBackAsItsRowOrIsRefused) {
  const WriteCase& c = GetParam();
  const MasterText text = WriteMaster(c.values);
  EXPECT_EQ(text.verdict, c.verdict);
  EXPECT_EQ(text.field, c.field);
  if (c.verdict == MasterVerdict::Written) {
    EXPECT_EQ(text.bytes.size() > 3 && text.bytes[0] == 0xEF, true);
    testing::TestCodePage code_page(1252);
    MasterValues read{};
    ASSERT_TRUE(ReadMaster(text.bytes, code_page, read));
    EXPECT_EQ(read, c.values);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, WriteMasterTest,
    ::testing::Values(WriteCase{"AllEmpty", {}, MasterVerdict::Written},
                      WriteCase{"AtCapacity",
                                MasterValues{{Units(u'c', 63), Units(u'd', 31), Units(u'a', 31),
                                              Units(u'u', 31)}},
                                MasterVerdict::Written},
                      // Three UTF-8 bytes a unit, every value full: still within one read.
                      WriteCase{"CjkAtCapacity",
                                MasterValues{{Units(u'\u3042', 63), Units(u'\u5B66', 31),
                                              Units(u'\u30BD', 31), Units(u'\uD55C', 31)}},
                                MasterVerdict::Written},
                      WriteCase{"LatinCyrillicGreek",
                                MasterValues{{u"Tessavo Ümlaut", u"База", u"Ελλάδα", u"Łódź"}},
                                MasterVerdict::Written},
                      WriteCase{"SurrogatePair", MasterValues{{u"\U0001F600", {}, {}, {}}},
                                MasterVerdict::Written},
                      WriteCase{"CorpOverCapacity", MasterValues{{Units(u'c', 64), {}, {}, {}}},
                                MasterVerdict::Refused, kCorp},
                      WriteCase{"DataBaseOverCapacity", MasterValues{{{}, Units(u'd', 32), {}, {}}},
                                MasterVerdict::Refused, kDataBase},
                      WriteCase{"UserOverCapacity",
                                MasterValues{{{}, {}, {}, Units(u'\u00E9', 32)}},
                                MasterVerdict::Refused, kUser},
                      WriteCase{"LfInValue", MasterValues{{{}, {}, u"a\nb", {}}},
                                MasterVerdict::LineEndInValue, kAdmin},
                      WriteCase{"CrInValue", MasterValues{{{}, u"db\r", {}, {}}},
                                MasterVerdict::LineEndInValue, kDataBase},
                      WriteCase{"NulInValue", MasterValues{{{}, {}, {}, u"us\0er"s}},
                                MasterVerdict::DoesNotReadBack, kUser},
                      WriteCase{"LoneSurrogate", MasterValues{{u"\xD83D", {}, {}, {}}},
                                MasterVerdict::DoesNotReadBack, kCorp}),
    [](const auto& info) { return info.param.name; });

TEST(WriteMaster, LaysOutTheLinesTheReaderReads) {
  const MasterText text = WriteMaster(MasterValues{{u"Acme", u"srv\\db", u"admin", u"user"}});
  EXPECT_EQ(text.bytes, Bytes("\xEF\xBB\xBF"
                              "Acme\nsrv\\db\n\n\nadmin\nuser\n"));
}

struct CsvCase {
  std::string name;
  std::string text;
  CsvVerdict verdict;
  std::size_t line = 0;
  // NOLINTNEXTLINE(readability-redundant-member-init): designated initializers may leave them out
  std::vector<std::string> accounts{};
  MasterValues first{};
};

class UsersCsvTest : public ::testing::TestWithParam<CsvCase> {};

TEST_P(UsersCsvTest, ReadsRowsOrRefusesWithTheLine) {
  const CsvCase& c = GetParam();
  const UsersCsv csv = ReadUsersCsv(c.text);
  EXPECT_EQ(csv.verdict, c.verdict);
  EXPECT_EQ(csv.line, c.line);
  std::vector<std::string> accounts(csv.rows.size());
  std::ranges::transform(csv.rows, accounts.begin(),
                         [](const UserRow& row) { return row.account; });
  EXPECT_EQ(accounts, c.accounts);
  if (!csv.rows.empty()) {
    EXPECT_EQ(csv.rows[0].values, c.first);
  }
}

const std::string kHeader = "account,RegCorp,RegDataBase,RegAdmin,RegUser\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, UsersCsvTest,
    ::testing::Values(
        CsvCase{"Plain",
                kHeader + "S-1-5-21-1-2-3-1001,Acme,db,adm,usr\n",
                CsvVerdict::Read,
                0,
                {"S-1-5-21-1-2-3-1001"},
                MasterValues{{u"Acme", u"db", u"adm", u"usr"}}},
        CsvCase{"BomCrLfNoLastLineEnd",
                "\xEF\xBB\xBF"
                "account,RegCorp,RegDataBase,RegAdmin,RegUser\r\nx@y,é,b,c,d",
                CsvVerdict::Read,
                0,
                {"x@y"},
                MasterValues{{u"é", u"b", u"c", u"d"}}},
        CsvCase{
            "QuotesCommasDoubledQuotes",
            "RegUser,RegAdmin,account,RegDataBase,RegCorp\n\"u,1\",\"say \"\"hi\"\"\",A\\b,,\"\"\n",
            CsvVerdict::Read,
            0,
            {"A\\b"},
            MasterValues{{u"", u"", u"say \"hi\"", u"u,1"}}},
        // As PowerShell's Export-Csv writes it: every field quoted.
        CsvCase{"QuotedHeaderAndBlankLines",
                "\"RegCorp\",\"RegDataBase\",\"RegAdmin\",\"RegUser\",\"account\"\r\n\r\n"
                "\"Acme\",\"db\",\"adm\",\"usr\",\"x@y\"\r\n\r\n",
                CsvVerdict::Read,
                0,
                {"x@y"},
                MasterValues{{u"Acme", u"db", u"adm", u"usr"}}},
        CsvCase{"MissingColumn", "account,RegCorp,RegDataBase,RegAdmin\n",
                CsvVerdict::MissingColumn, 1},
        CsvCase{"UnknownColumn", kHeader.substr(0, kHeader.size() - 1) + ",Mode\n",
                CsvVerdict::UnknownColumn, 1},
        CsvCase{"NewlineInQuotedField",
                kHeader + "a@b,c,d,e,f\nc@d,\"x\ny\",d,e,f\n",
                CsvVerdict::NewlineInField,
                3,
                {}},
        CsvCase{"AccountTwiceInAnotherCase",
                kHeader + "s-1-5-21-9,c,d,e,f\nS-1-5-21-9,c,d,e,f\n",
                CsvVerdict::AccountTwice,
                3,
                {}},
        CsvCase{"ShortRow", kHeader + "a@b,c,d,e\n", CsvVerdict::WrongFieldCount, 2, {}},
        CsvCase{"OneFieldRow", kHeader + "a@b\n", CsvVerdict::WrongFieldCount, 2, {}},
        CsvCase{"QuoteInsideField", kHeader + "a@b,c\"d,d,e,f\n", CsvVerdict::BadQuoting, 2, {}},
        CsvCase{"UnclosedQuote", kHeader + "a@b,\"c,d,e,f\n", CsvVerdict::NewlineInField, 2, {}},
        CsvCase{"NotUtf8", kHeader + "a@b,\xE9,d,e,f\n", CsvVerdict::NotUtf8, 2, {}},
        CsvCase{"EmptyAccount", kHeader + ",c,d,e,f\n", CsvVerdict::EmptyAccount, 2, {}}),
    [](const auto& info) { return info.param.name; });

struct AccountCase {
  std::string text;
  AccountKind kind;
  // NOLINTNEXTLINE(readability-redundant-member-init): rows may leave them out
  std::string sid{};
};

// Entra known answers, by hand: the GUID's bytes in memory are Data1, Data2
// and Data3 byte-swapped, then Data4 as written. For
// 00000001-0002-0003-0405-060708090a0b that is 01 00 00 00 | 02 00 03 00 |
// 04 05 06 07 | 08 09 0a 0b, four little-endian words 0x1, 0x00030002 =
// 196610, 0x07060504 = 117835012, 0x0b0a0908 = 185207048. For
// 6f5b1c2e-8a3d-4b7f-9e21-0c4d5a6b7e8f: 0x6f5b1c2e = 1868241966, 0x4b7f8a3d
// = 1266649661, 0x4d0c219e = 1292640670, 0x8f7e6b5a = 2407426906.
TEST(ClassifyAccount, FormsAndEntraSids) {
  const std::vector<AccountCase> cases = {
      {"S-1-5-21-1004336348-1177238915-682003330-512", AccountKind::Sid,
       "S-1-5-21-1004336348-1177238915-682003330-512"},
      {"S-1-12-1-1-2-3-4", AccountKind::Sid, "S-1-12-1-1-2-3-4"},
      {"00000001-0002-0003-0405-060708090a0b", AccountKind::EntraObjectId,
       "S-1-12-1-1-196610-117835012-185207048"},
      {"{6F5B1C2E-8A3D-4B7F-9E21-0C4D5A6B7E8F}", AccountKind::EntraObjectId,
       "S-1-12-1-1868241966-1266649661-1292640670-2407426906"},
      {"ffffffff-ffff-ffff-ffff-ffffffffffff", AccountKind::EntraObjectId,
       "S-1-12-1-4294967295-4294967295-4294967295-4294967295"},
      {"CORP\\jdoe", AccountKind::DownLevelName},
      {"jdoe@corp.example", AccountKind::UserPrincipalName},
      {"S-1-5-21-4294967296", AccountKind::Invalid},  // a sub-authority over 32 bits
      {"S-1-5-021", AccountKind::Invalid},            // not the form Windows writes
      {"s-1-5-21", AccountKind::Invalid},
      {"S-1-5", AccountKind::Invalid},
      {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", AccountKind::Invalid},
      {"0000001-0002-0003-0405-060708090a0bb", AccountKind::Invalid},
      {"00000001-0002-0003-0405-060708090a0g", AccountKind::Invalid},
      {"a\\b\\c", AccountKind::Invalid},
      {"@corp", AccountKind::Invalid},
      {"jdoe", AccountKind::Invalid},
  };
  for (const AccountCase& c : cases) {
    const Account account = ClassifyAccount(c.text);
    EXPECT_EQ(account.kind, c.kind) << c.text;
    EXPECT_EQ(account.sid, c.sid) << c.text;
  }
}

TEST(DiffMaster, CreateChangeUnchanged) {
  struct DiffCase {
    std::optional<std::string> current;
    MasterAction action;
    std::array<bool, kFieldCount> changed;
  };
  const MasterValues row = MasterValues{{u"Acme", u"srvdb", u"admin", u"user"}};
  const std::vector<DiffCase> cases = {
      {std::nullopt, MasterAction::Create, {true, true, true, true}},
      {"Acme\nsrv\ndb\nskip\nadmin\nuser\n",
       MasterAction::Unchanged,
       {}},  // other bytes, same values
      {"Acme\r\nsrvdb\r\n\r\n\r\nroot\r\nuser\r\n",
       MasterAction::Change,
       {false, false, true, false}},
      {"Acme\n", MasterAction::Change, {true, true, true, true}},  // the importer refuses it
  };
  testing::TestCodePage code_page(1252);
  for (const DiffCase& c : cases) {
    const auto current = c.current ? std::optional(Bytes(*c.current)) : std::nullopt;
    const MasterDiff diff = DiffMaster(current, row, code_page);
    EXPECT_EQ(diff.action, c.action) << c.current.value_or("none");
    EXPECT_EQ(diff.changed, c.changed) << c.current.value_or("none");
  }
  // As a run reads masters: one in a code page, which profile-sync refuses,
  // is rewritten even where its values are the row's.
  NoCodePage no_code_page;
  EXPECT_EQ(DiffMaster(Bytes("\xC4rzte\nsrvdb\n\n\nadmin\nuser\n"),
                       MasterValues{{u"\u00C4rzte", u"srvdb", u"admin", u"user"}}, no_code_page)
                .action,
            MasterAction::Change);
}

TEST(History, NamesAndPruning) {
  EXPECT_EQ(HistoryName(134413419010000000), "sysfile.20261210T020501Z.cfg");
  EXPECT_EQ(HistoryName(133537247990000000), "sysfile.20240229T235959Z.cfg");
  std::vector<std::string> names = {"sysfile.cfg", "notes.txt", "sysfile.2026121XT020501Z.cfg"};
  for (int day = 10; day < 17; ++day) {
    names.push_back("sysfile.202612" + std::to_string(day) + "T000000Z.cfg");
  }
  EXPECT_EQ(HistoryToPrune(names), (std::vector<std::string>{"sysfile.20261211T000000Z.cfg",
                                                             "sysfile.20261210T000000Z.cfg"}));
  EXPECT_EQ(NewestHistory(names), "sysfile.20261216T000000Z.cfg");
  EXPECT_TRUE(HistoryToPrune({names.begin(), names.begin() + 8}).empty());
  EXPECT_EQ(NewestHistory({"sysfile.cfg"}), "");
}

}  // namespace
}  // namespace profile_import::publish
