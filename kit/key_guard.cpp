#include "kit/key_guard.h"

#include <array>

#include "kit/kit_folder.h"
#include "kit/kit_text.h"
#include "kit/registry_tree.h"
#include "kit/run_arguments.h"
#include "kit/user_lock.h"
#include "kit/work_folders.h"
#include "winlib/files.h"
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

// A short text value.
winlib::Result<std::wstring> ReadText(HKEY key, const wchar_t* name) {
  std::array<wchar_t, 64> buffer{};
  auto size = static_cast<DWORD>(sizeof(buffer));
  const LSTATUS status =
      RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, buffer.data(), &size);
  return {{static_cast<DWORD>(status)}, status == ERROR_SUCCESS ? buffer.data() : L""};
}

winlib::Status WriteText(HKEY key, const wchar_t* name, const std::wstring& text) {
  return {static_cast<DWORD>(
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))))};
}

// What a walk over a tree found, as the kit says it.
std::wstring FindingText(const Finding& found) {
  switch (found.what) {
    case Found::Nothing:
      break;
    case Found::Unreadable:
      return found.key + L" cannot be read: " + ErrorText(found.status);
    case Found::Unwritable:
      return found.key + L" cannot be opened to write and delete (" + ErrorText(found.status) +
             L")";
    case Found::Link:
      return found.key + L" is a registry link";
    case Found::ValueDiffers:
      return found.key + L": value " +
             (found.value.empty() ? L"(Default)" : L"\"" + found.value + L"\"") + L" differs";
    case Found::SubkeysDiffer:
      return found.key + L": its subkeys differ";
  }
  return found.key;
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

// Copies the guarded key (or that it does not exist) into path, checks the
// copy, and only then marks it complete: a snapshot without its time was cut
// short and holds nothing to restore.
GuardStatus KeyGuard::TakeSnapshot(const std::wstring& path, std::wstring_view lead) const {
  const auto refuse = [this, lead](const std::wstring& why) {
    Say(L"refusing to run: " + std::wstring(lead) + why);
    return GuardStatus::Refused;
  };
  if (!DeleteTree(path).ok()) {
    return refuse(L"cannot clear " + Hkcu(path));
  }
  const winlib::Result<winlib::UniqueKey> snapshot = CreateKey(HKEY_CURRENT_USER, path);
  if (!snapshot.ok()) {
    return refuse(L"cannot create " + Hkcu(path) + L": " + ErrorText(snapshot.status));
  }
  const winlib::Result<winlib::UniqueKey> guarded =
      OpenKey(HKEY_CURRENT_USER, kGuardedKey, KEY_READ);
  // Only "not found" means absent; any other error leaves the state unknown.
  if (!guarded.ok() && guarded.status.error != ERROR_FILE_NOT_FOUND) {
    return refuse(L"cannot read " + Hkcu(kGuardedKey) + L": " + ErrorText(guarded.status));
  }
  const DWORD existed = guarded.ok() ? 1 : 0;
  if (existed != 0) {
    const winlib::Result<winlib::UniqueKey> copy = CreateKey(snapshot.value.get(), kCopyName);
    winlib::Status copied = copy.status;
    if (copied.ok()) {
      copied.error =
          static_cast<DWORD>(RegCopyTreeW(guarded.value.get(), nullptr, copy.value.get()));
    }
    if (!copied.ok()) {
      return refuse(L"cannot copy " + Hkcu(kGuardedKey) + L": " + ErrorText(copied));
    }
    const Finding difference = FirstDifference(guarded.value.get(), copy.value.get(), Hkcu(path));
    if (difference.what != Found::Nothing) {
      return refuse(L"the copy does not match: " + FindingText(difference));
    }
  }
  winlib::Status written{
      static_cast<DWORD>(RegSetValueExW(snapshot.value.get(), kExistedValue, 0, REG_DWORD,
                                        reinterpret_cast<const BYTE*>(&existed), sizeof(existed)))};
  if (written.ok()) {
    written = WriteText(snapshot.value.get(), kTakenValue, Now());
  }
  return written.ok() ? GuardStatus::Ready
                      : refuse(L"cannot write " + Hkcu(path) + L": " + ErrorText(written));
}

// Replaces the key by its copy (or deletes it, if it did not exist) and
// checks it.
GuardStatus KeyGuard::PutBack(bool existed, HKEY copy) const {
  const auto fail = [this](const std::wstring& why) {
    Say(L"could not put " + Hkcu(kGuardedKey) + L" back as it was: " + why);
    return GuardStatus::NotRestored;
  };
  // A link made under the key since the backup: deleting the tree would
  // delete its target.
  const Finding unsafe = FirstUnsafeKey(kGuardedKey);
  if (unsafe.what != Found::Nothing) {
    return fail(FindingText(unsafe));
  }
  const winlib::Status deleted = DeleteTree(kGuardedKey);
  if (!deleted.ok()) {
    return fail(L"it cannot be deleted: " + ErrorText(deleted));
  }
  if (!existed) {
    const winlib::Result<winlib::UniqueKey> restored =
        OpenKey(HKEY_CURRENT_USER, kGuardedKey, KEY_READ);
    return restored.status.error == ERROR_FILE_NOT_FOUND
               ? GuardStatus::Ready
               : fail(L"it should not exist, but opening it gives " + ErrorText(restored.status));
  }
  const winlib::Result<winlib::UniqueKey> restored = CreateKey(HKEY_CURRENT_USER, kGuardedKey);
  winlib::Status copied = restored.status;
  if (copied.ok()) {
    copied.error = static_cast<DWORD>(RegCopyTreeW(copy, nullptr, restored.value.get()));
  }
  if (!copied.ok()) {
    return fail(L"the copy failed: " + ErrorText(copied));
  }
  const Finding difference = FirstDifference(copy, restored.value.get(), Hkcu(kGuardedKey));
  return difference.what == Found::Nothing ? GuardStatus::Ready : fail(FindingText(difference));
}

GuardStatus KeyGuard::ArmLogonRestore() {
  if (restore_command_.empty()) {
    const winlib::Result<std::wstring> folder = LocalKitFolder();
    if (!folder.ok()) {
      Say(L"%LOCALAPPDATA%\\profile-import-kit cannot be made, or is a link");
      return GuardStatus::Refused;
    }
    const winlib::Result<FolderCheck> check = CheckKitFolder(folder.value);
    if (!MayRunFrom(check)) {
      Say(FolderRefusal(folder.value, check));
      return GuardStatus::Refused;
    }
    const winlib::Result<std::string> bytes = winlib::ReadWholeFile(program_);
    if (!bytes.ok()) {
      Say(L"cannot read " + program_ + L": " + ErrorText(bytes.status));
      return GuardStatus::Refused;
    }
    const std::wstring copy = folder.value + L"\\kit-runner.exe";
    const winlib::Status copied = CopyRunner(bytes.value, copy);
    if (!copied.ok()) {
      Say(L"cannot copy the runner to " + copy + L": " + ErrorText(copied));
      return GuardStatus::Refused;
    }
    // Quoted whatever it holds: an unquoted program path in a Run value is
    // looked for at each space, and a path holds no quote.
    restore_command_ = L"\"" + copy + L"\" restore";
  }
  const winlib::Result<winlib::UniqueKey> run = CreateKey(HKEY_CURRENT_USER, kRunKey);
  return run.ok() && WriteText(run.value.get(), kRunValue, restore_command_).ok()
             ? GuardStatus::Ready
             : GuardStatus::Refused;
}

GuardStatus KeyGuard::Lock() {
  if (CurrentUserSid().empty()) {
    Say(L"refusing to run as SYSTEM or a service account (or one it cannot tell): its HKCU is "
        L"not a user's hive. Run it as the user to test with.");
    return GuardStatus::Refused;
  }
  std::wstring holder;
  const winlib::Result<LockStatus> locked = lock_.Take(holder);
  if (!locked.ok()) {
    Say(L"refusing to run: cannot take this user's kit lock in "
        L"%LOCALAPPDATA%\\profile-import-kit: " +
        ErrorText(locked.status));
    return GuardStatus::Refused;
  }
  if (locked.value == LockStatus::Held) {
    Say(L"refusing to run: another kit run of this user is under way (" + holder +
        L"), here or in another session; nothing was changed. Let it finish, then run this "
        L"again.");
  } else if (locked.value == LockStatus::Busy) {
    Say(L"refusing to run: " + holder +
        L" is held open by another program, not by a kit run "
        L"(an antivirus or backup program, perhaps); nothing was changed. Try again in a "
        L"moment.");
  }
  if (locked.value != LockStatus::Taken) {
    return GuardStatus::Refused;
  }
  for (const wchar_t* path : {kGuardedKey, kKitKey}) {
    const Finding unsafe = FirstUnsafeKey(path);
    if (unsafe.what != Found::Nothing) {
      Say(L"refusing to run: " + FindingText(unsafe) +
          L"; nothing was changed. The tests would delete " + Hkcu(kGuardedKey) +
          L" only in part, or what a link points to.");
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
  winlib::Result<winlib::UniqueKey> backup = OpenKey(HKEY_CURRENT_USER, kBackupKey, KEY_READ);
  if (!backup.ok() && backup.status.error != ERROR_FILE_NOT_FOUND) {
    Say(L"refusing to run: cannot read " + Hkcu(kBackupKey) + L": " + ErrorText(backup.status));
    return GuardStatus::Refused;
  }
  const winlib::Result<std::wstring> taken =
      backup.ok() ? ReadText(backup.value.get(), kTakenValue)
                  : winlib::Result<std::wstring>{{ERROR_FILE_NOT_FOUND}};
  backup.value.reset();
  // Only a backup without its time was cut short before anything ran.
  if (!taken.ok() && taken.status.error != ERROR_FILE_NOT_FOUND) {
    Say(L"refusing to run: the time of the backup in " + Hkcu(kBackupKey) + L" cannot be read: " +
        ErrorText(taken.status) + L"; it is left as it is");
    return GuardStatus::Refused;
  }
  if (!taken.ok() || taken.value.empty()) {
    return GuardStatus::Ready;
  }
  // The key may have changed since (a real import, a vendor program): it is
  // kept aside before the backup replaces it.
  winlib::Result<winlib::UniqueKey> current = OpenKey(HKEY_CURRENT_USER, kGuardedKey, KEY_READ);
  const std::wstring written =
      current.ok() ? L"last written " + LastWritten(current.value.get()) : std::wstring(L"absent");
  current.value.reset();
  const std::wstring side = std::wstring(kKitKey) + L"\\Key as found " + Now();
  constexpr std::wstring_view kFound = L"found the backup of a run that did not finish, but ";
  if (TakeSnapshot(side, kFound) != GuardStatus::Ready) {
    static_cast<void>(DeleteTree(side));
    return GuardStatus::Refused;
  }
  // Armed before the key is deleted: a restore cut short here is finished
  // at the next logon.
  if (ArmLogonRestore() != GuardStatus::Ready) {
    static_cast<void>(DeleteTree(side));
    Say(L"refusing to run: " + std::wstring(kFound) + L"cannot write " + Hkcu(kRunKey) +
        L", which finishes its restore at the next logon if it is cut short");
    return GuardStatus::Refused;
  }
  Say(L"found the backup of a run that did not finish, taken " + taken.value + L"; " +
      Hkcu(kGuardedKey) + L" as it is now (" + written + L") is kept in " + Hkcu(side) +
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
  const std::wstring lead = L"cannot back up " + Hkcu(kGuardedKey) + L": ";
  status = TakeSnapshot(kBackupKey, lead);
  if (status == GuardStatus::Ready && ArmLogonRestore() != GuardStatus::Ready) {
    Say(L"refusing to run: " + lead + L"cannot write " + Hkcu(kRunKey) +
        L", which restores it at the next logon if this run is cut short");
    status = GuardStatus::Refused;
  }
  if (status != GuardStatus::Ready) {
    static_cast<void>(DeleteTree(kBackupKey));
    return status;
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
  winlib::Result<winlib::UniqueKey> backup = OpenKey(HKEY_CURRENT_USER, kBackupKey, KEY_ALL_ACCESS);
  const winlib::Result<std::wstring> taken = backup.ok()
                                                 ? ReadText(backup.value.get(), kTakenValue)
                                                 : winlib::Result<std::wstring>{backup.status};
  DWORD existed = 0;
  auto size = static_cast<DWORD>(sizeof(existed));
  const bool read =
      taken.ok() && RegGetValueW(backup.value.get(), nullptr, kExistedValue, RRF_RT_REG_DWORD,
                                 nullptr, &existed, &size) == ERROR_SUCCESS;
  // Everything the restore needs is opened before the key is deleted.
  winlib::Result<winlib::UniqueKey> copy;
  if (read && existed != 0) {
    copy = OpenKey(backup.value.get(), kCopyName, KEY_READ);
  }
  if (!read || !copy.ok()) {
    Say(L"cannot restore " + Hkcu(kGuardedKey) + L": its backup in " + Hkcu(kBackupKey) +
        L" cannot be read; the key is left as it is");
    return GuardStatus::NotRestored;
  }
  if (PutBack(existed != 0, copy.value.get()) != GuardStatus::Ready) {
    SayHowToFinish(taken.value);
    return GuardStatus::NotRestored;
  }
  copy.value.reset();
  // Its time goes first: a backup cut short while being deleted is then one
  // that holds nothing to restore, never one that restores a part.
  const LSTATUS status = RegDeleteValueW(backup.value.get(), kTakenValue);
  backup.value.reset();
  if (status != ERROR_SUCCESS || !DeleteTree(kBackupKey).ok()) {
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
