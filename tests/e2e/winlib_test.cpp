// The tools' Windows helpers where a fault would lose bytes or cut a path.
#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "winlib/files.h"
#include "winlib/paths.h"
#include "winlib/process.h"

namespace {

// Around the size of one read, where a piece could be lost or doubled.
TEST(Winlib, WholeFileComesBackByteForByte) {
  const std::wstring path = L"winlib-whole-file.bin";
  for (const std::size_t size : {0U, 1U, 65535U, 65536U, 65537U, 200000U}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
      bytes[i] = static_cast<char>(i * 7);
    }
    ASSERT_TRUE(winlib::WriteWholeFile(path, bytes).ok()) << size;
    const winlib::Result<std::string> read = winlib::ReadWholeFile(path);
    ASSERT_TRUE(read.ok()) << size;
    EXPECT_EQ(read.value, bytes) << size;
  }
  DeleteFileW(path.c_str());
  EXPECT_EQ(winlib::ReadWholeFile(path).status.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Winlib, PathsAreNotCutAtMaxPath) {
  const std::wstring name(std::size_t{2} * MAX_PATH, L'n');
  const winlib::Result<std::wstring> full = winlib::FullPath(name);
  ASSERT_TRUE(full.ok());
  EXPECT_TRUE(full.value.ends_with(L"\\" + name));
  const winlib::Result<std::wstring> own = winlib::ProgramFolder();
  ASSERT_TRUE(own.ok());
  EXPECT_EQ(GetFileAttributesW((own.value + L"\\e2e_tests.exe").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            0U);
}

TEST(Winlib, StartOfAMissingProgramCarriesItsError) {
  winlib::ProcessStart start;
  start.application = L"C:\\no-such-folder\\none.exe";
  start.command_line = L"none.exe";
  const winlib::Result<winlib::StartedProcess> started = winlib::StartProcess(start);
  EXPECT_EQ(started.status.error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(started.value.lost_starts, 0);
  EXPECT_FALSE(started.value.process);
}

// Each row: the errors of the starts made, in turn, and what the caller is told.
TEST(Winlib, LostStartsAreMadeAgainUnderWineOnly) {
  struct Row {
    const char* name;
    bool under_wine;
    std::vector<DWORD> errors;
    DWORD told;
    int lost;
  };
  static_assert(winlib::kStartAttempts == 3, "the rows below make three starts at most");
  const std::array rows = {
      Row{"lost, then started", true, {ERROR_INTERNAL_ERROR, ERROR_SUCCESS}, ERROR_SUCCESS, 1},
      Row{"lost, then another error",
          true,
          {ERROR_INTERNAL_ERROR, ERROR_ACCESS_DENIED},
          ERROR_ACCESS_DENIED,
          1},
      Row{"lost every time",
          true,
          {ERROR_INTERNAL_ERROR, ERROR_INTERNAL_ERROR, ERROR_INTERNAL_ERROR},
          ERROR_INTERNAL_ERROR,
          2},
      Row{"another error", true, {ERROR_ACCESS_DENIED}, ERROR_ACCESS_DENIED, 0},
      Row{"on Windows", false, {ERROR_INTERNAL_ERROR}, ERROR_INTERNAL_ERROR, 0},
  };
  for (const Row& row : rows) {
    std::size_t made = 0;
    int lost = 0;
    const winlib::Status told = winlib::StartAgainWhileLost(row.under_wine, lost, [&] {
      // A start past the row's last counts too, so that one too many fails.
      const std::size_t start = made++;
      return winlib::Status{start < row.errors.size() ? row.errors[start] : ERROR_GEN_FAILURE};
    });
    EXPECT_EQ(told.error, row.told) << row.name;
    EXPECT_EQ(lost, row.lost) << row.name;
    EXPECT_EQ(made, row.errors.size()) << row.name;
  }
}

}  // namespace
