#pragma once

#include <string_view>

#include "platform/sync_port.h"
#include "sync/sync_status.h"

namespace profile_import::sync {

// The whole program: reads the command line, runs, records the outcome in
// the log, the Application event log and an inherited standard output, and
// gives the exit code.
SyncStatus SyncMain(platform::SyncPort& port, std::string_view version,
                    std::string_view architecture);

}  // namespace profile_import::sync
