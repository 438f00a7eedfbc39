#pragma once
// The suites and the benchmark delete and rewrite HKCU\Software\Tessavo, so
// each refuses to run unless this environment variable is set: by the kit's
// guard once it has backed the key up, and by the test builds and
// bench/run.sh, whose Wine prefixes are their own.
#include <windows.h>

#include "project_env.h"

namespace winlib {

inline constexpr const wchar_t* kKeyGuardVariable = profile_import::project_env::kKeyGuardVariable;

[[nodiscard]] inline bool KeyGuarded() {
  return GetEnvironmentVariableW(kKeyGuardVariable, nullptr, 0) != 0;
}

}  // namespace winlib
