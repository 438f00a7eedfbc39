#pragma once
// The end-to-end suite and the benchmark delete HKCU\Software\Tessavo, so they
// refuse to run unless this variable says something backs the key up (the
// kit's runner, or CTest in a throwaway prefix). CMake and the kit test read
// the name from here.
inline constexpr wchar_t kKeyGuardVariable[] = L"PROFILE_IMPORT_KEY_GUARD";
