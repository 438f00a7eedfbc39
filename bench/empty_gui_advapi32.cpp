// The floor plus the registry DLL: like empty_gui.cpp, but importing one
// ADVAPI32 function (never called), so that the loader maps ADVAPI32.dll as it
// must for the importer. The difference to the plain floor is that DLL's cost.
#include <windows.h>

namespace {
volatile bool never_true = false;  // keeps the import without calling it
}  // namespace

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  if (never_true) {
    RegCloseKey(nullptr);
  }
  return 0;
}
