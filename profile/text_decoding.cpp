#include "profile/text_decoding.h"

#include <cstddef>
#include <optional>

namespace profile_import {
namespace {

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

}  // namespace

// Decodes `bytes` into `out` when they are well-formed UTF-8; nothing otherwise.
// With no `out`, only tells whether they are.
std::optional<std::size_t> DecodeUtf8(std::span<const std::uint8_t> bytes,
                                      std::span<char16_t> out) {
  std::size_t count = 0;
  while (!bytes.empty()) {
    const CodePoint point = NextUtf8(bytes);
    if (point.length == 0) {
      return std::nullopt;
    }
    bytes = bytes.subspan(point.length);
    if (out.empty()) {
      continue;
    }
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

DecodedLine DecodeLine(std::span<const std::uint8_t> bytes, std::span<char16_t> out, bool utf8_file,
                       platform::AnsiCodePage& code_page) {
  const std::optional<std::size_t> utf8_units = DecodeUtf8(bytes, out);
  // Every sequence of two bytes or more makes fewer units than it has bytes,
  // so only an ASCII line keeps its count.
  if (utf8_units && *utf8_units == bytes.size()) {
    return {std::u16string_view{out.data(), *utf8_units}, TextEncoding::Ascii};
  }
  if (utf8_file) {
    if (!utf8_units) {
      return {std::nullopt, TextEncoding::Utf8};
    }
    return {std::u16string_view{out.data(), *utf8_units}, TextEncoding::Utf8};
  }
  const std::size_t units = code_page.multiByteToWideChar(bytes, out.first(bytes.size()));
  if (units == 0) {
    return {std::nullopt, TextEncoding::AnsiCodePage};
  }
  return {std::u16string_view{out.data(), units}, TextEncoding::AnsiCodePage};
}

}  // namespace profile_import
