#include "check/escaping.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "profile/text_encoding.h"

namespace profile_import::check {
namespace {

// Code points of a UTF-16 text with the units of each; a lone surrogate is
// kept as itself.
template <typename Visit>
void ForEachCodePoint(std::u16string_view text, Visit visit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = text[i];
    const bool pair = unit >= 0xD800U && unit <= 0xDBFFU && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00U && text[i + 1] <= 0xDFFFU;
    if (pair) {
      visit(0x10000U + ((unit - 0xD800U) << 10U) + (char32_t{text[i + 1]} - 0xDC00U),
            text.substr(i, 2));
      ++i;
    } else {
      visit(unit, text.substr(i, 1));
    }
  }
}

std::string Hex(const char* format, char32_t point) {
  std::array<char, 16> buffer{};
  static_cast<void>(std::snprintf(buffer.data(), buffer.size(), format,  // NOLINT(*-vararg)
                                  static_cast<unsigned>(point)));
  return buffer.data();
}

}  // namespace

std::string Utf8(std::u16string_view text) {
  std::string out(EncodeUtf8(text, {}), '\0');
  static_cast<void>(EncodeUtf8(text, {reinterpret_cast<std::uint8_t*>(out.data()), out.size()}));
  return out;
}

std::string EscapeForDisplay(std::u16string_view text) {
  std::string out;
  ForEachCodePoint(text, [&out](char32_t point, std::u16string_view units) {
    switch (point) {
      case U'\\':
        out += "\\\\";
        break;
      case U'"':
        out += "\\\"";
        break;
      case U'\r':
        out += "\\r";
        break;
      case U'\t':
        out += "\\t";
        break;
      default:
        if (point < 0x20U || point == 0x7FU) {
          out += Hex("\\x%02x", point);
        } else if ((point >= 0x80U && point <= 0x9FU) || (point >= 0xD800U && point <= 0xDFFFU)) {
          out += Hex("\\u%04x", point);  // C1 controls, and surrogates that pair with nothing
        } else {
          out += Utf8(units);
        }
    }
  });
  return out;
}

// ASCII only: Windows PowerShell 5.1 decodes a program's output with the
// console's code page, so UTF-8 would reach ConvertFrom-Json garbled. Each
// UTF-16 unit outside ASCII is one escape, which makes a pair of them for a
// character beyond U+FFFF.
std::string EscapeForJson(std::u16string_view text) {
  std::string out;
  for (const char16_t unit : text) {
    if (unit == u'"' || unit == u'\\') {
      out += '\\';
      out += static_cast<char>(unit);
    } else if (unit < 0x20U || unit >= 0x80U) {
      out += Hex("\\u%04x", unit);
    } else {
      out += static_cast<char>(unit);
    }
  }
  return out;
}

}  // namespace profile_import::check
