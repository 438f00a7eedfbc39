#pragma once
// The check of the folder the kit runs from, before anything else: see
// folder_access.h for the rule.
#include <string>

namespace kit {

// Empty when the run may start from folder; otherwise what to print, line
// by line, how to fix it included.
std::wstring KitFolderProblem(const std::wstring& folder);

}  // namespace kit
