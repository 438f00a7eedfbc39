// Runs the real profile-import.exe against real files and the real registry
// (under Wine on Linux) and checks its full 32-bit exit code and what it left.
#include <initializer_list>
#include <string>
#include <string_view>

#include "e2e/e2e_support.h"
// After <windows.h>, which e2e_support.h includes.
#include <sddl.h>

namespace e2e {
namespace {

const std::string kValidFile = "Acme Corp\nSQL01\\\nMIRANDEL\nline four\nadmin\njdoe\n";

const Profile kValidProfile = {L"Acme Corp", L"SQL01\\MIRANDEL", L"admin", L"jdoe"};

// What Windows PowerShell 5.1's Out-File writes: UTF-16 LE with its byte
// order mark, CR LF after every line.
std::string OutFile(std::initializer_list<std::wstring_view> lines) {
  std::string bytes = "\xFF\xFE";
  for (const std::wstring_view line : lines) {
    for (const wchar_t unit : std::wstring(line) + L"\r\n") {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
  }
  return bytes;
}

struct AcceptedFile {
  const char* name;
  std::string bytes;
  Profile stored;
  UINT code_page = 0;  // the ANSI code page the stored texts need; 0 for any
};

void PrintTo(const AcceptedFile& file, std::ostream* out) {
  *out << file.name;
}

class ImportsAcceptedFile : public ImportEndToEnd,
                            public ::testing::WithParamInterface<AcceptedFile> {};

TEST_P(ImportsAcceptedFile, StoresValuesLeavesTheRestAloneAndDeletesTheFile) {
  if (GetParam().code_page != 0 && GetParam().code_page != GetACP()) {
    GTEST_SKIP() << "this machine reads text in code page " << GetACP();
  }
  const RegValue other{REG_DWORD, {7, 0, 0, 0}};
  SetValue(kProfileKeyPath, L"Other", other);
  SetValue(kProfileKeyPath, L"RegCorp", StringValue(L"previous text, longer than the new one"));
  const std::wstring child = std::wstring(kProfileKeyPath) + L"\\Child";
  SetValue(child.c_str(), L"Kept", StringValue(L"kept"));
  WriteHandOff(GetParam().bytes);

  EXPECT_EQ(RunImporter(), kImportOk);

  ExpectProfileStored(GetParam().stored);
  EXPECT_EQ(ReadValue(kProfileKeyPath, L"Other"), other);
  EXPECT_EQ(ReadValue(child.c_str(), L"Kept"), StringValue(L"kept"));
  EXPECT_FALSE(ReadHandOff().has_value()) << "the hand-off file should be gone";
}

INSTANTIATE_TEST_SUITE_P(
    Files, ImportsAcceptedFile,
    ::testing::Values(AcceptedFile{"LfAscii", kValidFile, kValidProfile},
                      AcceptedFile{"CrLfUtf8WithBom",
                                   "\xEF\xBB\xBF"
                                   "Caf\xC3\xA9 M\xC3\xBCller\r\nsrv\r\n\xE2\x82\xAC\r\nx\r\n"
                                   "\r\n\xF0\x9F\x98\x80\r\n",
                                   {L"Caf\u00E9 M\u00FCller", L"srv\u20AC", L"", L"\U0001F600"}},
                      AcceptedFile{"Windows1252NoLastLineEnd",
                                   "Caf\xE9\n\x80\n\n\n\xC0\nna\xEFve",
                                   {L"Caf\u00E9", L"\u20AC", L"\u00C0", L"na\u00EFve"},
                                   1252},
                      AcceptedFile{"PowerShellUtf16Le",
                                   OutFile({L"Caf\u00E9 M\u00FCller", L"SQL01\\", L"\u0425\u0414",
                                            L"x", L"adm\U0001F600", L"jdoe"}),
                                   {L"Caf\u00E9 M\u00FCller", L"SQL01\\\u0425\u0414",
                                    L"adm\U0001F600", L"jdoe"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImportEndToEnd, CreatesMissingKeyAndParent) {
  WriteHandOff(kValidFile);

  EXPECT_EQ(RunImporter(), kImportOk);

  ExpectProfileStored(kValidProfile);
  EXPECT_FALSE(ReadHandOff().has_value());
}

// The run imports through a link named like the hand-off file, but neither
// the link nor its target is the run's to delete.
TEST_F(ImportEndToEnd, SymbolicLinkNamedLikeTheFileIsNeverDeleted) {
  const std::wstring target = WorkDirectory() + L"\\link-target.cfg";
  WriteHandOff(kValidFile, target);
  if (CreateSymbolicLinkW(HandOffPath().c_str(), target.c_str(),
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) == FALSE) {
    GTEST_SKIP() << "cannot create a symbolic link here (error " << GetLastError()
                 << "): it takes developer mode or the right to create symbolic links";
  }
  const DWORD made = GetFileAttributesW(HandOffPath().c_str());
  if (made == INVALID_FILE_ATTRIBUTES || (made & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    GTEST_SKIP() << "no symbolic link that is a reparse point can be made here: Wine 8 "
                    "reports success and makes none, and shows Unix links as plain files";
  }

  EXPECT_EQ(RunImporter(), kImportOk);

  ExpectProfileStored(kValidProfile);
  EXPECT_NE(GetFileAttributesW(HandOffPath().c_str()), INVALID_FILE_ATTRIBUTES) << "link deleted";
  EXPECT_NE(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES) << "target deleted";
  EXPECT_EQ(ReadHandOff(), kValidFile);
}

// What stands between the run and a file that is there: another run (nothing
// to import, -1) or anything else (a fault to report, -6). Each row sets the
// scene and gives what the test holds open until the run is over.
struct UnopenedFile {
  const char* name;
  HANDLE (*scene)();  // INVALID_HANDLE_VALUE: nothing held; nullptr: cannot be set here
  DWORD code;
  bool kept = true;  // a pending deletion completes once the last handle goes
};

void PrintTo(const UnopenedFile& row, std::ostream* out) {
  *out << row.name;
}

HANDLE OpenHandOff(DWORD access) {
  return CreateFileW(HandOffPath().c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE HeldWithoutSharing() {
  WriteHandOff(kValidFile);
  return CreateFileW(HandOffPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// As after another run's deletion while a scanner still holds the file for
// its attributes alone.
HANDLE DeletePending() {
  WriteHandOff(kValidFile);
  const HANDLE scanner = OpenHandOff(FILE_READ_ATTRIBUTES);
  const HANDLE deleter = OpenHandOff(DELETE);
  FILE_DISPOSITION_INFO disposition{TRUE};
  const bool marked = SetFileInformationByHandle(deleter, FileDispositionInfo, &disposition,
                                                 sizeof(disposition)) != FALSE;
  CloseHandle(deleter);
  const HANDLE probe = OpenHandOff(FILE_READ_ATTRIBUTES);
  const bool pending =
      marked && probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED;
  if (!pending) {
    CloseHandle(probe);
    CloseHandle(scanner);
    return nullptr;
  }
  return scanner;
}

HANDLE FolderOfThatName() {
  CreateDirectoryW(HandOffPath().c_str(), nullptr);
  return INVALID_HANDLE_VALUE;
}

// A DACL that lets no one read the data (FILE_READ_DATA) but anyone delete the
// file; Wine run as root reads it anyway.
HANDLE ReadingDenied() {
  WriteHandOff(kValidFile);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(D;;0x1;;;WD)(A;;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr) == FALSE) {
    return nullptr;
  }
  SetFileSecurityW(HandOffPath().c_str(), DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  const HANDLE probe = OpenHandOff(GENERIC_READ);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    return nullptr;
  }
  return INVALID_HANDLE_VALUE;
}

class UnopenedFileTouchesNothing : public ImportEndToEnd,
                                   public ::testing::WithParamInterface<UnopenedFile> {};

TEST_P(UnopenedFileTouchesNothing, ExitsWithItsCodeAndKeepsTheFile) {
  SetValue(kProfileKeyPath, L"RegCorp", StringValue(L"before"));
  const HANDLE held = GetParam().scene();
  if (held == nullptr) {
    GTEST_SKIP() << "this Windows cannot set the scene (Wine, run as root, reads any file and "
                    "keeps no pending deletion); the unit tests' fake plays it";
  }

  const CheckerRun checked = RunChecker();
  const DWORD code = RunImporter();
  if (held != INVALID_HANDLE_VALUE) {
    CloseHandle(held);
  }

  EXPECT_EQ(code, GetParam().code) << std::hex << code;
  EXPECT_EQ(checked.code, code) << checked.output;
  EXPECT_EQ(ReadValue(kProfileKeyPath, L"RegCorp"), StringValue(L"before"));
  EXPECT_FALSE(ReadValue(kProfileKeyPath, L"RegUser").has_value());
  EXPECT_EQ(GetFileAttributesW(HandOffPath().c_str()) != INVALID_FILE_ATTRIBUTES, GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(
    Scenes, UnopenedFileTouchesNothing,
    ::testing::Values(UnopenedFile{"HeldByAnotherProcess", HeldWithoutSharing, kNoProfileFile},
                      UnopenedFile{"DeletePending", DeletePending, kNoProfileFile, false},
                      UnopenedFile{"FolderOfThatName", FolderOfThatName, kFileInaccessible},
                      UnopenedFile{"ReadingDenied", ReadingDenied, kFileInaccessible}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImportEndToEnd, NoFileCreatesNothing) {
  EXPECT_EQ(RunImporter(), kNoProfileFile);
  EXPECT_FALSE(KeyExists(kTessavoPath));
}

TEST_F(ImportEndToEnd, KeyThatCannotBeCreatedKeepsTheFile) {
  // A volatile parent refuses a non-volatile child.
  HKEY parent = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kTessavoPath, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &parent, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(parent);
  WriteHandOff(kValidFile);

  EXPECT_EQ(RunImporter(), kKeyUnavailable);
  EXPECT_FALSE(KeyExists(kProfileKeyPath));
  EXPECT_EQ(ReadHandOff(), kValidFile);
}

TEST_F(ImportEndToEnd, RejectedFileTouchesNoRegistryAndStays) {
  const std::string too_long_corp = std::string(64, 'c') + "\nd\ne\nf\na\nu\n";
  WriteHandOff(too_long_corp);

  EXPECT_EQ(RunImporter(), kProfileRejected);
  EXPECT_FALSE(KeyExists(kTessavoPath));
  EXPECT_EQ(ReadHandOff(), too_long_corp);
}

}  // namespace
}  // namespace e2e
