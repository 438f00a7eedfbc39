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
};

inline constexpr std::size_t kProfileLineCount = 6;

struct ParsedProfile {
  ProfileTextVerdict verdict{};
  SiteProfile profile;  // complete only when verdict is Accepted

  // How far the reading got, so that a refusal can be explained to a person.
  std::size_t line{};            // 1-based line a refusal is about (2 for lines 2 and 3)
  std::size_t refused_length{};  // UTF-16 code units of the field that is too long
  std::size_t line_ends{};       // LFs before the end of the text, counted up to six
  std::size_t text_bytes{};      // bytes before the end of the text, BOM included
  bool ended_at_nul{};           // the text ended at a NUL byte, not at the end of the read
  bool had_byte_order_mark{};
  std::size_t ignored_after_line_six{};  // bytes of text after the LF that ends line 6
  // How each line was decoded; empty for line 4 and for lines not reached.
  std::array<std::optional<TextEncoding>, kProfileLineCount> encodings{};
};

// Splits the bytes of one read (at most kProfileReadSize are looked at; the
// text ends at the first NUL) into a SiteProfile.
ParsedProfile ParseProfileText(std::span<const std::uint8_t> bytes);

}  // namespace profile_import
