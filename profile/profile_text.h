#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "profile/site_profile.h"

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

struct ParsedProfile {
  ProfileTextVerdict verdict{};
  SiteProfile profile;  // complete only when verdict is Accepted
};

// Splits the bytes of one read (at most kProfileReadSize are looked at; the
// text ends at the first NUL) into a SiteProfile.
ParsedProfile ParseProfileText(std::span<const std::uint8_t> bytes);

}  // namespace profile_import
