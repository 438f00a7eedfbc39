#pragma once
// The machine's profile-sync policy, which a few end-to-end tests set to
// see profile-sync follow it: only where asked (the CI job sets the
// variable), only where the key is absent, and put back by the next run if
// a run is killed with it set. HKLM\...\Policies turns profile-sync off for
// every user of the machine, so a mark in the user's own hive records that
// the key was made (it was absent before) before it is.
#include <windows.h>

#include "project_env.h"
#include "winlib/status.h"

namespace winlib {

inline constexpr const wchar_t* kMachinePolicyKey = L"SOFTWARE\\Policies\\Tessavo\\profile-sync";
inline constexpr const wchar_t* kMachinePolicyVariable =
    profile_import::project_env::kMachinePolicyVariable;
// In HKCU: while it exists, the policy key is the tests' to delete.
inline constexpr const wchar_t* kMachinePolicyMark =
    L"Software\\profile-import-kit\\Machine policy";

// Whether the run was asked to write the machine's policy: the variable is 1.
[[nodiscard]] bool MachinePolicyAsked();

// Marks the policy key as made by the tests, before it is made.
[[nodiscard]] Status MarkMachinePolicy();

// Where a mark is left, deletes the policy key, then the mark: ok when
// nothing was left or all is put back.
[[nodiscard]] Status PutBackMachinePolicy();

}  // namespace winlib
