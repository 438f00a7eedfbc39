// Whether the kit may run from a folder, by its owner and DACL: what an
// unpacked zip gets from the usual parents, and each right that lets
// another account swap a program the run starts.
#include <array>
#include <vector>

#include <gtest/gtest.h>

#include "kit/folder_access.h"

namespace {

using kit::AccessEntry;
using kit::FolderVerdict;
using kit::Trustee;

constexpr std::uint32_t kFullControl = 0x1f01ff;
constexpr std::uint32_t kModify = 0x1301bf;
constexpr std::uint32_t kReadExecute = 0x1200a9;
// The tester's own, Administrators' and SYSTEM's full access, as under %USERPROFILE%.
constexpr AccessEntry kTester = {Trustee::kTester, true, kFullControl};
constexpr AccessEntry kAdmins = {Trustee::kAdministrators, true, kFullControl};
constexpr AccessEntry kSystem = {Trustee::kSystem, true, kFullControl};

struct FolderRow {
  const char* what;
  bool fixed_disk;
  Trustee owner;
  bool has_dacl;
  std::vector<AccessEntry> entries;
  FolderVerdict verdict;
  std::size_t entry;
};

TEST(KitFolder, OnlyTheTesterAdministratorsAndSystemMayChangeIt) {
  const std::array<FolderRow, 13> rows = {{
      {"a folder of the profile",
       true,
       Trustee::kTester,
       true,
       {kTester, kAdmins, kSystem},
       FolderVerdict::kSafe,
       0},
      {"owned by Administrators, read by Users, CREATOR OWNER passed on",
       true,
       Trustee::kAdministrators,
       true,
       {kSystem,
        kAdmins,
        {Trustee::kOther, true, kReadExecute},
        {Trustee::kCreatorOwner, true, kit::kGenericAll}},
       FolderVerdict::kSafe,
       0},
      {"under C:\\: Authenticated Users may modify",
       true,
       Trustee::kTester,
       true,
       {kAdmins, kSystem, {Trustee::kOther, true, kReadExecute}, {Trustee::kOther, true, kModify}},
       FolderVerdict::kWritableByOthers,
       3},
      {"Everyone's generic write, passed on only",
       true,
       Trustee::kTester,
       true,
       {kTester, {Trustee::kOther, true, kit::kGenericWrite}},
       FolderVerdict::kWritableByOthers,
       1},
      {"Users may create folders",
       true,
       Trustee::kTester,
       true,
       {kTester, {Trustee::kOther, true, kit::kAppendData}},
       FolderVerdict::kWritableByOthers,
       1},
      {"another may delete children",
       true,
       Trustee::kTester,
       true,
       {{Trustee::kOther, true, kit::kDeleteChild}, kTester},
       FolderVerdict::kWritableByOthers,
       0},
      {"another may change the DACL",
       true,
       Trustee::kTester,
       true,
       {kTester, {Trustee::kOther, true, kit::kWriteDac}},
       FolderVerdict::kWritableByOthers,
       1},
      {"another may take ownership",
       true,
       Trustee::kTester,
       true,
       {kTester, {Trustee::kOther, true, kit::kWriteOwner}},
       FolderVerdict::kWritableByOthers,
       1},
      {"a deny entry grants nothing",
       true,
       Trustee::kTester,
       true,
       {{Trustee::kOther, false, kFullControl}, kTester},
       FolderVerdict::kSafe,
       0},
      {"an empty DACL", true, Trustee::kTester, true, {}, FolderVerdict::kSafe, 0},
      {"a null DACL", true, Trustee::kTester, false, {}, FolderVerdict::kNoDacl, 0},
      {"owned by another", true, Trustee::kOther, true, {kTester}, FolderVerdict::kOwnedByOther, 0},
      {"a share or a removable drive",
       false,
       Trustee::kTester,
       true,
       {kTester},
       FolderVerdict::kNotFixedDisk,
       0},
  }};
  for (const FolderRow& row : rows) {
    const kit::FolderJudgement judged =
        kit::JudgeKitFolder(row.fixed_disk, row.owner, row.has_dacl, row.entries);
    EXPECT_EQ(judged.verdict, row.verdict) << row.what;
    EXPECT_EQ(judged.entry, row.entry) << row.what;
  }
}

}  // namespace
