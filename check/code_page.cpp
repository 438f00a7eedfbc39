#include "check/code_page.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <array>
#endif

namespace profile_import::check {
namespace {

constexpr std::uint32_t kUtf8 = 65001;

}  // namespace

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
  return IsValidCodePage(number) != FALSE;
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

// Converts to UTF-16 LE with the byte order spelled out, so no mark is written.
iconv_t OpenDecoder(std::uint32_t number) {
  return iconv_open("UTF-16LE", CodePageName(number).c_str());
}

const iconv_t kNoDecoder = reinterpret_cast<iconv_t>(-1);  // NOLINT(*-int-to-ptr)

// The units iconv makes of the whole of `bytes`, or 0 when a sequence is
// invalid, cut short, or does not fit.
std::size_t Convert(iconv_t decoder, std::span<const std::uint8_t> bytes, std::span<char16_t> out) {
  std::string input(bytes.begin(), bytes.end());
  std::string output(out.size() * sizeof(char16_t), '\0');
  char* in = input.data();
  char* to = output.data();
  std::size_t in_left = input.size();
  std::size_t out_left = output.size();
  const bool whole = iconv(decoder, &in, &in_left, &to, &out_left) != static_cast<std::size_t>(-1);
  if (!whole || in_left != 0) {
    return 0;
  }
  const std::size_t units = (output.size() - out_left) / sizeof(char16_t);
  for (std::size_t i = 0; i < units; ++i) {
    const auto low = static_cast<unsigned char>(output[2 * i]);
    const auto high = static_cast<unsigned char>(output[2 * i + 1]);
    out[i] = static_cast<char16_t>(low | (high << 8U));
  }
  return units;
}

// Windows' tables for its single-byte ANSI code pages give each byte of
// 0x80..0x9F that the code page leaves unassigned the code point of the same
// value, as 1252's table does; iconv refuses those bytes. So those code pages
// are read byte by byte.
bool IsSingleByte(std::uint32_t number) {
  return number == 874 || (number >= 1250 && number <= 1258);
}

std::size_t ConvertSingleBytes(iconv_t decoder, std::span<const std::uint8_t> bytes,
                               std::span<char16_t> out) {
  if (out.size() < bytes.size()) {
    return 0;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const bool unassigned_high = bytes[i] >= 0x80U && bytes[i] <= 0x9FU;
    if (Convert(decoder, bytes.subspan(i, 1), out.subspan(i, 1)) == 1) {
      continue;
    }
    if (!unassigned_high) {
      return 0;
    }
    out[i] = bytes[i];
  }
  return bytes.size();
}

}  // namespace

std::uint32_t MachineCodePage() {
  return kWindows1252;
}

bool IsKnownCodePage(std::uint32_t number) {
  if (number == kWindows1252) {
    return true;
  }
  const iconv_t decoder = OpenDecoder(number);
  if (decoder == kNoDecoder) {
    return false;
  }
  iconv_close(decoder);
  return true;
}

std::size_t CodePage::multiByteToWideChar(std::span<const std::uint8_t> bytes,
                                          std::span<char16_t> out) {
  if (number_ == kWindows1252) {
    return DecodeWindows1252(bytes, out);
  }
  const iconv_t decoder = OpenDecoder(number_);
  if (decoder == kNoDecoder) {
    return 0;
  }
  const std::size_t units = IsSingleByte(number_) ? ConvertSingleBytes(decoder, bytes, out)
                                                  : Convert(decoder, bytes, out);
  iconv_close(decoder);
  return units;
}

#endif

}  // namespace profile_import::check
