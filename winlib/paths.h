#pragma once
// Paths of any length: nothing here is cut at MAX_PATH.
#include <string>

#include "winlib/status.h"

namespace winlib {

// The path up to its last backslash: the folder a file is in.
[[nodiscard]] std::wstring ParentFolder(const std::wstring& path);

// This program's own file, as a full path.
[[nodiscard]] Result<std::wstring> ProgramPath();

// The folder this program's own file is in.
[[nodiscard]] Result<std::wstring> ProgramFolder();

// The absolute form of a path, as GetFullPathNameW makes it.
[[nodiscard]] Result<std::wstring> FullPath(const std::wstring& path);

}  // namespace winlib
