#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ansi_code_page.h"
#include "profile/profile_text.h"

namespace profile_import::testing {

// Malformed and edge-case hand-off files, the same for the same seed on every
// platform: random mixes of empty lines, CRs, NULs, UTF-8 and Windows-1252
// bytes, lines at and one past a field's capacity, too few lines, and files
// longer than the read.
std::vector<std::string> GenerateHandOffFiles(std::uint32_t seed, std::size_t count);

// The bad-input set the end-to-end suites run: a seed whose files reach every
// verdict.
inline constexpr std::uint32_t kBadInputSeed = 20261238;
inline constexpr std::size_t kBadInputCount = 40;

// What the reader makes of a file's bytes, fed as the one read feeds them,
// decoded in this ANSI code page.
ParsedProfile ParseAsRead(std::string_view file, platform::AnsiCodePage& code_page);

}  // namespace profile_import::testing
