#include <windows.h>

#include "platform/windows_sync_port.h"
#include "sync/messages.h"
#include "sync/sync_main.h"

namespace {

using profile_import::sync::FactsOf;
using enum profile_import::sync::SyncStatus;

// Each outcome's event is the message of that outcome in the table: a
// mismatch would show another outcome's text in Event Viewer.
static_assert(FactsOf(InPlace).event_id == MSG_PROFILE_WRITTEN);
static_assert(FactsOf(WouldWrite).event_id == MSG_WOULD_WRITE);
static_assert(profile_import::sync::kDriftEventId == MSG_DRIFT_KEPT);
static_assert(profile_import::sync::kHeartbeatEventId == MSG_HEARTBEAT);
static_assert(profile_import::sync::kRolledBackEventId == MSG_ROLLED_BACK);
static_assert(FactsOf(DriftFound).event_id == MSG_DRIFT_KEPT);
static_assert(FactsOf(Stale).event_id == MSG_STALE);
static_assert(FactsOf(InsecureChannel).event_id == MSG_INSECURE_CHANNEL);
static_assert(FactsOf(NoMaster).event_id == MSG_NO_MASTER);
static_assert(FactsOf(Unreachable).event_id == MSG_UNREACHABLE);
static_assert(FactsOf(TurnedOff).event_id == MSG_TURNED_OFF);
static_assert(FactsOf(Busy).event_id == MSG_BUSY);
static_assert(FactsOf(Refused).event_id == MSG_REFUSED);
static_assert(FactsOf(MasterUnopenable).event_id == MSG_MASTER_UNOPENABLE);
static_assert(FactsOf(MasterUnreadable).event_id == MSG_MASTER_UNREADABLE);
static_assert(FactsOf(MasterInvalid).event_id == MSG_MASTER_INVALID);
static_assert(FactsOf(KeyUnavailable).event_id == MSG_KEY_UNAVAILABLE);
static_assert(FactsOf(WriteFailed).event_id == MSG_WRITE_FAILED);
static_assert(FactsOf(NotVerified).event_id == MSG_NOT_VERIFIED);
static_assert(FactsOf(NoUserHive).event_id == MSG_NO_USER_HIVE);
static_assert(FactsOf(Usage).event_id == MSG_USAGE);
static_assert(FactsOf(PolicyUnreadable).event_id == MSG_POLICY_UNREADABLE);
// And every outcome has one of its own.
static_assert(profile_import::sync::kStatusFacts.size() == 19);

}  // namespace

// The process entry, in place of the C runtime's, as the importer's: GUI
// subsystem, no console, no window, and ExitProcess so that no thread left
// behind by a missed deadline keeps the process alive.
extern "C" [[noreturn]] void WINAPI SyncEntry() {
  profile_import::platform::WindowsSyncPort port;
  ::ExitProcess(static_cast<UINT>(
      profile_import::sync::SyncMain(port, PROFILE_SYNC_VERSION, PROFILE_SYNC_ARCHITECTURE)));
}
