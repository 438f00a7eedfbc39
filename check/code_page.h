#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/ansi_code_page.h"

namespace profile_import::check {

// What the checker reads non-UTF-8 lines with on Linux unless told otherwise:
// the ANSI code page of English and Western European Windows.
inline constexpr std::uint32_t kWindows1252 = 1252;

// The ANSI code page this machine's importer would use: Windows' own on
// Windows, Windows-1252 elsewhere.
std::uint32_t MachineCodePage();

// Whether lines can be read in this code page here.
bool IsKnownCodePage(std::uint32_t number);

// The name a code page goes by, as iconv knows it too: "Windows-1251",
// "CP932", "UTF-8".
std::string CodePageName(std::uint32_t number);

// Reads as MultiByteToWideChar(number, MB_ERR_INVALID_CHARS) does: on Windows
// by that call; elsewhere by iconv, except Windows-1252, whose own table
// matches Windows on the five bytes the code page leaves unassigned (iconv
// refuses them, Windows gives U+0081, U+008D, U+008F, U+0090 and U+009D).
// Final, and never deleted through its base, so it needs no virtual destructor.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class CodePage final : public platform::AnsiCodePage {
 public:
  explicit CodePage(std::uint32_t number) : number_(number) {}
  ~CodePage() = default;
  std::size_t multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                  std::span<char16_t> out) override;

 private:
  std::uint32_t number_;
};

}  // namespace profile_import::check
