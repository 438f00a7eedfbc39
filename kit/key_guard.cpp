#include "kit/key_guard.h"

#include <array>

#include "kit/kit_text.h"
#include "kit/registry_tree.h"
#include "kit/run_arguments.h"
#include "kit/work_folders.h"
#include "winlib/machine_policy.h"

namespace kit {

namespace {

constexpr const wchar_t* kCopyName = L"Tessavo";
constexpr const wchar_t* kTakenValue = L"Taken";
constexpr const wchar_t* kExistedValue = L"KeyExisted";
// Run, not RunOnce: Windows deletes a RunOnce value before it starts the
// command, so a restore that could not start or was refused would leave
// nothing for the logon after. The kit removes this one after a verified
// restore.
constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kRunValue = L"profile-import-kit restore";

std::wstring Now() {
  return UtcStamp(L"-", L" ", L":") + L" UTC";
}

// A short text value; the status says whether it could be read.
LSTATUS ReadText(HKEY key, const wchar_t* name, std::wstring& text) {
  std::array<wchar_t, 64> buffer{};
  auto size = static_cast<DWORD>(sizeof(buffer));
  const LSTATUS status =
      RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, buffer.data(), &size);
  text = status == ERROR_SUCCESS ? buffer.data() : L"";
  return status;
}

LSTATUS WriteText(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Copies the guarded key (or that it does not exist) into path, checks the
// copy, and only then marks it complete: a snapshot without its time was cut
// short and holds nothing to restore.
Problem TakeSnapshot(const std::wstring& path) {
  if (!DeleteTree(path)) {
    return {L"cannot clear " + Hkcu(path)};
  }
  winlib::UniqueKey snapshot;
  LSTATUS status = CreateKey(HKEY_CURRENT_USER, path, snapshot);
  if (status != ERROR_SUCCESS) {
    return {L"cannot create " + Hkcu(path) + L": " + ErrorText(status)};
  }
  winlib::UniqueKey guarded;
  status = OpenKey(HKEY_CURRENT_USER, kGuardedKey, KEY_READ, guarded);
  // Only "not found" means absent; any other error leaves the state unknown.
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    return {L"cannot read " + Hkcu(kGuardedKey) + L": " + ErrorText(status)};
  }
  const DWORD existed = status == ERROR_SUCCESS ? 1 : 0;
  if (existed != 0) {
    winlib::UniqueKey copy;
    status = CreateKey(snapshot.get(), kCopyName, copy);
    if (status == ERROR_SUCCESS) {
      status = RegCopyTreeW(guarded.get(), nullptr, copy.get());
    }
    if (status != ERROR_SUCCESS) {
      return {L"cannot copy " + Hkcu(kGuardedKey) + L": " + ErrorText(status)};
    }
    Problem difference = FirstDifference(guarded.get(), copy.get(), Hkcu(path));
    if (!difference.ok()) {
      return {L"the copy does not match: " + difference.text};
    }
  }
  status = RegSetValueExW(snapshot.get(), kExistedValue, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&existed), sizeof(existed));
  if (status == ERROR_SUCCESS) {
    status = WriteText(snapshot.get(), kTakenValue, Now());
  }
  return {status == ERROR_SUCCESS ? L""
                                  : L"cannot write " + Hkcu(path) + L": " + ErrorText(status)};
}

// Recreates the deleted key from its copy (or leaves it absent, as it was)
// and checks it.
Problem PutBack(bool existed, HKEY copy) {
  winlib::UniqueKey restored;
  if (!existed) {
    const LSTATUS status = OpenKey(HKEY_CURRENT_USER, kGuardedKey, KEY_READ, restored);
    return {status == ERROR_FILE_NOT_FOUND
                ? L""
                : L"it should not exist, but opening it gives " + ErrorText(status)};
  }
  LSTATUS status = CreateKey(HKEY_CURRENT_USER, kGuardedKey, restored);
  if (status == ERROR_SUCCESS) {
    status = RegCopyTreeW(copy, nullptr, restored.get());
  }
  return status != ERROR_SUCCESS ? Problem{L"the copy failed: " + ErrorText(status)}
                                 : FirstDifference(copy, restored.get(), Hkcu(kGuardedKey));
}

}  // namespace

void KeyGuard::Say(std::wstring_view line) const {
  PrintLine(name_ + L": " + std::wstring(line));
}

void KeyGuard::SayHowToFinish(const std::wstring& taken) const {
  Say(L"the backup taken " + taken + L" stays in " + Hkcu(kBackupKey) +
      L". To finish by hand, close every Tessavo program and run this command again: it "
      L"restores the key from that backup before anything else. Or, in a command prompt:");
  Say(L"  reg delete " + Hkcu(kGuardedKey) + L" /f");
  Say(L"  reg copy \"" + Hkcu(kBackupKey) + L"\\" + kCopyName + L"\" " + Hkcu(kGuardedKey) +
      L" /s /f   (only if the backup holds " + kCopyName + L")");
  Say(L"  reg delete \"" + Hkcu(kBackupKey) + L"\" /f");
  Say(L"  reg delete " + Hkcu(kRunKey) + L" /v \"" + kRunValue + L"\" /f");
}

bool KeyGuard::ArmLogonRestore() {
  if (restore_command_.empty()) {
    const RestoreCopy copy = CopyForRestore(program_);
    if (copy.path.empty()) {
      Say(copy.problem);
      return false;
    }
    // Quoted whatever it holds: an unquoted program path in a Run value is
    // looked for at each space, and a path holds no quote.
    restore_command_ = L"\"" + copy.path + L"\" restore";
  }
  winlib::UniqueKey run;
  return CreateKey(HKEY_CURRENT_USER, kRunKey, run) == ERROR_SUCCESS &&
         WriteText(run.get(), kRunValue, restore_command_) == ERROR_SUCCESS;
}

GuardStatus KeyGuard::Lock() {
  if (CurrentUserSid().empty()) {
    Say(L"refusing to run as SYSTEM or a service account (or one it cannot tell): its HKCU is "
        L"not a user's hive. Run it as the user to test with.");
    return GuardStatus::Refused;
  }
  std::wstring holder;
  const LockStatus locked = lock_.Take(holder);
  if (locked == LockStatus::Held) {
    Say(L"refusing to run: another kit run of this user is under way (" + holder +
        L"), here or in another session; nothing was changed. Let it finish, then run this "
        L"again.");
  } else if (locked == LockStatus::Busy) {
    Say(L"refusing to run: " + holder +
        L" is held open by another program, not by a kit run "
        L"(an antivirus or backup program, perhaps); nothing was changed. Try again in a "
        L"moment.");
  } else if (locked == LockStatus::Failed) {
    Say(L"refusing to run: cannot take this user's kit lock: " + holder);
  }
  if (locked != LockStatus::Taken) {
    return GuardStatus::Refused;
  }
  for (const wchar_t* path : {kGuardedKey, kKitKey}) {
    const Problem unsafe = FirstUnsafeKey(path);
    if (!unsafe.ok()) {
      Say(L"refusing to run: " + unsafe.text + L"; nothing was changed. The tests would delete " +
          Hkcu(kGuardedKey) + L" only in part, or what a link points to.");
      return GuardStatus::Refused;
    }
  }
  // A run killed while a test had set the machine's policy left it set, for
  // every user: put back first. Without the rights (a run not elevated),
  // say how; the policy's scenes are skipped while it is set.
  const winlib::Status policy = winlib::PutBackMachinePolicy();
  if (!policy.ok()) {
    Say(L"an earlier run, cut short, left HKLM\\" + std::wstring(winlib::kMachinePolicyKey) +
        L" set, which turns profile-sync off for every user here, and it cannot be deleted now (" +
        ErrorText(policy.error) + L"). From an elevated prompt: reg delete \"HKLM\\" +
        winlib::kMachinePolicyKey + L"\" /f /reg:64 & reg delete \"" +
        Hkcu(winlib::kMachinePolicyMark) + L"\" /f");
  }
  return GuardStatus::Ready;
}

// Puts back the backup of a run that did not finish, if there is one.
GuardStatus KeyGuard::RestorePending() {
  winlib::UniqueKey backup;
  const LSTATUS status = OpenKey(HKEY_CURRENT_USER, kBackupKey, KEY_READ, backup);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    Say(L"refusing to run: cannot read " + Hkcu(kBackupKey) + L": " + ErrorText(status));
    return GuardStatus::Refused;
  }
  std::wstring taken;
  const LSTATUS marked =
      status == ERROR_SUCCESS ? ReadText(backup.get(), kTakenValue, taken) : ERROR_FILE_NOT_FOUND;
  backup.reset();
  // Only a backup without its time was cut short before anything ran.
  if (marked != ERROR_SUCCESS && marked != ERROR_FILE_NOT_FOUND) {
    Say(L"refusing to run: the time of the backup in " + Hkcu(kBackupKey) + L" cannot be read: " +
        ErrorText(marked) + L"; it is left as it is");
    return GuardStatus::Refused;
  }
  if (taken.empty()) {
    return GuardStatus::Ready;
  }
  // The key may have changed since (a real import, a vendor program): it is
  // kept aside before the backup replaces it.
  winlib::UniqueKey current;
  const LSTATUS found = OpenKey(HKEY_CURRENT_USER, kGuardedKey, KEY_READ, current);
  const std::wstring written = found == ERROR_SUCCESS
                                   ? L"last written " + LastWritten(current.get())
                                   : std::wstring(L"absent");
  current.reset();
  const std::wstring side = std::wstring(kKitKey) + L"\\Key as found " + Now();
  const Problem problem = TakeSnapshot(side);
  if (!problem.ok()) {
    DeleteTree(side);
    Say(L"refusing to run: found the backup of a run that did not finish, but " + problem.text);
    return GuardStatus::Refused;
  }
  // Armed before the key is deleted: a restore cut short here is finished
  // at the next logon.
  if (!ArmLogonRestore()) {
    DeleteTree(side);
    Say(L"refusing to run: found the backup of a run that did not finish, but cannot write " +
        Hkcu(kRunKey) + L", which finishes its restore at the next logon if it is cut short");
    return GuardStatus::Refused;
  }
  Say(L"found the backup of a run that did not finish, taken " + taken + L"; " + Hkcu(kGuardedKey) +
      L" as it is now (" + written + L") is kept in " + Hkcu(side) +
      L" and then restored from that backup");
  if (Restore() != GuardStatus::Ready) {
    return GuardStatus::NotRestored;
  }
  Say(L"restored. If the key as found is the one to keep, bring it back with: reg delete " +
      Hkcu(kGuardedKey) + L" /f & reg copy \"" + Hkcu(side) + L"\\" + kCopyName + L"\" " +
      Hkcu(kGuardedKey) + L" /s /f");
  return GuardStatus::Ready;
}

GuardStatus KeyGuard::Begin() {
  Say(L"close every Tessavo program first: this run rewrites " + Hkcu(kGuardedKey) +
      L", and puts it back as it is now when it ends");
  GuardStatus status = Lock();
  if (status == GuardStatus::Ready) {
    status = RestorePending();
  }
  if (status != GuardStatus::Ready) {
    return status;
  }
  Problem problem = TakeSnapshot(kBackupKey);
  if (problem.ok() && !ArmLogonRestore()) {
    problem.text = L"cannot write " + Hkcu(kRunKey) +
                   L", which restores it at the next logon if this run is cut short";
  }
  if (!problem.ok()) {
    DeleteTree(kBackupKey);
    Say(L"refusing to run: cannot back up " + Hkcu(kGuardedKey) + L": " + problem.text);
    return GuardStatus::Refused;
  }
  Say(L"backed up " + Hkcu(kGuardedKey) + L" to " + Hkcu(kBackupKey));
  return GuardStatus::Ready;
}

GuardStatus KeyGuard::Recover() {
  GuardStatus status = Lock();
  if (status == GuardStatus::Ready) {
    status = RestorePending();
  }
  // With nothing pending (restored since, or by hand) the value has no more
  // to do; otherwise it stays for the next logon.
  if (status == GuardStatus::Ready) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue);
  }
  return status;
}

GuardStatus KeyGuard::Restore() {
  winlib::UniqueKey backup;
  LSTATUS status = OpenKey(HKEY_CURRENT_USER, kBackupKey, KEY_ALL_ACCESS, backup);
  std::wstring taken;
  DWORD existed = 0;
  auto size = static_cast<DWORD>(sizeof(existed));
  winlib::UniqueKey copy;
  // Everything the restore needs is opened before the key is deleted.
  if (status != ERROR_SUCCESS || ReadText(backup.get(), kTakenValue, taken) != ERROR_SUCCESS ||
      RegGetValueW(backup.get(), nullptr, kExistedValue, RRF_RT_REG_DWORD, nullptr, &existed,
                   &size) != ERROR_SUCCESS ||
      (existed != 0 && OpenKey(backup.get(), kCopyName, KEY_READ, copy) != ERROR_SUCCESS)) {
    Say(L"cannot restore " + Hkcu(kGuardedKey) + L": its backup in " + Hkcu(kBackupKey) +
        L" cannot be read; the key is left as it is");
    return GuardStatus::NotRestored;
  }
  // A link made under the key since the backup: deleting the tree would
  // delete its target.
  Problem problem = FirstUnsafeKey(kGuardedKey);
  if (problem.ok()) {
    status = RegDeleteTreeW(HKEY_CURRENT_USER, kGuardedKey);
    problem = status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND
                  ? Problem{L"it cannot be deleted: " + ErrorText(status)}
                  : PutBack(existed != 0, copy.get());
  }
  if (!problem.ok()) {
    Say(L"could not put " + Hkcu(kGuardedKey) + L" back as it was: " + problem.text);
    SayHowToFinish(taken);
    return GuardStatus::NotRestored;
  }
  copy.reset();
  // Its time goes first: a backup cut short while being deleted is then one
  // that holds nothing to restore, never one that restores a part.
  status = RegDeleteValueW(backup.get(), kTakenValue);
  backup.reset();
  if (status != ERROR_SUCCESS || !DeleteTree(kBackupKey)) {
    // Left there, it would be restored over a later key by the next run.
    Say(L"restored, but its backup cannot be deleted; delete it by hand: reg delete \"" +
        Hkcu(kBackupKey) + L"\" /f");
    return GuardStatus::NotRestored;
  }
  // Nothing is left for the next logon to restore.
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue);
  // Gone too unless side copies are left in it.
  RegDeleteKeyW(HKEY_CURRENT_USER, kKitKey);
  return GuardStatus::Ready;
}

GuardStatus KeyGuard::End() {
  const GuardStatus status = Restore();
  if (status == GuardStatus::Ready) {
    Say(L"restored " + Hkcu(kGuardedKey) +
        L" as it was before the run: its values and subkeys, compared value by value");
  }
  return status;
}

}  // namespace kit
