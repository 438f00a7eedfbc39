#pragma once
// The check of the folder the kit runs from, before anything else: see
// folder_access.h for the rule.
#include <string>

#include "kit/folder_access.h"
#include "winlib/status.h"

namespace kit {

// What the folder's owner and DACL say, with whom the refusal names.
struct FolderCheck {
  FolderVerdict verdict = FolderVerdict::Safe;
  std::wstring who;  // OwnedByOther: the owner; WritableByOthers: who may change it
};

// The folder judged; the error if its owner and DACL, or the tester's
// account, cannot be read.
winlib::Result<FolderCheck> CheckKitFolder(const std::wstring& folder);

[[nodiscard]] inline bool MayRunFrom(const winlib::Result<FolderCheck>& check) {
  return check.ok() && check.value.verdict == FolderVerdict::Safe;
}

// Why the run may not start from folder, line by line, how to fix it
// included.
std::wstring FolderRefusal(const std::wstring& folder, const winlib::Result<FolderCheck>& check);

}  // namespace kit
