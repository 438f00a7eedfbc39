#pragma once
// Reading and comparing a tree of keys in HKCU, for the key guard.
#include <windows.h>

#include <string>

#include "winlib/unique_handle.h"

namespace kit {

// What a check or a step found wrong, said in a line for the user; ok() when
// nothing was.
struct [[nodiscard]] Problem {
  std::wstring text;
  [[nodiscard]] bool ok() const { return text.empty(); }
};

// How a key is named in what the kit prints, as reg.exe takes it.
std::wstring Hkcu(const std::wstring& path);
LSTATUS OpenKey(HKEY parent, const std::wstring& path, REGSAM access, winlib::UniqueKey& key);
LSTATUS CreateKey(HKEY parent, const std::wstring& path, winlib::UniqueKey& key);
// Deleted, or not there to begin with.
bool DeleteTree(const std::wstring& path);
// When anything in the tree was last written, as text.
std::wstring LastWritten(HKEY key);
// Where two trees first differ (names, types, bytes, subkeys), if they do.
Problem FirstDifference(HKEY a, HKEY b, const std::wstring& where);
// Why the tree at path cannot be run over, if it cannot: a key the user may not
// write or delete (the tests would delete the tree only in part, and the
// restore could not put it back), or a registry link, whose target a delete
// of the tree would reach without it ever being backed up.
Problem FirstUnsafeKey(const std::wstring& path);

}  // namespace kit
