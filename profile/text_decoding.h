#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/ansi_code_page.h"

namespace profile_import {

// How a line's bytes were read. ASCII reads the same in UTF-8 and in every
// ANSI code page; Utf8 and AnsiCodePage are for the other lines of a file read
// as UTF-8 or in the importing machine's ANSI code page; Utf16Le is for every
// line of a file that starts with the UTF-16 LE mark.
enum class TextEncoding { Ascii, Utf8, AnsiCodePage, Utf16Le };

struct DecodedLine {
  std::optional<std::u16string_view> text;  // in `out`; none when the code page refuses the bytes
  TextEncoding encoding{};
};

// Decodes `bytes` into `out` when they are well-formed UTF-8 and gives the
// units written; nothing otherwise. With no `out`, only tells whether they are.
std::optional<std::size_t> DecodeUtf8(std::span<const std::uint8_t> bytes, std::span<char16_t> out);

// Decodes one line's bytes to UTF-16 into `out` in its file's encoding: UTF-8,
// or else `code_page`; an ASCII line reads the same in both. Nothing when the
// bytes are not text of that encoding. `out` needs bytes.size() units; a code
// page that would make more (no ANSI code page does) refuses the line.
DecodedLine DecodeLine(std::span<const std::uint8_t> bytes, std::span<char16_t> out, bool utf8_file,
                       platform::AnsiCodePage& code_page);

}  // namespace profile_import
