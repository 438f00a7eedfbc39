#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "platform/sync_port.h"

namespace profile_import::sync {

// The outcome of a run, returned as the process exit code: positive, so that
// every console and `if errorlevel` reads it as it is.
enum class SyncStatus : std::uint32_t {
  InPlace = 0,            // written now, or nothing to do
  WouldWrite = 1,         // --check (or policy Mode 1): a run would write
  DriftFound = 2,         // --check: the values were changed by something other than a run
  NoMaster = 10,          // the place answers; the file or the user's folder is not there
  Unreachable = 11,       // cannot be reached now, or did not answer within the deadline
  Refused = 12,           // the server refused the connection or the user's credentials
  MasterUnopenable = 13,  // there, but cannot be opened
  MasterUnreadable = 14,  // opened, but could not be read
  MasterInvalid = 15,     // not a valid profile, or one read in an ANSI code page
  Stale = 16,             // 10 or 11, and not in line with a master within the limit, or ever
  InsecureChannel =
      17,  // read over a connection neither signed nor authenticated: refused by policy
  KeyUnavailable = 20,    // the key could be neither opened nor created
  WriteFailed = 21,       // a value could not be written; the values before it stored
  NotVerified = 22,       // written, but the flush or the read-back failed
  Busy = 23,              // another run of this user held the lock past the deadline
  NoUserHive = 30,        // not a user's own loaded hive
  TurnedOff = 40,         // turned off by policy
  PolicyUnreadable = 41,  // a policy value cannot be used: checked only, nothing written
  Usage = 64,             // the command line is wrong
};

// What a record says of each outcome: its name, its event's severity and ID.
// The IDs are the message table's (sync/resources/messages.mc), severity bits
// included, so that a registered source shows each one's text; the Windows
// build checks each against the header the message compiler writes.
struct StatusFacts {
  SyncStatus status;
  std::string_view name;
  platform::EventSeverity severity;
  std::uint32_t event_id;
};

// Event IDs for the outcomes that have none of their own in the table.
inline constexpr std::uint32_t kDriftEventId = 0x40000066;       // 102, information
inline constexpr std::uint32_t kHeartbeatEventId = 0x40000067;   // 103, information
inline constexpr std::uint32_t kRolledBackEventId = 0x40000068;  // 104, information

using enum platform::EventSeverity;
inline constexpr std::array kStatusFacts = {
    StatusFacts{SyncStatus::InPlace, "InPlace", Information, 0x40000064},              // 100
    StatusFacts{SyncStatus::WouldWrite, "WouldWrite", Information, 0x40000065},        // 101
    StatusFacts{SyncStatus::DriftFound, "DriftFound", Information, kDriftEventId},     // 102
    StatusFacts{SyncStatus::NoMaster, "NoMaster", Warning, 0x800000C8},                // 200
    StatusFacts{SyncStatus::Unreachable, "Unreachable", Warning, 0x800000C9},          // 201
    StatusFacts{SyncStatus::Refused, "Refused", Error, 0xC000012C},                    // 300
    StatusFacts{SyncStatus::MasterUnopenable, "MasterUnopenable", Error, 0xC000012D},  // 301
    StatusFacts{SyncStatus::MasterUnreadable, "MasterUnreadable", Error, 0xC000012E},  // 302
    StatusFacts{SyncStatus::MasterInvalid, "MasterInvalid", Error, 0xC000012F},        // 303
    StatusFacts{SyncStatus::Stale, "Stale", Error, 0xC0000136},                        // 310
    StatusFacts{SyncStatus::InsecureChannel, "InsecureChannel", Error, 0xC0000137},    // 311
    StatusFacts{SyncStatus::KeyUnavailable, "KeyUnavailable", Error, 0xC0000130},      // 304
    StatusFacts{SyncStatus::WriteFailed, "WriteFailed", Error, 0xC0000131},            // 305
    StatusFacts{SyncStatus::NotVerified, "NotVerified", Error, 0xC0000132},            // 306
    StatusFacts{SyncStatus::NoUserHive, "NoUserHive", Error, 0xC0000133},              // 307
    StatusFacts{SyncStatus::Busy, "Busy", Warning, 0x800000CB},                        // 203
    StatusFacts{SyncStatus::TurnedOff, "TurnedOff", Warning, 0x800000CA},              // 202
    StatusFacts{SyncStatus::PolicyUnreadable, "PolicyUnreadable", Error, 0xC0000135},  // 309
    StatusFacts{SyncStatus::Usage, "Usage", Error, 0xC0000134},                        // 308
};

constexpr const StatusFacts& FactsOf(SyncStatus status) {
  const auto* found =
      std::find_if(kStatusFacts.begin(), kStatusFacts.end(),
                   [status](const StatusFacts& facts) { return facts.status == status; });
  return found == kStatusFacts.end() ? kStatusFacts[0] : *found;
}

}  // namespace profile_import::sync
