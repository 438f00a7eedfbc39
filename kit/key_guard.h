#pragma once
// Keeps HKCU\Software\Tessavo safe around a kit run. The suites and the
// benchmark delete and rewrite it, so before they start it is copied into a
// key of the kit's own in the same hive (which roams with it and is never
// another user's), and afterwards the copy replaces it and both trees are
// compared value by value. Only a matching restore drops the backup. While a
// backup is pending, a Run value of the same hive restores it at the next
// logon, in case the run never gets to (logoff, shutdown, power loss): it
// starts a copy of the runner in the user's own %LOCALAPPDATA%, never the
// kit's folder, which may be gone or another's by then.
#include <windows.h>

#include <string>
#include <string_view>

#include "core/key_paths.h"
#include "kit/user_lock.h"

namespace kit {

inline constexpr auto kGuardedKeyText =
    profile_import::JoinKeyPath<wchar_t>(profile_import::kVendorKeyPath, "");
inline constexpr const wchar_t* kGuardedKey = kGuardedKeyText.data();
inline constexpr const wchar_t* kKitKey = L"Software\\profile-import-kit";
inline constexpr const wchar_t* kBackupKey = L"Software\\profile-import-kit\\Backup";

enum class GuardStatus {
  Ready,        // the key is backed up (or, after Recover, put back); the run may go on
  Refused,      // nothing was changed; the message says why
  NotRestored,  // the key differs from its backup, which is kept
};

class KeyGuard {
 public:
  // name: the command, at the head of every line it prints; program: the
  // runner, whose copy the Run value starts to put a pending backup back.
  KeyGuard(std::wstring name, std::wstring program)
      : name_(std::move(name)), program_(std::move(program)) {}
  // Takes the user's lock, puts back what an interrupted run left, then backs
  // the key up. Anything but Ready: the run must not start.
  GuardStatus Begin();
  // Takes the user's lock and puts back what an interrupted run left, if
  // anything: what the Run value runs at logon. With nothing pending it
  // only removes that value.
  GuardStatus Recover();
  // Puts the key back from the backup and checks it; drops the backup only if
  // the two match.
  GuardStatus End();
  // Lets another run start, once this one has ended.
  void Unlock() { lock_.Release(); }

 private:
  // Each step below says why when it returns anything but Ready.
  GuardStatus Lock();
  GuardStatus RestorePending();
  GuardStatus Restore();
  // Copies the key (or that it does not exist) into path; a refusal is said
  // after lead.
  GuardStatus TakeSnapshot(const std::wstring& path, std::wstring_view lead) const;
  GuardStatus PutBack(bool existed, HKEY copy) const;
  // The Run value that finishes a pending restore at the next logon; Refused
  // if it cannot be written (whatever kept the runner's copy from being made
  // is said).
  GuardStatus ArmLogonRestore();
  void Say(std::wstring_view line) const;
  void SayHowToFinish(const std::wstring& taken) const;

  std::wstring name_;
  std::wstring program_;
  std::wstring restore_command_;  // made with the runner's copy, once
  UserLock lock_;
};

}  // namespace kit
