#include "key_guard.h"

#include <sddl.h>

#include <algorithm>
#include <array>
#include <cwchar>
#include <vector>

namespace kit {

Key& Key::operator=(Key&& other) noexcept {
  if (this != &other) {
    this->~Key();
    key_ = other.key_;
    other.key_ = nullptr;
  }
  return *this;
}

Key::~Key() {
  if (key_ != nullptr) {
    RegCloseKey(key_);
    key_ = nullptr;
  }
}

std::wstring TimeText(const SYSTEMTIME& time, std::wstring_view date_separator,
                      std::wstring_view middle, std::wstring_view time_separator) {
  auto two = [](WORD value) {
    return std::wstring(value < 10 ? L"0" : L"") + std::to_wstring(value);
  };
  std::wstring text = std::to_wstring(time.wYear);
  text.append(date_separator).append(two(time.wMonth)).append(date_separator);
  text.append(two(time.wDay)).append(middle).append(two(time.wHour)).append(time_separator);
  return text.append(two(time.wMinute)).append(time_separator).append(two(time.wSecond));
}

std::wstring UtcStamp(std::wstring_view date_separator, std::wstring_view middle,
                      std::wstring_view time_separator) {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  return TimeText(now, date_separator, middle, time_separator);
}

void PrintLine(std::wstring_view line) {
  const std::wstring text = std::wstring(line) + L"\r\n";
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode) != FALSE) {
    WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring ErrorText(DWORD error) {
  std::array<wchar_t, 256> text{};
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text.data(), static_cast<DWORD>(text.size()), nullptr);
  while (length > 0 && (text.at(length - 1) == L'\n' || text.at(length - 1) == L'\r' ||
                        text.at(length - 1) == L' ' || text.at(length - 1) == L'.')) {
    --length;
  }
  return L"error " + std::to_wstring(error) +
         (length == 0 ? L"" : L" (" + std::wstring(text.data(), length) + L")");
}

namespace {

constexpr const wchar_t* kCopyName = L"Tessavo";
constexpr const wchar_t* kTakenValue = L"Taken";
constexpr const wchar_t* kExistedValue = L"KeyExisted";

// How a key is named in what the guard prints, as reg.exe takes it.
std::wstring Hkcu(const std::wstring& path) {
  return L"HKCU\\" + path;
}

std::wstring Stamp(const SYSTEMTIME& time) {
  return TimeText(time, L"-", L" ", L":") + L" UTC";
}

std::wstring Now() {
  return UtcStamp(L"-", L" ", L":") + L" UTC";
}

LSTATUS OpenKey(HKEY parent, const std::wstring& path, REGSAM access, Key& key) {
  return RegOpenKeyExW(parent, path.c_str(), 0, access, key.out());
}

LSTATUS CreateKey(HKEY parent, const std::wstring& path, Key& key) {
  return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(),
                         nullptr);
}

bool DeleteTree(const std::wstring& path) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
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

// When anything in the tree was last written: a key's own time does not
// change when a value of a subkey does.
FILETIME NewestWrite(HKEY key) {
  FILETIME newest{};
  DWORD subkeys = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, &newest);
  for (DWORD i = 0; i < subkeys; ++i) {
    std::array<wchar_t, 256> name{};
    auto size = static_cast<DWORD>(name.size());
    Key sub;
    if (RegEnumKeyExW(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS &&
        RegOpenKeyExW(key, name.data(), 0, KEY_READ, sub.out()) == ERROR_SUCCESS) {
      const FILETIME written = NewestWrite(sub.get());
      newest = CompareFileTime(&written, &newest) > 0 ? written : newest;
    }
  }
  return newest;
}

std::wstring LastWritten(HKEY key) {
  const FILETIME written = NewestWrite(key);
  SYSTEMTIME time{};
  return FileTimeToSystemTime(&written, &time) != FALSE ? Stamp(time) : L"unknown";
}

struct Value {
  std::wstring name;
  DWORD type = 0;
  std::vector<BYTE> data;
  bool operator==(const Value&) const = default;
};

struct Listing {
  std::vector<Value> values;
  std::vector<std::wstring> subkeys;
};

bool NameBefore(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
}

// Every value (name, type, bytes) and subkey name of one key, sorted, since a
// copy need not enumerate in the original's order.
LSTATUS List(HKEY key, Listing& out) {
  DWORD subkeys = 0;
  DWORD longest_subkey = 0;
  DWORD values = 0;
  DWORD longest_name = 0;
  DWORD largest_data = 0;
  LSTATUS status =
      RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longest_subkey, nullptr, &values,
                       &longest_name, &largest_data, nullptr, nullptr);
  for (DWORD i = 0; status == ERROR_SUCCESS && i < values; ++i) {
    Value value{std::wstring(longest_name + 1, L'\0'), 0, std::vector<BYTE>(largest_data)};
    auto name_size = static_cast<DWORD>(value.name.size());
    auto data_size = static_cast<DWORD>(value.data.size());
    status = RegEnumValueW(key, i, value.name.data(), &name_size, nullptr, &value.type,
                           value.data.data(), &data_size);
    value.name.resize(name_size);
    value.data.resize(data_size);
    out.values.push_back(std::move(value));
  }
  for (DWORD i = 0; status == ERROR_SUCCESS && i < subkeys; ++i) {
    std::wstring name(longest_subkey + 1, L'\0');
    auto size = static_cast<DWORD>(name.size());
    status = RegEnumKeyExW(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    name.resize(size);
    out.subkeys.push_back(std::move(name));
  }
  std::sort(out.values.begin(), out.values.end(),
            [](const Value& a, const Value& b) { return NameBefore(a.name, b.name); });
  std::sort(out.subkeys.begin(), out.subkeys.end(), NameBefore);
  return status;
}

std::wstring ValueName(const std::wstring& name) {
  return name.empty() ? L"(Default)" : L"\"" + name + L"\"";
}

// Where two trees first differ (names, types, bytes, subkeys), or empty.
std::wstring FirstDifference(HKEY a, HKEY b, const std::wstring& where) {
  Listing in_a;
  Listing in_b;
  const LSTATUS read_a = List(a, in_a);
  const LSTATUS read_b = List(b, in_b);
  if (read_a != ERROR_SUCCESS || read_b != ERROR_SUCCESS) {
    return where + L" cannot be read: " + ErrorText(read_a != ERROR_SUCCESS ? read_a : read_b);
  }
  if (in_a.values != in_b.values) {
    const auto pair = std::mismatch(in_a.values.begin(), in_a.values.end(), in_b.values.begin(),
                                    in_b.values.end());
    const Value& first = pair.first != in_a.values.end() ? *pair.first : *pair.second;
    return where + L": value " + ValueName(first.name) + L" differs";
  }
  if (in_a.subkeys != in_b.subkeys) {
    return where + L": its subkeys differ";
  }
  for (const std::wstring& name : in_a.subkeys) {
    Key sub_a;
    Key sub_b;
    const LSTATUS open_a = OpenKey(a, name, KEY_READ, sub_a);
    const LSTATUS open_b = OpenKey(b, name, KEY_READ, sub_b);
    std::wstring path = where;
    path.append(L"\\").append(name);
    if (open_a != ERROR_SUCCESS || open_b != ERROR_SUCCESS) {
      return path + L" cannot be opened: " + ErrorText(open_a != ERROR_SUCCESS ? open_a : open_b);
    }
    std::wstring difference = FirstDifference(sub_a.get(), sub_b.get(), path);
    if (!difference.empty()) {
      return difference;
    }
  }
  return {};
}

// The first key of the tree the user may not write or delete, or empty: the
// tests could delete such a tree only in part, and the restore could not
// put it back.
std::wstring FirstLockedKey(const std::wstring& path) {
  Key key;
  const LSTATUS status =
      OpenKey(HKEY_CURRENT_USER, path, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE, key);
  if (status == ERROR_FILE_NOT_FOUND) {
    return {};
  }
  Listing listing;
  const LSTATUS listed = status == ERROR_SUCCESS ? List(key.get(), listing) : status;
  if (listed != ERROR_SUCCESS) {
    return Hkcu(path) + L" (" + ErrorText(listed) + L")";
  }
  for (const std::wstring& name : listing.subkeys) {
    std::wstring sub = path;
    std::wstring locked = FirstLockedKey(sub.append(L"\\").append(name));
    if (!locked.empty()) {
      return locked;
    }
  }
  return {};
}

// Copies the guarded key (or that it does not exist) into path, checks the
// copy, and only then marks it complete: a snapshot without its time was cut
// short and holds nothing to restore.
std::wstring TakeSnapshot(const std::wstring& path) {
  if (!DeleteTree(path)) {
    return L"cannot clear " + Hkcu(path);
  }
  Key snapshot;
  LSTATUS status = CreateKey(HKEY_CURRENT_USER, path, snapshot);
  if (status != ERROR_SUCCESS) {
    return L"cannot create " + Hkcu(path) + L": " + ErrorText(status);
  }
  Key guarded;
  status = OpenKey(HKEY_CURRENT_USER, kGuardedKey, KEY_READ, guarded);
  // Only "not found" means absent; any other error leaves the state unknown.
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    return L"cannot read " + Hkcu(kGuardedKey) + L": " + ErrorText(status);
  }
  const DWORD existed = status == ERROR_SUCCESS ? 1 : 0;
  if (existed != 0) {
    Key copy;
    status = CreateKey(snapshot.get(), kCopyName, copy);
    if (status == ERROR_SUCCESS) {
      status = RegCopyTreeW(guarded.get(), nullptr, copy.get());
    }
    if (status != ERROR_SUCCESS) {
      return L"cannot copy " + Hkcu(kGuardedKey) + L": " + ErrorText(status);
    }
    std::wstring difference = FirstDifference(guarded.get(), copy.get(), Hkcu(path));
    if (!difference.empty()) {
      return L"the copy does not match: " + difference;
    }
  }
  const std::wstring taken = Now();
  status = RegSetValueExW(snapshot.get(), kExistedValue, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&existed), sizeof(existed));
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(snapshot.get(), kTakenValue, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(taken.c_str()),
                            static_cast<DWORD>((taken.size() + 1) * sizeof(wchar_t)));
  }
  return status == ERROR_SUCCESS ? L"" : L"cannot write " + Hkcu(path) + L": " + ErrorText(status);
}

bool ServiceAccount(PSID sid) {
  return IsWellKnownSid(sid, WinLocalSystemSid) != FALSE ||
         IsWellKnownSid(sid, WinLocalServiceSid) != FALSE ||
         IsWellKnownSid(sid, WinNetworkServiceSid) != FALSE;
}

// The user's SID as text, or empty when the account is a service's or unknown.
std::wstring UserSid() {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == FALSE) {
    return {};
  }
  alignas(TOKEN_USER) std::array<BYTE, 256> buffer{};
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token, TokenUser, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), &size);
  CloseHandle(token);
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  wchar_t* text = nullptr;
  if (read == FALSE || ServiceAccount(sid) || ConvertSidToStringSidW(sid, &text) == FALSE) {
    return {};
  }
  std::wstring out(text);
  LocalFree(text);
  return out;
}

}  // namespace

std::wstring CurrentUserSid() {
  return UserSid();
}

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
}

GuardStatus KeyGuard::Begin() {
  Say(L"close every Tessavo program first: this run rewrites " + Hkcu(kGuardedKey) +
      L", and puts it back as it is now when it ends");
  const std::wstring sid = UserSid();
  if (sid.empty()) {
    Say(L"refusing to run as SYSTEM or a service account (or one it cannot tell): its HKCU is "
        L"not a user's hive. Run it as the user to test with.");
    return GuardStatus::kRefused;
  }
  // One run per user at a time, across sessions; a crash or a logoff frees it.
  lock_ = CreateMutexW(nullptr, FALSE, (L"Global\\profile-import-kit-" + sid).c_str());
  const DWORD waited = lock_ == nullptr ? WAIT_FAILED : WaitForSingleObject(lock_, 0);
  if (waited == WAIT_TIMEOUT) {
    Say(L"refusing to run: another kit run of this user is under way (here or in another "
        L"session); nothing was changed. Let it finish, then run this again.");
    return GuardStatus::kRefused;
  }
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    Say(L"refusing to run: cannot take this user's kit lock: " + ErrorText(GetLastError()));
    return GuardStatus::kRefused;
  }
  const std::wstring locked = FirstLockedKey(kGuardedKey);
  if (!locked.empty()) {
    Say(L"refusing to run: " + locked + L" cannot be opened to write and delete; nothing was " +
        L"changed. The tests would delete the key only in part.");
    return GuardStatus::kRefused;
  }
  Key backup;
  const LSTATUS status = OpenKey(HKEY_CURRENT_USER, kBackupKey, KEY_READ, backup);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    Say(L"refusing to run: cannot read " + Hkcu(kBackupKey) + L": " + ErrorText(status));
    return GuardStatus::kRefused;
  }
  std::wstring taken;
  const LSTATUS marked =
      status == ERROR_SUCCESS ? ReadText(backup.get(), kTakenValue, taken) : ERROR_FILE_NOT_FOUND;
  backup = Key();
  // Only a backup without its time was cut short before anything ran.
  if (marked != ERROR_SUCCESS && marked != ERROR_FILE_NOT_FOUND) {
    Say(L"refusing to run: the time of the backup in " + Hkcu(kBackupKey) + L" cannot be read: " +
        ErrorText(marked) + L"; it is left as it is");
    return GuardStatus::kRefused;
  }
  if (!taken.empty()) {
    // The key may have changed since (a real import, a vendor program): it is
    // kept aside before the backup replaces it.
    Key current;
    const LSTATUS found = OpenKey(HKEY_CURRENT_USER, kGuardedKey, KEY_READ, current);
    const std::wstring written = found == ERROR_SUCCESS
                                     ? L"last written " + LastWritten(current.get())
                                     : std::wstring(L"absent");
    current = Key();
    const std::wstring side = std::wstring(kKitKey) + L"\\Key as found " + Now();
    const std::wstring problem = TakeSnapshot(side);
    if (!problem.empty()) {
      DeleteTree(side);
      Say(L"refusing to run: found the backup of a run that did not finish, but " + problem);
      return GuardStatus::kRefused;
    }
    Say(L"found the backup of a run that did not finish, taken " + taken + L"; " +
        Hkcu(kGuardedKey) + L" as it is now (" + written + L") is kept in " + Hkcu(side) +
        L" and then restored from that backup");
    if (Restore() != GuardStatus::kReady) {
      return GuardStatus::kNotRestored;
    }
    Say(L"restored. If the key as found is the one to keep, bring it back with: reg delete " +
        Hkcu(kGuardedKey) + L" /f & reg copy \"" + Hkcu(side) + L"\\" + kCopyName + L"\" " +
        Hkcu(kGuardedKey) + L" /s /f");
  }
  const std::wstring problem = TakeSnapshot(kBackupKey);
  if (!problem.empty()) {
    DeleteTree(kBackupKey);
    Say(L"refusing to run: cannot back up " + Hkcu(kGuardedKey) + L": " + problem);
    return GuardStatus::kRefused;
  }
  Say(L"backed up " + Hkcu(kGuardedKey) + L" to " + Hkcu(kBackupKey));
  return GuardStatus::kReady;
}

GuardStatus KeyGuard::Restore() {
  Key backup;
  LSTATUS status = OpenKey(HKEY_CURRENT_USER, kBackupKey, KEY_ALL_ACCESS, backup);
  std::wstring taken;
  DWORD existed = 0;
  auto size = static_cast<DWORD>(sizeof(existed));
  Key copy;
  // Everything the restore needs is opened before the key is deleted.
  if (status != ERROR_SUCCESS || ReadText(backup.get(), kTakenValue, taken) != ERROR_SUCCESS ||
      RegGetValueW(backup.get(), nullptr, kExistedValue, RRF_RT_REG_DWORD, nullptr, &existed,
                   &size) != ERROR_SUCCESS ||
      (existed != 0 && OpenKey(backup.get(), kCopyName, KEY_READ, copy) != ERROR_SUCCESS)) {
    Say(L"cannot restore " + Hkcu(kGuardedKey) + L": its backup in " + Hkcu(kBackupKey) +
        L" cannot be read; the key is left as it is");
    return GuardStatus::kNotRestored;
  }
  std::wstring problem;
  status = RegDeleteTreeW(HKEY_CURRENT_USER, kGuardedKey);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    problem = L"it cannot be deleted: " + ErrorText(status);
  } else if (existed != 0) {
    Key restored;
    status = CreateKey(HKEY_CURRENT_USER, kGuardedKey, restored);
    if (status == ERROR_SUCCESS) {
      status = RegCopyTreeW(copy.get(), nullptr, restored.get());
    }
    problem = status != ERROR_SUCCESS
                  ? L"the copy failed: " + ErrorText(status)
                  : FirstDifference(copy.get(), restored.get(), Hkcu(kGuardedKey));
  } else {
    Key restored;
    status = OpenKey(HKEY_CURRENT_USER, kGuardedKey, KEY_READ, restored);
    if (status != ERROR_FILE_NOT_FOUND) {
      problem = L"it should not exist, but opening it gives " + ErrorText(status);
    }
  }
  if (!problem.empty()) {
    Say(L"could not put " + Hkcu(kGuardedKey) + L" back as it was: " + problem);
    SayHowToFinish(taken);
    return GuardStatus::kNotRestored;
  }
  copy = Key();
  // Its time goes first: a backup cut short while being deleted is then one
  // that holds nothing to restore, never one that restores a part.
  status = RegDeleteValueW(backup.get(), kTakenValue);
  backup = Key();
  if (status != ERROR_SUCCESS || !DeleteTree(kBackupKey)) {
    // Left there, it would be restored over a later key by the next run.
    Say(L"restored, but its backup cannot be deleted; delete it by hand: reg delete \"" +
        Hkcu(kBackupKey) + L"\" /f");
    return GuardStatus::kNotRestored;
  }
  // Gone too unless side copies are left in it.
  RegDeleteKeyW(HKEY_CURRENT_USER, kKitKey);
  return GuardStatus::kReady;
}

GuardStatus KeyGuard::End() {
  // The console's close handler and the run may both get here: one restores,
  // the other waits for it.
  AcquireSRWLockExclusive(&ending_);
  if (!ended_) {
    ended_ = true;
    end_status_ = Restore();
    if (end_status_ == GuardStatus::kReady) {
      Say(L"restored " + Hkcu(kGuardedKey) +
          L" as it was before the run: its values and subkeys, compared value by value");
    }
  }
  const GuardStatus status = end_status_;
  ReleaseSRWLockExclusive(&ending_);
  return status;
}

}  // namespace kit
