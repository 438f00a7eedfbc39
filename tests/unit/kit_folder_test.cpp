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
constexpr AccessEntry kTester = {Trustee::Tester, true, kFullControl};
constexpr AccessEntry kAdmins = {Trustee::Administrators, true, kFullControl};
constexpr AccessEntry kSystem = {Trustee::System, true, kFullControl};

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
       Trustee::Tester,
       true,
       {kTester, kAdmins, kSystem},
       FolderVerdict::Safe,
       0},
      {"owned by Administrators, read by Users, CREATOR OWNER passed on",
       true,
       Trustee::Administrators,
       true,
       {kSystem,
        kAdmins,
        {Trustee::Other, true, kReadExecute},
        {Trustee::CreatorOwner, true, kit::kGenericAll}},
       FolderVerdict::Safe,
       0},
      {"under C:\\: Authenticated Users may modify",
       true,
       Trustee::Tester,
       true,
       {kAdmins, kSystem, {Trustee::Other, true, kReadExecute}, {Trustee::Other, true, kModify}},
       FolderVerdict::WritableByOthers,
       3},
      {"Everyone's generic write, passed on only",
       true,
       Trustee::Tester,
       true,
       {kTester, {Trustee::Other, true, kit::kGenericWrite}},
       FolderVerdict::WritableByOthers,
       1},
      {"Users may create folders",
       true,
       Trustee::Tester,
       true,
       {kTester, {Trustee::Other, true, kit::kAppendData}},
       FolderVerdict::WritableByOthers,
       1},
      {"another may delete children",
       true,
       Trustee::Tester,
       true,
       {{Trustee::Other, true, kit::kDeleteChild}, kTester},
       FolderVerdict::WritableByOthers,
       0},
      {"another may change the DACL",
       true,
       Trustee::Tester,
       true,
       {kTester, {Trustee::Other, true, kit::kWriteDac}},
       FolderVerdict::WritableByOthers,
       1},
      {"another may take ownership",
       true,
       Trustee::Tester,
       true,
       {kTester, {Trustee::Other, true, kit::kWriteOwner}},
       FolderVerdict::WritableByOthers,
       1},
      {"a deny entry grants nothing",
       true,
       Trustee::Tester,
       true,
       {{Trustee::Other, false, kFullControl}, kTester},
       FolderVerdict::Safe,
       0},
      {"an empty DACL", true, Trustee::Tester, true, {}, FolderVerdict::Safe, 0},
      {"a null DACL", true, Trustee::Tester, false, {}, FolderVerdict::NoDacl, 0},
      {"owned by another", true, Trustee::Other, true, {kTester}, FolderVerdict::OwnedByOther, 0},
      {"a share or a removable drive",
       false,
       Trustee::Tester,
       true,
       {kTester},
       FolderVerdict::NotFixedDisk,
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
