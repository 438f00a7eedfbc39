// profile-check.exe, profile-import.exe and profile-sync.exe, run under Wine
// on the same bytes, must agree: the same verdict, and for an accepted file
// the texts the checker shows are the values stored.
#include <cctype>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "check/check_report.h"
#include "check/escaping.h"
#include "e2e/e2e_support.h"
#include "support/hand_off_files.h"
#include "winlib/files.h"

namespace e2e {
namespace {

struct Sample {
  std::string name;
  std::string bytes;
};

void PrintTo(const Sample& sample, std::ostream* out) {
  *out << sample.name;
}

// The committed samples (copied next to the tests at configure time) and the
// generated bad-input files.
std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  const std::wstring dir = ExeDirectory() + L"\\samples\\";
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((dir + L"*.cfg").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name(static_cast<const wchar_t*>(found.cFileName));
      std::string tag;
      for (const wchar_t c : name.substr(0, name.size() - 4)) {
        tag += std::isalnum(c) != 0 ? static_cast<char>(c) : '_';
      }
      samples.push_back({"sample_" + tag, winlib::ReadWholeFile(dir + name).value});
    } while (FindNextFileW(search, &found) != FALSE);
    FindClose(search);
  }
  const std::vector<std::string> generated = profile_import::testing::GenerateHandOffFiles(
      profile_import::testing::kBadInputSeed, profile_import::testing::kBadInputCount);
  for (std::size_t i = 0; i < generated.size(); ++i) {
    samples.push_back({"generated_" + std::to_string(i), generated[i]});
  }
  return samples;
}

std::u16string StoredText(const wchar_t* name) {
  const std::optional<RegValue> value = ReadValue(kProfileKeyPath, name);
  if (!value || value->type != REG_SZ || value->data.size() < sizeof(char16_t)) {
    return u"<no REG_SZ value>";
  }
  std::u16string text(value->data.size() / sizeof(char16_t) - 1, u'\0');
  std::memcpy(text.data(), value->data.data(), text.size() * sizeof(char16_t));
  return text;
}

// Every value's text, as the checker's JSON shows it, is the text stored.
void ExpectShownAsStored(const std::string& checker_output) {
  for (const wchar_t* name : kValueNames) {
    const std::wstring_view wide_name(name);
    const std::string expected = "{\"name\":\"" + std::string(wide_name.begin(), wide_name.end()) +
                                 "\",\"text\":\"" +
                                 profile_import::check::EscapeForJson(StoredText(name)) + "\"";
    EXPECT_NE(checker_output.find(expected), std::string::npos) << expected << "\nnot in\n"
                                                                << checker_output;
  }
}

class CheckerAgreesWithImporter : public ImportEndToEnd,
                                  public ::testing::WithParamInterface<Sample> {};

TEST_P(CheckerAgreesWithImporter, SameExitCodeAndSameTexts) {
  WriteHandOff(GetParam().bytes);
  const CheckerRun checked = RunChecker();
  ASSERT_EQ(ReadHandOff(), GetParam().bytes) << "the checker must leave the file alone";
  ASSERT_FALSE(KeyExists(kTessavoPath)) << "the checker must not touch the registry";

  const DWORD imported = RunImporter();

  EXPECT_EQ(checked.code, imported) << checked.output;
  if (imported == kImportOk) {
    ExpectShownAsStored(checked.output);
  }
}

// profile-sync reads a master as the importer reads its file, but takes no
// text in the machine's ANSI code page: it refuses what the checker refuses,
// and what the checker reads in a code page, and stores what it shows.
TEST_P(CheckerAgreesWithImporter, SyncStoresWhatTheCheckerShows) {
  WriteHandOff(GetParam().bytes);
  const CheckerRun checked = RunChecker();

  const CapturedRun synced = RunCaptured(L"profile-sync.exe", L"\"" + HandOffPath() + L"\"",
                                         WorkDirectory() + L"\\appdata");

  constexpr DWORD kSyncInPlace = 0;
  constexpr DWORD kSyncMasterInvalid = 15;
  const bool in_code_page = checked.output.find("\"Windows-") != std::string::npos ||
                            checked.output.find("\"CP") != std::string::npos;
  const DWORD expected =
      checked.code == kImportOk && !in_code_page ? kSyncInPlace : kSyncMasterInvalid;
  EXPECT_EQ(synced.code, expected) << checked.output << synced.output;
  EXPECT_EQ(ReadHandOff(), GetParam().bytes) << "a master copy is only ever read";
  if (synced.code == kSyncInPlace) {
    ExpectShownAsStored(checked.output);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CheckerAgreesWithImporter, ::testing::ValuesIn(Samples()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
