#pragma once
// The one error style of the tools' Windows helpers: a status the caller must
// look at, carrying the Win32 error code, never a text where empty means
// success.
#include <windows.h>

namespace winlib {

// ERROR_SUCCESS, or the Win32 error a call left: GetLastError's code, or the
// LSTATUS a registry call returns.
struct [[nodiscard]] Status {
  DWORD error = ERROR_SUCCESS;

  [[nodiscard]] bool ok() const { return error == ERROR_SUCCESS; }

  // Right after a call that reported failure. A failed call that set no code
  // still fails.
  static Status LastError() {
    const DWORD error = GetLastError();
    return {error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE};
  }
};

// A value, meaningful only when status.ok().
template <typename T>
struct [[nodiscard]] Result {
  Status status;
  T value{};

  [[nodiscard]] bool ok() const { return status.ok(); }
};

}  // namespace winlib
