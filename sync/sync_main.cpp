#include "sync/sync_main.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/port_owner.h"
#include "sync/run_sync.h"
#include "sync/sync_record.h"
#include "sync/text_builder.h"

namespace profile_import::sync {

SyncStatus SyncMain(platform::SyncPort& port, std::string_view version,
                    std::string_view architecture) {
  // Large for a stack without probes: kept where the loader zero-fills them.
  static constinit CommandLine command{};
  static constinit SyncResult result{};
  static constinit std::array<std::uint8_t, kRecordBytes> line{};
  // cppcheck-suppress variableScope ; static storage, not the stack
  static constinit std::array<std::uint8_t, kRecordBytes> log_tail{};
  static constinit std::array<char16_t, 1024> log_folder{};
  static constinit std::array<char16_t, 1024> log_path{};
  static constinit std::array<char16_t, 1024> rotated_path{};
  static constinit std::array<char16_t, 256> computer{};
  static constinit RecordFields fields{};

  // A process runs this once; a test runs it many times.
  command = CommandLine{};
  result = SyncResult{};
  log_folder = {};
  log_path = {};
  rotated_path = {};

  port.setErrorMode();
  const std::uint64_t started = port.getTickCount64();
  const std::size_t appdata_length =
      port.getEnvironmentVariable(u"LOCALAPPDATA", std::span{log_folder}.first(800));
  bool has_log = appdata_length != 0;
  // Where the log and the lock go: none without %LOCALAPPDATA%.
  if (has_log) {
    TextBuilder<char16_t> folder{std::span{log_folder}.subspan(appdata_length, 100)};
    folder.Add(kLocalFolder);
    const std::u16string_view folder_path{log_folder.data(), appdata_length + folder.Length()};
    TextBuilder<char16_t> path{std::span{log_path}.first(log_path.size() - 1)};
    path.Add(folder_path).Add(kLogName);
    TextBuilder<char16_t> rotated{std::span{rotated_path}.first(rotated_path.size() - 1)};
    rotated.Add(path.View()).Add(kRotatedSuffix);
    has_log = !path.Overflowed() && !rotated.Overflowed();
  }

  const char16_t* given = port.getCommandLine();
  if (!ParseCommandLine(given == nullptr ? u"" : given, command)) {
    result.status = SyncStatus::Usage;
    result.detail =
        "usage: profile-sync.exe [--check] [--enforce] [--stale-days N] [MASTER...], or "
        "--restore-previous";
  } else {
    RunSync(port, command, has_log ? log_folder.data() : u"", result);
  }

  RecordContext context;
  context.now = port.getSystemTimeAsFileTime();
  context.elapsed_ms = port.getTickCount64() - started;
  context.version = version;
  context.architecture = architecture;
  context.computer = {computer.data(), port.getComputerName(computer)};

  // An outcome that repeats (nothing to do, turned off, no master,
  // unreachable, drift kept) is recorded when it differs from the last
  // record, and once a day; a caller that reads the standard output gets its
  // line every time.
  std::size_t length = FormatRecord(result, context, line);
  bool recorded = true;
  if (result.once_a_day && has_log) {
    const platform::FileTail tail =
        port.readFileTail(log_path.data(), context.now - kHeartbeatTicks, log_tail);
    recorded = tail.last_write_time == 0 || context.now - tail.last_write_time >= kHeartbeatTicks ||
               !SameOutcome(LastLine({log_tail.data(), tail.size}, tail.size < log_tail.size()),
                            {line.data(), length});
  }
  if (recorded && result.status == SyncStatus::InPlace && result.change == Change::None) {
    context.heartbeat = true;
    length = FormatRecord(result, context, line);
  }
  const std::span<const std::uint8_t> text{line.data(), length};
  port.writeStandardOutput(text);
  if (!recorded) {
    return result.status;
  }
  if (has_log && port.appendLine(log_folder.data(), log_path.data(), rotated_path.data(),
                                 kLogLimitBytes, text) == platform::LogWrite::Link) {
    context.log_note = "log not written: its folder or file is a link";
  }
  fields = RecordFields{};
  BuildRecordFields(result, context, fields);
  // The event's user is the token's, which no one but Windows sets.
  const platform::PortOwnedToken token{port, port.ntOpenProcessToken().token};
  const platform::TokenUser user =
      token ? port.ntQueryInformationToken(token.get()) : platform::TokenUser{};
  port.reportEvent(kEventSource, SeverityOf(result, context.heartbeat),
                   EventIdOf(result, context.heartbeat), user.known ? &user.sid : nullptr,
                   fields.starts);
  return result.status;
}

}  // namespace profile_import::sync
