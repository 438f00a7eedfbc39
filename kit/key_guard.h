#pragma once
// Keeps HKCU\Software\Tessavo safe around a kit run. The suites and the
// benchmark delete and rewrite it, so before they start it is copied into a
// key of the kit's own in the same hive (which roams with it and is never
// another user's), and afterwards the copy replaces it and both trees are
// compared value by value. Only a matching restore drops the backup.
#include <windows.h>

#include <string>
#include <string_view>

namespace kit {

inline constexpr const wchar_t* kGuardedKey = L"Software\\Tessavo";
inline constexpr const wchar_t* kKitKey = L"Software\\profile-import-kit";
inline constexpr const wchar_t* kBackupKey = L"Software\\profile-import-kit\\Backup";
// The suites and the benchmark refuse to touch HKCU unless this is set.
inline constexpr const wchar_t* kGuardVariable = L"PROFILE_IMPORT_KEY_GUARD";

class Key {
 public:
  Key() = default;
  explicit Key(HKEY key) : key_(key) {}
  Key(Key&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  Key& operator=(Key&& other) noexcept;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key();
  HKEY get() const { return key_; }
  HKEY* out() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

enum class GuardStatus {
  kReady,        // the key is backed up; the run may touch it
  kRefused,      // nothing was changed; the message says why
  kNotRestored,  // the key differs from its backup, which is kept
};

class KeyGuard {
 public:
  // name: the command, at the head of every line it prints.
  explicit KeyGuard(std::wstring name) : name_(std::move(name)) {}
  // Takes the user's lock, puts back what an interrupted run left, then backs
  // the key up. Anything but kReady: the run must not start.
  GuardStatus Begin();
  // Puts the key back from the backup and checks it; drops the backup only if
  // the two match.
  GuardStatus End();

 private:
  GuardStatus Restore();
  void Say(std::wstring_view line) const;
  void SayHowToFinish(const std::wstring& taken) const;

  std::wstring name_;
  SRWLOCK ending_ = SRWLOCK_INIT;
  bool ended_ = false;
  GuardStatus end_status_ = GuardStatus::kReady;
  HANDLE lock_ = nullptr;  // held until the process ends: a crash or logoff frees it
};

// A time as digits with the separators given, e.g. 2026-12-09 21:50:00.
std::wstring TimeText(const SYSTEMTIME& time, std::wstring_view date_separator,
                      std::wstring_view middle, std::wstring_view time_separator);
std::wstring UtcStamp(std::wstring_view date_separator, std::wstring_view middle,
                      std::wstring_view time_separator);
// The user's SID as text; empty for a service account or one it cannot tell.
std::wstring CurrentUserSid();
// Writes a line to the console (or, redirected, as UTF-8).
void PrintLine(std::wstring_view line);
std::wstring ErrorText(DWORD error);
inline std::wstring ErrorText(LSTATUS status) {
  return ErrorText(static_cast<DWORD>(status));
}

}  // namespace kit
