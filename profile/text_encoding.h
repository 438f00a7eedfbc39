#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace profile_import {

// Encodes UTF-16 `text` as UTF-8 into as much of `out` as it fills, a
// surrogate that pairs with nothing as U+FFFD, and gives the length of the
// whole text's UTF-8: more than out.size() when it was cut. No heap, so
// profile-sync can use it; with no `out`, it only measures.
std::size_t EncodeUtf8(std::u16string_view text, std::span<std::uint8_t> out);

}  // namespace profile_import
