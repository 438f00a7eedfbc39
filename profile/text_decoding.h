#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/ansi_code_page.h"

namespace profile_import {

// How a line's bytes were read. ASCII reads the same in UTF-8 and in every
// ANSI code page; AnsiCodePage is for lines that are neither, read in the
// importing machine's ANSI code page; Utf16Le is for every line of a file that
// starts with the UTF-16 LE mark.
enum class TextEncoding { Ascii, Utf8, AnsiCodePage, Utf16Le };

struct DecodedLine {
  std::optional<std::u16string_view> text;  // in `out`; none when the code page refuses the bytes
  TextEncoding encoding{};
};

// Decodes one line's bytes to UTF-16 into `out`: as UTF-8 when the bytes are
// well-formed UTF-8, otherwise in `code_page`. `out` needs bytes.size() units;
// a code page that would make more (no ANSI code page does) refuses the line.
DecodedLine DecodeLine(std::span<const std::uint8_t> bytes, std::span<char16_t> out,
                       platform::AnsiCodePage& code_page);

}  // namespace profile_import
