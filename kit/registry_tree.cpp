#include "kit/registry_tree.h"

#include <algorithm>
#include <array>
#include <vector>

#include "kit/kit_text.h"

namespace kit {

namespace {

// The longest value name the registry takes, and its terminator.
constexpr DWORD kValueNameChars = 16384;
// The longest key name, and its terminator.
constexpr DWORD kKeyNameChars = 256;
// A link key keeps its target in this value, of type REG_LINK.
constexpr const wchar_t* kLinkValue = L"SymbolicLinkValue";

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

// One value at its own size: a key of many small values and one large one
// needs no more than their sum. Asked again if it grew in between.
LSTATUS ReadValue(HKEY key, DWORD index, std::wstring& name_buffer, Value& value) {
  for (;;) {
    auto name_size = static_cast<DWORD>(name_buffer.size());
    DWORD data_size = 0;
    LSTATUS status = RegEnumValueW(key, index, name_buffer.data(), &name_size, nullptr, &value.type,
                                   nullptr, &data_size);
    if (status != ERROR_SUCCESS) {
      return status;
    }
    value.data.resize(data_size);
    name_size = static_cast<DWORD>(name_buffer.size());
    status = RegEnumValueW(key, index, name_buffer.data(), &name_size, nullptr, &value.type,
                           value.data.data(), &data_size);
    if (status != ERROR_MORE_DATA) {
      value.name.assign(name_buffer.data(), name_size);
      value.data.resize(data_size);
      return status;
    }
  }
}

// Every value (name, type, bytes) and subkey name of one key, sorted, since a
// copy need not enumerate in the original's order.
LSTATUS List(HKEY key, Listing& out) {
  DWORD subkeys = 0;
  DWORD values = 0;
  LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                    &values, nullptr, nullptr, nullptr, nullptr);
  std::wstring name(values > 0 ? kValueNameChars : kKeyNameChars, L'\0');
  for (DWORD i = 0; status == ERROR_SUCCESS && i < values; ++i) {
    Value value;
    status = ReadValue(key, i, name, value);
    out.values.push_back(std::move(value));
  }
  for (DWORD i = 0; status == ERROR_SUCCESS && i < subkeys; ++i) {
    auto size = kKeyNameChars;
    status = RegEnumKeyExW(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    out.subkeys.emplace_back(name.data(), size);
  }
  std::sort(out.values.begin(), out.values.end(),
            [](const Value& a, const Value& b) { return NameBefore(a.name, b.name); });
  std::sort(out.subkeys.begin(), out.subkeys.end(), NameBefore);
  return status;
}

FILETIME NewestWrite(HKEY key) {
  FILETIME newest{};
  DWORD subkeys = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, &newest);
  for (DWORD i = 0; i < subkeys; ++i) {
    std::array<wchar_t, kKeyNameChars> name{};
    auto size = static_cast<DWORD>(name.size());
    winlib::UniqueKey sub;
    if (RegEnumKeyExW(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS &&
        RegOpenKeyExW(key, name.data(), 0, KEY_READ, sub.put()) == ERROR_SUCCESS) {
      const FILETIME written = NewestWrite(sub.get());
      newest = CompareFileTime(&written, &newest) > 0 ? written : newest;
    }
  }
  return newest;
}

bool IsLink(HKEY key) {
  DWORD type = 0;
  return RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
         type == REG_LINK;
}

}  // namespace

std::wstring Hkcu(const std::wstring& path) {
  return L"HKCU\\" + path;
}

winlib::Result<winlib::UniqueKey> OpenKey(HKEY parent, const std::wstring& path, REGSAM access) {
  winlib::Result<winlib::UniqueKey> key;
  key.status.error =
      static_cast<DWORD>(RegOpenKeyExW(parent, path.c_str(), 0, access, key.value.put()));
  return key;
}

winlib::Result<winlib::UniqueKey> CreateKey(HKEY parent, const std::wstring& path) {
  winlib::Result<winlib::UniqueKey> key;
  key.status.error = static_cast<DWORD>(RegCreateKeyExW(
      parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.value.put(), nullptr));
  return key;
}

winlib::Status DeleteTree(const std::wstring& path) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
  return {status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(status)};
}

// A key's own time does not change when a value of a subkey does.
std::wstring LastWritten(HKEY key) {
  const FILETIME written = NewestWrite(key);
  SYSTEMTIME time{};
  return FileTimeToSystemTime(&written, &time) != FALSE ? TimeText(time, L"-", L" ", L":") + L" UTC"
                                                        : L"unknown";
}

Finding FirstDifference(HKEY a, HKEY b, const std::wstring& where) {
  Listing in_a;
  Listing in_b;
  const LSTATUS read_a = List(a, in_a);
  const LSTATUS read_b = List(b, in_b);
  if (read_a != ERROR_SUCCESS || read_b != ERROR_SUCCESS) {
    return {Found::Unreadable,
            where,
            L"",
            {static_cast<DWORD>(read_a != ERROR_SUCCESS ? read_a : read_b)}};
  }
  if (in_a.values != in_b.values) {
    const auto pair = std::mismatch(in_a.values.begin(), in_a.values.end(), in_b.values.begin(),
                                    in_b.values.end());
    const Value& first = pair.first != in_a.values.end() ? *pair.first : *pair.second;
    return {Found::ValueDiffers, where, first.name, {}};
  }
  if (in_a.subkeys != in_b.subkeys) {
    return {Found::SubkeysDiffer, where, L"", {}};
  }
  for (const std::wstring& name : in_a.subkeys) {
    const winlib::Result<winlib::UniqueKey> sub_a = OpenKey(a, name, KEY_READ);
    const winlib::Result<winlib::UniqueKey> sub_b = OpenKey(b, name, KEY_READ);
    std::wstring path = where;
    path.append(L"\\").append(name);
    if (!sub_a.ok() || !sub_b.ok()) {
      return {Found::Unreadable, path, L"", !sub_a.ok() ? sub_a.status : sub_b.status};
    }
    Finding difference = FirstDifference(sub_a.value.get(), sub_b.value.get(), path);
    if (difference.what != Found::Nothing) {
      return difference;
    }
  }
  return {};
}

Finding FirstUnsafeKey(const std::wstring& path) {
  winlib::UniqueKey key;
  // Opened as the link itself, if it is one, never as its target.
  const LSTATUS status =
      RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), REG_OPTION_OPEN_LINK,
                    KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE, key.put());
  if (status == ERROR_FILE_NOT_FOUND) {
    return {};
  }
  if (status == ERROR_SUCCESS && IsLink(key.get())) {
    return {Found::Link, Hkcu(path), L"", {}};
  }
  Listing listing;
  const LSTATUS listed = status == ERROR_SUCCESS ? List(key.get(), listing) : status;
  if (listed != ERROR_SUCCESS) {
    return {Found::Unwritable, Hkcu(path), L"", {static_cast<DWORD>(listed)}};
  }
  for (const std::wstring& name : listing.subkeys) {
    std::wstring sub = path;
    Finding unsafe = FirstUnsafeKey(sub.append(L"\\").append(name));
    if (unsafe.what != Found::Nothing) {
      return unsafe;
    }
  }
  return {};
}

}  // namespace kit
