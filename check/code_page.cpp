#include "check/code_page.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <array>
#include <cstdio>
#endif

namespace profile_import::check {
bool IsAnsiCodePage(std::uint32_t number) {
  return number == 874 || (number >= 1250 && number <= 1258) || number == 932 || number == 936 ||
         number == 949 || number == 950 || number == kUtf8;
}

std::string CodePageName(std::uint32_t number) {
  if (number == kUtf8) {
    return "UTF-8";
  }
  const bool windows_named = number == 874 || (number >= 1250 && number <= 1258);
  return (windows_named ? "Windows-" : "CP") + std::to_string(number);
}

#ifdef _WIN32

std::uint32_t MachineCodePage() {
  return GetACP();
}

bool IsKnownCodePage(std::uint32_t number) {
  return IsAnsiCodePage(number) && IsValidCodePage(number) != FALSE;
}

std::size_t CodePage::multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                          std::span<char16_t> out) {
  const int units = ::MultiByteToWideChar(
      number_, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes.data()),
      static_cast<int>(bytes.size()), reinterpret_cast<wchar_t*>(out.data()),
      static_cast<int>(out.size()));
  return units > 0 ? static_cast<std::size_t>(units) : 0;
}

#else

namespace {

// Windows-1252 for 0x80..0x9F; the five bytes the code page leaves unassigned
// map to the code point of the same value. 0xA0..0xFF equal their code point.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::size_t DecodeWindows1252(std::span<const std::uint8_t> bytes, std::span<char16_t> out) {
  if (out.size() < bytes.size()) {
    return 0;
  }
  std::size_t count = 0;
  for (const std::uint8_t byte : bytes) {
    const bool in_high_table = byte >= 0x80U && byte <= 0x9FU;
    out[count++] = in_high_table ? kWindows1252High[byte - 0x80U] : char16_t{byte};
  }
  return count;
}

bool IsPrivateUse(char16_t unit) {
  return unit >= 0xE000U && unit <= 0xF8FFU;
}

}  // namespace

std::uint32_t MachineCodePage() {
  return kWindows1252;
}

bool IsKnownCodePage(std::uint32_t number) {
  if (!IsAnsiCodePage(number)) {
    return false;
  }
  const CodePage decoder{number};
  return decoder.Readable();
}

std::string WindowsTablePath(std::uint32_t number) {
  return std::string(kWindowsTableFolder) + "/c_" + std::to_string(number) + ".nls";
}

// The file's layout, in 16-bit words: a header (its size first), then the
// offset of the Unicode-to-bytes table (not used here) and the 256 units of
// the single bytes; a flag and, if set, 256 glyph units; a flag and, for a
// double-byte code page, 256 offsets from that point, one a lead byte, each to
// the 256 units of its trail bytes.
CodePage::CodePage(std::uint32_t number) : number_(number) {
  if (number == kWindows1252 || number == kUtf8) {
    return;
  }
  std::FILE* file = std::fopen(WindowsTablePath(number).c_str(), "rb");
  if (file == nullptr) {
    return;
  }
  std::array<std::uint8_t, 2> word{};
  while (std::fread(word.data(), 1, word.size(), file) == word.size()) {
    table_.push_back(static_cast<std::uint16_t>(word[0] | (word[1] << 8U)));
  }
  static_cast<void>(std::fclose(file));
  constexpr std::size_t kHeaderWords = 13;
  constexpr std::size_t kUnicodeDefaultAt = 4;
  constexpr std::size_t kBytesForUnicodeDefaultAt = 6;
  constexpr std::size_t kUnits = 256;
  const auto fits = [this](std::size_t at, std::size_t count) {
    return at + count <= table_.size();
  };
  if (!fits(0, kHeaderWords) || table_[0] < kHeaderWords || table_[1] != number) {
    table_.clear();
    return;
  }
  unicode_default_ = table_[kUnicodeDefaultAt];
  bytes_for_unicode_default_ = table_[kBytesForUnicodeDefaultAt];
  single_ = std::size_t{table_[0]} + 1;
  std::size_t at = single_ + kUnits;
  if (fits(at, 1) && table_[at++] != 0) {
    at += kUnits;  // glyphs
  }
  if (!fits(at, 1)) {
    table_.clear();
    return;
  }
  if (table_[at] != 0) {
    lead_offsets_ = at + 1;
    for (std::size_t lead = 0; lead < kUnits; ++lead) {
      if (!fits(lead_offsets_, kUnits) ||
          !fits(lead_offsets_ + table_[lead_offsets_ + lead], kUnits)) {
        table_.clear();
        return;
      }
    }
  }
}

bool CodePage::Readable() const {
  return number_ == kWindows1252 || number_ == kUtf8 || !table_.empty();
}

// MultiByteToWideChar with MB_ERR_INVALID_CHARS over Windows' table: a byte or
// pair is refused when it gives the code page's default character without
// being that character's own bytes, a single byte also when it gives a
// private-use character (the table's stand-in for a byte the code page leaves
// out), and a lead byte when no trail byte follows. A double-byte character
// the table maps to the private use area is a user-defined one, and is taken.
std::size_t CodePage::multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                          std::span<char16_t> out) {
  if (number_ == kWindows1252) {
    return DecodeWindows1252(bytes, out);
  }
  if (table_.empty()) {
    // A line reaches this only when it is not UTF-8, so 65001 refuses it.
    return 0;
  }
  std::size_t count = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t byte = bytes[i];
    const std::uint16_t trails = lead_offsets_ == 0 ? 0 : table_[lead_offsets_ + byte];
    char16_t unit = 0;
    if (trails != 0) {
      if (i + 1 == bytes.size()) {
        return 0;
      }
      const std::uint8_t trail = bytes[++i];
      unit = table_[lead_offsets_ + trails + trail];
      if (unit == unicode_default_ && ((byte << 8U) | trail) != bytes_for_unicode_default_) {
        return 0;
      }
    } else {
      unit = table_[single_ + byte];
      if ((unit == unicode_default_ && byte != bytes_for_unicode_default_) || IsPrivateUse(unit)) {
        return 0;
      }
    }
    if (count == out.size()) {
      return 0;
    }
    out[count++] = unit;
  }
  return count;
}

#endif

}  // namespace profile_import::check
