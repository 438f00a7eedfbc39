// Runs the real profile-import.exe against real files and the real registry
// (under Wine on Linux) and checks its full 32-bit exit code and what it left.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kTessavoPath = L"Software\\Tessavo";
constexpr const wchar_t* kProfileKeyPath = L"Software\\Tessavo\\Mirandel";
constexpr DWORD kImportOk = 0;
constexpr DWORD kNoProfileFile = 0xFFFFFFFF;
constexpr DWORD kKeyUnavailable = 0xFFFFFFFE;
constexpr DWORD kProfileRejected = 0xFFFFFFFB;

std::wstring ExeDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
  path.resize(length);
  return path.substr(0, path.find_last_of(L'\\'));
}

const std::wstring& WorkDirectory() {
  static const std::wstring dir = ExeDirectory() + L"\\e2e-work";
  return dir;
}

std::wstring HandOffPath() {
  return WorkDirectory() + L"\\sysfile.cfg";
}

void WriteHandOff(const std::string& bytes) {
  FILE* file = _wfopen(HandOffPath().c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}

std::optional<std::string> ReadHandOff() {
  FILE* file = _wfopen(HandOffPath().c_str(), L"rb");
  if (file == nullptr) {
    return std::nullopt;
  }
  std::string bytes(4096, '\0');
  bytes.resize(fread(bytes.data(), 1, bytes.size(), file));
  fclose(file);
  return bytes;
}

bool KeyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

struct RegValue {
  DWORD type;
  std::vector<BYTE> data;
  bool operator==(const RegValue&) const = default;
};

std::optional<RegValue> ReadValue(const wchar_t* path, const wchar_t* name) {
  RegValue value{0, std::vector<BYTE>(1024)};
  auto size = static_cast<DWORD>(value.data.size());
  if (RegGetValueW(HKEY_CURRENT_USER, path, name, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                   value.data.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  return value;
}

RegValue StringValue(const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return {REG_SZ, {bytes, bytes + (text.size() + 1) * sizeof(wchar_t)}};
}

void SetValue(const wchar_t* path, const wchar_t* name, const RegValue& value) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path, name, value.type, value.data.data(),
                            static_cast<DWORD>(value.data.size())),
            ERROR_SUCCESS);
}

// Starts the importer in the work directory and waits for its exit code.
DWORD RunImporter() {
  std::wstring exe = ExeDirectory() + L"\\profile-import.exe";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                      WorkDirectory().c_str(), &startup, &process)) {
    ADD_FAILURE() << "could not start " << std::string(exe.begin(), exe.end());
    return 0xDEADBEEF;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0xDEADBEEF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

const std::string kValidFile = "Acme Corp\nSQL01\\\nMIRANDEL\nline four\nadmin\njdoe\n";

struct Expected {
  std::wstring corp, database, admin, user;
};
const Expected kValidProfile = {L"Acme Corp", L"SQL01\\MIRANDEL", L"admin", L"jdoe"};

class ImportEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryW(WorkDirectory().c_str(), nullptr);
    DeleteFileW(HandOffPath().c_str());
    const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, kTessavoPath);
    ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
  }

  static void ExpectProfileStored(const Expected& expected) {
    const std::vector<std::pair<const wchar_t*, const std::wstring*>> values = {
        {L"RegCorp", &expected.corp},
        {L"RegDataBase", &expected.database},
        {L"RegAdmin", &expected.admin},
        {L"RegUser", &expected.user},
    };
    for (const auto& [name, text] : values) {
      EXPECT_EQ(ReadValue(kProfileKeyPath, name), StringValue(*text))
          << std::string(name, name + wcslen(name));
    }
  }
};

struct AcceptedFile {
  const char* name;
  std::string bytes;
  Expected stored;
};

void PrintTo(const AcceptedFile& file, std::ostream* out) {
  *out << file.name;
}

class ImportsAcceptedFile : public ImportEndToEnd,
                            public ::testing::WithParamInterface<AcceptedFile> {};

TEST_P(ImportsAcceptedFile, StoresValuesLeavesTheRestAloneAndDeletesTheFile) {
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
                                   {L"Caf\u00E9", L"\u20AC", L"\u00C0", L"na\u00EFve"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImportEndToEnd, CreatesMissingKeyAndParent) {
  WriteHandOff(kValidFile);

  EXPECT_EQ(RunImporter(), kImportOk);

  ExpectProfileStored(kValidProfile);
  EXPECT_FALSE(ReadHandOff().has_value());
}

TEST_F(ImportEndToEnd, FileHeldOpenByAnotherProcessTouchesNothing) {
  SetValue(kProfileKeyPath, L"RegCorp", StringValue(L"before"));
  WriteHandOff(kValidFile);
  const HANDLE held = CreateFileW(HandOffPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  const DWORD code = RunImporter();
  CloseHandle(held);

  EXPECT_EQ(code, kNoProfileFile);
  EXPECT_EQ(ReadValue(kProfileKeyPath, L"RegCorp"), StringValue(L"before"));
  EXPECT_FALSE(ReadValue(kProfileKeyPath, L"RegUser").has_value());
  EXPECT_EQ(ReadHandOff(), kValidFile);
}

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
