#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace profile_import {

// How a line's bytes were read. ASCII reads the same as UTF-8 or Windows-1252;
// Utf16Le is for every line of a file that starts with the UTF-16 LE mark.
enum class TextEncoding { Ascii, Utf8, Windows1252, Utf16Le };

struct DecodedLine {
  std::u16string_view text;  // in the caller's buffer
  TextEncoding encoding;
};

// Decodes one line's bytes to UTF-16 into `out`: as UTF-8 when the bytes are
// well-formed UTF-8, otherwise as Windows-1252. Never yields more code units
// than it was given bytes, so `out` needs bytes.size() units at most.
DecodedLine DecodeLine(std::span<const std::uint8_t> bytes, std::span<char16_t> out);

}  // namespace profile_import
