#pragma once
// Reading and comparing a tree of keys in HKCU, for the key guard.
#include <windows.h>

#include <string>

#include "winlib/status.h"
#include "winlib/unique_handle.h"

namespace kit {

// What a walk over a tree of keys found first.
enum class Found {
  Nothing,     // it went through
  Unreadable,  // a key it could not read or open
  Unwritable,  // a key the user may not write or delete
  Link,        // a registry link
  ValueDiffers,
  SubkeysDiffer,
};

// Where a walk stopped and why; whoever prints it says it.
struct Finding {
  Found what = Found::Nothing;
  std::wstring key;       // as printed (HKCU\...)
  std::wstring value;     // with ValueDiffers: its name
  winlib::Status status;  // with Unreadable and Unwritable: the error
};

// How a key is named in what the kit prints, as reg.exe takes it.
std::wstring Hkcu(const std::wstring& path);
winlib::Result<winlib::UniqueKey> OpenKey(HKEY parent, const std::wstring& path, REGSAM access);
winlib::Result<winlib::UniqueKey> CreateKey(HKEY parent, const std::wstring& path);
// Deleted, or not there to begin with.
winlib::Status DeleteTree(const std::wstring& path);
// When anything in the tree was last written, as text.
std::wstring LastWritten(HKEY key);
// Where two trees first differ (names, types, bytes, subkeys), if they do.
Finding FirstDifference(HKEY a, HKEY b, const std::wstring& where);
// The first key of the tree at path that cannot be run over, if any: one the
// user may not write or delete (the tests would delete the tree only in part,
// and the restore could not put it back), or a registry link, whose target a
// delete of the tree would reach without it ever being backed up.
Finding FirstUnsafeKey(const std::wstring& path);

}  // namespace kit
