#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ansi_code_page.h"

namespace profile_import::testing {

// The three ANSI code pages the parser's rows are read in, as far as the rows
// use them: Windows-1252 whole, Windows-1251's Cyrillic letters (other bytes
// read as their own code point, as its unassigned 0x98 does), and CP932's
// lead bytes with the two pairs the rows hold.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor): final, never deleted through its base
class TestCodePage final : public platform::AnsiCodePage {
 public:
  explicit TestCodePage(std::uint32_t number) : number_(number) {}

  std::size_t multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                  std::span<char16_t> out) override {
    std::size_t units = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const std::uint8_t byte = bytes[i];
      char16_t unit = byte;
      if (number_ == 932 && IsCp932Lead(byte)) {
        unit = i + 1 < bytes.size() ? Cp932Pair(byte, bytes[++i]) : 0;
      } else if (number_ == 1251 && byte >= 0xC0) {
        unit = static_cast<char16_t>(u'\u0410' + (byte - 0xC0));
      } else if (number_ == 1252 && byte >= 0x80 && byte < 0xA0) {
        unit = kWindows1252High[byte - 0x80];
      }
      if (unit == 0 || units == out.size()) {
        return 0;
      }
      out[units++] = unit;
    }
    return units;
  }

 private:
  static constexpr std::array<char16_t, 32> kWindows1252High = {
      u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
      u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
      u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
      u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178'};

  static bool IsCp932Lead(std::uint8_t byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
  }
  // ソ and あ; 0, refused, for any other pair.
  static char16_t Cp932Pair(std::uint8_t lead, std::uint8_t trail) {
    const unsigned code = (unsigned{lead} << 8U) | trail;
    return code == 0x835C ? u'\u30BD' : code == 0x82A0 ? u'\u3042' : char16_t{0};
  }

  std::uint32_t number_;
};

}  // namespace profile_import::testing
