#include <windows.h>

#include "app/run_import.h"
#include "platform/windows_port.h"

// The process entry, in place of the C runtime's: the import needs nothing of
// it, and not loading it is most of the start-up time. GUI subsystem: no
// console, no window; the command line and the show-window request are never
// read. ExitProcess, not a return, so that no thread the loader may have
// started keeps the process alive.
extern "C" [[noreturn]] void WINAPI ImportEntry() {
  profile_import::platform::WindowsPort port;
  ::ExitProcess(static_cast<UINT>(profile_import::RunImport(port)));
}
