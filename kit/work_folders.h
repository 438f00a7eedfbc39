#pragma once
// Where a run reads and writes: the kit's folder, the run's work folder (local,
// its own, ASCII-spelled for gtest) and its results folder.
#include <string>

namespace kit {

// The kit's folder, from the runner's path: x64's runner is in it, x86's in
// x86\.
std::wstring KitFolder(const std::wstring& program);
bool MakeFolder(const std::wstring& path);
// Local and of this run alone: in %TEMP%, by its short name if need be, else
// in %ProgramData%, for this user and SYSTEM alone. Empty if none can be made.
std::wstring WorkFolder(const std::wstring& stamp);
// Beside the kit when its folder can be written, else in the user's own
// %LOCALAPPDATA%; empty if neither can be made.
std::wstring ResultsFolder(const std::wstring& kit_folder, const std::wstring& run_name);
// Deletes a folder and all in it. A junction or symbolic link in it is
// removed as a link: what it points to is never entered.
void RemoveTree(const std::wstring& path);

}  // namespace kit
