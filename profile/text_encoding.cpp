#include "profile/text_encoding.h"

namespace profile_import {

std::size_t EncodeUtf8(std::u16string_view text, std::span<std::uint8_t> out) {
  std::size_t length = 0;
  const auto put = [&](char32_t byte) {
    if (length < out.size()) {
      out[length] = static_cast<std::uint8_t>(byte);
    }
    ++length;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t point = text[i];
    if (point >= 0xD800U && point <= 0xDBFFU && i + 1 < text.size() && text[i + 1] >= 0xDC00U &&
        text[i + 1] <= 0xDFFFU) {
      point = 0x10000U + ((point - 0xD800U) << 10U) + (char32_t{text[++i]} - 0xDC00U);
    } else if (point >= 0xD800U && point <= 0xDFFFU) {
      point = 0xFFFDU;
    }
    if (point < 0x80U) {
      put(point);
    } else if (point < 0x800U) {
      put(0xC0U | (point >> 6U));
      put(0x80U | (point & 0x3FU));
    } else if (point < 0x10000U) {
      put(0xE0U | (point >> 12U));
      put(0x80U | ((point >> 6U) & 0x3FU));
      put(0x80U | (point & 0x3FU));
    } else {
      put(0xF0U | (point >> 18U));
      put(0x80U | ((point >> 12U) & 0x3FU));
      put(0x80U | ((point >> 6U) & 0x3FU));
      put(0x80U | (point & 0x3FU));
    }
  }
  return length;
}

}  // namespace profile_import
