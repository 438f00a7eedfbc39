#include "app/run_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fake_port.h"

namespace profile_import {
namespace {

using testing::FailingCall;
using testing::FakePort;

const std::string kValidFile = "Acme\r\nsrv\\\r\nmain\r\nskip\r\n\r\njdoe\r\n";
const std::string kAnsiFile = "Caf\xE9\nsrv\nmain\nskip\nadmin\njdoe\n";
const std::vector<std::u16string> kAllFour = {u"RegCorp", u"RegDataBase", u"RegAdmin", u"RegUser"};
constexpr std::uint32_t kSymbolicLinkTag = 0xA000000C;  // IO_REPARSE_TAG_SYMLINK
constexpr std::uint32_t kCloudFileTag = 0x9000001A;     // IO_REPARSE_TAG_CLOUD: OneDrive's own data

// One row per fault the platform can produce, and every pairing of the key's
// open and create outcomes.
struct RunCase {
  std::string name;
  std::set<FailingCall> failing;
  bool key_exists;
  ImportStatus status;
  std::size_t values_written;  // a prefix of kAllFour, in order
  bool file_deleted;
  std::optional<std::string> file = kValidFile;
  std::optional<std::string> replacement = std::nullopt;  // put in place after the import's read
  std::optional<std::uint32_t> reparse_tag = std::nullopt;
};

std::vector<RunCase> Cases() {
  using enum FailingCall;
  using enum ImportStatus;
  return {
      {"NoFault", {}, true, ImportOk, 4, true},
      {"NoFile", {}, true, NoProfileFile, 0, false, std::nullopt},
      {"TextRejected", {}, true, ProfileRejected, 0, false, "only\nfour\nline\nends\n"},
      // A line neither ASCII nor UTF-8 is read in the machine's ANSI code page.
      {"AnsiTextDecoded", {}, true, ImportOk, 4, true, kAnsiFile},
      {"AnsiTextNotInCodePage", {MultiByteToWideChar}, true, ProfileRejected, 0, false, kAnsiFile},
      {"FileOpenFails", {CreateFile}, true, NoProfileFile, 0, false},
      {"ReadFails", {ReadFile}, true, ReadFailed, 0, false},
      {"FirstWriteFails", {FirstWrite}, true, WriteFailed, 0, false},
      {"SecondWriteFails", {SecondWrite}, true, WriteFailed, 1, false},
      {"ThirdWriteFails", {ThirdWrite}, true, WriteFailed, 2, false},
      {"FourthWriteFails", {FourthWrite}, true, WriteFailed, 3, false},
      // The deletion opens the file again and deletes it only if it holds what was imported.
      {"DeletionOpenFailsStillOk", {CreateFileForDeletion}, true, ImportOk, 4, false},
      {"DeletionReadFailsStillOk", {RereadFile}, true, ImportOk, 4, false},
      {"MarkingFailsStillOk", {SetFileDisposition}, true, ImportOk, 4, false},
      {"ReplacedAfterReadIsKept", {}, true, ImportOk, 4, false, kValidFile, kValidFile + "x"},
      {"ReplacedWithSameBytesIsDeleted", {}, true, ImportOk, 4, true, kValidFile, kValidFile},
      // Deleted only once the values are on disk, and never through a link.
      {"FlushFailsStillOk", {FlushKey}, true, ImportOk, 4, false},
      // FAT32 and exFAT answer no attribute-tag query; the basic attributes still show a link.
      {"NoTagQueryIsDeleted", {QueryFileTag}, true, ImportOk, 4, true},
      {"NoTagReparseKept", {QueryFileTag}, true, ImportOk, 4, false, kValidFile, {}, kCloudFileTag},
      {"NoTagNorBasicQueryKept", {QueryFileTag, QueryFileBasicInfo}, true, ImportOk, 4, false},
      {"SymbolicLinkIsKept", {}, true, ImportOk, 4, false, kValidFile, {}, kSymbolicLinkTag},
      {"CloudFileIsDeleted", {}, true, ImportOk, 4, true, kValidFile, {}, kCloudFileTag},
      // Key open x key create.
      {"KeyOpens_CreateWouldSucceed", {}, true, ImportOk, 4, true},
      {"KeyOpens_CreateWouldFail", {RegCreateKey}, true, ImportOk, 4, true},
      {"KeyMissing_CreateSucceeds", {}, false, ImportOk, 4, true},
      {"KeyMissing_CreateFails", {RegCreateKey}, false, KeyUnavailable, 0, false},
      {"KeyOpenDenied_CreateSucceeds", {RegOpenKey}, true, ImportOk, 4, true},
      {"KeyOpenDenied_CreateFails", {RegOpenKey, RegCreateKey}, true, KeyUnavailable, 0, false},
      // A write failure after a created key still closes it and keeps the file.
      {"KeyCreated_ThirdWriteFails", {ThirdWrite}, false, WriteFailed, 2, false},
      {"KeyCreated_MarkingFails", {SetFileDisposition}, false, ImportOk, 4, false},
      {"KeyCreated_FlushFails", {FlushKey}, false, ImportOk, 4, false},
  };
}

void PrintTo(const RunCase& c, std::ostream* out) {
  *out << c.name;
}

class RunImportTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunImportTest, OutcomeWritesDeletionAndHandles) {
  const RunCase& c = GetParam();
  FakePort port;
  port.file = c.file;
  port.key_exists = c.key_exists;
  port.failing = c.failing;
  port.replacement = c.replacement;
  port.reparse_tag = c.reparse_tag;

  EXPECT_EQ(RunImport(port), c.status);
  EXPECT_EQ(port.written, std::vector<std::u16string>(
                              kAllFour.begin(),
                              kAllFour.begin() + static_cast<std::ptrdiff_t>(c.values_written)));
  EXPECT_EQ(port.file_deleted, c.file_deleted);
  EXPECT_EQ(port.OpenHandles(), 0U) << "a handle was leaked";
  EXPECT_EQ(port.bad_closes, 0) << "a handle was closed twice or never obtained";
  EXPECT_FALSE(port.registry_touched_with_file_open);
  const bool profile_taken_in = c.status == ImportStatus::ImportOk ||
                                c.status == ImportStatus::KeyUnavailable ||
                                c.status == ImportStatus::WriteFailed;
  EXPECT_EQ(port.registry_touched, profile_taken_in);
  EXPECT_EQ(std::count(port.calls.begin(), port.calls.end(), "RegFlushKey"),
            c.status == ImportStatus::ImportOk ? 1 : 0)
      << "flushed exactly when all four values are stored";
  EXPECT_FALSE(port.read_through_name_surrogate);
}

TEST(RunImportOrder, FlushAfterTheWritesThenCloseThenTheDeletion) {
  FakePort port;
  port.file = kValidFile;
  port.key_exists = true;

  ASSERT_EQ(RunImport(port), ImportStatus::ImportOk);

  EXPECT_EQ(port.calls,
            (std::vector<std::string>{"CreateFileW", "ReadFile", "CloseHandle", "RegOpenKeyExW",
                                      "RegSetValueExW", "RegSetValueExW", "RegSetValueExW",
                                      "RegSetValueExW", "RegFlushKey", "RegCloseKey",
                                      "CreateFileW(DELETE)", "GetFileInformationByHandleEx",
                                      "ReadFile", "SetFileInformationByHandle", "CloseHandle"}));
}

INSTANTIATE_TEST_SUITE_P(Rows, RunImportTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST(RunImportValues, StoredAsNulTerminatedStringsBesideOtherValues) {
  FakePort port;
  port.file = kValidFile;
  port.key_exists = true;
  port.values[u"RegAdmin"] = {platform::kRegSz, std::vector<std::byte>(8, std::byte{0x41})};
  port.values[u"Other"] = {4, {std::byte{7}, std::byte{0}, std::byte{0}, std::byte{0}}};

  ASSERT_EQ(RunImport(port), ImportStatus::ImportOk);

  const std::u16string kNul(1, u'\0');
  const std::vector<std::pair<std::u16string, std::u16string>> expected = {
      {u"RegCorp", u"Acme" + kNul},
      {u"RegDataBase", u"srv\\main" + kNul},
      {u"RegAdmin", kNul},  // an empty field is two bytes, not zero
      {u"RegUser", u"jdoe" + kNul},
  };
  for (const auto& [name, units] : expected) {
    const testing::StoredValue& value = port.values.at(name);
    EXPECT_EQ(value.type, platform::kRegSz) << std::string(name.begin(), name.end());
    EXPECT_EQ(value.data.size(), units.size() * 2) << std::string(name.begin(), name.end());
    EXPECT_EQ(value.Units(), units) << std::string(name.begin(), name.end());
  }
  EXPECT_EQ(port.values.at(u"Other").type, 4U);
  EXPECT_EQ(port.values.size(), 5U);
}

}  // namespace
}  // namespace profile_import
