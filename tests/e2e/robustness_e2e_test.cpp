// The real executable under concurrent runs and on generated malformed files,
// each outcome checked against the portable reader run on the same bytes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "e2e/e2e_support.h"
#include "platform/windows_port.h"
#include "support/hand_off_files.h"

namespace e2e {
namespace {

constexpr int kCopies = 8;
constexpr int kRounds = 5;

std::string NumberedFile(int n) {
  const std::string id = std::to_string(n);
  return "Corp " + id + "\nDB" + id + "\\\nPart" + id + "\nskip\nadmin" + id + "\nuser" + id + "\n";
}

Profile NumberedProfile(int n) {
  const std::wstring id = std::to_wstring(n);
  return {L"Corp " + id, L"DB" + id + L"\\Part" + id, L"admin" + id, L"user" + id};
}

std::wstring Wide(std::u16string_view text) {
  return {text.begin(), text.end()};
}

using ConcurrentImport = ImportEndToEnd;

// Each round starts over the values of the round before, so a copy that
// wrote from a stale or torn read would leave a value of the wrong round.
TEST_F(ConcurrentImport, EightCopiesOnOneFileImportItOnceAndCompletely) {
  for (int round = 1; round <= kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    WriteHandOff(NumberedFile(round));
    std::array<winlib::StartedProcess, kCopies> copies{};
    std::generate(copies.begin(), copies.end(), [] { return StartImporter(CREATE_SUSPENDED); });
    // Released together, so their opens of the file overlap as much as they can.
    for (const winlib::StartedProcess& copy : copies) {
      ResumeThread(copy.thread.get());
    }
    int imported = 0;
    for (winlib::StartedProcess& copy : copies) {
      const DWORD code = WaitForExitCode(std::move(copy));
      EXPECT_TRUE(code == kImportOk || code == kNoProfileFile) << std::hex << code;
      imported += code == kImportOk ? 1 : 0;
    }
    EXPECT_GE(imported, 1);
    ExpectProfileStored(NumberedProfile(round));
    EXPECT_FALSE(ReadHandOff().has_value()) << "the hand-off file should be gone";
  }
}

TEST_F(ConcurrentImport, SecondFileImportedAfterFirstLeavesItsValues) {
  WriteHandOff(NumberedFile(1));
  ASSERT_EQ(RunImporter(), kImportOk);
  WriteHandOff(NumberedFile(2));
  ASSERT_EQ(RunImporter(), kImportOk);

  ExpectProfileStored(NumberedProfile(2));
  EXPECT_FALSE(ReadHandOff().has_value());
}

// Another process puts a new file in place as soon as the run has stored its
// first value, so the replacement lands while the run is going on (or, held
// off by the deletion's open, right after). Either way it must survive, and
// the next run must import it.
TEST_F(ConcurrentImport, FileReplacedDuringARunStaysForTheNext) {
  const std::wstring staged = WorkDirectory() + L"\\staged.cfg";
  int landed_during_run = 0;
  // On one CPU the woken test preempts the run, so the move lands before its deletion.
  const DWORD_PTR all_cpus = SetThreadAffinityMask(GetCurrentThread(), 1);
  for (int round = 1; round <= kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    SetValue(kProfileKeyPath, L"RegCorp", StringValue(L"before"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kProfileKeyPath, 0, KEY_NOTIFY, &key),
              ERROR_SUCCESS);
    const HANDLE written = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, written, TRUE),
              ERROR_SUCCESS);
    WriteHandOff(NumberedFile(1));
    WriteHandOff(NumberedFile(2), staged);

    winlib::StartedProcess run = StartImporter(CREATE_SUSPENDED);
    SetProcessAffinityMask(run.process.get(), 1);
    ResumeThread(run.thread.get());
    EXPECT_EQ(WaitForSingleObject(written, 10000), WAIT_OBJECT_0);
    // Refused while a run holds the file; tried again for up to about 2 s.
    bool moved = false;
    for (int attempt = 0; attempt < 1000 && !moved; ++attempt) {
      moved = MoveFileExW(staged.c_str(), HandOffPath().c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
      Sleep(moved ? 0 : 1);
    }
    landed_during_run += WaitForSingleObject(run.process.get(), 0) == WAIT_TIMEOUT ? 1 : 0;
    EXPECT_EQ(WaitForExitCode(std::move(run)), kImportOk);
    CloseHandle(written);
    RegCloseKey(key);
    ASSERT_TRUE(moved);

    ExpectProfileStored(NumberedProfile(1));
    EXPECT_EQ(ReadHandOff(), NumberedFile(2)) << "the replacement was lost";
    EXPECT_EQ(RunImporter(), kImportOk);
    ExpectProfileStored(NumberedProfile(2));
    EXPECT_FALSE(ReadHandOff().has_value());
  }
  SetThreadAffinityMask(GetCurrentThread(), all_cpus);
  RecordProperty("landed_during_run", landed_during_run);
}

class GeneratedFile : public ImportEndToEnd, public ::testing::WithParamInterface<std::size_t> {
 public:
  static const std::vector<std::string>& Files() {
    static const std::vector<std::string> files = profile_import::testing::GenerateHandOffFiles(
        profile_import::testing::kBadInputSeed, profile_import::testing::kBadInputCount);
    return files;
  }
};

TEST_P(GeneratedFile, OutcomeMatchesThePortableReader) {
  const std::string& bytes = Files()[GetParam()];
  // Decoded as the importer decodes, in the machine's own code page.
  profile_import::platform::WindowsPort port;
  const profile_import::ParsedProfile expected = profile_import::testing::ParseAsRead(bytes, port);
  for (const wchar_t* name : kValueNames) {
    SetValue(kProfileKeyPath, name, StringValue(L"before"));
  }
  WriteHandOff(bytes);

  const DWORD code = RunImporter();

  if (expected.verdict == profile_import::ProfileTextVerdict::Accepted) {
    EXPECT_EQ(code, kImportOk);
    const profile_import::SiteProfile& p = expected.profile;
    ExpectProfileStored(
        {Wide(p.Corp.View()), Wide(p.DataBase.View()), Wide(p.Admin.View()), Wide(p.User.View())});
    EXPECT_FALSE(ReadHandOff().has_value());
  } else {
    EXPECT_EQ(code, kProfileRejected);
    ExpectProfileStored({L"before", L"before", L"before", L"before"});
    EXPECT_EQ(ReadHandOff(), bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(Seeded, GeneratedFile,
                         ::testing::Range<std::size_t>(0, profile_import::testing::kBadInputCount));

TEST(GeneratedFiles, CoverAcceptedFilesAndEveryKindOfRefusal) {
  const std::vector<std::string>& files = GeneratedFile::Files();
  std::vector<profile_import::ProfileTextVerdict> seen(files.size());
  profile_import::platform::WindowsPort port;
  std::transform(files.begin(), files.end(), seen.begin(), [&port](const std::string& file) {
    return profile_import::testing::ParseAsRead(file, port).verdict;
  });
  using enum profile_import::ProfileTextVerdict;
  for (auto verdict :
       {Accepted, TooFewLineEnds, LastLineMayBeCut, CorpTooLong, DataBaseTooLong, AdminTooLong}) {
    EXPECT_NE(std::find(seen.begin(), seen.end(), verdict), seen.end())
        << "verdict " << static_cast<int>(verdict);
  }
}

}  // namespace
}  // namespace e2e
