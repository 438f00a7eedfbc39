#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/ansi_code_page.h"

namespace profile_import::check {

// What the checker reads non-UTF-8 lines with on Linux unless told otherwise:
// the ANSI code page of English and Western European Windows.
inline constexpr std::uint32_t kWindows1252 = 1252;

inline constexpr std::uint32_t kUtf8 = 65001;

// The ANSI code page this machine's importer would use: Windows' own on
// Windows, Windows-1252 elsewhere.
std::uint32_t MachineCodePage();

// Whether a Windows machine can have this ANSI code page: 874, 1250 to 1258,
// 932, 936, 949, 950, and 65001 (the "UTF-8 for worldwide language support" option).
bool IsAnsiCodePage(std::uint32_t number);

// Whether lines can be read in this code page here: an ANSI code page, whose
// table this machine has.
bool IsKnownCodePage(std::uint32_t number);

// The name a code page goes by: "Windows-1251",
// "CP932", "UTF-8".
std::string CodePageName(std::uint32_t number);

#ifndef _WIN32
// Where Windows' own code-page tables are on Linux: Wine installs them, in
// the format Windows ships them (c_1251.nls, c_932.nls, ...).
inline constexpr const char* kWindowsTableFolder = "/usr/share/wine/nls";
std::string WindowsTablePath(std::uint32_t number);
#endif

// Reads as MultiByteToWideChar(number, MB_ERR_INVALID_CHARS) does: on Windows
// by that call; elsewhere by the same rule over Windows' own table for the
// code page, except Windows-1252, whose table is built in. No converter of
// Linux's own gives Windows' answer for every byte: glibc holds back a Hebrew
// or Vietnamese letter for a combining mark that may follow, and knows
// nothing of the user-defined characters Windows maps to the private use area.
// Final, and never deleted through its base, so it needs no virtual destructor.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class CodePage final : public platform::AnsiCodePage {
 public:
#ifdef _WIN32
  explicit CodePage(std::uint32_t number) : number_(number) {}
#else
  explicit CodePage(std::uint32_t number);
  // Whether its table was found and read.
  [[nodiscard]] bool Readable() const;
#endif
  std::size_t multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                  std::span<char16_t> out) override;

 private:
  std::uint32_t number_;
#ifndef _WIN32
  std::vector<std::uint16_t> table_;  // the whole file, in 16-bit words
  std::size_t single_ = 0;            // where the single bytes' units start
  std::size_t lead_offsets_ = 0;      // where the lead bytes' offsets start; 0: single-byte
  char16_t unicode_default_ = 0;
  std::uint16_t bytes_for_unicode_default_ = 0;  // the bytes that stand for that character
#endif
};

}  // namespace profile_import::check
