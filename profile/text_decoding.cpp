#include "profile/text_decoding.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace profile_import {
namespace {

// Windows-1252 for 0x80..0x9F; the five bytes the code page leaves unassigned
// map to the code point of the same value. 0xA0..0xFF equal their code point.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct CodePoint {
  char32_t value;
  std::size_t length;  // bytes consumed; 0 when the bytes are not well-formed
};

bool IsContinuation(std::uint8_t byte) {
  return (byte & 0xC0U) == 0x80U;
}

// One scalar value at the start of `bytes`, refusing overlong forms,
// surrogates and anything above U+10FFFF.
CodePoint NextUtf8(std::span<const std::uint8_t> bytes) {
  const std::uint8_t lead = bytes[0];
  if (lead < 0x80U) {
    return {lead, 1};
  }
  std::size_t length = 0;
  char32_t value = 0;
  std::uint8_t second_min = 0x80U;
  std::uint8_t second_max = 0xBFU;
  if (lead >= 0xC2U && lead <= 0xDFU) {
    length = 2;
    value = lead & 0x1FU;
  } else if (lead >= 0xE0U && lead <= 0xEFU) {
    length = 3;
    value = lead & 0x0FU;
    if (lead == 0xE0U) {
      second_min = 0xA0U;  // overlong below U+0800
    } else if (lead == 0xEDU) {
      second_max = 0x9FU;  // U+D800..U+DFFF are surrogates
    }
  } else if (lead >= 0xF0U && lead <= 0xF4U) {
    length = 4;
    value = lead & 0x07U;
    if (lead == 0xF0U) {
      second_min = 0x90U;  // overlong below U+10000
    } else if (lead == 0xF4U) {
      second_max = 0x8FU;  // above U+10FFFF
    }
  } else {
    return {0, 0};
  }
  if (bytes.size() < length || bytes[1] < second_min || bytes[1] > second_max) {
    return {0, 0};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (!IsContinuation(bytes[i])) {
      return {0, 0};
    }
    value = (value << 6U) | (bytes[i] & 0x3FU);
  }
  return {value, length};
}

bool IsWellFormedUtf8(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const CodePoint point = NextUtf8(bytes);
    if (point.length == 0) {
      return false;
    }
    bytes = bytes.subspan(point.length);
  }
  return true;
}

std::size_t DecodeUtf8(std::span<const std::uint8_t> bytes, std::span<char16_t> out) {
  std::size_t count = 0;
  while (!bytes.empty()) {
    const CodePoint point = NextUtf8(bytes);
    bytes = bytes.subspan(point.length);
    if (point.value < 0x10000U) {
      out[count++] = static_cast<char16_t>(point.value);
    } else {
      const char32_t offset = point.value - 0x10000U;
      out[count++] = static_cast<char16_t>(0xD800U + (offset >> 10U));
      out[count++] = static_cast<char16_t>(0xDC00U + (offset & 0x3FFU));
    }
  }
  return count;
}

std::size_t DecodeWindows1252(std::span<const std::uint8_t> bytes, std::span<char16_t> out) {
  std::size_t count = 0;
  for (const std::uint8_t byte : bytes) {
    const bool in_high_table = byte >= 0x80U && byte <= 0x9FU;
    out[count++] = in_high_table ? kWindows1252High[byte - 0x80U] : char16_t{byte};
  }
  return count;
}

}  // namespace

DecodedLine DecodeLine(std::span<const std::uint8_t> bytes, std::span<char16_t> out) {
  if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte < 0x80U; })) {
    return {{out.data(), DecodeWindows1252(bytes, out)}, TextEncoding::Ascii};
  }
  if (IsWellFormedUtf8(bytes)) {
    return {{out.data(), DecodeUtf8(bytes, out)}, TextEncoding::Utf8};
  }
  return {{out.data(), DecodeWindows1252(bytes, out)}, TextEncoding::Windows1252};
}

}  // namespace profile_import
