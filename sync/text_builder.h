#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "profile/text_encoding.h"

namespace profile_import::sync {

// Appends text to a caller's fixed buffer, never past its end: the program
// has no heap. A text that does not fit is cut, and Overflowed() says so.
template <typename Char>
class TextBuilder {
 public:
  explicit TextBuilder(std::span<Char> buffer) : buffer_(buffer) {}

  TextBuilder& Add(std::basic_string_view<Char> text) {
    for (const Char unit : text) {
      Put(unit);
    }
    return *this;
  }
  TextBuilder& Put(Char unit) {
    if (length_ < buffer_.size()) {
      buffer_[length_++] = unit;
    } else {
      overflowed_ = true;
    }
    return *this;
  }
  // Decimal, with at least `width` digits.
  TextBuilder& Number(std::uint64_t number, std::size_t width = 1) {
    std::array<Char, 20> digits{};
    std::size_t count = 0;
    do {
      digits[count++] = static_cast<Char>('0' + number % 10);
      number /= 10;
    } while (number != 0 || count < width);
    while (count != 0) {
      Put(digits[--count]);
    }
    return *this;
  }
  TextBuilder& Hex(std::uint64_t number, std::size_t digits) {
    constexpr std::string_view kDigits = "0123456789abcdef";
    while (digits != 0) {
      --digits;
      Put(static_cast<Char>(kDigits[(number >> (4 * digits)) & 0xF]));
    }
    return *this;
  }
  // The text with every control character as \xHH (C0 and DEL) or \uHHHH
  // (C1, and the line and paragraph separators): a tab or a line end in a
  // name or a path cannot make a field or a line of a record.
  TextBuilder& Escaped(std::u16string_view text) {
    for (const char16_t unit : text) {
      if (unit < 0x20 || unit == 0x7F) {
        Put(static_cast<Char>('\\')).Put(static_cast<Char>('x')).Hex(unit, 2);
      } else if ((unit >= 0x80 && unit <= 0x9F) || unit == 0x2028 || unit == 0x2029) {
        Put(static_cast<Char>('\\')).Put(static_cast<Char>('u')).Hex(unit, 4);
      } else {
        Put(static_cast<Char>(unit));
      }
    }
    return *this;
  }
  // UTF-16 as UTF-8, by EncodeUtf8 (a lone surrogate becomes U+FFFD).
  TextBuilder& Utf8Of(std::u16string_view text) requires(std::same_as<Char, std::uint8_t>) {
    const std::span<Char> rest = buffer_.subspan(length_);
    const std::size_t length = EncodeUtf8(text, rest);
    overflowed_ = overflowed_ || length > rest.size();
    length_ += length < rest.size() ? length : rest.size();
    return *this;
  }

  [[nodiscard]] std::basic_string_view<Char> View() const { return {buffer_.data(), length_}; }
  [[nodiscard]] std::size_t Length() const { return length_; }
  [[nodiscard]] bool Overflowed() const { return overflowed_; }

 private:
  std::span<Char> buffer_;
  std::size_t length_ = 0;
  bool overflowed_ = false;
};

}  // namespace profile_import::sync
