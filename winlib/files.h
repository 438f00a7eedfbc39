#pragma once
// Whole files in one call.
#include <string>
#include <string_view>

#include "winlib/status.h"

namespace winlib {

// Every byte of the file, which others may be reading too.
[[nodiscard]] Result<std::string> ReadWholeFile(const std::wstring& path);

// Makes the file, or empties the one there, and writes the bytes: fails
// unless every byte was written and the file closed.
[[nodiscard]] Status WriteWholeFile(const std::wstring& path, std::string_view bytes);

}  // namespace winlib
