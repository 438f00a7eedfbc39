// The floor for the benchmark: a GUI-subsystem program built exactly like the
// importer that does nothing but return 0, so its time is process start-up.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  return 0;
}
