#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/sync_port.h"
#include "sync/sync_result.h"

namespace profile_import::sync {

// The log, per user and machine: %LOCALAPPDATA%\Tessavo\profile-sync.log,
// one UTF-8 line per record; past its limit it becomes the one .1 file.
inline constexpr std::u16string_view kLogName = u"\\profile-sync.log";
inline constexpr std::u16string_view kRotatedSuffix = u".1";
inline constexpr std::uint64_t kLogLimitBytes = std::uint64_t{64} * 1024;
inline constexpr const char16_t* kEventSource = u"profile-sync";
// An outcome that repeats is recorded at most this often: "in line" differs
// from "never ran".
inline constexpr std::uint64_t kHeartbeatTicks = 24ULL * 3600 * 10'000'000;
// A record's longest line, and what is read back of the log's end.
inline constexpr std::size_t kRecordBytes = 4096;

// What a record says beyond the run's result.
struct RecordContext {
  std::uint64_t now = 0;  // FILETIME
  std::uint64_t elapsed_ms = 0;
  std::u16string_view computer;
  std::string_view version;
  std::string_view architecture;
  bool heartbeat = false;
  // Said after the detail in the event: why the log has no line of this run.
  const char* log_note = nullptr;
};

// The record's fields as UTF-16 texts, each NUL-terminated: the event's
// insertion strings. The log line is the same fields joined.
inline constexpr std::size_t kRecordFieldCount = 13;
inline constexpr std::size_t kRecordFieldUnits = 2048;

struct RecordFields {
  std::array<char16_t, kRecordFieldUnits> text{};
  std::array<const char16_t*, kRecordFieldCount> starts{};
};

void BuildRecordFields(const SyncResult& result, const RecordContext& context,
                       RecordFields& fields);

// The record's fields in their fixed order, tab-separated, as UTF-8, with
// CR LF: time, computer, "-" (once the user's name, which the user's own
// environment gave: the SID is the user), SID, code and name, Windows error and
// NT status, values changed, change, master, version and architecture,
// elapsed ms, detail, where the masters came from. Cut to fit `out`; gives the bytes written.
std::size_t FormatRecord(const SyncResult& result, const RecordContext& context,
                         std::span<std::uint8_t> out);

// The last whole line of a log's last bytes, without its CR LF; empty when
// there is none, or when it began before them (`from_start` false).
std::span<const std::uint8_t> LastLine(std::span<const std::uint8_t> tail, bool from_start);

// Whether two records tell the same outcome: the same code, master and
// detail, and both or neither drift kept (a write and its heartbeat are
// the same as nothing to do).
bool SameOutcome(std::span<const std::uint8_t> last, std::span<const std::uint8_t> line);

// The event ID of a result: its status's, or drift's, or the heartbeat's.
std::uint32_t EventIdOf(const SyncResult& result, bool heartbeat);
// The event's level: its status's, but the heartbeat and drift kept inform.
platform::EventSeverity SeverityOf(const SyncResult& result, bool heartbeat);

}  // namespace profile_import::sync
