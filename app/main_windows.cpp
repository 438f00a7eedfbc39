#include <windows.h>

#include "app/run_import.h"
#include "platform/windows_port.h"

// GUI subsystem: no console, no window. The command line and the show-window
// request are ignored; the starter learns the outcome from the exit code alone.
int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  profile_import::platform::WindowsPort port;
  return static_cast<int>(profile_import::RunImport(port));
}
