// For comparison in the benchmark: an empty GUI program linked the usual
// MinGW way, with the C runtime's start-up and msvcrt.dll, that only returns 0.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  return 0;
}
