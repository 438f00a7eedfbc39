#pragma once
// The suites and the benchmark delete and rewrite HKCU\Software\Tessavo, so
// each refuses to run unless this environment variable is set: by the kit's
// guard once it has backed the key up, and by the test builds and
// bench/run.sh, whose Wine prefixes are their own.
#include <windows.h>

namespace winlib {

inline constexpr const wchar_t* kKeyGuardVariable = L"PROFILE_IMPORT_KEY_GUARD";

[[nodiscard]] inline bool KeyGuarded() {
  return GetEnvironmentVariableW(kKeyGuardVariable, nullptr, 0) != 0;
}

}  // namespace winlib
