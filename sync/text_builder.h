#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

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
  // UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
  TextBuilder& Utf8Of(std::u16string_view text) requires(sizeof(Char) == 1) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      std::uint32_t code = text[i];
      if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
      } else if (code >= 0xD800 && code < 0xE000) {
        code = 0xFFFD;
      }
      if (code < 0x80) {
        Put(static_cast<Char>(code));
      } else if (code < 0x800) {
        Put(static_cast<Char>(0xC0 | code >> 6)).Put(static_cast<Char>(0x80 | (code & 0x3F)));
      } else if (code < 0x10000) {
        Put(static_cast<Char>(0xE0 | code >> 12))
            .Put(static_cast<Char>(0x80 | (code >> 6 & 0x3F)))
            .Put(static_cast<Char>(0x80 | (code & 0x3F)));
      } else {
        Put(static_cast<Char>(0xF0 | code >> 18))
            .Put(static_cast<Char>(0x80 | (code >> 12 & 0x3F)))
            .Put(static_cast<Char>(0x80 | (code >> 6 & 0x3F)))
            .Put(static_cast<Char>(0x80 | (code & 0x3F)));
      }
    }
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
