#include <windows.h>

#include "platform/windows_sync_port.h"
#include "sync/sync_record.h"

// The process entry, in place of the C runtime's, as the importer's: GUI
// subsystem, no console, no window, and ExitProcess so that no thread left
// behind by a missed deadline keeps the process alive.
extern "C" [[noreturn]] void WINAPI SyncEntry() {
  profile_import::platform::WindowsSyncPort port;
  ::ExitProcess(static_cast<UINT>(
      profile_import::sync::SyncMain(port, PROFILE_SYNC_VERSION, PROFILE_SYNC_ARCHITECTURE)));
}
