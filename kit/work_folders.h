#pragma once
// Where a run reads and writes: the kit's folder, the run's work folder (local,
// its own, ASCII-spelled for gtest) and its results folder.
#include <windows.h>

#include <string>

#include "winlib/status.h"
#include "winlib/unique_handle.h"

namespace kit {

// The kit's folder, from the runner's path: x64's runner is in it, x86's in
// x86\.
std::wstring KitFolder(const std::wstring& program);
// Opens what is at path itself, with FILE_FLAG_OPEN_REPARSE_POINT added to
// flags: a junction, symbolic link or other reparse point there is refused
// (no handle; ERROR_CANT_ACCESS_FILE).
winlib::UniqueFile OpenNotLink(const std::wstring& path, DWORD access, DWORD share,
                               DWORD disposition, DWORD flags);
// A folder of the kit's own, made if it is not there, held open (without
// delete sharing, so that it cannot be swapped for a link) while the caller
// works in it; no handle if it is a link or not a folder, GetLastError's code
// saying why.
winlib::UniqueFile HoldFolder(const std::wstring& path);
// Local and of this run alone: in %TEMP%, by its short name if need be, else
// in %ProgramData%, for this user and SYSTEM alone. Empty if none can be made.
std::wstring WorkFolder(const std::wstring& stamp);
// Beside the kit when its folder can be written, else in the user's own
// %LOCALAPPDATA%; empty if neither can be made.
std::wstring ResultsFolder(const std::wstring& kit_folder, const std::wstring& run_name);
// Deletes a folder and all in it. A junction or symbolic link in it is
// removed as a link: what it points to is never entered, and each folder is
// held while its entries go, so none can become a link meanwhile.
void RemoveTree(const std::wstring& path);
// Writes the runner's bytes to copy, in the user's own
// %LOCALAPPDATA%\profile-import-kit, for the logon restore to run: the kit's
// folder may be gone, or another's, by then. A copy already the same is left
// as it is.
winlib::Status CopyRunner(const std::string& bytes, const std::wstring& copy);

}  // namespace kit
