#include "app/run_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "unit/fake_port.h"

namespace profile_import {
namespace {

using testing::FailingCall;
using testing::FakePort;

const std::string kValidFile = "Acme\r\nsrv\\\r\nmain\r\nskip\r\n\r\njdoe\r\n";
const std::string kAnsiFile = "Caf\xE9\nsrv\nmain\nskip\nadmin\njdoe\n";
const std::vector<std::u16string> kAllFour = {u"RegCorp", u"RegDataBase", u"RegAdmin", u"RegUser"};
constexpr std::uint32_t kSymbolicLinkTag = 0xA000000C;  // IO_REPARSE_TAG_SYMLINK
constexpr std::uint32_t kCloudFileTag = 0x9000001A;     // IO_REPARSE_TAG_CLOUD: OneDrive's own data

// How CreateFileW fails, as GetLastError and RtlGetLastNtStatus give it.
struct OpenFault {
  platform::PlatformError error;
  platform::NtStatus status;
};
constexpr OpenFault kPathNotFound{3, 0xC000003A};       // STATUS_OBJECT_PATH_NOT_FOUND
constexpr OpenFault kSharingViolation{32, 0xC0000043};  // another run holds it
constexpr OpenFault kDeletePending{5, 0xC0000056};      // another run is deleting it
constexpr OpenFault kAccessRefused{5, 0xC0000022};
constexpr OpenFault kFolderOfThatName{5, 0xC00000BA};  // STATUS_FILE_IS_A_DIRECTORY
// A cloud-only placeholder while its provider cannot fetch it.
constexpr OpenFault kOfflinePlaceholder{362, 0xC000CF01};

// Token users: the service accounts' well-known SIDs, other identities with
// hives of their own, and people: local and domain (S-1-5-21-...), Entra (S-1-12-1-...).
constexpr platform::Sid kLocalSystem = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
constexpr platform::Sid kLocalService = {1, 1, 0, 0, 0, 0, 0, 5, 19, 0, 0, 0};
constexpr platform::Sid kNetworkService = {1, 1, 0, 0, 0, 0, 0, 5, 20, 0, 0, 0};
constexpr platform::Sid kVirtualService = {1, 6,  0, 0, 0, 0, 0,
                                           5, 80, 0, 0, 0, 1};                // NT SERVICE\...
constexpr platform::Sid kAppPool = {1, 6, 0, 0, 0, 0, 0, 5, 82, 0, 0, 0, 1};  // IIS APPPOOL\...
constexpr platform::Sid kWindowManager = {1, 2, 0, 0, 0, 0, 0, 5, 90, 0, 0, 0, 0, 0, 0, 0};
constexpr platform::Sid kEntraUser = {1, 5, 0, 0, 0, 0, 0, 12, 1, 0, 0, 0, 7, 0, 0, 0};
constexpr platform::Sid kEntraGroup = {1, 2, 0, 0, 0, 0, 0, 12,
                                       2, 0, 0, 0, 7, 0, 0, 0};            // S-1-12-2-...
constexpr platform::Sid kNotASid = {2, 1, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0};  // revision 2

// One row per fault the platform can produce, and every pairing of the key's
// open and create outcomes.
struct RunCase {
  std::string name;
  // NOLINTNEXTLINE(readability-redundant-member-init): designated initializers may leave it out
  std::set<FailingCall> failing = {};
  bool key_exists = true;
  ImportStatus status = ImportStatus::ImportOk;
  std::size_t values_written = 0;  // a prefix of kAllFour, in order
  bool file_deleted = false;
  std::optional<std::string> file = kValidFile;
  std::optional<std::string> replacement = std::nullopt;  // put in place after the import's read
  std::optional<std::uint32_t> reparse_tag = std::nullopt;
  OpenFault open_fault = {platform::kSuccess, platform::kStatusSuccess};
  platform::Sid token_user = testing::kUserSid;
};

std::vector<RunCase> RunCases() {
  using enum FailingCall;
  using enum ImportStatus;
  return {
      // The key opens, so it is not created. No call asks for the session: a
      // user's task run "whether the user is logged on or not" (session 0,
      // the user's own token and hive) runs this same row.
      {.name = "NoFault_KeyOpens", .values_written = 4, .file_deleted = true},
      {.name = "NoFile", .status = NoProfileFile, .file = std::nullopt},
      {.name = "TextRejected", .status = ProfileRejected, .file = "only\nfour\nline\nends\n"},
      // A line neither ASCII nor UTF-8 is read in the machine's ANSI code page.
      {.name = "AnsiTextDecoded", .values_written = 4, .file_deleted = true, .file = kAnsiFile},
      {.name = "AnsiTextNotInCodePage",
       .failing = {MultiByteToWideChar},
       .status = ProfileRejected,
       .file = kAnsiFile},
      // A file that is there but cannot be opened is a fault to report, unless
      // another run has it.
      {.name = "FileOpenRefused", .status = FileInaccessible, .open_fault = kAccessRefused},
      {.name = "FolderOfThatName", .status = FileInaccessible, .open_fault = kFolderOfThatName},
      {.name = "OfflinePlaceholder", .status = FileInaccessible, .open_fault = kOfflinePlaceholder},
      {.name = "PathNotFound", .status = NoProfileFile, .open_fault = kPathNotFound},
      {.name = "HeldByAnotherRun", .status = NoProfileFile, .open_fault = kSharingViolation},
      {.name = "DeletePendingByAnotherRun", .status = NoProfileFile, .open_fault = kDeletePending},
      // Only a person's account with its own hive loaded opens the file.
      {.name = "LocalSystem", .status = NoUserHive, .token_user = kLocalSystem},
      {.name = "LocalService", .status = NoUserHive, .token_user = kLocalService},
      {.name = "NetworkService", .status = NoUserHive, .token_user = kNetworkService},
      {.name = "VirtualServiceAccount", .status = NoUserHive, .token_user = kVirtualService},
      {.name = "AppPoolAccount", .status = NoUserHive, .token_user = kAppPool},
      {.name = "WindowManagerAccount", .status = NoUserHive, .token_user = kWindowManager},
      {.name = "EntraNotAUser", .status = NoUserHive, .token_user = kEntraGroup},
      {.name = "NotASid", .status = NoUserHive, .token_user = kNotASid},
      {.name = "TokenOpenFails", .failing = {OpenProcessToken}, .status = NoUserHive},
      {.name = "TokenQueryFails", .failing = {QueryTokenUser}, .status = NoUserHive},
      {.name = "UserHiveNotLoaded", .failing = {OpenUserHive}, .status = NoUserHive},
      {.name = "SidTextFails", .failing = {ConvertSid}, .status = NoUserHive},
      {.name = "EntraUser", .values_written = 4, .file_deleted = true, .token_user = kEntraUser},
      {.name = "ReadFails", .failing = {ReadFile}, .status = ReadFailed},
      {.name = "FirstWriteFails", .failing = {FirstWrite}, .status = WriteFailed},
      {.name = "SecondWriteFails",
       .failing = {SecondWrite},
       .status = WriteFailed,
       .values_written = 1},
      {.name = "ThirdWriteFails",
       .failing = {ThirdWrite},
       .status = WriteFailed,
       .values_written = 2},
      {.name = "FourthWriteFails",
       .failing = {FourthWrite},
       .status = WriteFailed,
       .values_written = 3},
      // The deletion opens the file again and deletes it only if it holds what was imported.
      {.name = "DeletionOpenFailsStillOk", .failing = {CreateFileForDeletion}, .values_written = 4},
      {.name = "DeletionReadFailsStillOk", .failing = {RereadFile}, .values_written = 4},
      {.name = "MarkingFailsStillOk", .failing = {SetFileDisposition}, .values_written = 4},
      {.name = "ReplacedAfterReadIsKept", .values_written = 4, .replacement = kValidFile + "x"},
      {.name = "ReplacedWithSameBytesIsDeleted",
       .values_written = 4,
       .file_deleted = true,
       .replacement = kValidFile},
      // Deleted only once the values are on disk, and never through a link.
      {.name = "FlushFailsStillOk", .failing = {FlushKey}, .values_written = 4},
      // FAT32 and exFAT answer no attribute-tag query; the basic attributes still show a link.
      {.name = "NoTagQueryIsDeleted",
       .failing = {QueryFileTag},
       .values_written = 4,
       .file_deleted = true},
      {.name = "NoTagReparseKept",
       .failing = {QueryFileTag},
       .values_written = 4,
       .reparse_tag = kCloudFileTag},
      {.name = "NoTagNorBasicQueryKept",
       .failing = {QueryFileTag, QueryFileBasicInfo},
       .values_written = 4},
      {.name = "SymbolicLinkIsKept", .values_written = 4, .reparse_tag = kSymbolicLinkTag},
      {.name = "CloudFileIsDeleted",
       .values_written = 4,
       .file_deleted = true,
       .reparse_tag = kCloudFileTag},
      // Key open x key create.
      {.name = "KeyOpens_CreateWouldFail",
       .failing = {RegCreateKey},
       .values_written = 4,
       .file_deleted = true},
      {.name = "KeyMissing_CreateSucceeds",
       .key_exists = false,
       .values_written = 4,
       .file_deleted = true},
      {.name = "KeyMissing_CreateFails",
       .failing = {RegCreateKey},
       .key_exists = false,
       .status = KeyUnavailable},
      {.name = "KeyOpenDenied_CreateSucceeds",
       .failing = {RegOpenKey},
       .values_written = 4,
       .file_deleted = true},
      {.name = "KeyOpenDenied_CreateFails",
       .failing = {RegOpenKey, RegCreateKey},
       .status = KeyUnavailable},
      // A write failure after a created key still closes it and keeps the file.
      {.name = "KeyCreated_ThirdWriteFails",
       .failing = {ThirdWrite},
       .key_exists = false,
       .status = WriteFailed,
       .values_written = 2},
      {.name = "KeyCreated_MarkingFails",
       .failing = {SetFileDisposition},
       .key_exists = false,
       .values_written = 4},
      {.name = "KeyCreated_FlushFails",
       .failing = {FlushKey},
       .key_exists = false,
       .values_written = 4},
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
  port.open_error = c.open_fault.error;
  port.open_status = c.open_fault.status;
  port.token_user = c.token_user;

  EXPECT_EQ(RunImport(port), c.status);
  EXPECT_EQ(std::count(port.calls.begin(), port.calls.end(), "CreateFileW") != 0,
            c.status != ImportStatus::NoUserHive)
      << "the file is opened unless the account is refused";
  EXPECT_EQ(port.file.has_value(), c.file.has_value() && !c.file_deleted) << "the file was lost";
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

  EXPECT_EQ(port.hive_opened, u"S-1-5-21-1-2-3-1001");
  EXPECT_EQ(port.calls, (std::vector<std::string>{"NtOpenProcessToken",
                                                  "NtQueryInformationToken",
                                                  "RtlConvertSidToUnicodeString",
                                                  "RegOpenKeyExW(HKEY_USERS)",
                                                  "RegCloseKey",
                                                  "NtClose",
                                                  "CreateFileW",
                                                  "ReadFile",
                                                  "CloseHandle",
                                                  "RegOpenKeyExW",
                                                  "RegSetValueExW",
                                                  "RegSetValueExW",
                                                  "RegSetValueExW",
                                                  "RegSetValueExW",
                                                  "RegFlushKey",
                                                  "RegCloseKey",
                                                  "CreateFileW(DELETE)",
                                                  "GetFileInformationByHandleEx",
                                                  "ReadFile",
                                                  "SetFileInformationByHandle",
                                                  "CloseHandle"}));
}

INSTANTIATE_TEST_SUITE_P(Rows, RunImportTest, ::testing::ValuesIn(RunCases()),
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
