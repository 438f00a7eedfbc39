#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "profile/site_profile.h"
#include "profile/text_decoding.h"

namespace profile_import {

// The hand-off file is taken in with one read of this many bytes.
inline constexpr std::size_t kProfileReadSize = 512;

// Why a text is, or is not, a profile.
enum class ProfileTextVerdict {
  Accepted,
  TooFewLineEnds,    // fewer than five LFs before the end of the text
  LastLineMayBeCut,  // a full read with no NUL and no LF after line 6
  CorpTooLong,
  DataBaseTooLong,  // lines 2 and 3 together
  AdminTooLong,
  UserTooLong,
  NotWellFormedUtf16,  // a lone surrogate in a field's line of a UTF-16 LE file
  NotInCodePage,  // a field's line of a file not read as UTF-8 is not text of the ANSI code page
  NotWellFormedUtf8,  // a field's line of a file with the UTF-8 mark is not UTF-8
};

// A mark or a layout of UTF-16 that the reader does not take, for a hint.
enum class UnreadUtf16 {
  None,
  BigEndian,        // starts with FE FF
  NoByteOrderMark,  // second byte is NUL
};

struct ParsedProfile {
  ProfileTextVerdict verdict{};
  SiteProfile profile;  // complete only when verdict is Accepted

  // How far the reading got, so that a refusal can be explained to a person.
  std::size_t line{};            // 1-based line a refusal is about (2 for lines 2 and 3 too long)
  std::size_t refused_length{};  // UTF-16 code units of the field that is too long
  std::size_t line_ends{};       // LFs before the end of the text, counted up to six
  std::size_t text_bytes{};      // bytes before the end of the text, BOM included
  bool ended_at_nul{};  // the text ended at a NUL (a U+0000 unit in UTF-16), not at the read's end
  bool had_byte_order_mark{};
  bool utf16_le{};  // read as UTF-16 LE, by its byte order mark
  bool utf8{};      // a byte file read as UTF-8: it has the mark, or is UTF-8 through line 6
  UnreadUtf16 unread_utf16{};
  std::size_t ignored_after_line_six{};  // bytes of text after the LF that ends line 6
  // How each line was decoded; empty for line 4 and for lines not reached.
  std::array<std::optional<TextEncoding>, kProfileLineCount> encodings{};
};

// Splits the bytes of one read (at most kProfileReadSize are looked at) into a
// SiteProfile. A read that starts with FF FE is UTF-16 LE and ends at its first
// U+0000 unit; any other read is bytes, ending at the first NUL, in one
// encoding: UTF-8 if it starts with the UTF-8 mark, or if its text through the
// end of line 6 is well-formed UTF-8; otherwise `code_page`.
ParsedProfile ParseProfileText(std::span<const std::uint8_t> bytes,
                               platform::AnsiCodePage& code_page);

}  // namespace profile_import
