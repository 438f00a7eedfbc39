#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace profile_import::sync {

// A FILETIME (100 ns units since 1601-01-01, UTC) as ISO 8601 in UTC,
// 2026-12-10T02:05:01Z, NUL-terminated when there is room.
// One copy in the program: the record and the marker both write the time.
std::size_t FormatIsoTime(std::uint64_t file_time, std::span<char16_t> out);

// The FILETIME of a text FormatIsoTime writes; 0 for any other text.
std::uint64_t ParseIsoTime(std::u16string_view text);

}  // namespace profile_import::sync
